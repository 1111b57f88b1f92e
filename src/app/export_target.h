// Where `sent export` may write its CSV of every code sent: never over one of the program's own files,
// whatever it is called, nor under any name the program gives its own files, nor in the configuration
// directory.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "app/paths.h"

namespace torvane {

// Where an export to target may be written: the file itself, symbolic links followed. nullopt (and
// *problem says why, GBK) for
//   - one of the program's own data and configuration files, under any name (same path or same file);
//   - a file named like one of them (库存卡密.edb, 已发卡密.edb and their journals, 宝贝名称.txt,
//     临时黑名单.log, the handled-orders list, .torvane.lock, 历史记录.log, cookies.txt, 配置文件.ini,
//     部署配置.ini; ASCII letters in any case), wherever it lies, by the name given or the one a link
//     leads to;
//   - anything inside the configuration directory;
//   - anything that exists but is not a regular file (a directory, FIFO, device...).
// An earlier export elsewhere may be replaced.
std::optional<std::filesystem::path> ExportTarget(const std::filesystem::path& target, const SessionPaths& paths,
                                                  std::string* problem);

}  // namespace torvane
