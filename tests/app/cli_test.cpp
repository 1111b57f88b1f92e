// The torvane program as a seller runs it: run --once against market-sim, the card commands,
// and the refusals that keep a code from going out twice.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <thread>
#include <set>

#include "platform/instance_lock.h"
#include "base/settings.h"
#include "base/files.h"
#include "store/record_store.h"
#include "support/process.h"
#include "support/shop.h"
#include "support/temp_dir.h"
#include "base/text.h"

using namespace torvane;
using namespace torvane::test;
using namespace std::chrono_literals;

namespace {

Settings MailDelivery() {
  Settings s;
  s.scanPeriod = "30秒";
  s.deliverByMail = true;
  s.deliveredSoftware = true;
  s.outOfStockSoftware = true;
  return s;
}

// UTF-8 form of a GBK literal, to compare with the program's terminal output.
std::string U(const std::string& gbk) { return GbkToUtf8(gbk); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    auto nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    lines.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return lines;
}

}  // namespace

TEST(RunOnce, DeliversWholeOrdersByMailAndLeavesTheRestForLater) {
  Shop shop(MailDelivery());
  ASSERT_TRUE(shop.ok()) << shop.error();
  ASSERT_TRUE(shop.LogIn());
  ASSERT_TRUE(shop.AddCards("点卡A", {{"A1", "a-secret-1"}, {"A2", "a-secret-2"}, {"A3", "a-secret-3"}}));
  ASSERT_TRUE(shop.AddCards("点卡B", {{"B1", "b-secret-1"}, {"B2", "b-secret-2"}}));
  ASSERT_TRUE(shop.sim().AddOrder("9001", "点卡A", "1", "buyer1", "请发到 one@example.com 谢谢"));
  ASSERT_TRUE(shop.sim().AddOrder("9002", "点卡B", "2", "buyer2", "two@example.com"));
  ASSERT_TRUE(shop.sim().AddOrder("9003", "没有的宝贝", "1", "buyer3", "three@example.com"));
  ASSERT_TRUE(shop.sim().AddOrder("9004", "点卡A", "5", "buyer4", "four@example.com"));

  auto run = RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 120s);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find(U("发现已付款订单 [4]个")), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(U("不在发货序列 自动跳过")), std::string::npos);
  EXPECT_NE(run.out.find(U("宝贝名称: 点卡A库存不足")), std::string::npos);
  EXPECT_NE(run.out.find(U("程序退出完成")), std::string::npos);

  EXPECT_EQ(shop.sim().OrderStatus("9001"), "shipped");
  EXPECT_EQ(shop.sim().OrderStatus("9002"), "shipped");
  EXPECT_EQ(shop.sim().OrderStatus("9003"), "paid");
  EXPECT_EQ(shop.sim().OrderStatus("9004"), "paid");  // whole orders only: nothing taken for it

  // Each buyer got exactly the codes of their own order, by mail to the address in the message.
  std::map<std::string, std::string> mailTo;
  for (const auto& m : shop.mail()->Messages()) {
    ASSERT_EQ(m.recipients.size(), 1u);
    mailTo[m.recipients[0]] += m.data;
  }
  ASSERT_EQ(mailTo.size(), 2u);
  EXPECT_TRUE(mailTo.count("one@example.com"));
  EXPECT_TRUE(mailTo.count("two@example.com"));

  auto sent = RunProcess(TorvaneBinary(), {"sent", "list", "--order", "9002"}, shop.dataDir(), 30s);
  ASSERT_EQ(sent.exitCode, 0) << sent.err;
  auto sentLines = Lines(sent.out);
  ASSERT_EQ(sentLines.size(), 2u) << sent.out;
  EXPECT_EQ(sentLines[0].substr(0, sentLines[0].find('\t')), U("点卡B"));
  EXPECT_NE(sentLines[0].find("\tB1\tb-secret-1\t"), std::string::npos);
  EXPECT_NE(sentLines[0].find(U("邮件发送")), std::string::npos);
  EXPECT_NE(sentLines[1].find("\tB2\tb-secret-2\t"), std::string::npos);

  auto left = RunProcess(TorvaneBinary(), {"cards", "list", "--item", U("点卡A")}, shop.dataDir(), 30s);
  ASSERT_EQ(left.exitCode, 0);
  auto leftLines = Lines(left.out);
  ASSERT_EQ(leftLines.size(), 2u) << left.out;  // A1 went to order 9001, in store order
  EXPECT_NE(leftLines[0].find("\tA2\t"), std::string::npos);

  // A second pass finds the delivered orders in the blacklist and touches no code again.
  auto again = RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 120s);
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(shop.mail()->Messages().size(), 2u);
  EXPECT_EQ(Lines(RunProcess(TorvaneBinary(), {"sent", "list"}, shop.dataDir(), 30s).out).size(), 3u);
}

TEST(CardsCommands, ImportReadsUtf8AndGbkFilesAndRefusesFullWidthCommas) {
  TempDir dir;
  WriteBytes(dir / "utf8.txt", "\xEF\xBB\xBF" + U("卡号1,密码1") + "\r\n\r\nN2,S2\nN3\n");
  WriteBytes(dir / "gbk.txt", std::string("卡号4,密码4") + "\r\n");
  WriteBytes(dir / "bad.txt", std::string("N5，S5\r\n"));

  auto a = RunProcess(TorvaneBinary(), {"cards", "import", "utf8.txt", "--item", U("宝贝"), "--note", U("说明")},
                      dir.path(), 30s);
  ASSERT_EQ(a.exitCode, 0) << a.err;
  auto b = RunProcess(TorvaneBinary(), {"cards", "import", "gbk.txt", "--item", U("宝贝")}, dir.path(), 30s);
  ASSERT_EQ(b.exitCode, 0) << b.err;
  auto c = RunProcess(TorvaneBinary(), {"cards", "import", "bad.txt", "--item", U("宝贝")}, dir.path(), 30s);
  EXPECT_EQ(c.exitCode, 1);
  EXPECT_NE(c.err.find(U("逗号填写错误")), std::string::npos);

  auto list = RunProcess(TorvaneBinary(), {"cards", "list"}, dir.path(), 30s);
  ASSERT_EQ(list.exitCode, 0);
  auto lines = Lines(list.out);
  ASSERT_EQ(lines.size(), 4u) << list.out;
  EXPECT_EQ(lines[0], U("宝贝\t卡号1\t密码1\t说明"));
  EXPECT_EQ(lines[1], U("宝贝\tN2\tS2\t说明"));
  EXPECT_EQ(lines[2], U("宝贝\tN3\t空\t说明"));
  EXPECT_EQ(lines[3], U("宝贝\t卡号4\t密码4\t"));

  auto exported = RunProcess(TorvaneBinary(), {"sent", "export", "out.csv"}, dir.path(), 30s);
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  std::string csv = ReadBytes(dir / "out.csv");
  EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(csv.find(U("\"宝贝名称\",\"订单编号\"")), std::string::npos);
}

TEST(RunRefusals, SecondCopyOnTheSameDataIsRefused) {
  TempDir dir;
  std::string message;
  auto lock = InstanceLock::Acquire(dir.path(), &message);
  ASSERT_TRUE(lock) << message;
  auto run = RunProcess(TorvaneBinary(), {"run", "--once", "--config-dir", dir.path().string()}, dir.path(), 30s);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find(U("另一个Torvane正在使用数据目录")), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir / u8"库存卡密.edb"));
}

TEST(RunRefusals, StoreOfAnotherFormatStopsTheRunAndIsLeftAlone) {
  TempDir dir;
  const std::string garbage = "this is not a card store\r\n";
  WriteBytes(dir / u8"库存卡密.edb", garbage);
  auto run = RunProcess(TorvaneBinary(), {"run", "--once", "--config-dir", dir.path().string()}, dir.path(), 30s);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find(U("库存卡密.edb")), std::string::npos) << run.err;
  EXPECT_EQ(ReadBytes(dir / u8"库存卡密.edb"), garbage);
}

TEST(RunRefusals, DeploymentFileWithoutAKnownKeyStopsTheRun) {
  TempDir dir;
  // A hand-made file whose keys are all misspelt would otherwise send the run to the real marketplace.
  WriteBytes(dir / u8"部署配置.ini", "[市场]\r\n登陆主机=http://127.0.0.1:9\r\n");
  auto run = RunProcess(TorvaneBinary(), {"run", "--once", "--config-dir", dir.path().string()}, dir.path(), 30s);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find(U("部署配置.ini")), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir / u8"库存卡密.edb"));
}

TEST(RunRefusals, BadUsageExitsWithTwo) {
  TempDir dir;
  EXPECT_EQ(RunProcess(TorvaneBinary(), {"run", "--bogus"}, dir.path(), 30s).exitCode, 2);
  EXPECT_EQ(RunProcess(TorvaneBinary(), {"cards", "import", "x.txt"}, dir.path(), 30s).exitCode, 2);
  EXPECT_EQ(RunProcess(TorvaneBinary(), {"sent", "list", "--order", "1", "--buyer", "b"}, dir.path(), 30s).exitCode,
            2);
  // Without arguments the window opens; with no display to open it on, the usage instead.
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  ::unsetenv("QT_QPA_PLATFORM");
  auto noDisplay = RunProcess(TorvaneBinary(), {}, dir.path(), 30s);
  EXPECT_EQ(noDisplay.exitCode, 2);
  EXPECT_NE(noDisplay.err.find("torvane run"), std::string::npos) << noDisplay.err;
}

TEST(MailPassword, PrintsTheStoredFormOnOneLine) {
  TempDir dir;
  auto r = RunProcess(TorvaneBinary(), {"mail-password", "Pw1234567"}, dir.path(), 30s);
  ASSERT_EQ(r.exitCode, 0);
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].find("Pw1234567"), std::string::npos);
}

TEST(RunUntilStopped, SigtermRunsTheExitStepsAndKeepsTheHistory) {
  TempDir dir;
  // Every host on a closed loopback port: the login check fails at once and nothing leaves the machine.
  WriteBytes(dir / u8"部署配置.ini",
             "[市场]\r\n登录主机=http://127.0.0.1:9\r\n个人主页主机=http://127.0.0.1:9\r\n会员主机=http://127.0.0.1:9\r\n"
             "物流主机=http://127.0.0.1:9\r\n交易主机=http://127.0.0.1:9\r\n评价主机=http://127.0.0.1:9\r\n");
  pid_t pid = SpawnProcess(TorvaneBinary(), {"run", "--config-dir", dir.path().string()}, dir.path(), dir / "out",
                           dir / "err");
  ASSERT_GT(pid, 0);
  // Started once its switch-on line is out.
  for (int i = 0; i < 200 && ReadBytes(dir / "out").find(U("自动发货已经开启")) == std::string::npos; ++i) {
    std::this_thread::sleep_for(25ms);
  }
  ::kill(pid, SIGTERM);
  EXPECT_EQ(WaitProcess(pid, 30s), 0) << ReadBytes(dir / "err");
  std::string history = ReadBytes(dir / u8"历史记录.log");
  std::string newest = history.substr(0, history.find("\r\n") + 2);
  EXPECT_NE(newest.find("] 程序退出完成\r\n"), std::string::npos) << newest;
  EXPECT_NE(history.find("] 自动发货已经开启\r\n"), std::string::npos);
}

TEST(RunOnce, ClosedStandardOutputStopsNoDelivery) {
  Shop shop(MailDelivery());
  ASSERT_TRUE(shop.ok()) << shop.error();
  ASSERT_TRUE(shop.LogIn());
  ASSERT_TRUE(shop.AddCards("点卡A", {{"A1", "a-secret-1"}}));
  ASSERT_TRUE(shop.sim().AddOrder("9101", "点卡A", "1", "buyer1", "one@example.com"));

  auto run = RunProcessWithClosedOutput(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 120s);
  EXPECT_EQ(run.signal, 0) << "ended by signal " << run.signal;
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(shop.sim().OrderStatus("9101"), "shipped");
  EXPECT_EQ(shop.mail()->Messages().size(), 1u);
  std::string history = ReadBytes(shop.dataDir() / u8"历史记录.log");
  EXPECT_NE(history.substr(0, history.find("\r\n") + 2).find("] 程序退出完成\r\n"), std::string::npos) << history;
}

TEST(RunStartUp, RemovesOnlyStaleTemporariesOfItsOwnFiles) {
  TempDir dir;
  WriteBytes(dir / u8"部署配置.ini",
             "[市场]\r\n登录主机=http://127.0.0.1:9\r\n个人主页主机=http://127.0.0.1:9\r\n会员主机=http://127.0.0.1:9\r\n"
             "物流主机=http://127.0.0.1:9\r\n交易主机=http://127.0.0.1:9\r\n评价主机=http://127.0.0.1:9\r\n");
  // A writer that is surely gone: a finished child of this test.
  pid_t gone = SpawnProcess("/bin/true", {}, dir.path(), dir / "true.out", dir / "true.err");
  ASSERT_GT(gone, 0);
  ASSERT_EQ(WaitProcess(gone, 30s), 0);
  const std::string dead = std::to_string(gone);
  const std::string alive = std::to_string(::getpid());
  struct Row {
    std::string name;  // UTF-8 file name
    bool old;          // last written two minutes ago
    bool removed;
  };
  const std::vector<Row> rows = {
      {U("临时黑名单.log") + ".tmp" + dead + "-123", true, true},
      {U("历史记录.log") + ".tmp" + dead + "-9", true, true},
      {U("配置文件.ini") + ".tmp" + dead + "-2", true, true},
      {U("临时黑名单.log") + ".tmp" + alive + "-5", true, false},  // its writer still runs
      {U("临时黑名单.log") + ".tmp" + dead + "-7", false, false},  // written just now
      {"notes.txt.tmp" + dead + "-1", true, false},                 // not one of ours
      {U("临时黑名单.log") + ".tmp" + dead, true, false},             // not the temporaries' pattern
  };
  for (const auto& row : rows) {
    const auto path = dir / std::filesystem::path(std::u8string(row.name.begin(), row.name.end()));
    WriteBytes(path, "partial");
    if (row.old) std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - 2min);
  }

  auto run = RunProcess(TorvaneBinary(), {"run", "--once", "--config-dir", dir.path().string()}, dir.path(), 60s);
  ASSERT_EQ(run.signal, 0);
  ASSERT_GE(run.exitCode, 0) << run.err;
  for (const auto& row : rows) {
    const auto path = dir / std::filesystem::path(std::u8string(row.name.begin(), row.name.end()));
    EXPECT_EQ(std::filesystem::exists(path), !row.removed) << row.name;
    if (row.removed) {
      EXPECT_NE(run.out.find(row.name), std::string::npos) << "removal of " << row.name << " not logged";
    }
  }
}
