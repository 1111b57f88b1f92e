// INI files with the profile-string behaviour the settings and deployment files rely on.
//
// Sections and keys are matched without regard to ASCII letter case (two-byte GBK
// characters are compared whole, so their trail bytes are never case-folded). Values are
// GBK bytes; spaces and tabs around a value are dropped by Get. The first of duplicate
// sections or keys is the one read and the one written. Setting a key rewrites only that
// key's value: every other byte of the file (comments, unknown keys, order, CR LF, LF or lone
// CR line ends, a missing final line break) is kept. A missing section or key is appended,
// new lines ending in CR LF.
//
// The files are GBK. One that an editor saved as UTF-8 (with or without a byte-order mark) is
// read converted to GBK, and is therefore saved as GBK without a byte-order mark.
//
// Read once, set many keys, save once: Save writes the whole file atomically.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// How a file's bytes stood before reading made them GBK lines.
struct IniSourceForm {
  bool utf8 = false;           // saved as UTF-8, byte-order mark or not: converted to GBK
  bool utf8Lossless = true;    // false when a UTF-8 character has no GBK form (it reads as "?")
  bool loneCrLineEnds = false;  // some line ended by CR alone (as old Mac editors write)

  bool Converted() const { return utf8 || loneCrLineEnds; }
  // One line for the seller naming the file and what was converted; "" when nothing was.
  std::string Describe(std::string_view fileName) const;
};

class IniFile {
 public:
  IniFile() = default;

  // Parses GBK INI text (any bytes; NUL bytes are plain bytes).
  static IniFile FromText(std::string_view text);

  // Parses a file's bytes: a UTF-8 byte-order mark, or text that is not ASCII and is well-formed
  // UTF-8 (GBK Chinese practically never is), means UTF-8, converted to GBK first.
  static IniFile FromFileBytes(std::string_view bytes);

  // Reads the file. A missing file gives an empty IniFile and true; a file that cannot be
  // read gives false with the reason in error, and leaves this object empty.
  bool Load(const std::filesystem::path& path, std::string* error = nullptr);

  // How the bytes read by FromFileBytes or Load stood.
  const IniSourceForm& SourceForm() const { return form_; }

  // The value with surrounding spaces and tabs dropped; nullopt when the section or key is missing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // The names of the sections with a header, in file order (duplicates included).
  std::vector<std::string> SectionNames() const;

  // The bytes after "=" exactly as stored, surrounding spaces included.
  std::optional<std::string> GetRaw(std::string_view section, std::string_view key) const;

  // Sets the value of a key, creating the section and the key when missing. A line break
  // cannot live inside a one-line value: CR and LF bytes in value are stored as spaces.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  // Ends with CR LF every line that ended with a lone CR.
  void UseCrLfForLoneCr();

  // The whole file text as it would be saved.
  std::string Text() const;

  // Writes Text() to the file atomically with the given mode (also when the file existed with another mode).
  bool Save(const std::filesystem::path& path, std::string* error = nullptr, unsigned mode = 0600) const;

 private:
  struct Line {
    std::string content;     // bytes without the line end
    std::string ending;      // "\r\n", "\n", "\r" or "" (last line without a line break)
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
  IniSourceForm form_;
};

// True when both texts are equal with ASCII letters compared without regard to case
// (two-byte GBK characters compared byte for byte).
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace torvane
