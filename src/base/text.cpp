#include "base/text.h"

#include "base/code_pages.h"
#include "base/system.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace torvane {

namespace {

// Moves boundary forward over whole characters until it reaches or passes pos.
std::size_t AdvanceBoundary(std::string_view text, std::size_t boundary, std::size_t pos) {
  while (boundary < pos) {
    boundary += CharLengthAt(text, boundary);
  }
  return boundary;
}

bool AsciiEqualIgnoreCase(char a, char b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return lower(a) == lower(b);
}

}  // namespace

std::size_t FindText(std::string_view text, std::string_view part, std::size_t from) {
  if (from >= text.size()) return kNotFound;
  if (part.empty()) return from;
  std::size_t boundary = from;
  std::size_t candidate = text.find(part, from);
  while (candidate != kNotFound) {
    boundary = AdvanceBoundary(text, boundary, candidate);
    if (boundary == candidate) return candidate;
    candidate = text.find(part, candidate + 1);
  }
  return kNotFound;
}

bool ContainsText(std::string_view text, std::string_view part) { return FindText(text, part) != kNotFound; }

std::size_t FindTextIgnoreAsciiCase(std::string_view text, std::string_view part, std::size_t from) {
  if (from >= text.size()) return kNotFound;
  if (part.empty()) return from;
  std::size_t i = from;
  while (i < text.size()) {
    if (text.size() - i >= part.size()) {
      bool match = true;
      std::size_t k = 0;
      while (match && k < part.size()) {
        // The second byte of a two-byte character is compared exactly, never folded.
        if (CharLengthAt(text, i + k) == 2) {
          match = text[i + k] == part[k] && (k + 1 >= part.size() || text[i + k + 1] == part[k + 1]);
          k += 2;
        } else {
          match = AsciiEqualIgnoreCase(text[i + k], part[k]);
          ++k;
        }
      }
      if (match) return i;
    } else {
      return kNotFound;
    }
    i += CharLengthAt(text, i);
  }
  return kNotFound;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (true) {
    std::size_t hit = FindText(text, from, pos);
    if (hit == kNotFound) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  if (pos < text.size()) out.append(text.substr(pos));
  return out;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  if (delimiter.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  std::size_t pos = 0;
  while (true) {
    std::size_t hit = FindText(text, delimiter, pos);
    if (hit == kNotFound) break;
    pieces.emplace_back(text.substr(pos, hit - pos));
    pos = hit + delimiter.size();
  }
  if (pos < text.size()) pieces.emplace_back(text.substr(pos));
  return pieces;
}

std::string Trim(std::string_view text) {
  std::size_t n = text.size();
  auto isFullSpace = [&](std::size_t i) {
    return i + 1 < n && static_cast<unsigned char>(text[i]) == 0xA1 && static_cast<unsigned char>(text[i + 1]) == 0xA1;
  };
  std::size_t start = 0;
  while (start < n) {
    if (text[start] == ' ') {
      ++start;
    } else if (isFullSpace(start)) {
      start += 2;
    } else {
      break;
    }
  }
  std::size_t end = start;
  std::size_t i = start;
  while (i < n) {
    if (text[i] == ' ') {
      ++i;
    } else if (isFullSpace(i)) {
      i += 2;
    } else {
      i += CharLengthAt(text, i);
      end = i;
    }
  }
  return std::string(text.substr(start, end - start));
}

std::string TextBetween(std::string_view text, std::string_view left, std::string_view right) {
  std::size_t l = FindText(text, left);
  if (l == kNotFound) return {};
  std::size_t restStart = l + left.size();
  std::size_t r = FindText(text, right, restStart);
  if (r == kNotFound) return {};
  return std::string(text.substr(restStart, r - restStart));
}

std::string StripLineBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r' && c != '\n' && c != '\t') out.push_back(c);
  }
  return out;
}

std::vector<std::string> ExtractAllBetween(std::string_view text, std::string_view start, std::string_view end) {
  std::vector<std::string> out;
  if (start.empty()) return out;
  std::size_t hit = FindText(text, start);
  while (hit != kNotFound) {
    std::size_t pieceStart = hit + start.size();
    std::size_t next = FindText(text, start, pieceStart);
    std::size_t pieceEnd = next == kNotFound ? text.size() : next;
    std::string_view piece = text.substr(pieceStart, pieceEnd - pieceStart);
    std::size_t e = FindText(piece, end);
    if (e != kNotFound) out.emplace_back(piece.substr(0, e));
    hit = next;
  }
  return out;
}

std::string_view UpToFirstZero(std::string_view bytes) {
  std::size_t z = bytes.find('\0');
  return z == std::string_view::npos ? bytes : bytes.substr(0, z);
}

std::string FormatDateTime(const std::tm& t) {
  std::string s = std::to_string(t.tm_year + 1900) + "年" + std::to_string(t.tm_mon + 1) + "月" +
                  std::to_string(t.tm_mday) + "日";
  if (t.tm_sec != 0) {
    s += std::to_string(t.tm_hour) + "时" + std::to_string(t.tm_min) + "分" + std::to_string(t.tm_sec) + "秒";
  } else if (t.tm_min != 0) {
    s += std::to_string(t.tm_hour) + "时" + std::to_string(t.tm_min) + "分";
  } else if (t.tm_hour != 0) {
    s += std::to_string(t.tm_hour) + "时";
  }
  return s;
}

std::string NowDateTimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  LocalTime(now, &local);
  return FormatDateTime(local);
}

std::string FormatSortableTime(const std::tm& t) {
  char text[80];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string NowSortableTimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  LocalTime(now, &local);
  return FormatSortableTime(local);
}

std::string_view FlagText(bool value) { return value ? std::string_view("真") : std::string_view("假"); }

bool ParseFlag(std::string_view text) { return text == std::string_view("真"); }

std::int64_t LeadingNumber(std::string_view text) {
  constexpr std::int64_t kMax = 2147483647;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = std::min<std::int64_t>(kMax, value * 10 + (c - '0'));
  }
  return value;
}

std::string PercentEncodeAll(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char c : bytes) {
    out.push_back('%');
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
  }
  return out;
}

std::string PercentEncodeGbk(std::string_view gbk) { return PercentEncodeAll(gbk); }

std::string PercentEncodeUtf8(std::string_view gbk) { return PercentEncodeAll(GbkToUtf8(gbk)); }

std::string PercentEncodeForm(std::string_view gbk) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(gbk.size() * 3);
  for (unsigned char c : gbk) {
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (keep) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::u16string ToUtf16(std::string_view text, CodePage from) { return DecodeCodePage(text, from); }

std::string FromUtf16(std::u16string_view text, CodePage to) { return EncodeCodePage(text, to); }

std::string Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return FromUtf16(ToUtf16(utf8, CodePage::Utf8), CodePage::Gbk);
}

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  return FromUtf16(ToUtf16(gbk, CodePage::Gbk), CodePage::Utf8);
}

std::string Big5ToGbkSimplified(std::string_view big5) {
  if (IsAscii(big5)) return std::string(big5);
  std::string utf8 = FromUtf16(ToUtf16(big5, CodePage::Big5), CodePage::Utf8);
  return EncodeCodePage(ToUtf16(TraditionalToSimplifiedUtf8(utf8), CodePage::Utf8), CodePage::Gbk, true);
}

namespace {

// Length of the well-formed UTF-8 sequence at i, or 0 when the bytes there are not one.
std::size_t Utf8SequenceAt(std::string_view bytes, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(bytes[i]);
  if (c < 0x80) return 1;
  std::size_t len;
  std::uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + len > bytes.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    unsigned char cc = static_cast<unsigned char>(bytes[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  return len;
}

// Position of the first byte that does not start a well-formed UTF-8 sequence, or kNotFound.
std::size_t FirstBadUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t len = Utf8SequenceAt(bytes, i);
    if (len == 0) return i;
    i += len;
  }
  return kNotFound;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) { return FirstBadUtf8(bytes) == kNotFound; }

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::size_t FirstInvalidGbk(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t len = CharLengthAt(text, i);
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (len == 1 && (c == 0 || IsLeadByte(c) || c == 0xFF)) return i;
    i += len;
  }
  return kNotFound;
}

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char ch) {
    auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7F;
  });
}

std::string StripControlCharacters(std::string_view gbk) {
  std::string out;
  out.reserve(gbk.size());
  for (std::size_t i = 0; i < gbk.size();) {
    const std::size_t step = CharLengthAt(gbk, i);
    const auto c = static_cast<unsigned char>(gbk[i]);
    const bool control = step == 1 && (c < 0x20 || c == 0x7F || c == 0x80 || c == 0xFF);
    if (!control) out.append(gbk.substr(i, step));
    i += step;
  }
  return out;
}

std::string EscapeTerminalControls(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  auto escape = [](std::string& out, unsigned c) {
    out += "\\x";
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
  };
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
      escape(out, c);
    } else if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(utf8[i + 1]) <= 0x9F) {
      escape(out, static_cast<unsigned char>(utf8[++i]));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::size_t LineNumberAt(std::string_view text, std::size_t pos) {
  std::size_t line = 1;
  pos = std::min(pos, text.size());
  for (std::size_t i = 0; i < pos; ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) ++line;
  }
  return line;
}

namespace {

DecodedText Fault(std::size_t line, std::string what) {
  DecodedText out;
  out.faultLine = line;
  out.fault = std::move(what);
  return out;
}

// A conversion that stops at the first sequence it cannot convert; failedAt is that input offset.
struct StrictConversion {
  std::string out;
  std::size_t failedAt = kNotFound;
};

// Well-formed UTF-8 as GBK, up to the first character GBK cannot hold.
StrictConversion Utf8ToGbkStrict(std::string_view utf8) {
  StrictConversion result;
  const std::u16string units = ToUtf16(utf8, CodePage::Utf8);
  std::size_t stoppedAt = units.size();
  result.out = EncodeCodePage(units, CodePage::Gbk, true, &stoppedAt);
  if (stoppedAt >= units.size()) return result;
  // Back from UTF-16 units to UTF-8 bytes: a four-byte sequence is two units.
  std::size_t unit = 0, pos = 0;
  while (pos < utf8.size() && unit < stoppedAt) {
    const std::size_t len = Utf8SequenceAt(utf8, pos);
    unit += len == 4 ? 2 : 1;
    pos += len == 0 ? 1 : len;
  }
  result.failedAt = pos;
  return result;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

enum class Utf16Order { kNone, kLittle, kBig };

// UTF-16 bytes as UTF-8, up to a lone surrogate or a last odd byte.
StrictConversion Utf16ToUtf8Strict(std::string_view bytes, Utf16Order order) {
  StrictConversion result;
  result.out.reserve(bytes.size());
  auto unitAt = [&](std::size_t pos) {
    const auto first = static_cast<unsigned char>(bytes[pos]), second = static_cast<unsigned char>(bytes[pos + 1]);
    return static_cast<std::uint32_t>(order == Utf16Order::kBig ? (first << 8) | second : (second << 8) | first);
  };
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    if (pos + 2 > bytes.size()) break;
    std::uint32_t cp = unitAt(pos);
    std::size_t len = 2;
    if (cp >= 0xDC00 && cp <= 0xDFFF) break;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (pos + 4 > bytes.size()) break;
      const std::uint32_t low = unitAt(pos + 2);
      if (low < 0xDC00 || low > 0xDFFF) break;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      len = 4;
    }
    AppendUtf8(result.out, cp);
    pos += len;
  }
  if (pos < bytes.size()) result.failedAt = pos;
  return result;
}

std::string CodePointText(std::string_view utf8, std::size_t pos) {
  std::u16string units = ToUtf16(utf8.substr(pos, Utf8SequenceAt(utf8, pos)), CodePage::Utf8);
  std::uint32_t cp = units.empty() ? 0 : units[0];
  if (units.size() == 2) cp = 0x10000 + ((cp - 0xD800) << 10) + (units[1] - 0xDC00);
  char text[16];
  std::snprintf(text, sizeof(text), "U+%04X", static_cast<unsigned>(cp));
  return text;
}

DecodedText DecodeUtf8Bytes(std::string_view bytes, std::string_view readAs) {
  if (std::size_t zero = bytes.find('\0'); zero != std::string_view::npos) {
    return Fault(LineNumberAt(bytes, zero), "含有零字节");
  }
  if (const std::size_t bad = FirstBadUtf8(bytes); bad != kNotFound) {
    return Fault(LineNumberAt(bytes, bad), "不是有效的" + std::string(readAs) + "文本");
  }
  StrictConversion gbk = Utf8ToGbkStrict(bytes);
  if (gbk.failedAt != kNotFound) {
    return Fault(LineNumberAt(bytes, gbk.failedAt), "字符 " + CodePointText(bytes, gbk.failedAt) +
                                                        " 无法用GBK保存 (按" + std::string(readAs) + "读取)");
  }
  DecodedText out;
  out.gbk = std::move(gbk.out);
  return out;
}

DecodedText DecodeUtf16Bytes(std::string_view bytes, Utf16Order order) {
  StrictConversion utf8 = Utf16ToUtf8Strict(bytes, order);
  if (utf8.failedAt != kNotFound) return Fault(LineNumberAt(utf8.out, utf8.out.size()), "不是有效的UTF-16文本");
  return DecodeUtf8Bytes(utf8.out, "UTF-16");
}

DecodedText DecodeGbkBytes(std::string_view bytes) {
  std::size_t bad = FirstInvalidGbk(bytes);
  if (bad != kNotFound) return Fault(LineNumberAt(bytes, bad), bytes[bad] == 0 ? "含有零字节" : "不是有效的GBK文本");
  DecodedText out;
  out.gbk = std::string(bytes);
  return out;
}

// UTF-16 without a byte-order mark: every zero byte on odd offsets (little-endian) or on even ones.
Utf16Order Utf16ByZeroBytes(std::string_view bytes) {
  if (bytes.size() % 2 != 0) return Utf16Order::kNone;
  bool even = false, odd = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == 0) (i % 2 == 0 ? even : odd) = true;
  }
  if (odd && !even) return Utf16Order::kLittle;
  if (even && !odd) return Utf16Order::kBig;
  return Utf16Order::kNone;
}

}  // namespace

DecodedText DecodeToGbk(std::string_view bytes, TextEncoding encoding) {
  static constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  if (encoding == TextEncoding::kDetect) {
    if (bytes.substr(0, 2) == "\xFF\xFE") return DecodeUtf16Bytes(bytes.substr(2), Utf16Order::kLittle);
    if (bytes.substr(0, 2) == "\xFE\xFF") return DecodeUtf16Bytes(bytes.substr(2), Utf16Order::kBig);
    if (bytes.find('\0') != std::string_view::npos) {
      if (Utf16Order order = Utf16ByZeroBytes(bytes); order != Utf16Order::kNone) return DecodeUtf16Bytes(bytes, order);
    }
  }
  const bool utf8Mark = bytes.substr(0, 3) == kUtf8Mark;
  if (encoding == TextEncoding::kUtf8 || (encoding == TextEncoding::kDetect && utf8Mark)) {
    return DecodeUtf8Bytes(utf8Mark ? bytes.substr(3) : bytes, "UTF-8");
  }
  if (encoding == TextEncoding::kGbk && utf8Mark) return Fault(1, "以UTF-8标记开头 不是GBK文本");
  if (encoding == TextEncoding::kGbk || IsAscii(bytes)) return DecodeGbkBytes(bytes);
  // GBK text often holds byte runs that are well-formed UTF-8, so only a text that is well-formed
  // throughout is read as UTF-8; else it must be GBK throughout.
  const std::size_t badUtf8 = FirstBadUtf8(bytes);
  if (badUtf8 == kNotFound) return DecodeUtf8Bytes(bytes, "UTF-8");
  const std::size_t badGbk = FirstInvalidGbk(bytes);
  if (badGbk == kNotFound) return DecodeGbkBytes(bytes);
  // Neither: the line where the text stops being either, and where the other one broke.
  const std::size_t utf8Line = LineNumberAt(bytes, badUtf8);
  const std::size_t gbkLine = LineNumberAt(bytes, badGbk);
  constexpr std::string_view kHint = " 请用 --encoding gbk 或 --encoding utf-8 指明文件的编码";
  if (utf8Line == gbkLine) return Fault(utf8Line, "既不是有效的UTF-8文本也不是有效的GBK文本" + std::string(kHint));
  if (utf8Line > gbkLine) {
    return Fault(utf8Line, "不是有效的UTF-8文本, 第" + std::to_string(gbkLine) + "行不是有效的GBK文本" + std::string(kHint));
  }
  return Fault(gbkLine, "不是有效的GBK文本, 第" + std::to_string(utf8Line) + "行不是有效的UTF-8文本" + std::string(kHint));
}

}  // namespace torvane
