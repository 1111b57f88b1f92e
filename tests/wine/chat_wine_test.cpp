// Chat delivery against the real Win32 API as wine provides it: torvane-chat.exe, driven through
// the wine bridge, opens the stand-in chat client by its aliim: address and pours the message into
// its windows; and `torvane run --once` delivering a chat order through it.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "base/deployment.h"
#include "base/files.h"
#include "base/ini.h"
#include "base/settings.h"
#include "base/text.h"
#include "delivery/chat_sender.h"
#include "platform/child_process.h"
#include "platform/wine_bridge.h"
#include "support/process.h"
#include "support/shop.h"
#include "support/temp_dir.h"
#include "wine/wine_prefix.h"

using namespace torvane;
using namespace torvane::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kMargin = 20s;

const char* OutcomeName(ChatOutcome outcome) {
  switch (outcome) {
    case ChatOutcome::kHandedOver: return "kHandedOver";
    case ChatOutcome::kNoClient: return "kNoClient";
    case ChatOutcome::kNoWindow: return "kNoWindow";
    case ChatOutcome::kNoInputField: return "kNoInputField";
    case ChatOutcome::kKeyNotPosted: return "kKeyNotPosted";
    case ChatOutcome::kSenderFailed: return "kSenderFailed";
  }
  return "?";
}

WinePrefix& Prefix() {
  WinePrefix* prefix = WinePrefix::Get();
  if (prefix == nullptr) ADD_FAILURE() << WinePrefix::Error();
  return *prefix;
}

std::unique_ptr<WindowSystem> Bridge(const WinePrefix& wine) {
  WineBridgeSetup setup;
  setup.prefix = wine.dir();
  setup.wine = wine.wine();
  setup.chatProgram = ChatProgram();
  setup.margin = kMargin;
  return MakeWineWindowSystem(setup);
}

// The GBK text as the client sees it: UTF-16 units, four hexadecimal digits each.
std::string UnitsHex(const std::string& gbk) {
  std::string out;
  char unit[8];
  for (char16_t c : ToUtf16(gbk, CodePage::Gbk)) {
    std::snprintf(unit, sizeof(unit), "%04X", static_cast<unsigned>(c));
    out += unit;
  }
  return out;
}

std::string GbkFromUnitsHex(const std::string& hex) {
  std::u16string units;
  for (std::size_t i = 0; i + 4 <= hex.size(); i += 4) {
    units.push_back(static_cast<char16_t>(std::stoul(hex.substr(i, 4), nullptr, 16)));
  }
  return FromUtf16(units, CodePage::Gbk);
}

// The events of the record as "what rest" lines, one process's only when pid is given.
std::vector<std::string> Events(const std::filesystem::path& record, const std::string& pid = {}) {
  std::vector<std::string> lines;
  for (const ClientEvent& e : ReadClientRecord(record)) {
    if (pid.empty() || e.pid == pid) lines.push_back(e.what + (e.rest.empty() ? "" : " " + e.rest));
  }
  return lines;
}

std::string PidOf(const std::filesystem::path& record, const std::string& what, const std::string& restPart) {
  for (const ClientEvent& e : ReadClientRecord(record)) {
    if (e.what == what && e.rest.find(restPart) != std::string::npos) return e.pid;
  }
  return {};
}

TEST(ChatUnderWine, MessageReachesEveryTextControlThenEnterAndEscape) {
  WinePrefix& wine = Prefix();
  std::printf("wine prefix made in %lld ms\n", static_cast<long long>(wine.setupTime().count()));
  const auto record = wine.work() / "every-control.txt";
  ASSERT_TRUE(wine.RegisterClient({}, record));
  auto windows = Bridge(wine);
  ASSERT_TRUE(windows->Available()) << windows->UnavailableReason();

  const std::string buyer = "张三丰_买家";
  const std::string message =
      "\r\n\r\n感谢您的购买\r\n\r\n卡号: A1  卡密: 甲乙丙-123\r\n卡号: A2  卡密: ｘｙｚ／〇\r\n\r\n备注：充值后请确认收货";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_STREQ(OutcomeName(SendWangwangMessage(*windows, buyer, "20231234", message, 20).outcome), "kHandedOver");
  std::printf("one message handed over in %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count()));
  ASSERT_TRUE(WaitForClientEvent(record, "closed", 20s)) << "the client never saw Escape";

  // Exactly the address, the texts into both RichEditComponent controls (never the control whose class
  // only begins like theirs), then Enter and Escape, in that order.
  const std::vector<std::string> expected = {
      "address " + ChatAddress(buyer, "20231234"),
      "window " + GbkToUtf8(buyer + " - 聊天窗口"),
      "controls",
      "settext outer " + UnitsHex(message),
      "settext inner " + UnitsHex(message),
      "keydown 13",
      "keyup 13",
      "keydown 27",
      "keyup 27",
      "closed",
  };
  EXPECT_EQ(Events(record), expected);
  // The Chinese id went out as the percent-escapes of its UTF-8 bytes.
  EXPECT_NE(ChatAddress(buyer, "20231234").find("touid=cntaobao%E5%BC%A0%E4%B8%89%E4%B8%B0%5F"), std::string::npos);
  // Back from UTF-16 the text is the message byte for byte.
  for (const ClientEvent& e : ReadClientRecord(record)) {
    if (e.what == "settext") {
      EXPECT_TRUE(GbkFromUnitsHex(e.rest.substr(e.rest.find(' ') + 1)) == message);
    }
  }
}

struct WaitRow {
  const char* name;
  std::vector<std::string> switches;
  std::string buyer;
  int waitSeconds;
  ChatOutcome outcome;
  const char* windowTitle;  // GBK title of the window the client opened; nullptr: none opened
};

TEST(ChatUnderWine, OnlyTheBuyersOwnWindowTakesTheMessageWithinTheWait) {
  WinePrefix& wine = Prefix();
  const std::vector<WaitRow> rows = {
      {"window of a longer id", {"--longer-id", "--lifetime", "15"}, "李四", 3, ChatOutcome::kNoWindow, "李四x - 聊天窗口"},
      {"no window at all", {"--no-window"}, "王五", 2, ChatOutcome::kNoWindow, nullptr},
      {"window opened late", {"--late", "2500", "--lifetime", "30"}, "赵六", 20, ChatOutcome::kHandedOver,
       "赵六 - 聊天窗口"},
      {"text controls made after the window", {"--controls-late", "1500", "--lifetime", "30"}, "钱九", 20,
       ChatOutcome::kHandedOver, "钱九 - 聊天窗口"},
  };
  for (const WaitRow& row : rows) {
    SCOPED_TRACE(row.name);
    const auto record = wine.work() / (std::string("wait-") + std::to_string(&row - rows.data()) + ".txt");
    ASSERT_TRUE(wine.RegisterClient(row.switches, record));
    auto windows = Bridge(wine);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_STREQ(OutcomeName(SendWangwangMessage(*windows, row.buyer, "77", "卡密: 1", row.waitSeconds).outcome),
                 OutcomeName(row.outcome));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(row.waitSeconds) + kMargin) << "the wait overran its bound";
    if (row.outcome != ChatOutcome::kHandedOver) {
      EXPECT_GE(took, std::chrono::seconds(row.waitSeconds)) << "gave up before the wait was over";
    }

    ASSERT_TRUE(WaitForClientEvent(record, "address", 10s)) << "the address never reached the client";
    if (row.windowTitle != nullptr) {
      ASSERT_TRUE(WaitForClientEvent(record, "window", 10s));
    }
    if (row.outcome == ChatOutcome::kHandedOver) {
      ASSERT_TRUE(WaitForClientEvent(record, "closed", 20s));
    }
    const std::vector<std::string> events = Events(record);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0], "address " + ChatAddress(row.buyer, "77"));
    bool textSet = false, keyPosted = false, window = false;
    for (const std::string& e : events) {
      textSet = textSet || e.rfind("settext", 0) == 0;
      keyPosted = keyPosted || e.rfind("key", 0) == 0;
      if (e.rfind("window ", 0) == 0) {
        window = true;
        EXPECT_EQ(e, "window " + GbkToUtf8(row.windowTitle == nullptr ? "" : row.windowTitle));
      }
    }
    EXPECT_EQ(window, row.windowTitle != nullptr);
    EXPECT_EQ(textSet, row.outcome == ChatOutcome::kHandedOver);
    EXPECT_EQ(keyPosted, row.outcome == ChatOutcome::kHandedOver);
  }
}

// Fields of a --list-windows line: handle, process, thread, first window of the process, class, title.
std::vector<std::string> Fields(const std::string& line) { return SplitText(line, "\t"); }

TEST(ChatUnderWine, WindowQueriesListVisibleWindowsWhileTheSenderAlsoFindsHiddenOnes) {
  WinePrefix& wine = Prefix();
  const auto record = wine.work() / "queries.txt";
  ChildOptions quiet;
  quiet.readOutput = false;
  std::string error;
  auto shown = ChildProcess::Start(wine.wine(),
                                   {FakeChatClient().string(), "--record", wine.WindowsPath(record), "--lifetime", "40",
                                    ChatAddress("孙七", "1")},
                                   quiet, &error);
  auto hidden = ChildProcess::Start(wine.wine(),
                                    {FakeChatClient().string(), "--record", wine.WindowsPath(record), "--hidden",
                                     "--lifetime", "40", ChatAddress("周八", "2")},
                                    quiet, &error);
  ASSERT_TRUE(shown && hidden) << error;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while ((PidOf(record, "window", GbkToUtf8("孙七")).empty() || PidOf(record, "window", GbkToUtf8("周八")).empty()) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  const std::string shownPid = PidOf(record, "window", GbkToUtf8("孙七"));
  const std::string hiddenPid = PidOf(record, "window", GbkToUtf8("周八"));
  ASSERT_FALSE(shownPid.empty() || hiddenPid.empty()) << "the client windows did not open";

  ProcessResult list = wine.Run(ChatProgram(), {"--list-windows"}, 60s);
  ASSERT_EQ(list.exitCode, 0) << list.err;
  std::map<std::string, std::vector<std::string>> byProcess;  // the StandardFrame line of each process
  for (const std::string& line : SplitText(list.out, "\r\n")) {
    std::vector<std::string> f = Fields(line);
    ASSERT_EQ(f.size(), 6u) << line;
    EXPECT_NE(f[2], "0") << line;
    if (f[4] == "StandardFrame") byProcess[f[1]] = f;
  }
  // The visible chat window is listed with its title, its process and as that process's first
  // window; the hidden one is not listed.
  ASSERT_EQ(byProcess.count(shownPid), 1u) << list.out;
  EXPECT_EQ(byProcess[shownPid][5], std::string("孙七 - 聊天窗口"));
  EXPECT_EQ(byProcess[shownPid][3], byProcess[shownPid][0]);
  EXPECT_EQ(byProcess.count(hiddenPid), 0u) << list.out;
  EXPECT_EQ(list.out.find("周八"), std::string::npos);

  // The sender walks every top-level window of the class: the hidden one takes the message.
  ASSERT_TRUE(wine.RegisterClient({"--no-window"}, wine.work() / "queries-open.txt"));
  auto windows = Bridge(wine);
  EXPECT_STREQ(OutcomeName(SendWangwangMessage(*windows, "周八", "2", "卡密: 2", 10).outcome), "kHandedOver");
  ASSERT_TRUE(WaitForClientEvent(record, "closed", 20s));
  EXPECT_EQ(Events(record, hiddenPid),
            (std::vector<std::string>{"address " + ChatAddress("周八", "2"), "window " + GbkToUtf8("周八 - 聊天窗口"),
                                      "controls", "settext outer " + UnitsHex("卡密: 2"), "settext inner " + UnitsHex("卡密: 2"),
                                      "keydown 13", "keyup 13", "keydown 27", "keyup 27", "closed"}));
  shown->Stop();
}

Settings ChatDelivery() {
  Settings s;
  s.scanPeriod = "30秒";
  s.deliverByChat = true;
  s.deliveredSoftware = true;
  s.outOfStockSoftware = true;
  return s;
}

bool PointAtPrefix(Shop& shop, const WinePrefix& wine, int waitSeconds) {
  IniFile deployment;
  deployment.Load(DeploymentPath(shop.configDir()));
  deployment.Set("聊天", "WINEPREFIX", wine.dir().string());
  deployment.Set("聊天", "聊天窗口等待秒", std::to_string(waitSeconds));
  return deployment.Save(DeploymentPath(shop.configDir()));
}

std::string U(const std::string& gbk) { return GbkToUtf8(gbk); }

TEST(ChatUnderWine, RunOnceDeliversAChatOrderThroughTheClient) {
  WinePrefix& wine = Prefix();
  const auto record = wine.work() / "run-delivered.txt";
  ASSERT_TRUE(wine.RegisterClient({"--lifetime", "30"}, record));
  Shop shop(ChatDelivery(), false);
  ASSERT_TRUE(shop.ok()) << shop.error();
  ASSERT_TRUE(shop.LogIn());
  ASSERT_TRUE(PointAtPrefix(shop, wine, 15));
  ASSERT_TRUE(shop.AddCards("点卡A", {{"A1", "甲-secret-1"}}));
  ASSERT_TRUE(shop.sim().AddOrder("9101", "点卡A", "1", "买家甲", ""));

  auto run = RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 120s);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.find(U("旺旺发货已关闭")), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(U("已经通过:[旺旺发送]发送宝贝")), std::string::npos) << run.out;
  EXPECT_EQ(shop.sim().OrderStatus("9101"), "shipped");
  EXPECT_NE(ReadBytes(shop.dataDir() / u8"临时黑名单.log").find("9101"), std::string::npos);
  auto sent = RunProcess(TorvaneBinary(), {"sent", "list", "--order", "9101"}, shop.dataDir(), 30s);
  EXPECT_NE(sent.out.find(U("旺旺发送")), std::string::npos) << sent.out;

  // The buyer's chat window got the codes.
  ASSERT_TRUE(WaitForClientEvent(record, "closed", 20s));
  int texts = 0;
  for (const ClientEvent& e : ReadClientRecord(record)) {
    if (e.what == "window") {
      EXPECT_EQ(e.rest, U("买家甲 - 聊天窗口"));
    }
    if (e.what != "settext") continue;
    ++texts;
    EXPECT_NE(GbkFromUnitsHex(e.rest.substr(e.rest.find(' ') + 1)).find("卡号: A1  卡密: 甲-secret-1"),
              std::string::npos);
  }
  EXPECT_EQ(texts, 2);
}

TEST(ChatUnderWine, RunOnceWithoutAChatWindowLeavesTheOrderFailedAndUnshipped) {
  WinePrefix& wine = Prefix();
  const auto record = wine.work() / "run-no-window.txt";
  ASSERT_TRUE(wine.RegisterClient({"--no-window"}, record));
  Shop shop(ChatDelivery(), false);
  ASSERT_TRUE(shop.ok()) << shop.error();
  ASSERT_TRUE(shop.LogIn());
  ASSERT_TRUE(PointAtPrefix(shop, wine, 2));
  ASSERT_TRUE(shop.AddCards("点卡B", {{"B1", "b-secret-1"}}));
  ASSERT_TRUE(shop.sim().AddOrder("9102", "点卡B", "1", "买家乙", ""));

  auto run = RunProcess(TorvaneBinary(), shop.RunArgs(true), shop.dataDir(), 120s);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(WaitForClientEvent(record, "address", 10s)) << "the client was never asked";
  EXPECT_NE(run.out.find(U("卡密发送失败 请手动处理")), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find(U("已经通过:[")), std::string::npos) << "a delivery notice for a failed send";
  EXPECT_EQ(shop.sim().OrderStatus("9102"), "paid");
  auto sent = RunProcess(TorvaneBinary(), {"sent", "list", "--order", "9102"}, shop.dataDir(), 30s);
  EXPECT_NE(sent.out.find(U("发送失败")), std::string::npos) << sent.out;
  EXPECT_EQ(sent.out.find(U("旺旺发送")), std::string::npos) << sent.out;
}

}  // namespace
