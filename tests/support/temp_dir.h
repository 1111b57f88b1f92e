// A fresh directory for one test, removed when the test ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace torvane::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Writes bytes to a file (test setup only; not atomic).
void WriteBytes(const std::filesystem::path& path, std::string_view bytes);
// The file's bytes, "" when missing.
std::string ReadBytes(const std::filesystem::path& path);

}  // namespace torvane::test
