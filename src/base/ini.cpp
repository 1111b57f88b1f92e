#include "base/ini.h"

#include "base/files.h"
#include "base/text.h"

namespace torvane {

namespace {

bool IsBlankByte(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  std::size_t b = 0;
  while (b < s.size() && IsBlankByte(s[b])) ++b;
  std::size_t e = s.size();
  while (e > b && IsBlankByte(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool IsBlankLine(std::string_view s) { return TrimBlanks(s).empty(); }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  std::size_t i = 0;
  while (i < a.size()) {
    if (CharLengthAt(a, i) == 2) {
      // A two-byte character: its trail byte may look like an ASCII letter, so compare exactly.
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      i += 2;
    } else {
      if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
      ++i;
    }
  }
  return true;
}

IniFile IniFile::FromText(std::string_view text) {
  IniFile ini;
  ini.sections_.emplace_back();  // lines before the first header
  std::size_t pos = 0;
  while (pos < text.size()) {
    // CR and LF are never trail bytes: a plain byte search is character-aligned.
    std::size_t end = text.find_first_of("\r\n", pos);
    Line line;
    if (end == std::string_view::npos) {
      line.content.assign(text.substr(pos));
      pos = text.size();
    } else {
      line.content.assign(text.substr(pos, end - pos));
      if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
        line.ending = "\r\n";
      } else if (text[end] == '\r') {
        // assign(count, byte): GCC 12 at -O3 reports a false -Wrestrict for a one-byte literal here.
        line.ending.assign(1, '\r');
        ini.form_.loneCrLineEnds = true;
      } else {
        line.ending.assign(1, '\n');
      }
      pos = end + line.ending.size();
    }

    std::string_view content = line.content;
    std::size_t first = 0;
    while (first < content.size() && IsBlankByte(content[first])) ++first;
    if (first < content.size() && content[first] == '[') {
      Section section;
      section.hasHeader = true;
      std::string_view rest = content.substr(first + 1);
      // "]" can be the trail byte of a two-byte character: search character-aligned.
      std::size_t close = FindText(rest, "]");
      section.name.assign(TrimBlanks(close == kNotFound ? rest : rest.substr(0, close)));
      section.header = std::move(line);
      ini.sections_.push_back(std::move(section));
      continue;
    }
    if (first < content.size() && content[first] != ';') {
      std::size_t eq = content.find('=', first);  // "=" is never a trail byte
      if (eq != std::string_view::npos) {
        std::string_view key = TrimBlanks(content.substr(first, eq - first));
        if (!key.empty()) {
          line.isKey = true;
          line.keyBegin = static_cast<std::size_t>(key.data() - content.data());
          line.keyLength = key.size();
          line.valueBegin = eq + 1;
        }
      }
    }
    ini.sections_.back().lines.push_back(std::move(line));
  }
  return ini;
}

IniFile IniFile::FromFileBytes(std::string_view bytes) {
  static constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  const bool marked = bytes.starts_with(kUtf8Mark);
  if (marked) bytes.remove_prefix(kUtf8Mark.size());
  if (!marked && (IsAscii(bytes) || !IsValidUtf8(bytes))) return FromText(bytes);
  std::string gbk = Utf8ToGbk(bytes);
  IniFile ini = FromText(gbk);
  ini.form_.utf8 = true;
  ini.form_.utf8Lossless = GbkToUtf8(gbk) == bytes;
  return ini;
}

std::string IniSourceForm::Describe(std::string_view fileName) const {
  std::string what;
  if (utf8) what = utf8Lossless ? "是UTF-8编码 已转换为GBK读取" : "是UTF-8编码 已转换为GBK读取 其中GBK无法表示的字符读作?";
  if (loneCrLineEnds) {
    if (!what.empty()) what += "; ";
    what += "以单独的CR换行 已按行读取";
  }
  if (what.empty()) return what;
  return std::string(fileName) + " " + what;
}

bool IniFile::Load(const std::filesystem::path& path, std::string* error) {
  sections_.clear();
  form_ = IniSourceForm{};
  std::string readError;
  auto data = ReadWholeFile(path, &readError);
  if (!data) {
    if (!readError.empty()) {
      if (error) *error = readError;
      return false;
    }
    if (error) error->clear();
    return true;  // missing file: empty
  }
  *this = FromFileBytes(*data);
  if (error) error->clear();
  return true;
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const auto& s : sections_) {
    if (s.hasHeader) names.push_back(s.name);
  }
  return names;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  for (const auto& s : sections_) {
    if (s.hasHeader && EqualIgnoringAsciiCase(s.name, name)) return &s;
  }
  return nullptr;
}

IniFile::Section* IniFile::FindSection(std::string_view name) {
  return const_cast<Section*>(static_cast<const IniFile*>(this)->FindSection(name));
}

const IniFile::Line* IniFile::FindKey(const Section& section, std::string_view key) {
  for (const auto& line : section.lines) {
    if (line.isKey && EqualIgnoringAsciiCase(std::string_view(line.content).substr(line.keyBegin, line.keyLength), key)) {
      return &line;
    }
  }
  return nullptr;
}

IniFile::Line* IniFile::FindKey(Section& section, std::string_view key) {
  return const_cast<Line*>(FindKey(static_cast<const Section&>(section), key));
}

std::optional<std::string> IniFile::GetRaw(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (!s) return std::nullopt;
  const Line* line = FindKey(*s, key);
  if (!line) return std::nullopt;
  return line->content.substr(line->valueBegin);
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  auto raw = GetRaw(section, key);
  if (!raw) return std::nullopt;
  return std::string(TrimBlanks(*raw));
}

void IniFile::EnsureLastLineEnded() {
  for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
    Line* last = !it->lines.empty() ? &it->lines.back() : (it->hasHeader ? &it->header : nullptr);
    if (!last) continue;
    if (last->ending.empty()) last->ending = "\r\n";
    return;
  }
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string clean(value);
  for (char& c : clean) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  if (sections_.empty()) sections_.emplace_back();

  Section* s = FindSection(section);
  if (!s) {
    EnsureLastLineEnded();
    Section fresh;
    fresh.hasHeader = true;
    fresh.name.assign(section);
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict for "[" + std::string(...).
    fresh.header.content.append(1, '[').append(section).append(1, ']');
    fresh.header.ending = "\r\n";
    sections_.push_back(std::move(fresh));
    s = &sections_.back();
  }

  if (Line* line = FindKey(*s, key)) {
    line->content.resize(line->valueBegin);
    line->content += clean;
    return;
  }

  // A new key goes after the section's last non-blank line, before any blank lines that end it.
  std::size_t at = s->lines.size();
  while (at > 0 && IsBlankLine(s->lines[at - 1].content)) --at;
  Line& before = at > 0 ? s->lines[at - 1] : s->header;
  if (before.ending.empty()) before.ending = "\r\n";
  Line fresh;
  fresh.content = std::string(key) + "=";
  fresh.isKey = true;
  fresh.keyBegin = 0;
  fresh.keyLength = key.size();
  fresh.valueBegin = fresh.content.size();
  fresh.content += clean;
  fresh.ending = "\r\n";
  s->lines.insert(s->lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(fresh));
}

void IniFile::UseCrLfForLoneCr() {
  for (auto& s : sections_) {
    if (s.header.ending == "\r") s.header.ending = "\r\n";
    for (auto& l : s.lines) {
      if (l.ending == "\r") l.ending = "\r\n";
    }
  }
}

std::string IniFile::Text() const {
  std::size_t total = 0;
  for (const auto& s : sections_) {
    if (s.hasHeader) total += s.header.content.size() + s.header.ending.size();
    for (const auto& l : s.lines) total += l.content.size() + l.ending.size();
  }
  std::string out;
  out.reserve(total);
  for (const auto& s : sections_) {
    if (s.hasHeader) {
      out += s.header.content;
      out += s.header.ending;
    }
    for (const auto& l : s.lines) {
      out += l.content;
      out += l.ending;
    }
  }
  return out;
}

bool IniFile::Save(const std::filesystem::path& path, std::string* error, unsigned mode) const {
  return WriteFileAtomic(path, Text(), error, mode);
}

}  // namespace torvane
