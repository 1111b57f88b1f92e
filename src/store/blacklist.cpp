#include "store/blacklist.h"

#include <mutex>

#include "base/files.h"
#include "base/text.h"

namespace torvane {

namespace {

// Appends are read-modify-write of the whole file: two at once in this process would lose one.
std::mutex& AppendMutex() {
  static std::mutex mu;
  return mu;
}

}  // namespace

std::filesystem::path BlacklistPath(const std::filesystem::path& dataDir) {
  return dataDir / std::filesystem::path(u8"临时黑名单.log");
}

bool BlacklistContains(const std::filesystem::path& dataDir, std::string_view orderNumber, std::string* error) {
  std::string readError;
  auto text = ReadWholeFile(BlacklistPath(dataDir), &readError);
  if (error) *error = readError;
  if (!text) return !readError.empty();
  return ContainsText(*text, orderNumber);
}

bool BlacklistAppend(const std::filesystem::path& dataDir, std::string_view orderNumber, std::string* error) {
  std::lock_guard lock(AppendMutex());
  const auto path = BlacklistPath(dataDir);
  std::string readError;
  auto text = ReadWholeFile(path, &readError);
  if (!text) {
    if (!readError.empty()) {
      if (error) *error = readError;
      return false;
    }
    text.emplace();
  }
  text->append(orderNumber);
  return WriteFileAtomic(path, *text, error);
}

}  // namespace torvane
