#include "store/item_names.h"

#include "base/files.h"
#include "base/text.h"

namespace torvane {

std::filesystem::path ItemNamesPath(const std::filesystem::path& dataDir) {
  return dataDir / std::filesystem::path(u8"宝贝名称.txt");
}

std::vector<std::string> SplitItemNames(std::string_view text) { return SplitText(text, kCrLf); }

std::vector<std::string> ReadItemNames(const std::filesystem::path& dataDir, std::string* error) {
  std::string readError;
  auto text = ReadWholeFile(ItemNamesPath(dataDir), &readError);
  if (error) *error = readError;
  if (!text) return {};
  return SplitItemNames(*text);
}

bool IsListedItem(const std::filesystem::path& dataDir, std::string_view title, std::string* error) {
  for (const auto& name : ReadItemNames(dataDir, error)) {
    if (name == title) return true;
  }
  return false;
}

}  // namespace torvane
