#include "app/export_target.h"

#include <iterator>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/deployment.h"
#include "base/files.h"
#include "base/settings.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "store/blacklist.h"
#include "store/item_names.h"
#include "store/record_store.h"
#include "web/cookie_store.h"

namespace torvane {

namespace {

// The program's own data and configuration files, wherever the program may look for them.
std::vector<std::filesystem::path> OwnFiles(const SessionPaths& paths) {
  std::vector<std::filesystem::path> files;
  for (const std::filesystem::path& dir : {paths.dataDir, paths.configDir, ProgramDirectory()}) {
    for (std::u8string_view store : {kInventoryFileName, kSentFileName}) {
      files.push_back(dir / store);
      files.push_back(dir / (std::u8string(store) + u8"-journal"));
    }
    files.push_back(ItemNamesPath(dir));
    files.push_back(BlacklistPath(dir));
    files.push_back(HandledOrdersPath(dir));
    files.push_back(InstanceLockPath(dir));
    files.push_back(dir / u8"历史记录.log");
    files.push_back(CookieFilePath(dir));
    files.push_back(SettingsPath(dir));
    files.push_back(DeploymentPath(dir));
  }
  return files;
}

// A file name as the systems the program runs on compare it: ASCII letters in one case, and the dots
// and blanks Windows drops from the end of a name dropped.
std::u8string NameKey(const std::filesystem::path& name) {
  std::u8string key = name.filename().u8string();
  while (!key.empty() && (key.back() == u8'.' || key.back() == u8' ')) key.pop_back();
  for (char8_t& c : key) {
    if (c >= u8'A' && c <= u8'Z') c = static_cast<char8_t>(c - u8'A' + u8'a');
  }
  return key;
}

bool IsInside(const std::filesystem::path& where, const std::filesystem::path& dir) {
  auto w = where.begin();
  for (auto d = dir.begin(); d != dir.end(); ++d, ++w) {
    if (d->empty() && std::next(d) == dir.end()) break;  // a trailing separator
    if (w == where.end() || *w != *d) return false;
  }
  return true;
}

}  // namespace

std::optional<std::filesystem::path> ExportTarget(const std::filesystem::path& target, const SessionPaths& paths,
                                                  std::string* problem) {
  std::error_code ec;
  std::filesystem::path where = std::filesystem::absolute(target, ec);
  if (!ec) where = std::filesystem::weakly_canonical(where, ec);
  if (ec) {
    *problem = "无法导出到 " + PathText(target) + ": " + ec.message();
    return std::nullopt;
  }
  std::error_code statusError;
  const std::filesystem::file_status status = std::filesystem::status(where, statusError);
  const bool exists = std::filesystem::exists(status);
  if (!exists && status.type() != std::filesystem::file_type::not_found) {
    *problem = "无法导出到 " + PathText(target) + ": " + statusError.message();
    return std::nullopt;
  }
  if (exists && !std::filesystem::is_regular_file(status)) {
    *problem = "无法导出到 " + PathText(target) + ": 不是普通文件";
    return std::nullopt;
  }
  std::error_code configError;
  const std::filesystem::path configDir =
      std::filesystem::weakly_canonical(std::filesystem::absolute(paths.configDir, configError), configError);
  if (configError || (!paths.configDir.empty() && IsInside(where, configDir))) {
    *problem = "无法导出到 " + PathText(target) + ": 不能导出到配置目录 " + PathText(paths.configDir) + " 中";
    return std::nullopt;
  }
  const std::u8string givenName = NameKey(target);
  const std::u8string finalName = NameKey(where);
  for (const auto& own : OwnFiles(paths)) {
    const std::u8string ownName = NameKey(own);
    std::error_code ownError;
    std::filesystem::path ownWhere = std::filesystem::weakly_canonical(own, ownError);
    std::error_code sameError;
    bool same = (!ownError && ownWhere == where) || (exists && std::filesystem::equivalent(own, where, sameError));
    if (same) {
      *problem = "无法导出到 " + PathText(target) + ": 这是本程序的数据或配置文件 " + PathText(own.filename());
      return std::nullopt;
    }
    if (ownName == givenName || ownName == finalName) {
      *problem = "无法导出到 " + PathText(target) + ": 与本程序的数据或配置文件同名 " + PathText(own.filename());
      return std::nullopt;
    }
  }
  return where;
}

}  // namespace torvane
