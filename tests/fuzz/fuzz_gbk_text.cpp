// The GBK text helpers: character-aligned searches, splitting, trimming, marker cuts, the code-page
// conversions and the percent-encoders.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "fuzz_check.h"
#include "notify/im_client.h"

using namespace torvane;
using torvane::fuzz::CharacterStarts;

namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void CheckSearches(std::string_view text, std::string_view part, std::size_t from) {
  const std::vector<bool> starts = CharacterStarts(text);
  const std::size_t found = FindText(text, part, from);
  // Never a match that starts on a trail byte, and never one the brute force would not give.
  FUZZ_CHECK(found == fuzz::NaiveFind(text, part, from));
  if (found != kNotFound) {
    FUZZ_CHECK(starts[found]);
    FUZZ_CHECK(text.substr(found, part.size()) == part);
  }
  FUZZ_CHECK(ContainsText(text, part) == (FindText(text, part) != kNotFound));

  const std::size_t folded = FindTextIgnoreAsciiCase(text, part, from);
  if (folded != kNotFound) {
    FUZZ_CHECK(starts[folded] && folded >= from);
    FUZZ_CHECK(folded + part.size() <= text.size());
    for (std::size_t k = 0; k < part.size(); ++k) FUZZ_CHECK(Lower(text[folded + k]) == Lower(part[k]));
  }
  // An exact match is also a match without regard to case.
  if (found != kNotFound) FUZZ_CHECK(folded != kNotFound && folded <= found);
}

void CheckSplitAndReplace(std::string_view text, std::string_view delimiter) {
  const std::vector<std::string> pieces = SplitText(text, delimiter);
  if (text.empty()) {
    FUZZ_CHECK(pieces.empty());
    return;
  }
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) joined += delimiter;
    joined += pieces[i];
  }
  if (delimiter.empty()) {
    FUZZ_CHECK(pieces.size() == 1 && joined == text);
  } else {
    // Nothing lost and nothing added: the pieces with the delimiters between them are the text,
    // the text's final delimiter (after which the empty last piece is dropped) aside.
    FUZZ_CHECK(joined == text || joined + std::string(delimiter) == text);
    std::size_t count = 0;
    for (std::size_t at = FindText(text, delimiter); at != kNotFound; at = FindText(text, delimiter, at + delimiter.size())) {
      ++count;
    }
    FUZZ_CHECK(pieces.size() == count + (joined == text ? 1 : 0));
    FUZZ_CHECK(ReplaceAll(text, delimiter, delimiter) == text);
    FUZZ_CHECK(ReplaceAll(text, delimiter, "").size() == text.size() - count * delimiter.size());
  }
}

void CheckTrim(std::string_view text) {
  const std::string trimmed = Trim(text);
  FUZZ_CHECK(text.find(trimmed) != std::string_view::npos);
  FUZZ_CHECK(Trim(trimmed) == trimmed);
  if (!trimmed.empty()) {
    FUZZ_CHECK(trimmed.front() != ' ' && trimmed.substr(0, 2) != "\xA1\xA1");
    FUZZ_CHECK(trimmed.back() != ' ');
  }
}

void CheckCuts(std::string_view text, std::string_view left, std::string_view right) {
  // Markers end on a whole character (as every marker of the program does).
  if (!fuzz::EndsOnWholeCharacter(left) || !fuzz::EndsOnWholeCharacter(right)) return;
  const std::string between = TextBetween(text, left, right);
  const std::size_t l = FindText(text, left);
  if (l == kNotFound) {
    FUZZ_CHECK(between.empty());
  } else if (!between.empty()) {
    // The cut is the text right after the left marker, and the right marker follows it at once.
    FUZZ_CHECK(text.substr(l + left.size(), between.size()) == between);
    FUZZ_CHECK(text.substr(l + left.size() + between.size(), right.size()) == right);
    FUZZ_CHECK(right.empty() || FindText(between, right) == kNotFound);
  }
  const std::string stripped = StripLineBreaks(text);
  FUZZ_CHECK(stripped.find_first_of("\r\n\t") == std::string::npos);
  if (!left.empty()) {
    const std::vector<std::string> all = ExtractAllBetween(text, left, right);
    std::size_t starts = 0;
    for (std::size_t at = FindText(text, left); at != kNotFound; at = FindText(text, left, at + left.size())) ++starts;
    FUZZ_CHECK(all.size() <= starts);
    for (const std::string& piece : all) {
      FUZZ_CHECK(text.find(piece) != std::string_view::npos);
      FUZZ_CHECK(FindText(piece, left) == kNotFound);
      FUZZ_CHECK(right.empty() ? piece.empty() : FindText(piece, right) == kNotFound);
    }
  }
}

void CheckConversions(std::string_view gbk) {
  const std::string utf8 = GbkToUtf8(gbk);
  FUZZ_CHECK(IsValidUtf8(utf8));
  const std::string back = Utf8ToGbk(utf8);
  // GBK back, whatever the input; the input itself when every character of it converted.
  const std::size_t invalid = FirstInvalidGbk(back);
  FUZZ_CHECK(invalid == kNotFound || back[invalid] == '\0');
  const bool converted = utf8.find(kReplacementUtf8) == std::string::npos;
  if (converted) FUZZ_CHECK(back == gbk);
  // A byte the import refuses is one the converter cannot read either.
  const std::size_t bad = FirstInvalidGbk(gbk);
  if (bad != kNotFound && gbk[bad] != '\0') FUZZ_CHECK(!converted);
  if (IsAscii(gbk)) FUZZ_CHECK(utf8 == gbk && Utf8ToGbk(gbk) == gbk);

  // UTF-8 to GBK and back keeps every character GBK holds.
  if (IsValidUtf8(gbk)) {
    const std::string asGbk = Utf8ToGbk(gbk);
    const std::size_t at = FirstInvalidGbk(asGbk);
    FUZZ_CHECK(at == kNotFound || asGbk[at] == '\0');
    if (asGbk.find('?') == std::string::npos) FUZZ_CHECK(GbkToUtf8(asGbk) == gbk);
  }

  const std::string simplified = Big5ToGbkSimplified(gbk.substr(0, 64));
  const std::size_t at = FirstInvalidGbk(simplified);
  FUZZ_CHECK(at == kNotFound || simplified[at] == '\0');
}

void CheckPercentEncoders(std::string_view bytes) {
  std::string decoded;
  const std::string all = PercentEncodeAll(bytes);
  FUZZ_CHECK(all.size() == bytes.size() * 3);
  FUZZ_CHECK(fuzz::PercentDecode(all, &decoded) && decoded == bytes);
  FUZZ_CHECK(PercentEncodeGbk(bytes) == all);

  const std::string form = PercentEncodeForm(bytes);
  for (char c : form) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '%';
    FUZZ_CHECK(plain);
  }
  FUZZ_CHECK(fuzz::PercentDecode(form, &decoded) && decoded == bytes);

  const std::string utf8 = PercentEncodeUtf8(bytes);
  FUZZ_CHECK(fuzz::PercentDecode(utf8, &decoded) && decoded == GbkToUtf8(bytes));
  FUZZ_CHECK(Utf8FormEncode(bytes) == utf8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::KeepConvertersLoaded();
  FuzzedDataProvider input(data, size);
  const std::string part = input.ConsumeRandomLengthString(16);
  const std::string right = input.ConsumeRandomLengthString(16);
  const std::size_t fromChoice = input.ConsumeIntegral<std::uint16_t>();
  const std::string text = input.ConsumeRemainingBytesAsString();

  // A start position that is a character start, as every caller passes.
  const std::vector<bool> starts = CharacterStarts(text);
  std::size_t from = text.empty() ? 0 : fromChoice % (text.size() + 1);
  while (from < text.size() && !starts[from]) --from;

  CheckSearches(text, part, 0);
  CheckSearches(text, part, from);
  CheckSplitAndReplace(text, part);
  CheckTrim(text);
  CheckCuts(text, part, right);
  CheckConversions(text);
  CheckPercentEncoders(text);
  return 0;
}
