// The order blacklist 临时黑名单.log: the numbers of every delivered order, concatenated
// with no separator. Nothing ever removes a number.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace torvane {

// "临时黑名单.log" in the data directory.
std::filesystem::path BlacklistPath(const std::filesystem::path& dataDir);

// True when the order number occurs anywhere in the file (character-aligned, case-sensitive),
// also when it straddles two stored numbers; an empty number occurs in any non-empty file.
// A missing file holds nothing. A file that cannot be read answers true and sets error:
// an order must not be delivered again because its record could not be checked.
bool BlacklistContains(const std::filesystem::path& dataDir, std::string_view orderNumber,
                       std::string* error = nullptr);

// Appends the order number's bytes to the file (created when missing), rewriting it atomically.
// A file that exists but cannot be read is left alone and the call fails.
bool BlacklistAppend(const std::filesystem::path& dataDir, std::string_view orderNumber, std::string* error = nullptr);

}  // namespace torvane
