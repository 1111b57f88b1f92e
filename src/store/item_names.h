// The item-name list 宝贝名称.txt: GBK text, every name followed by CR LF.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// "宝贝名称.txt" in the data directory.
std::filesystem::path ItemNamesPath(const std::filesystem::path& dataDir);

// The names in file order. Every piece between two CR LF pairs counts, an empty one too (a
// blank line is an empty name); the piece after the last CR LF counts only when not empty.
// A missing or empty file gives no names; a file that cannot be read gives none and sets error.
std::vector<std::string> ReadItemNames(const std::filesystem::path& dataDir, std::string* error = nullptr);

// Splits item-name text by the rule above.
std::vector<std::string> SplitItemNames(std::string_view text);

// True when title equals one of the names byte for byte.
bool IsListedItem(const std::filesystem::path& dataDir, std::string_view title, std::string* error = nullptr);

}  // namespace torvane
