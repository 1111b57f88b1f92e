// Text helpers over GBK byte strings. Every text the program handles is GBK;
// positions are 0-based byte offsets; searches step over two-byte characters whole.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

inline constexpr std::size_t kNotFound = std::string_view::npos;

// Line break used by every text file and message: CR LF.
inline constexpr std::string_view kCrLf = "\r\n";

// A two-byte GBK character is a lead byte followed by a trail byte; every other byte (0x80, 0xFF,
// a lead byte without a trail byte after it) is a character of its own.
inline bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
inline bool IsTrailByte(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE); }

// Bytes (1 or 2) of the character that starts at pos; every walk over a text steps by it. pos < text.size().
inline std::size_t CharLengthAt(std::string_view text, std::size_t pos) {
  return pos + 1 < text.size() && IsLeadByte(static_cast<unsigned char>(text[pos])) &&
                 IsTrailByte(static_cast<unsigned char>(text[pos + 1]))
             ? 2
             : 1;
}

// First position >= from where part starts on a character boundary, or kNotFound; an empty part is found at from in a non-empty text.
std::size_t FindText(std::string_view text, std::string_view part, std::size_t from = 0);

// True when part occurs in text (character-aligned); an empty part occurs in any non-empty text.
bool ContainsText(std::string_view text, std::string_view part);

// Like FindText, matching ASCII letters without regard to case.
std::size_t FindTextIgnoreAsciiCase(std::string_view text, std::string_view part, std::size_t from = 0);

// Every occurrence of from replaced by to, scanning left to right without overlaps; an empty from changes nothing.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// Pieces between delimiters, empty ones included; the piece after the last delimiter only when not empty; empty text gives none.
std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter);

// Leading and trailing ASCII spaces and full-width spaces (A1 A1) removed.
std::string Trim(std::string_view text);

// Text between the first left marker and the next right marker after it; "" when either is missing.
std::string TextBetween(std::string_view text, std::string_view left, std::string_view right);

// Text without CR, LF and TAB bytes.
std::string StripLineBreaks(std::string_view text);

// For each piece after an occurrence of start (up to the next start), the text before the first end in it; pieces without end give nothing.
std::vector<std::string> ExtractAllBetween(std::string_view text, std::string_view start, std::string_view end);

// The text up to its first zero byte (a text without one is returned whole).
std::string_view UpToFirstZero(std::string_view bytes);

// Local date-time as 年月日 followed by 时分秒 down to the last non-zero unit, no zero padding.
std::string FormatDateTime(const std::tm& local);

// FormatDateTime of the current local time.
std::string NowDateTimeText();

// Local date-time as "YYYY-MM-DD HH:MM:SS", zero-padded, so that byte order is time order.
std::string FormatSortableTime(const std::tm& local);
// FormatSortableTime of the current local time.
std::string NowSortableTimeText();

// "真" for true, "假" for false.
std::string_view FlagText(bool value);

// True only for the exact text "真".
bool ParseFlag(std::string_view text);

// The number its leading decimal digits make (0 when it does not start with a digit); capped at 2^31-1.
std::int64_t LeadingNumber(std::string_view text);

// Every byte as "%" and two upper-case hexadecimal digits.
std::string PercentEncodeAll(std::string_view bytes);

// Every byte of the GBK text encoded by PercentEncodeAll (marketplace forms).
std::string PercentEncodeGbk(std::string_view gbk);

// The GBK text converted to UTF-8, every byte then encoded by PercentEncodeAll (chat addresses, IM forms).
std::string PercentEncodeUtf8(std::string_view gbk);

// ASCII letters, digits and the underscore kept; every other byte as "%XX" (consign form).
std::string PercentEncodeForm(std::string_view gbk);

// Code pages understood by ToUtf16 and FromUtf16.
enum class CodePage { Utf8 = 65001, Gbk = 936, Big5 = 950 };

// The text in the given code page as UTF-16; invalid sequences become U+FFFD.
std::u16string ToUtf16(std::string_view text, CodePage from = CodePage::Utf8);

// UTF-16 text in the given code page; characters it cannot hold become "?".
std::string FromUtf16(std::u16string_view text, CodePage to = CodePage::Gbk);

// UTF-8 text as GBK; invalid or unrepresentable characters become "?".
std::string Utf8ToGbk(std::string_view utf8);

// GBK text as UTF-8; invalid bytes become U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

// Big5 text as GBK with traditional characters mapped to simplified ones; the text ends at the first character GBK cannot hold.
std::string Big5ToGbkSimplified(std::string_view big5);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// True when every byte is below 0x80.
bool IsAscii(std::string_view bytes);

// Position of the first byte that is not part of a GBK character (0xFF, a lead byte without its
// trail byte, a zero byte), or kNotFound.
std::size_t FirstInvalidGbk(std::string_view text);

// True when the text holds a control character (bytes 0x00-0x1F and 0x7F).
bool HasControlCharacter(std::string_view text);

// The GBK text without control characters: bytes 0x00-0x1F and 0x7F, and the single bytes 0x80 and
// 0xFF that are no part of a character. Two-byte characters stay whole, also those whose lead byte
// lies in 0x80-0x9F.
std::string StripControlCharacters(std::string_view gbk);

// UTF-8 text made harmless for a terminal: every control character (0x00-0x1F but line feed and tab,
// 0x7F, and the C1 controls U+0080-U+009F) written as \xNN, NN its code in upper-case hexadecimal.
std::string EscapeTerminalControls(std::string_view utf8);

// 1-based number of the line that holds position pos; CR LF, LF and a lone CR each end a line.
std::size_t LineNumberAt(std::string_view text, std::size_t pos);

// How to read the bytes of a text file. kDetect: UTF-16 by its byte-order mark or by zero bytes in
// every other place, UTF-8 by its byte-order mark or when every sequence in it is well-formed UTF-8,
// else GBK when it is valid GBK throughout; a text that is neither is refused at the line where it
// stops being either, with the hint to name the encoding (--encoding).
enum class TextEncoding { kDetect, kGbk, kUtf8 };

// A text file's bytes as GBK, or where and why they cannot be: never a substitute character.
struct DecodedText {
  std::string gbk;
  std::size_t faultLine = 0;  // 1-based line of the first fault; 0 when the text was decoded
  std::string fault;          // GBK: what is wrong there, naming the encoding read
  bool ok() const { return faultLine == 0; }
};

// Decodes the bytes (byte-order mark dropped). A byte sequence that is not valid in the encoding
// read, a zero byte outside UTF-16, or a character GBK cannot hold is a fault.
DecodedText DecodeToGbk(std::string_view bytes, TextEncoding encoding = TextEncoding::kDetect);

}  // namespace torvane
