// The wine bridge without wine: a stand-in for the wine program records how it was started and
// ends as told, so the hand-over, the exit statuses, the time bound and the refusals are checked
// on any machine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <sys/stat.h>

#include "base/files.h"
#include "base/ini.h"
#include "base/settings.h"
#include "base/text.h"
#include "delivery/chat_sender.h"
#include "platform/wine_bridge.h"
#include "support/process.h"
#include "support/shop.h"
#include "support/temp_dir.h"

using namespace torvane;
using namespace torvane::test;
using namespace std::chrono_literals;

namespace {

// Records its arguments, WINEPREFIX, what its open descriptors lead to and the message file (its
// Windows path read back through Z:), then ends with the status in the file "status", hangs when that
// says "hang", or is killed by a signal when it says "kill".
constexpr const char* kFakeWine = R"(#!/bin/sh
here=$(dirname "$0")
: > "$here/args"
for a in "$@"; do printf '%s\n' "$a" >> "$here/args"; done
printf '%s' "$WINEPREFIX" > "$here/wineprefix"
readlink /proc/$$/fd/* > "$here/descriptors" 2>/dev/null
for last in "$@"; do :; done
unix=$(printf '%s' "$last" | sed -e 's/^Z://' -e 's#\\#/#g')
cp "$unix" "$here/message" 2>/dev/null
status=$(cat "$here/status")
if [ "$status" = hang ]; then exec sleep 60; fi
if [ "$status" = kill ]; then kill -KILL $$; fi
exit "$status"
)";

struct FakeWine {
  TempDir dir;
  WineBridgeSetup setup;

  explicit FakeWine(bool registered = true) {
    std::filesystem::create_directories(dir / "prefix" / "dosdevices");
    std::filesystem::create_directory_symlink("/", dir / "prefix" / "dosdevices" / "z:");
    WriteBytes(dir / "prefix" / "system.reg",
               registered ? "WINE REGISTRY Version 2\n\n[Software\\\\Classes\\\\aliim] 1700000000\n@=\"URL:aliim\"\n"
                          : "WINE REGISTRY Version 2\n\n[Software\\\\Classes\\\\txt] 1700000000\n");
    WriteBytes(dir / "wine", kFakeWine);
    ::chmod((dir / "wine").c_str(), 0755);
    WriteBytes(dir / "torvane-chat.exe", "MZ");
    setup.prefix = dir / "prefix";
    setup.wine = dir / "wine";
    setup.chatProgram = dir / "torvane-chat.exe";
    setup.margin = 1s;
  }
  std::vector<std::string> Args() const { return SplitText(ReadBytes(dir / "args"), "\n"); }
};

TEST(WineBridge, RefusesWithAReasonWhenSomethingIsMissingAndStartsNothing) {
  struct Row {
    const char* name;
    void (*breakIt)(FakeWine&);
    const char* reason;
  };
  const Row rows[] = {
      {"no wine", [](FakeWine& f) { f.setup.wine.clear(); }, "wine not found"},
      {"no torvane-chat.exe", [](FakeWine& f) { f.setup.chatProgram = f.dir / "gone.exe"; }, "torvane-chat.exe not found"},
      {"no prefix", [](FakeWine& f) { f.setup.prefix = f.dir / "nowhere"; }, "wine prefix not found"},
      {"no aliim handler", [](FakeWine& f) { f.setup.prefix = f.dir / "bare"; }, "aliim"},
      {"no drive to the temporary directory",
       [](FakeWine& f) { std::filesystem::remove(f.setup.prefix / "dosdevices" / "z:"); }, "dosdevices"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakeWine fake;
    std::filesystem::create_directories(fake.dir / "bare");
    WriteBytes(fake.dir / "bare" / "system.reg", "WINE REGISTRY Version 2\n");
    row.breakIt(fake);
    WriteBytes(fake.dir / "status", "0");
    auto windows = MakeWineWindowSystem(fake.setup);
    EXPECT_FALSE(windows->Available());
    EXPECT_NE(windows->UnavailableReason().find(row.reason), std::string::npos) << windows->UnavailableReason();
    EXPECT_EQ(SendWangwangMessage(*windows, "buyer", "1", "m", 1).outcome, ChatOutcome::kNoClient);
    EXPECT_FALSE(std::filesystem::exists(fake.dir / "args")) << "the sender program was started";
  }
  FakeWine fine;
  EXPECT_TRUE(MakeWineWindowSystem(fine.setup)->Available());
  EXPECT_EQ(MakeWineWindowSystem(fine.setup)->UnavailableReason(), "");
}

TEST(WineBridge, HandsTheWholeMessageToTheSenderProgramAndReadsItsExitStatus) {
  FakeWine fake;
  WriteBytes(fake.dir / "status", "0");
  auto windows = MakeWineWindowSystem(fake.setup);
  ASSERT_TRUE(windows->Available()) << windows->UnavailableReason();
  const std::string message = "\r\n\r\n感谢您的购买\r\n卡号: A1  卡密: 甲乙\r\n备注：";
  // A descriptor left open across exec, as a library's socket may be, does not reach the sender.
  const std::filesystem::path leaked = fake.dir / "leaked";
  WriteBytes(leaked, "");
  const int leakedFd = ::open(leaked.c_str(), O_RDONLY);
  ASSERT_GE(leakedFd, 3);
  EXPECT_EQ(SendWangwangMessage(*windows, "张三", "2024", message, 7).outcome, ChatOutcome::kHandedOver);
  ::close(leakedFd);
  const std::string descriptors = ReadBytes(fake.dir / "descriptors");
  EXPECT_NE(descriptors.find("/dev/null"), std::string::npos) << descriptors;  // its output goes nowhere
  EXPECT_EQ(descriptors.find(leaked.string()), std::string::npos) << descriptors;

  // Buyer and order as hexadecimal GBK, the wait, and the message file by its Windows path.
  const std::vector<std::string> args = fake.Args();
  ASSERT_EQ(args.size(), 6u);
  EXPECT_EQ(args[0], fake.setup.chatProgram.string());
  EXPECT_EQ(args[1], "--hex");
  EXPECT_EQ(args[2], "D5C5C8FD");  // 张三 in GBK
  EXPECT_EQ(args[3], "32303234");
  EXPECT_EQ(args[4], "7");
  ASSERT_EQ(args[5].rfind("Z:\\", 0), 0u) << args[5];
  EXPECT_TRUE(ReadBytes(fake.dir / "message") == message);
  EXPECT_EQ(ReadBytes(fake.dir / "wineprefix"), fake.setup.prefix.string());
  std::string unixPath = args[5].substr(2);
  std::replace(unixPath.begin(), unixPath.end(), '\\', '/');
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(unixPath).parent_path())) << "the message was left behind";

  struct Row {
    const char* status;
    ChatOutcome outcome;
  };
  const Row rows[] = {
      {"10", ChatOutcome::kNoClient},      {"11", ChatOutcome::kNoWindow},     {"12", ChatOutcome::kNoInputField},
      {"13", ChatOutcome::kKeyNotPosted},  {"2", ChatOutcome::kSenderFailed},  {"99", ChatOutcome::kSenderFailed},
      {"hang", ChatOutcome::kSenderFailed},  {"kill", ChatOutcome::kSenderFailed},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.status);
    WriteBytes(fake.dir / "status", row.status);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendWangwangMessage(*windows, "b", "1", "m", 0).outcome, row.outcome);
    // A sender that overruns the wait and the margin is ended: it does not hold up the run.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  }
}

TEST(WineBridge, WindowsPathsGoThroughThePrefixsDriveLetters) {
  TempDir dir;
  const auto prefix = dir / "prefix";
  std::filesystem::create_directories(prefix / "drive_c" / "users");
  std::filesystem::create_directories(prefix / "dosdevices");
  std::filesystem::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
  std::filesystem::create_directory_symlink("/", prefix / "dosdevices" / "z:");
  WriteBytes(prefix / "drive_c" / "users" / "m.txt", "x");
  EXPECT_EQ(WinePath(prefix, prefix / "drive_c" / "users" / "m.txt"), "C:\\users\\m.txt");
  EXPECT_EQ(WinePath(prefix, "/etc/hostname"), "Z:\\etc\\hostname");
  EXPECT_EQ(WinePath(dir / "no-prefix", "/etc/hostname"), "");
}

TEST(WineBridge, RunSaysOnceAtStartWhyChatDeliveryIsOffAndChatOrdersWait) {
  Settings settings;
  settings.scanPeriod = "30秒";
  settings.deliverByChat = true;
  Shop shop(settings, false);
  ASSERT_TRUE(shop.ok()) << shop.error();
  ASSERT_TRUE(shop.LogIn());
  ASSERT_TRUE(shop.AddCards("点卡A", {{"A1", "s1"}}));
  ASSERT_TRUE(shop.sim().AddOrder("9201", "点卡A", "1", "buyer", ""));
  ASSERT_TRUE(shop.sim().AddOrder("9202", "点卡A", "1", "buyer2", ""));
  IniFile deployment;
  deployment.Load(DeploymentPath(shop.configDir()));
  deployment.Set("聊天", "WINEPREFIX", (shop.dataDir() / "wine").string());
  ASSERT_TRUE(deployment.Save(DeploymentPath(shop.configDir())));

  // No wine on the PATH the program sees.
  const std::string path = ::getenv("PATH") ? ::getenv("PATH") : "";
  ::setenv("PATH", "/nonexistent", 1);
  auto run = RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 60s);
  ::setenv("PATH", path.c_str(), 1);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string line = GbkToUtf8("旺旺发货已关闭: wine not found");
  const std::size_t first = run.out.find(line);
  ASSERT_NE(first, std::string::npos) << run.out;
  EXPECT_EQ(run.out.find(line, first + 1), std::string::npos) << "said more than once";
  EXPECT_NE(run.out.find(GbkToUtf8("未找到旺旺客户端 订单编号:[9202] 暂不发货")), std::string::npos) << run.out;
  EXPECT_EQ(shop.sim().OrderStatus("9201"), "paid");
}

}  // namespace
