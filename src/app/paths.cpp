#include "app/paths.h"

#include <cstdlib>

#include "base/files.h"
#include "base/settings.h"
#include "platform/process.h"

namespace torvane {
namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// An XDG base directory: the variable when it holds an absolute path (others are to be ignored), else
// the default under the home; empty when that home is unknown.
std::filesystem::path XdgBase(const std::string& variable, const std::filesystem::path& home,
                              const std::filesystem::path& underHome) {
  if (!variable.empty() && std::filesystem::path(variable).is_absolute()) return variable;
  if (home.empty()) return {};
  return home / underHome;
}

bool UnderUsr(const std::filesystem::path& dir) {
  const std::filesystem::path normal = dir.lexically_normal();
  auto it = normal.begin();
  return it != normal.end() && *it == "/" && ++it != normal.end() && *it == "usr";
}

// Makes dir and each missing parent with mode 0700; false with error (GBK) when one cannot be made.
bool MakePrivateDirectories(const std::filesystem::path& dir, std::string* error) {
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return true;
  if (dir.has_parent_path() && dir.parent_path() != dir && !MakePrivateDirectories(dir.parent_path(), error)) {
    return false;
  }
  std::string why;
  if (!CreatePrivateDirectory(dir, &why)) {
    if (error) *error = "无法创建目录 " + PathText(dir) + ": " + why;
    return false;
  }
  return true;
}

}  // namespace

bool IsInstalledCopy(const Placement& placement) {
  if (placement.settingsBesideProgram) return false;
  return UnderUsr(placement.programDir) || placement.installedTree || !placement.programDirWritable;
}

SessionPaths PlaceSessionFiles(const Placement& placement, const PathOptions& options) {
  SessionPaths paths;
  if (IsInstalledCopy(placement)) {
    const std::filesystem::path config = XdgBase(placement.xdgConfigHome, placement.home, ".config");
    const std::filesystem::path data = XdgBase(placement.xdgDataHome, placement.home, ".local/share");
    if (!config.empty()) paths.configDir = config / "torvane";
    if (!data.empty()) paths.dataDir = data / "torvane";
  } else {
    paths.configDir = placement.programDir;
    paths.dataDir = placement.currentDir;
  }
  if (!options.configDir.empty()) paths.configDir = options.configDir;
  if (!options.dataDir.empty()) paths.dataDir = options.dataDir;
  return paths;
}

Placement ObservePlacement() {
  Placement placement;
  placement.programDir = ProgramDirectory();
  std::error_code ec;
  placement.settingsBesideProgram = std::filesystem::exists(SettingsPath(placement.programDir), ec);
  placement.programDirWritable = IsWritableDirectory(placement.programDir);
  placement.installedTree = placement.programDir.filename() == "bin" &&
                            std::filesystem::is_directory(placement.programDir.parent_path() / "share" / "torvane", ec);
  placement.currentDir = std::filesystem::current_path(ec);
  placement.xdgConfigHome = Variable("XDG_CONFIG_HOME");
  placement.xdgDataHome = Variable("XDG_DATA_HOME");
  placement.home = HomeDirectory();
  return placement;
}

std::optional<SessionPaths> ResolveSessionPaths(const PathOptions& options, std::string* error) {
  const Placement placement = ObservePlacement();
  SessionPaths paths = PlaceSessionFiles(placement, options);
  if (paths.configDir.empty() || paths.dataDir.empty()) {
    if (error) *error = "无法确定配置或数据目录 (没有 HOME 或当前目录): 请用 --config-dir 和 --data-dir 指定";
    return std::nullopt;
  }
  if (IsInstalledCopy(placement)) {
    if (options.configDir.empty() && !MakePrivateDirectories(paths.configDir, error)) return std::nullopt;
    if (options.dataDir.empty() && !MakePrivateDirectories(paths.dataDir, error)) return std::nullopt;
  }
  return paths;
}

}  // namespace torvane
