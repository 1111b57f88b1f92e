// The runner killed with SIGKILL at random moments while it delivers, restarted each time:
// afterwards every card is in exactly one store, no buyer got more codes than paid for, every
// order was delivered, and the blacklist agrees with the records.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "notify/password.h"
#include "store/blacklist.h"
#include "store/record_store.h"
#include "support/process.h"
#include "support/shop.h"
#include "support/temp_dir.h"
#include "base/text.h"

using namespace torvane;
using namespace torvane::test;
using namespace std::chrono_literals;

namespace {

struct OrderPlan {
  std::string number, item, buyer, mail;
  int quantity = 0;
};

// The card codes a delivery mail carries, from its base64 GBK body.
std::vector<std::string> CodesInMail(const std::string& raw) {
  std::string body = MailBodyPart(raw);
  std::string compact;
  for (char c : body) {
    if (c != '\r' && c != '\n') compact.push_back(c);
  }
  std::string text;
  if (!Base64Decode(compact, &text)) return {};
  std::vector<std::string> codes;
  for (const auto& piece : ExtractAllBetween(text, "卡号: ", "\r\n")) codes.push_back(piece);
  return codes;
}

// Order numbers start with the only 9 they hold, so no number can straddle two others in the blacklist.
std::string OrderNumber(int i) {
  std::string digits;
  for (int v = i + 4000; digits.size() < 8; v /= 9) digits.insert(digits.begin(), static_cast<char>('0' + v % 9));
  return "9" + digits;
}

}  // namespace

TEST(CrashSafety, KilledRunnerNeverLosesOrDoublesACode) {
  Settings settings;
  settings.scanPeriod = "30秒";
  settings.deliverByMail = true;
  settings.deliveredSoftware = true;
  Shop shop(settings);
  ASSERT_TRUE(shop.ok()) << shop.error();
  ASSERT_TRUE(shop.LogIn());

  const std::vector<std::string> items = {"点卡甲", "点卡乙", "点卡丙", "点卡丁"};
  std::set<std::string> allCards;
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::vector<std::pair<std::string, std::string>> cards;
    for (int k = 0; k < 250; ++k) {
      std::string number = "C" + std::to_string(i) + "-" + std::to_string(k);
      cards.emplace_back(number, "S" + number);
      allCards.insert(number);
    }
    ASSERT_TRUE(shop.AddCards(items[i], cards));
  }

  std::vector<OrderPlan> plan;
  std::vector<SimOrder> orders;
  for (int i = 0; i < 200; ++i) {
    OrderPlan o;
    o.number = OrderNumber(i);
    o.item = items[static_cast<std::size_t>(i) % items.size()];
    o.quantity = 1 + i % 3;
    o.buyer = "buyer" + std::to_string(i);
    o.mail = "b" + std::to_string(i) + "@example.com";
    orders.push_back({o.number, o.item, std::to_string(o.quantity), o.buyer, "请发到 " + o.mail + " 谢谢"});
    plan.push_back(o);
  }

  // Orders arrive in waves, so that every run has work in hand when it is killed.
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> delayMs(5, 80);
  TempDir logs;
  int kills = 0;
  std::size_t added = 0;
  for (int round = 0; round < 300 && (kills < 32 || added < orders.size()); ++round) {
    std::size_t wave = std::min<std::size_t>(orders.size() - added, 2);
    if (wave > 0) {
      ASSERT_TRUE(shop.sim().AddOrders(std::vector<SimOrder>(orders.begin() + static_cast<std::ptrdiff_t>(added),
                                                             orders.begin() + static_cast<std::ptrdiff_t>(added + wave))));
      added += wave;
    }
    pid_t pid = SpawnProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), logs / "out", logs / "err");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
    if (::waitpid(pid, nullptr, WNOHANG) == pid) continue;  // finished before the kill
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ++kills;
  }
  EXPECT_GE(kills, 30);
  std::string history = ReadBytes(shop.dataDir() / u8"历史记录.log");
  std::cout << "kills: " << kills << ", resent after a kill: "
            << SplitText(history, "重新发送原卡密").size() - 1 << ", shipped after a kill: "
            << SplitText(history, "补做发货标记").size() - 1 << "\n";

  // Restarted until the order list is done; each run ends well within the test's 300 s time-out.
  for (int pass = 0; pass < 6; ++pass) {
    auto run = RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 40s);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    bool allShipped = true;
    for (const auto& o : plan) allShipped = allShipped && shop.sim().OrderStatus(o.number) == "shipped";
    if (allShipped) break;
  }

  StoreError error;
  auto stores = CardStores::Open(shop.dataDir(), &error);
  ASSERT_TRUE(stores) << error.message;

  // Every card is in exactly one store.
  std::multiset<std::string> seen;
  for (const auto& card : stores->Inventory().Select(0, "")) seen.insert(card[1]);
  auto sent = stores->Sent().Select(0, "");
  for (const auto& record : sent) seen.insert(record[4]);
  EXPECT_EQ(seen.size(), allCards.size());
  EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()), allCards);

  // Every order delivered and shipped, with exactly its quantity of codes, and blacklisted once.
  std::map<std::string, std::vector<std::vector<std::string>>> byOrder;
  for (const auto& record : sent) byOrder[record[1]].push_back(record);
  std::string blacklist = ReadBytes(BlacklistPath(shop.dataDir()));
  std::size_t blacklistLength = 0;
  for (const auto& o : plan) {
    const auto& records = byOrder[o.number];
    EXPECT_EQ(records.size(), static_cast<std::size_t>(o.quantity)) << o.number;
    for (const auto& r : records) {
      EXPECT_EQ(r[0], o.item);
      EXPECT_EQ(r[7], std::string("邮件发送")) << o.number;
    }
    EXPECT_EQ(shop.sim().OrderStatus(o.number), "shipped") << o.number;
    EXPECT_TRUE(BlacklistContains(shop.dataDir(), o.number)) << o.number;
    blacklistLength += o.number.size();
  }
  EXPECT_EQ(byOrder.size(), plan.size());
  EXPECT_EQ(blacklist.size(), blacklistLength);  // no order number appended twice

  // What the buyers received: only their own order's codes, never more distinct codes than paid for.
  std::map<std::string, std::set<std::string>> codesOf;
  std::map<std::string, std::string> ownerOfCode;
  for (const auto& mail : shop.mail()->Messages()) {
    ASSERT_EQ(mail.recipients.size(), 1u);
    for (const auto& line : CodesInMail(mail.data)) {
      std::string number = line.substr(0, line.find("  卡密: "));
      codesOf[mail.recipients[0]].insert(number);
      auto [it, inserted] = ownerOfCode.emplace(number, mail.recipients[0]);
      EXPECT_EQ(it->second, mail.recipients[0]) << "code " << number << " reached two buyers";
    }
  }
  for (const auto& o : plan) {
    std::set<std::string> expected;
    for (const auto& r : byOrder[o.number]) expected.insert(r[4]);
    EXPECT_EQ(codesOf[o.mail], expected) << o.number;
  }
}
