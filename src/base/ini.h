// INI files with the profile-string behaviour the settings and deployment files rely on.
//
// Sections and keys are matched without regard to ASCII letter case (two-byte GBK
// characters are compared whole, so their trail bytes are never case-folded). Values are
// GBK bytes; spaces and tabs around a value are dropped by Get. The first of duplicate
// sections or keys is the one read and the one written. Setting a key rewrites only that
// key's value: every other byte of the file (comments, unknown keys, order, CR LF or LF
// line ends, a missing final line break) is kept. A missing section or key is appended,
// new lines ending in CR LF.
//
// Read once, set many keys, save once: Save writes the whole file atomically.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

class IniFile {
 public:
  IniFile() = default;

  // Parses INI text (any bytes; NUL bytes are plain bytes).
  static IniFile FromText(std::string_view text);

  // Reads the file. A missing file gives an empty IniFile and true; a file that cannot be
  // read gives false with the reason in error, and leaves this object empty.
  bool Load(const std::filesystem::path& path, std::string* error = nullptr);

  // The value with surrounding spaces and tabs dropped; nullopt when the section or key is missing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // The bytes after "=" exactly as stored, surrounding spaces included.
  std::optional<std::string> GetRaw(std::string_view section, std::string_view key) const;

  // Sets the value of a key, creating the section and the key when missing. A line break
  // cannot live inside a one-line value: CR and LF bytes in value are stored as spaces.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  // The whole file text as it would be saved.
  std::string Text() const;

  // Writes Text() to the file atomically with the given mode (also when the file existed with another mode).
  bool Save(const std::filesystem::path& path, std::string* error = nullptr, mode_t mode = 0644) const;

 private:
  struct Line {
    std::string content;     // bytes without the line end
    std::string ending;      // "\r\n", "\n" or "" (last line without a line break)
    bool isKey = false;
    std::size_t keyBegin = 0;  // key name, already trimmed, within content
    std::size_t keyLength = 0;
    std::size_t valueBegin = 0;  // first byte after "="
  };
  struct Section {
    bool hasHeader = false;  // false only for the lines before the first section header
    std::string name;        // trimmed, as written in the file
    Line header;
    std::vector<Line> lines;
  };

  Section* FindSection(std::string_view name);
  const Section* FindSection(std::string_view name) const;
  static const Line* FindKey(const Section& section, std::string_view key);
  static Line* FindKey(Section& section, std::string_view key);
  void EnsureLastLineEnded();

  std::vector<Section> sections_;
};

// True when both texts are equal with ASCII letters compared without regard to case
// (two-byte GBK characters compared byte for byte).
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace torvane
