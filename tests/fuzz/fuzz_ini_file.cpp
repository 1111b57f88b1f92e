// The INI reader and writer: a file read and written unchanged is the same bytes; setting one key and
// reading the text back gives the value, and every other line of the file is unchanged byte for byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/ini.h"
#include "base/text.h"
#include "fuzz_check.h"

using namespace torvane;

namespace {

struct Line {
  std::string content;
  std::string ending;
  bool operator==(const Line&) const = default;
};

std::vector<Line> LinesOf(std::string_view text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      lines.push_back({std::string(text.substr(pos)), ""});
      break;
    }
    const std::string ending = text.substr(end, 2) == "\r\n" ? "\r\n" : std::string(1, text[end]);
    lines.push_back({std::string(text.substr(pos, end - pos)), ending});
    pos = end + ending.size();
  }
  return lines;
}

std::string TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

// A section or key name the program could use: made of whole characters from a small alphabet that
// includes two-byte characters whose second byte is "]", "[", "=" 's neighbours or a letter.
std::string NameFrom(FuzzedDataProvider& input) {
  static constexpr std::string_view kPieces[] = {
      "a", "B", "z", "0", "9", "_", " ", "\t", ".", "-", "订单", "扫描", "周期", "手机设置", "\x81]", "\x81[",
      "\x81\x40", "\x81\x7E", "\xFE\xFE", "\xA1\xA1", "\x81" "a", "\x81" "A", "K"};
  std::string name;
  const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(1, 6);
  for (std::size_t i = 0; i < count; ++i) name += input.PickValueInArray(kPieces);
  name = TrimBlanks(name);
  return name.empty() ? std::string("k") : name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::KeepConvertersLoaded();
  FuzzedDataProvider input(data, size);
  const std::string section = NameFrom(input);
  const std::string key = NameFrom(input);
  const std::string value = input.ConsumeRandomLengthString(40);
  const std::string bytes = input.ConsumeRemainingBytesAsString();

  IniFile ini = IniFile::FromFileBytes(bytes);
  const std::string before = ini.Text();
  // A GBK file (anything that is not UTF-8) is kept byte for byte.
  if (!ini.SourceForm().utf8) FUZZ_CHECK(before == bytes);
  FUZZ_CHECK(IniFile::FromText(before).Text() == before);

  ini.Set(section, key, value);
  const std::string after = ini.Text();

  // Written and read back, the key has the value (line breaks stored as spaces, blanks around dropped).
  std::string stored = value;
  for (char& c : stored) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  const IniFile reread = IniFile::FromText(after);
  FUZZ_CHECK(reread.Get(section, key) == TrimBlanks(stored));
  FUZZ_CHECK(ini.Get(section, key) == TrimBlanks(stored));

  // Every other line unchanged: the key's line replaced, or one line inserted, or a new section appended.
  const std::vector<Line> a = LinesOf(before);
  const std::vector<Line> b = LinesOf(after);
  const Line keyLine{key + "=" + stored, "\r\n"};
  auto sameButEnding = [](const Line& x, const Line& y) {
    return x == y || (x.content == y.content && x.ending.empty() && y.ending == "\r\n");
  };
  if (b.size() == a.size()) {
    std::size_t changed = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (a[i] == b[i]) continue;
      ++changed;
      // Only the value after the key's "=" changed.
      const std::size_t eq = a[i].content.find('=');
      FUZZ_CHECK(eq != std::string::npos);
      FUZZ_CHECK(b[i].content == a[i].content.substr(0, eq + 1) + stored && b[i].ending == a[i].ending);
    }
    FUZZ_CHECK(changed <= 1);
  } else if (b.size() == a.size() + 1) {
    std::size_t at = 0;
    while (at < a.size() && a[at] == b[at]) ++at;
    if (at < a.size() && !(b[at] == keyLine)) {
      // The file's last line gained the line end it lacked; the new line follows it.
      FUZZ_CHECK(at + 1 == a.size() && sameButEnding(a[at], b[at]));
      ++at;
    }
    FUZZ_CHECK(b[at] == keyLine);
    for (std::size_t i = at; i < a.size(); ++i) FUZZ_CHECK(a[i] == b[i + 1]);
  } else {
    FUZZ_CHECK(b.size() == a.size() + 2);
    for (std::size_t i = 0; i < a.size(); ++i) FUZZ_CHECK(i + 1 == a.size() ? sameButEnding(a[i], b[i]) : a[i] == b[i]);
    FUZZ_CHECK(b[a.size()] == (Line{"[" + section + "]", "\r\n"}));
    FUZZ_CHECK(b[a.size() + 1] == keyLine);
  }

  // Lone CR line ends become CR LF and nothing else changes.
  IniFile crlf = IniFile::FromText(after);
  crlf.UseCrLfForLoneCr();
  const std::vector<Line> c = LinesOf(crlf.Text());
  FUZZ_CHECK(c.size() == b.size());
  for (std::size_t i = 0; i < b.size(); ++i) {
    FUZZ_CHECK(c[i].content == b[i].content);
    FUZZ_CHECK(c[i].ending == (b[i].ending == "\r" ? std::string("\r\n") : b[i].ending));
  }
  return 0;
}
