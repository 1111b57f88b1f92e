// Copies of marketplace answers the program did not understand (neither the page it asked for, nor
// the login page, nor an answer it knows), kept in the data directory's 诊断 folder so that the
// seller can look at what came back or send it on. Secrets never reach these files.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// "诊断" in the data directory.
std::filesystem::path DiagnosticsDirectory(const std::filesystem::path& dataDir);

// The page with every secret taken out: each of the given values (and every cookie value of the
// process's cookie store) of four bytes or more, and the value of any _tb_token_ field, become
// "[已隐去]".
std::string WithoutSecrets(std::string_view page, const std::vector<std::string>& secrets);

class PageDiagnostics {
 public:
  static constexpr std::chrono::hours kQuietTime{1};  // at most one saved page in this time
  static constexpr std::size_t kKeptFiles = 20;       // older ones are removed

  explicit PageDiagnostics(std::filesystem::path dataDir);

  // Saves the answer (what: an ASCII word naming the page, part of the file's name; address: where it came from) without its
  // secrets, readable by the owner only, unless a page was saved within kQuietTime (the folder's
  // newest file tells, so separate runs count too). Returns the text to add to the log line:
  // " (页面已保存: PATH)", or " (页面未能保存: WHY)", or "" when nothing was due.
  std::string Save(std::string_view what, std::string_view address, std::string_view page,
                   const std::vector<std::string>& secrets);

 private:
  std::filesystem::path dataDir_;
};

}  // namespace torvane
