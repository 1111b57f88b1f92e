// A card file as the batch import reads it: the text-file decoder (DecodeToGbk) and the batch parser
// (ParseCardBatch). The cards accepted are exactly the non-empty lines given, in order, nothing merged
// or dropped; a batch is refused whole or accepted whole, and only for a reason it really has.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "fuzz_check.h"
#include "store/inventory_commands.h"

using namespace torvane;

namespace {

struct Line {
  std::size_t number = 0;  // 1-based
  std::string text;
};

// Lines ended by CR LF, LF or a lone CR, split byte by byte.
std::vector<Line> LinesOf(std::string_view text) {
  std::vector<Line> lines;
  std::string current;
  std::size_t number = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back({number++, current});
      current.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) lines.push_back({number, current});
  return lines;
}

// Why a line would be refused, judged without the parser; "" when it is fine.
bool LineIsRefusable(const std::string& line) {
  if (HasControlCharacter(line) || FirstInvalidGbk(line) != kNotFound) return true;
  std::size_t commas = 0;
  for (char c : line) commas += c == ',' ? 1 : 0;  // "," is never the second byte of a character
  if (commas > 1) return true;
  return Trim(line.substr(0, line.find(','))).empty();
}

void CheckDecoded(std::string_view bytes, TextEncoding encoding, const DecodedText& decoded) {
  if (!decoded.ok()) {
    FUZZ_CHECK(!decoded.fault.empty() && decoded.gbk.empty());
    return;
  }
  FUZZ_CHECK(decoded.fault.empty());
  FUZZ_CHECK(FirstInvalidGbk(decoded.gbk) == kNotFound);  // no zero byte either
  std::string_view withoutMark = bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
  // Never a substitute character: read as GBK the bytes stay, read as UTF-8 they convert back whole.
  if (encoding == TextEncoding::kGbk) FUZZ_CHECK(decoded.gbk == bytes);
  if (encoding == TextEncoding::kUtf8) FUZZ_CHECK(GbkToUtf8(decoded.gbk) == withoutMark);
  if (encoding == TextEncoding::kDetect) {
    const bool utf16 = bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF") ||
                       bytes.find('\0') != std::string_view::npos;
    FUZZ_CHECK(utf16 || decoded.gbk == bytes || GbkToUtf8(decoded.gbk) == withoutMark);
  }
}

void CheckBatch(const std::string& item, const std::string& text, const std::string& note, const CardBatch& batch) {
  const std::vector<Line> lines = LinesOf(text);
  std::vector<Line> filled;
  for (const Line& line : lines) {
    if (!line.text.empty()) filled.push_back(line);
  }
  if (!batch.fault.empty()) {
    // Refused whole, and for a reason the batch has.
    FUZZ_CHECK(batch.cards.empty() && batch.lines.empty());
    bool reason = ContainsText(text, "，") || !FieldFault(item, "x").empty() || !FieldFault(note, "x").empty();
    for (const Line& line : filled) reason = reason || LineIsRefusable(line.text);
    FUZZ_CHECK(reason);
    if (batch.faultLine != 0) {
      // The line named is the first refusable one.
      const Line* first = nullptr;
      for (const Line& line : filled) {
        if (LineIsRefusable(line.text)) {
          first = &line;
          break;
        }
      }
      FUZZ_CHECK(first != nullptr && first->number == batch.faultLine);
      FUZZ_CHECK(batch.fault.starts_with("第" + std::to_string(batch.faultLine) + "行: "));
    }
    return;
  }
  // Accepted whole: one card per non-empty line, in order, each made of that line and nothing else.
  FUZZ_CHECK(!ContainsText(text, "，"));
  FUZZ_CHECK(FieldFault(item, "x").empty() && FieldFault(note, "x").empty());
  FUZZ_CHECK(batch.cards.size() == filled.size());
  FUZZ_CHECK(batch.lines.size() == filled.size());
  for (std::size_t k = 0; k < filled.size(); ++k) {
    const std::vector<std::string>& card = batch.cards[k];
    const std::string& line = filled[k].text;
    FUZZ_CHECK(batch.lines[k] == filled[k].number);
    FUZZ_CHECK(card.size() == 4);
    FUZZ_CHECK(card[0] == item && card[3] == note);
    FUZZ_CHECK(!LineIsRefusable(line));
    const std::string& number = card[1];
    const std::string& secret = card[2];
    FUZZ_CHECK(!Trim(number).empty());
    if (line.find(',') == std::string::npos) {
      FUZZ_CHECK(number == line && secret == "空");
    } else {
      FUZZ_CHECK(line == number + "," + secret || (secret == "空" && line == number + ","));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::KeepConvertersLoaded();
  FuzzedDataProvider input(data, size);
  static constexpr TextEncoding kEncodings[] = {TextEncoding::kDetect, TextEncoding::kGbk, TextEncoding::kUtf8};
  const TextEncoding encoding = input.PickValueInArray(kEncodings);
  std::string item = input.ConsumeRandomLengthString(12);
  std::string note = input.ConsumeRandomLengthString(12);
  if (item.empty()) item = "点卡";
  if (note.empty()) note = "备注";
  const std::string bytes = input.ConsumeRemainingBytesAsString();

  const DecodedText decoded = DecodeToGbk(bytes, encoding);
  CheckDecoded(bytes, encoding, decoded);
  // The parser sees what the decoder gave, and also the raw bytes (text typed into the window).
  if (decoded.ok()) CheckBatch(item, decoded.gbk, note, ParseCardBatch(item, decoded.gbk, note));
  CheckBatch(item, bytes, note, ParseCardBatch(item, bytes, note));
  return 0;
}
