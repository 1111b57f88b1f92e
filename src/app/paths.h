// Where the configuration and the data files live, one rule for the window and every command:
//   --config-dir DIR and --data-dir DIR, when given, name each directory;
//   a portable copy keeps 配置文件.ini and 部署配置.ini beside the program and its data in the current directory;
//   an installed copy keeps them in $XDG_CONFIG_HOME/torvane and $XDG_DATA_HOME/torvane (by default
//   ~/.config/torvane and ~/.local/share/torvane), made readable by the user only.
// A copy is installed when no 配置文件.ini lies beside the program and the program lies under /usr, in an
// installed tree (PREFIX/bin beside PREFIX/share/torvane), or in a directory this user cannot write; any
// other copy (a build, an unpacked folder) is portable.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace torvane {

struct SessionPaths {
  std::filesystem::path configDir;  // holds 配置文件.ini and 部署配置.ini
  std::filesystem::path dataDir;    // holds the stores, item names, blacklist, history, cookies
};

// What the command line said; an empty path was not given.
struct PathOptions {
  std::filesystem::path configDir;  // --config-dir
  std::filesystem::path dataDir;    // --data-dir
};

// What the rule looks at, as ObservePlacement reads it from the system.
struct Placement {
  std::filesystem::path programDir;     // absolute
  bool settingsBesideProgram = false;   // 配置文件.ini lies in programDir
  bool programDirWritable = false;
  bool installedTree = false;           // programDir is PREFIX/bin and PREFIX/share/torvane exists
  std::filesystem::path currentDir;
  std::string xdgConfigHome;            // as set; "" when unset
  std::string xdgDataHome;
  std::filesystem::path home;           // "" when it cannot be told
};

bool IsInstalledCopy(const Placement& placement);

// The directories the rule gives; nothing is created. A directory that would lie under an unknown home
// comes back empty.
SessionPaths PlaceSessionFiles(const Placement& placement, const PathOptions& options);

Placement ObservePlacement();

// PlaceSessionFiles for this process, with the directories of an installed copy created (mode 0700, their
// missing parents too); directories named by options are taken as they are. nullopt with error (GBK) when
// a directory cannot be told (no home) or made.
std::optional<SessionPaths> ResolveSessionPaths(const PathOptions& options, std::string* error);

}  // namespace torvane
