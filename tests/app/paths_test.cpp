// Where a portable and an installed copy keep the seller's files, and an installed copy run end to end
// with its XDG directories in a temporary directory.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "app/paths.h"
#include "base/deployment.h"
#include "base/settings.h"
#include "base/text.h"
#include "support/process.h"
#include "support/shop.h"
#include "support/temp_dir.h"

using namespace torvane;
using namespace torvane::test;
using namespace std::chrono_literals;

namespace {

struct PlacementCase {
  const char* what;
  Placement placement;
  PathOptions options;
  const char* configDir;
  const char* dataDir;
};

Placement Copy(const char* programDir, bool writable, bool settingsBeside = false, bool installedTree = false) {
  Placement p;
  p.programDir = programDir;
  p.programDirWritable = writable;
  p.settingsBesideProgram = settingsBeside;
  p.installedTree = installedTree;
  p.currentDir = "/work/shop";
  p.home = "/home/seller";
  return p;
}

Placement WithXdg(Placement p, const char* config, const char* data) {
  p.xdgConfigHome = config;
  p.xdgDataHome = data;
  return p;
}

Placement WithoutHome(Placement p) {
  p.home.clear();
  return p;
}

std::vector<std::string> FilesUnder(const std::filesystem::path& dir) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    files.push_back(std::filesystem::relative(entry.path(), dir).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

unsigned Mode(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

TEST(SessionPaths, PortableAndInstalledCopiesAndTheOptions) {
  const PlacementCase cases[] = {
      {"a build", Copy("/work/torvane/build", true), {}, "/work/torvane/build", "/work/shop"},
      {"an unpacked folder", Copy("/opt/torvane-1.8", true), {}, "/opt/torvane-1.8", "/work/shop"},
      {"a package install", WithXdg(Copy("/usr/bin", true), "/x/config", "/x/data"), {}, "/x/config/torvane",
       "/x/data/torvane"},
      {"a copy under /usr/local, XDG unset", Copy("/usr/local/bin", false), {}, "/home/seller/.config/torvane",
       "/home/seller/.local/share/torvane"},
      {"relative XDG variables are ignored", WithXdg(Copy("/usr/bin", false), "cfg", "data"), {},
       "/home/seller/.config/torvane", "/home/seller/.local/share/torvane"},
      {"an installed tree outside /usr", Copy("/opt/torvane/bin", true, false, true), {},
       "/home/seller/.config/torvane", "/home/seller/.local/share/torvane"},
      {"a folder this user cannot write", Copy("/srv/torvane", false), {}, "/home/seller/.config/torvane",
       "/home/seller/.local/share/torvane"},
      {"its own settings file keeps even an installed tree portable", Copy("/usr/lib/torvane-shop", false, true, true),
       {}, "/usr/lib/torvane-shop", "/work/shop"},
      {"the options win over an installed copy", Copy("/usr/bin", false), {"/etc/shop", "/var/lib/shop"}, "/etc/shop",
       "/var/lib/shop"},
      {"--data-dir alone on a portable copy", Copy("/work/torvane/build", true), {"", "/data"}, "/work/torvane/build",
       "/data"},
      {"no home: nothing to place", WithoutHome(Copy("/usr/bin", false)), {}, "", ""},
      {"no home, but the options say", WithoutHome(Copy("/usr/bin", false)), {"/c", "/d"}, "/c", "/d"},
  };
  for (const auto& c : cases) {
    SessionPaths paths = PlaceSessionFiles(c.placement, c.options);
    EXPECT_EQ(paths.configDir, std::filesystem::path(c.configDir)) << c.what;
    EXPECT_EQ(paths.dataDir, std::filesystem::path(c.dataDir)) << c.what;
  }
}

// The program copied into PREFIX/bin of a staged tree that has PREFIX/share/torvane, as a package installs
// it: its files go to the XDG directories named by the environment, made 0700, and nowhere else.
TEST(InstalledCopy, KeepsItsFilesInTheXdgDirectoriesAndNowhereElse) {
  TempDir dir;
  const std::filesystem::path prefix = dir / "stage/usr";
  std::filesystem::create_directories(prefix / "bin");
  std::filesystem::create_directories(prefix / "share/torvane");
  const std::filesystem::path program = prefix / "bin/torvane";
  std::filesystem::copy_file(TorvaneBinary(), program);
  std::filesystem::create_directories(dir / "home");
  std::filesystem::create_directories(dir / "work");
  const std::filesystem::path config = dir / "xdg/config/torvane", data = dir / "xdg/data/torvane";
  const std::vector<std::string> env = {"/usr/bin/env", "HOME=" + (dir / "home").string(),
                                        "XDG_CONFIG_HOME=" + (dir / "xdg/config").string(),
                                        "XDG_DATA_HOME=" + (dir / "xdg/data").string(), program.string()};
  auto installed = [&](std::vector<std::string> args) {
    std::vector<std::string> all(env.begin() + 1, env.end());
    all.insert(all.end(), args.begin(), args.end());
    return RunProcess(env[0], all, dir / "work", 120s);
  };

  WriteBytes(dir / "cards.txt", "A1,a-secret-1\nA2,a-secret-2\n");
  auto import = installed({"cards", "import", (dir / "cards.txt").string(), "--item", GbkToUtf8("点卡A")});
  ASSERT_EQ(import.exitCode, 0) << import.out << import.err;
  EXPECT_EQ(Mode(config), 0700u);
  EXPECT_EQ(Mode(data), 0700u);
  EXPECT_EQ(Mode(dir / "xdg/config"), 0700u);  // a missing parent is made private too
  EXPECT_TRUE(std::filesystem::exists(data / u8"库存卡密.edb"));

  // The seller's configuration in its place: the simulated marketplace and a mail account.
  Settings settings;
  settings.scanPeriod = "30秒";
  settings.deliverByMail = true;
  Shop shop(settings);
  ASSERT_TRUE(shop.ok()) << shop.error();
  ASSERT_TRUE(shop.LogIn());
  for (const auto& file : {SettingsPath(shop.configDir()), DeploymentPath(shop.configDir())}) {
    std::filesystem::copy_file(file, config / file.filename());
  }
  std::filesystem::copy_file(shop.dataDir() / "cookies.txt", data / "cookies.txt");
  ASSERT_TRUE(shop.sim().AddOrder("9801", "点卡A", "1", "buyer1", "one@example.com"));

  auto run = installed({"run", "--once"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(shop.sim().OrderStatus("9801"), "shipped") << run.out;
  EXPECT_TRUE(std::filesystem::exists(data / u8"历史记录.log"));
  EXPECT_TRUE(std::filesystem::exists(data / u8"已发卡密.edb"));

  // Nothing beside the program, in the current directory or elsewhere in the home.
  EXPECT_EQ(FilesUnder(dir / "stage"), (std::vector<std::string>{"usr", "usr/bin", "usr/bin/torvane", "usr/share",
                                                                  "usr/share/torvane"}));
  EXPECT_TRUE(FilesUnder(dir / "work").empty());
  EXPECT_TRUE(FilesUnder(dir / "home").empty());
  EXPECT_EQ(FilesUnder(dir / "xdg/config"),
            (std::vector<std::string>{"torvane", "torvane/" + DeploymentPath("").filename().string(),
                                      "torvane/" + SettingsPath("").filename().string()}));

  // The portable build reads the same records with --data-dir.
  auto sent = RunProcess(TorvaneBinary(), {"sent", "list", "--data-dir", data.string()}, dir / "work", 30s);
  ASSERT_EQ(sent.exitCode, 0) << sent.err;
  EXPECT_NE(sent.out.find("\tA1\ta-secret-1\t"), std::string::npos) << sent.out;
  EXPECT_TRUE(FilesUnder(dir / "work").empty());
}
