#include "delivery/chat_sender.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>

namespace torvane {
namespace {

// A desktop with scripted windows that records what the sender did to it.
class FakeDesktop : public WindowSystem {
 public:
  struct Window {
    WindowHandle handle;
    std::string className;
    std::string title;
  };

  bool available = true;
  int appearAfterLooks = 0;  // top-level windows are visible only from this look on
  int controlsAfterLooks = 0;  // and their text controls only from this one
  std::vector<Window> topLevel;
  std::map<WindowHandle, std::vector<WindowHandle>> richEdits;  // below a window, depth-first
  std::vector<std::string> opened;
  std::vector<std::pair<WindowHandle, std::string>> texts;
  std::vector<std::pair<WindowHandle, int>> keys;
  int looks = 0;
  int replacedAfterLooks = -1;   // from the look after this one on, the windows are these instead
  std::vector<Window> replacement;

  bool Available() override { return available; }
  bool OpenAddress(const std::string& address) override {
    opened.push_back(address);
    return true;
  }
  std::vector<TopLevelWindow> FindTopLevelWindows(const std::string& className) override {
    ++looks;
    std::vector<TopLevelWindow> out;
    if (looks <= appearAfterLooks) return out;
    for (const Window& w : replacedAfterLooks >= 0 && looks > replacedAfterLooks ? replacement : topLevel) {
      if (w.className == className) out.push_back({w.handle, w.title});
    }
    return out;
  }
  std::vector<WindowHandle> Descendants(WindowHandle window, const std::string& className) override {
    if (className != "RichEditComponent" || looks <= controlsAfterLooks) return {};
    auto it = richEdits.find(window);
    return it == richEdits.end() ? std::vector<WindowHandle>{} : it->second;
  }
  bool SetText(WindowHandle window, const std::string& text) override {
    texts.emplace_back(window, text);
    return true;
  }
  bool PostKey(WindowHandle window, int key) override {
    keys.emplace_back(window, key);
    return true;
  }
};

TEST(ChatAddress, EncodesEveryByteOfTheBuyerAndTheOrderAsUtf8) {
  EXPECT_EQ(ChatAddress("ab", "1234"),
            "aliim://sendmsg?&touid=cntaobao%61%62&siteid=cntaobao&status=2&portalId=&gid=$bizOrder.itemID:"
            "%31%32%33%34&itemsId=");
  // 张 is E5 BC A0 and 三 is E4 B8 89 in UTF-8: three escapes per character.
  EXPECT_EQ(ChatAddress("张三", "9"),
            "aliim://sendmsg?&touid=cntaobao%E5%BC%A0%E4%B8%89&siteid=cntaobao&status=2&portalId=&gid="
            "$bizOrder.itemID:%39&itemsId=");
  // An order number a page wrote to name another addressee stays one value.
  EXPECT_EQ(ChatAddress("ab", "1&touid=cntaobaoevil"),
            "aliim://sendmsg?&touid=cntaobao%61%62&siteid=cntaobao&status=2&portalId=&gid=$bizOrder.itemID:"
            "%31%26%74%6F%75%69%64%3D%63%6E%74%61%6F%62%61%6F%65%76%69%6C&itemsId=");
}

TEST(ChatWindowTitle, BuyerMustStandAsAWholeId) {
  EXPECT_TRUE(TitleNamesBuyer("ab", "ab"));
  EXPECT_TRUE(TitleNamesBuyer("ab - 阿里旺旺", "ab"));
  EXPECT_TRUE(TitleNamesBuyer("与 ab 交谈中", "ab"));
  EXPECT_TRUE(TitleNamesBuyer("（ab）", "ab"));       // full-width brackets are not id characters
  EXPECT_TRUE(TitleNamesBuyer("abc,ab", "ab"));       // a later whole occurrence counts
  EXPECT_FALSE(TitleNamesBuyer("abc - 阿里旺旺", "ab"));
  EXPECT_FALSE(TitleNamesBuyer("xab", "ab"));
  EXPECT_FALSE(TitleNamesBuyer("ab_2", "ab"));
  EXPECT_FALSE(TitleNamesBuyer("ab.x", "ab"));
  EXPECT_FALSE(TitleNamesBuyer("张三丰", "张三"));     // a longer Chinese id
  EXPECT_TRUE(TitleNamesBuyer("张三 - 阿里旺旺", "张三"));
  EXPECT_FALSE(TitleNamesBuyer("anything", ""));
  // The id's bytes inside a two-byte character are not the id: 0xB0 0x61 is one character.
  EXPECT_FALSE(TitleNamesBuyer("\xB0" "a", "a"));
}

TEST(ChatSender, SetsTheTextIntoEveryRichEditThenPostsEnterAndEscape) {
  FakeDesktop desk;
  desk.topLevel = {{7, "StandardFrame", "abc - 阿里旺旺"}, {8, "OtherClass", "ab"}, {9, "StandardFrame", "ab - 阿里旺旺"}};
  desk.richEdits[9] = {91, 92};
  desk.richEdits[7] = {71};
  const ChatSendResult r = SendWangwangMessage(desk, "ab", "1234", "卡号: 1", 0, std::chrono::milliseconds(1));
  EXPECT_EQ(r.outcome, ChatOutcome::kHandedOver);
  ASSERT_EQ(desk.opened.size(), 1u);
  EXPECT_EQ(desk.opened[0], ChatAddress("ab", "1234"));
  ASSERT_EQ(desk.texts.size(), 2u);
  EXPECT_EQ(desk.texts[0], std::make_pair(WindowHandle{91}, std::string("卡号: 1")));
  EXPECT_EQ(desk.texts[1], std::make_pair(WindowHandle{92}, std::string("卡号: 1")));
  ASSERT_EQ(desk.keys.size(), 2u);
  EXPECT_EQ(desk.keys[0], std::make_pair(WindowHandle{9}, kVkReturn));
  EXPECT_EQ(desk.keys[1], std::make_pair(WindowHandle{9}, kVkEscape));
}

TEST(ChatSender, WaitsForTheWindowWithPausesAndGivesUpAtTheBound) {
  FakeDesktop late;
  late.topLevel = {{5, "StandardFrame", "buyer"}};
  late.richEdits[5] = {51};
  late.appearAfterLooks = 3;
  EXPECT_TRUE(SendWangwangMessage(late, "buyer", "1", "m", 5, std::chrono::milliseconds(1)).HandedOver());
  EXPECT_EQ(late.looks, 5);  // the window found, then looked up once more

  // The window found first is replaced by the one the second look finds: that one gets the text.
  FakeDesktop replaced;
  replaced.topLevel = {{5, "StandardFrame", "buyer"}};
  replaced.replacement = {{6, "StandardFrame", "buyer"}};
  replaced.replacedAfterLooks = 1;
  replaced.richEdits[5] = {51};
  replaced.richEdits[6] = {61};
  EXPECT_TRUE(SendWangwangMessage(replaced, "buyer", "1", "m", 5, std::chrono::milliseconds(1)).HandedOver());
  ASSERT_EQ(replaced.texts.size(), 1u);
  EXPECT_EQ(replaced.texts[0].first, WindowHandle{61});
  EXPECT_EQ(replaced.keys.at(0).first, WindowHandle{6});

  // The window comes before the text controls inside it: the wait goes on until they are there.
  FakeDesktop bareAtFirst;
  bareAtFirst.topLevel = {{5, "StandardFrame", "buyer"}};
  bareAtFirst.richEdits[5] = {51};
  bareAtFirst.controlsAfterLooks = 2;
  EXPECT_TRUE(SendWangwangMessage(bareAtFirst, "buyer", "1", "m", 5, std::chrono::milliseconds(1)).HandedOver());
  EXPECT_EQ(bareAtFirst.looks, 4);

  // The window never comes: one second with 100 ms pauses allows about ten looks, not thousands.
  FakeDesktop never;
  never.topLevel = {{5, "StandardFrame", "buyer2"}};
  const ChatSendResult r = SendWangwangMessage(never, "buyer", "1", "m", 1, std::chrono::milliseconds(100));
  EXPECT_EQ(r.outcome, ChatOutcome::kNoWindow);
  EXPECT_GE(never.looks, 2);
  EXPECT_LE(never.looks, 13);
  EXPECT_TRUE(never.texts.empty());
  EXPECT_TRUE(never.keys.empty());

  // A zero wait still looks once.
  FakeDesktop once;
  EXPECT_EQ(SendWangwangMessage(once, "buyer", "1", "m", 0).outcome, ChatOutcome::kNoWindow);
  EXPECT_EQ(once.looks, 1);
}

TEST(ChatSender, NoClientOrNoInputFieldIsNotAHandOver) {
  FakeDesktop none;
  none.available = false;
  none.topLevel = {{5, "StandardFrame", "buyer"}};
  none.richEdits[5] = {51};
  EXPECT_EQ(SendWangwangMessage(none, "buyer", "1", "m", 1).outcome, ChatOutcome::kNoClient);
  EXPECT_TRUE(none.opened.empty());

  FakeDesktop bare;
  bare.topLevel = {{5, "StandardFrame", "buyer"}};
  EXPECT_EQ(SendWangwangMessage(bare, "buyer", "1", "m", 1).outcome, ChatOutcome::kNoInputField);
  EXPECT_TRUE(bare.keys.empty());
}

}  // namespace
}  // namespace torvane
