// The delivery pass end to end: the simulated marketplace on loopback, real stores, blacklist
// and item names in a temporary data directory, and doubles for the mail server, the seller's
// notices and the chat client's desktop.
#include "delivery/delivery_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

#include "delivery/chat_sender.h"
#include "delivery/empty_ship.h"
#include "delivery/rating.h"
#include "base/activity_log.h"
#include "base/deployment.h"
#include "base/files.h"
#include "notify/mail.h"
#include "notify/notices.h"
#include "notify/password.h"
#include "store/blacklist.h"
#include "store/item_settings.h"
#include "base/ini.h"
#include "support/certificate.h"
#include "support/market_sim.h"
#include "support/raw_http_server.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"
#include "web/cookie_store.h"
#include "web/http.h"
#include "web/login_session.h"
#include "base/text.h"

namespace torvane {
namespace {

using test::MarketSim;
using test::TempDir;

class RecordingMail : public MailSender {
 public:
  struct Mail {
    std::string recipient, subject, body;
  };
  bool accept = true;
  std::vector<Mail> sent;
  MailResult SendMail(const std::string& recipient, const std::string& subject, const std::string& body) override {
    sent.push_back({recipient, subject, body});
    MailResult r;
    r.accepted = accept;
    if (!accept) {
      r.reason = "收件人被拒绝";
      r.failure = MailFailure::kRecipient;
    }
    return r;
  }
};

class RecordingNotices : public SellerNotices {
 public:
  std::vector<std::string> delivered, outOfStock, lowStock, problems;
  void NotifyDelivered(const std::string& text) override { delivered.push_back(text); }
  void NotifyOutOfStock(const std::string& text) override { outOfStock.push_back(text); }
  void NotifyLowStock(const std::string& text) override { lowStock.push_back(text); }
  void NotifyProblem(const std::string& text) override { problems.push_back(text); }
};

// A desktop whose chat client opens a window titled with the buyer for every address it is handed.
class ChatDesktop : public WindowSystem {
 public:
  bool available = true;
  bool opensWindows = true;
  std::vector<std::string> opened;
  std::vector<std::pair<std::string, std::string>> messages;  // buyer, text
  std::vector<int> keys;

  bool Available() override { return available; }
  bool OpenAddress(const std::string& address) override {
    opened.push_back(address);
    if (!opensWindows) return true;
    const std::string encoded = TextBetween(address, "touid=cntaobao", "&");
    std::string utf8;
    for (std::size_t i = 0; i + 2 < encoded.size() + 1; i += 3) {
      utf8 += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
    }
    windows_.push_back({static_cast<WindowHandle>(windows_.size() + 1), Utf8ToGbk(utf8) + " - 阿里旺旺"});
    return true;
  }
  std::vector<TopLevelWindow> FindTopLevelWindows(const std::string& className) override {
    return className == "StandardFrame" ? windows_ : std::vector<TopLevelWindow>{};
  }
  std::vector<WindowHandle> Descendants(WindowHandle window, const std::string& className) override {
    if (className != "RichEditComponent") return {};
    return {window * 100};
  }
  bool SetText(WindowHandle control, const std::string& text) override {
    const std::string& title = windows_.at(control / 100 - 1).title;
    messages.emplace_back(title.substr(0, title.find(" - ")), text);
    return true;
  }
  bool PostKey(WindowHandle, int key) override {
    keys.push_back(key);
    return true;
  }

 private:
  std::vector<TopLevelWindow> windows_;
};

// The activity log's messages, oldest first, without their time stamps.
std::vector<std::string> Messages(const ActivityLog& log) {
  std::vector<std::string> out;
  for (const std::string& line : SplitText(log.Text(), "\r\n")) {
    const std::size_t cut = line.find("] ");
    out.push_back(cut == std::string::npos ? line : line.substr(cut + 2));
  }
  std::reverse(out.begin(), out.end());
  return out;
}

bool Logged(const ActivityLog& log, const std::string& message) {
  const std::vector<std::string> m = Messages(log);
  return std::find(m.begin(), m.end(), message) != m.end();
}

// The messages logged after the first `from` ones.
std::vector<std::string> MessagesSince(const ActivityLog& log, std::size_t from) {
  std::vector<std::string> m = Messages(log);
  m.erase(m.begin(), m.begin() + static_cast<std::ptrdiff_t>(std::min(from, m.size())));
  return m;
}

// The consign form the marketplace must receive for an order, as fixed bytes (the default shipper).
std::string ConsignBody(const std::string& token, const std::string& orderNumber) {
  const std::string k =
      "%CB%F9%D4%DA%C7%F8%2F%B7%FE%3A%C4%E3%CA%C7%CB%AD%B0%A1%0D%0A%BD%C7%C9%AB%C3%FB%3A%C4%E3%CA%C7%CB%AD%B0%A1%0D%0A%B1%B8%D7%A2%3A";
  auto contact = [](const std::string& p) {
    return p + "co=86440000&" + p + "coun=440300&" + p + "c=%D5%C5%CF%C8%C9%FA&" + p + "p=&" + p + "ci=&" + p + "cou=&" +
           p + "adr=%BF%C6%BC%BC%D4%B0%C4%CF%C7%F8&" + p +
           "dd=%B9%E3%B6%AB%CA%A1%C9%EE%DB%DA%CA%D0%C4%CF%C9%BD%C7%F8%BF%C6%BC%BC%D4%B0%C4%CF%C7%F8&" + p +
           "ad=%B9%E3%B6%AB%CA%A1%5E%5E%5E%C9%EE%DB%DA%CA%D0%5E%5E%5E%C4%CF%C9%BD%C7%F8%5E%5E%5E%BF%C6%BC%BC%D4%B0%C4%CF%C7%F8&" +
           p + "z=518057&" + p + "ddd=&" + p + "ph=&" + p + "b=&" + p + "t=&" + p + "m=13800138000";
  };
  return "source=&callUrl=&_tb_token_=" + token + "&mailNo=&companyCode=&orderId=" + orderNumber + "&flag=&province=" + k +
         "&action=user%2Fconsign_action&event_submit_do_online_consign=&event_submit_do_offline_consign="
         "&event_submit_do_dummy=1&event_submit_do_limit_consign=&event_submit_do_cod_consign="
         "&event_submit_do_store_consign=&event_submit_do_refresh_address=&event_submit_do_refresh_store="
         "&event_submit_do_store_cod_consign=&companyId=&_fmw.r._0.coun=1&_fmw.r._0.c=%B2%BB%D0%E8%CA%D5%BB%F5%C8%CB"
         "&_fmw.r._0.p=" + k + "&_fmw.r._0.ci=&_fmw.r._0.d=&_fmw.r._0.cou=&_fmw.r._0.adr=&_fmw.r._0.dd=" + k +
         "&_fmw.r._0.ad=%5E%5E%5E%5E%5E%5E%5E%5E%5E" + k +
         "&_fmw.r._0.z=000000&_fmw.r._0.ddd=&_fmw.r._0.ph=&_fmw.r._0.b=&_fmw.r._0.t=&_fmw.r._0.mo="
         "&_fmw.n._0.g=%C4%FA%BF%C9%D2%D4%D4%DA%B4%CB%CA%E4%C8%EB%B1%B8%CD%FC%D0%C5%CF%A2%A3%A8%BD%F6%C2%F4%BC%D2%D7%D4%BC%BA%BF%C9%BC%FB%A3%A9%A1%A3&" +
         contact("_fmw.f._0.") + "&" + contact("_fmw.re._0.") +
         "&initialWeightOld=all&_fmw.f._0.f=&_fmw.f._0.fe=&_fmw.f._0.fet=";
}

class DeliveryEndToEnd : public ::testing::Test {
 protected:
  // One simulator for the suite (starting and stopping one takes a while); reset for each test.
  static void SetUpTestSuite() { sharedSim_ = MarketSim::Start().release(); }
  static void TearDownTestSuite() {
    delete sharedSim_;
    sharedSim_ = nullptr;
  }

  void SetUp() override {
    sim_ = sharedSim_;
    ASSERT_TRUE(sim_);
    ASSERT_TRUE(sim_->Reset());
    ASSERT_TRUE(sim_->SetSeller("好店铺", "7788", "pw", "TOKEN42"));
    ASSERT_TRUE(sim_->WriteDeployment(dir_.path()));
    deployment_ = LoadDeployment(DeploymentPath(dir_.path()));
    deployment_.chatWaitSeconds = 1;
    ClearCookies();
    网页_访问(sim_->BaseUrl() + "/member/login.jhtml", 1, {}, {}, "TPL_username=seller&TPL_password=pw");
    ASSERT_TRUE(CheckLoginSession(deployment_));
    ASSERT_EQ(FormToken(), "TOKEN42");
    StoreError error;
    stores_ = CardStores::Open(dir_.path(), &error);
    ASSERT_TRUE(stores_) << error.message;
    log_ = std::make_unique<ActivityLog>(dir_ / u8"历史记录.log");
    Settings s;
    s.deliverByChat = true;
    settings_.Set(s);
    engine_ = std::make_unique<DeliveryEngine>(deployment_, *stores_, dir_.path(), settings_, *log_, mail_, notices_,
                                               desk_, [this] { ++refreshes_; });
    engine_->SetChatPollPause(std::chrono::milliseconds(5));
  }

  void AddCards(const std::string& item, const std::vector<std::string>& numbers, const std::string& note = "") {
    std::vector<std::vector<std::string>> records;
    for (const std::string& n : numbers) records.push_back({item, n, "S" + n, note});
    ASSERT_EQ(stores_->Inventory().AppendMany(records), numbers.size());
  }
  void ListItems(const std::string& namesText) { test::WriteBytes(dir_ / u8"宝贝名称.txt", namesText); }
  std::string Blacklist() { return test::ReadBytes(BlacklistPath(dir_.path())); }
  std::vector<std::vector<std::string>> Sent(const std::string& orderNumber) {
    return stores_->Sent().Select(2, orderNumber);
  }
  void UseSettings(const std::function<void(Settings&)>& change) {
    Settings s = settings_.Current();
    change(s);
    settings_.Set(s);
  }

  static inline MarketSim* sharedSim_ = nullptr;
  TempDir dir_;
  MarketSim* sim_ = nullptr;
  Deployment deployment_;
  std::unique_ptr<CardStores> stores_;
  std::unique_ptr<ActivityLog> log_;
  FixedSettings settings_{Settings{}};
  RecordingMail mail_;
  RecordingNotices notices_;
  ChatDesktop desk_;
  int refreshes_ = 0;
  std::unique_ptr<DeliveryEngine> engine_;
};

TEST_F(DeliveryEndToEnd, OrdersInCodesOutAndTheMarketplaceSeesTheConsignForms) {
  AddCards("游戏点卡", {"A1", "A2", "A3"}, "首张备注");
  ASSERT_TRUE(stores_->Inventory().WriteRecord(2, {"游戏点卡", "A2", "SA2", "第二张备注"}));
  AddCards("月卡", {"B1"}, "月卡备注");
  ASSERT_TRUE(sim_->AddOrder("1001", "游戏点卡", "2", "buyer_one"));
  ASSERT_TRUE(sim_->AddOrder("1002", "月卡", "1", "张三"));

  const DeliverySummary summary = engine_->DeliveryRun();
  EXPECT_EQ(summary.listed, 2);
  EXPECT_EQ(summary.delivered, 2);
  EXPECT_EQ(summary.shipped, 2);

  ASSERT_EQ(desk_.messages.size(), 2u);
  EXPECT_EQ(desk_.messages[0].first, "buyer_one");
  EXPECT_EQ(desk_.messages[0].second,
            "\r\n\r\n感谢您的购买\r\n\r\n卡号: A1  卡密: SA1\r\n卡号: A2  卡密: SA2\r\n\r\n备注：首张备注");
  EXPECT_EQ(desk_.messages[1].first, "张三");
  EXPECT_EQ(desk_.opened[1],
            "aliim://sendmsg?&touid=cntaobao%E5%BC%A0%E4%B8%89&siteid=cntaobao&status=2&portalId=&gid=$bizOrder.itemID:%31%30%30%32&itemsId=");
  EXPECT_EQ(desk_.keys, (std::vector<int>{kVkReturn, kVkEscape, kVkReturn, kVkEscape}));

  // One sent record per code, with the channel as status; the third card stays in stock.
  const auto sent = Sent("1001");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0][4], "A1");
  EXPECT_EQ(sent[1][4], "A2");
  for (const auto& r : sent) {
    EXPECT_EQ(r[2], "buyer_one");
    EXPECT_EQ(r[3], "2");
    EXPECT_EQ(r[6], "首张备注");
    EXPECT_EQ(r[7], "旺旺发送");
    EXPECT_FALSE(r[8].empty());
  }
  EXPECT_EQ(stores_->CountCardsOf("游戏点卡"), 1);
  EXPECT_EQ(stores_->CountCardsOf("月卡"), 0);
  EXPECT_EQ(Blacklist(), "10011002");

  const auto consigns = sim_->Consigns();
  ASSERT_EQ(consigns.size(), 2u);
  EXPECT_EQ(consigns[0].body, ConsignBody("TOKEN42", "1001"));
  EXPECT_EQ(consigns[1].body, ConsignBody("TOKEN42", "1002"));
  EXPECT_TRUE(consigns[0].success) << consigns[0].reason;
  EXPECT_EQ(sim_->OrderStatus("1001"), "shipped");
  EXPECT_EQ(sim_->OrderStatus("1002"), "shipped");

  ASSERT_EQ(notices_.delivered.size(), 2u);
  EXPECT_EQ(notices_.delivered[0],
            "宝贝名称:[游戏点卡]  订单编号:[1001]  购买数量:[2]  买家旺旺:[buyer_one]  已经通过:[旺旺发送]发送宝贝");
  EXPECT_EQ(refreshes_, 2);
  EXPECT_EQ(Messages(*log_), (std::vector<std::string>{"发现已付款订单 [2]个"}));

  // The shipped orders leave the list; the next pass finds nothing.
  engine_->DeliveryRun();
  EXPECT_TRUE(Logged(*log_, "未发现已付款订单"));
  EXPECT_EQ(desk_.messages.size(), 2u);

  // Numbers that stand inside a handled one, or across two, are orders of their own.
  AddCards("月卡", {"B2"});
  ASSERT_TRUE(sim_->AddOrder("100", "游戏点卡", "1", "b100"));
  ASSERT_TRUE(sim_->AddOrder("0011", "月卡", "1", "b11"));
  EXPECT_EQ(engine_->DeliveryRun().delivered, 2);
  EXPECT_EQ(sim_->OrderStatus("100"), "shipped");
  EXPECT_EQ(sim_->OrderStatus("0011"), "shipped");
  EXPECT_EQ(Blacklist(), "100110021000011");
}

TEST_F(DeliveryEndToEnd, BlacklistedAndAlreadyRecordedOrdersAreNeverDeliveredAgain) {
  AddCards("点卡", {"C1", "C2", "C3"});
  ASSERT_TRUE(sim_->AddOrder("1234", "点卡", "1", "b1"));  // straddles "12" + "34" in the blacklist
  ASSERT_TRUE(sim_->AddOrder("5555", "点卡", "1", "b2"));  // recorded as sent, missing from the blacklist, unshipped
  ASSERT_TRUE(sim_->AddOrder("6666", "点卡", "1", "b3"));  // its send failed earlier
  test::WriteBytes(BlacklistPath(dir_.path()), "99123499");  // carried over from an older installation
  ASSERT_EQ(stores_->TakeCards("点卡", 1, "5555", "b2", "1", "", "旺旺发送", "t").size(), 1u);
  ASSERT_EQ(stores_->TakeCards("点卡", 1, "6666", "b3", "1", "", "发送失败", "t").size(), 1u);

  engine_->DeliveryRun();
  EXPECT_TRUE(desk_.messages.empty());
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 1);
  // The buyer of 5555 has the codes: the order is only marked shipped, and the blacklist completed.
  EXPECT_EQ(Messages(*log_), (std::vector<std::string>{"发现已付款订单 [3]个", "订单编号:[1234] 发现重复订单 自动跳过",
                                                       "订单编号:[5555] 卡密已经发送 补做发货标记",
                                                       "订单编号:[6666] 发现重复订单 自动跳过"}));
  const auto consigns = sim_->Consigns();
  ASSERT_EQ(consigns.size(), 1u);
  EXPECT_EQ(consigns[0].orderId, "5555");
  EXPECT_EQ(sim_->OrderStatus("5555"), "shipped");
  EXPECT_EQ(sim_->OrderStatus("6666"), "paid");
  EXPECT_EQ(Blacklist(), "991234995555" "6666");
}

TEST_F(DeliveryEndToEnd, AnUnreadableBlacklistHoldsOrdersBack) {
  AddCards("点卡", {"K1"});
  ASSERT_TRUE(sim_->AddOrder("1301", "点卡", "1", "b1"));
  std::filesystem::create_directory(BlacklistPath(dir_.path()));  // a directory where the file should be
  engine_->DeliveryRun();
  const auto m = Messages(*log_);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[1].rfind("订单编号:[1301] 无法读取临时黑名单 暂不发货: ", 0), 0u) << m[1];
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 1);
  EXPECT_EQ(sim_->OrderStatus("1301"), "paid");
}

TEST_F(DeliveryEndToEnd, SameOrderTwiceOnOnePageIsDeliveredOnce) {
  test::RawHttpServer market;
  const std::string block = "<tbody><span class=\"order-number\">订单编号：777</span><a target=\"_blank\" title=\"名称：点卡 §数量：1件\">"
                            "<span class=\"ww ww:token\"><a href=\"x?nick=dup&s=1\"></a></span></li>"
                            "<a class=\"btn\" href=\"" + market.BaseUrl() + "/user/consign.htm?orderId=777\">发货</a></tbody>";
  market.SetHandler([&](const test::RecordedRequest& r) {
    if (r.requestLine.find("order_list_new.htm") != std::string::npos) return test::RawReply::Http(200, block + block);
    return test::RawReply::Http(200, "恭喜您，操作成功");
  });
  deployment_.logisticsHost = market.BaseUrl();
  AddCards("点卡", {"D1", "D2"});

  const DeliverySummary summary = engine_->DeliveryRun();
  EXPECT_EQ(summary.listed, 2);
  EXPECT_EQ(summary.delivered, 1);
  ASSERT_EQ(desk_.messages.size(), 1u);
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 1);
  EXPECT_EQ(Blacklist(), "777");
  EXPECT_TRUE(Logged(*log_, "订单编号:[777] 发现重复订单 自动跳过"));
}

// Without a ship link of its own on the marketplace, an order gets its codes but is not marked
// shipped, and the seller is told; no form goes anywhere.
// A page that writes a buyer id raw into its chat link lets that id forge blocks of its own. Every real
// paid order has its own ship link: a block without one, with one naming another order, or with one to
// another host gets no codes; the seller is told once a day per order.
TEST_F(DeliveryEndToEnd, ABlockWithoutAShipActionOfItsOwnGetsNoCodes) {
  UseSettings([](Settings& s) { s.deliverByMail = true; });
  test::RawHttpServer market;
  test::RawHttpServer thief;
  thief.SetHandler([](const test::RecordedRequest&) { return test::RawReply::Http(200, "恭喜您，操作成功"); });
  deployment_.logisticsHost = market.BaseUrl();
  auto block = [&](const std::string& number, const std::string& quantity, const std::string& nick,
                   const std::string& shipLink) {
    return "<tbody>\r\n<tr><td><span class=\"order-number\">订单编号：" + number + "</span></td></tr>\r\n"
           "<tr><td><a target=\"_blank\" title=\"名称：点卡 §数量：" + quantity + "件\" href=\"x\">点卡</a></td>\r\n"
           "<td><ul><li><span class=\"ww ww:token\"><a href=\"http://www.taobao.com/webww/ww.php?ver=3&nick=" + nick +
           "&touid=t&siteid=cntaobao\">和我联系</a></span></li></ul></td>\r\n" +
           (shipLink.empty() ? std::string() : "<td><a class=\"btn\" href=\"" + shipLink + "\">发货</a></td>") +
           "</tr>\r\n</tbody>\r\n";
  };
  // The buyer id closes the real block and opens one for 5 codes to the attacker's mailbox.
  const std::string forging = "x\"></a></span></li></ul></td></tr></tbody><tbody><tr><td><span class=\"order-number\">"
                              "订单编号：66666</span><a target=\"_blank\" title=\"名称：点卡 §数量：5件\"></a>"
                              "<label>买家留言：</label><span >evil@attacker.example&nbsp;</span>"
                              "<span class=\"ww ww:token\"><a href=\"?nick=thief&";
  const std::string page = "<html><head><title>已卖出的宝贝</title></head><body><table>" +
                           block("5001", "1", forging, market.BaseUrl() + "/user/consign.htm?orderId=5001") +
                           block("778", "1", "b", thief.BaseUrl() + "/user/consign.htm?orderId=778") +
                           block("779", "1", "b", "") + "</table></body></html>";
  market.SetHandler([page](const test::RecordedRequest& r) {
    if (r.requestLine.find("order_list_new.htm") != std::string::npos) return test::RawReply::Http(200, page);
    return test::RawReply::Http(200, "恭喜您，操作成功");
  });
  AddCards("点卡", {"F1", "F2", "F3", "F4", "F5", "F6"});

  for (int pass = 0; pass < 2; ++pass) {
    const DeliverySummary summary = engine_->DeliveryRun();
    EXPECT_EQ(summary.listed, 4);
    EXPECT_EQ(summary.delivered, 0);
    EXPECT_EQ(summary.skipped, 4);
  }
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 6);
  EXPECT_TRUE(mail_.sent.empty());
  EXPECT_TRUE(desk_.messages.empty());
  EXPECT_TRUE(Sent("66666").empty());
  EXPECT_TRUE(Sent("5001").empty());
  EXPECT_EQ(Blacklist(), "");
  for (const std::string& line : std::vector<std::string>{"订单编号:[5001] 缺少发货链接 暂不发货", "订单编号:[66666] 缺少发货链接 暂不发货: 发货链接属于订单 5001",
        "订单编号:[778] 缺少发货链接 暂不发货: 发货链接不属于交易主机或物流主机: " + thief.BaseUrl(),
        "订单编号:[779] 缺少发货链接 暂不发货"}) {
    EXPECT_TRUE(Logged(*log_, line)) << GbkToUtf8(line) << "\n" << GbkToUtf8(log_->Text());
  }
  // Told once per order, not at every pass.
  EXPECT_EQ(notices_.problems,
            (std::vector<std::string>{"订单编号:[5001] 缺少发货链接 暂不发货", "订单编号:[66666] 缺少发货链接 暂不发货",
                                      "订单编号:[778] 缺少发货链接 暂不发货", "订单编号:[779] 缺少发货链接 暂不发货"}));
  EXPECT_EQ(thief.Connections(), 0);
  for (const auto& request : market.Requests()) EXPECT_EQ(request.requestLine.rfind("GET ", 0), 0u) << request.requestLine;
}

TEST_F(DeliveryEndToEnd, UnknownItemsAndEmptyItemsAreLeftForLater) {
  ListItems("空宝贝\r\n其他\r\n");
  ASSERT_TRUE(sim_->AddOrder("2001", "没上架", "1", "b1"));
  ASSERT_TRUE(sim_->AddOrder("2002", "空宝贝", "1", "b2"));
  ASSERT_TRUE(sim_->AddOrder("2003", "游戏点卡", "1", "b3"));  // differs only in case from the stocked item
  AddCards("游戏點卡", {"E1"});
  AddCards("GAME", {"G1"});
  ASSERT_TRUE(sim_->AddOrder("2004", "game", "1", "b4"));

  const DeliverySummary summary = engine_->DeliveryRun();
  EXPECT_EQ(summary.delivered, 0);
  EXPECT_EQ(notices_.outOfStock, (std::vector<std::string>{"宝贝名称: 空宝贝库存不足"}));
  const auto m = Messages(*log_);
  EXPECT_EQ(std::count(m.begin(), m.end(), "不在发货序列 自动跳过"), 3);
  EXPECT_EQ(Blacklist(), "");
  EXPECT_EQ(sim_->OrderStatus("2002"), "paid");
  EXPECT_TRUE(sim_->Consigns().empty());
}

TEST_F(DeliveryEndToEnd, OnlyWholeOrdersGoOut) {
  ListItems("季卡\r\n");
  AddCards("季卡", {"Q1", "Q2"});
  ASSERT_TRUE(sim_->AddOrder("3001", "季卡", "3", "b1"));

  engine_->DeliveryRun();
  EXPECT_EQ(notices_.outOfStock, (std::vector<std::string>{"宝贝名称: 季卡库存不足"}));
  EXPECT_EQ(stores_->CountCardsOf("季卡"), 2);
  EXPECT_TRUE(Sent("3001").empty());
  EXPECT_EQ(Blacklist(), "");
  EXPECT_EQ(sim_->OrderStatus("3001"), "paid");
  // The log says so itself, whatever the notices' settings, with the whole quantity unsent.
  EXPECT_EQ(Messages(*log_), (std::vector<std::string>{"发现已付款订单 [1]个",
                                                       "宝贝名称: 季卡库存不足 买家旺旺: b1还有[3]个卡密未发送"}));

  // Stock arrives: the next pass delivers the whole order.
  AddCards("季卡", {"Q3"});
  engine_->DeliveryRun();
  EXPECT_EQ(Sent("3001").size(), 3u);
  EXPECT_EQ(sim_->OrderStatus("3001"), "shipped");
}

TEST_F(DeliveryEndToEnd, AReusableItemsCodesGoToEveryOrderInTurnAndStayInStock) {
  ListItems("共享账号\r\n");
  AddCards("共享账号", {"K1", "K2"}, "链接备注");
  test::WriteBytes(dir_ / u8"宝贝设置.ini", "[共享账号]\r\n循环=是\r\n");
  for (const char* number : {"7101", "7102", "7103"}) ASSERT_TRUE(sim_->AddOrder(number, "共享账号", "1", "b"));
  ASSERT_TRUE(sim_->AddOrder("7104", "共享账号", "1001", "big"));

  const DeliverySummary summary = engine_->DeliveryRun();
  EXPECT_EQ(summary.delivered, 3);
  EXPECT_EQ(summary.shipped, 3);
  const std::string thanks = "\r\n\r\n感谢您的购买\r\n\r\n";
  ASSERT_EQ(desk_.messages.size(), 3u);
  EXPECT_EQ(desk_.messages[0].second, thanks + "卡号: K1  卡密: SK1\r\n\r\n备注：链接备注");
  EXPECT_EQ(desk_.messages[1].second, thanks + "卡号: K2  卡密: SK2\r\n\r\n备注：链接备注");
  EXPECT_EQ(desk_.messages[2].second, thanks + "卡号: K1  卡密: SK1\r\n\r\n备注：链接备注");
  EXPECT_EQ(stores_->CountCardsOf("共享账号"), 2);
  EXPECT_EQ(stores_->Sent().RecordCount(), 3);
  for (const char* number : {"7101", "7102", "7103"}) {
    ASSERT_EQ(Sent(number).size(), 1u);
    EXPECT_EQ(Sent(number)[0][7], "旺旺发送");
    EXPECT_EQ(sim_->OrderStatus(number), "shipped");
  }
  EXPECT_EQ(Blacklist(), "710171027103");
  // A quantity the stock sets no bound to waits for the seller.
  EXPECT_TRUE(Logged(*log_, "订单编号:[7104] 购买数量过大 循环宝贝每单最多发送1000个 请手动处理"));
  EXPECT_TRUE(Sent("7104").empty());
  EXPECT_EQ(sim_->OrderStatus("7104"), "paid");

  // No longer reusable: the next order takes its code out of stock, without a restart.
  test::WriteBytes(dir_ / u8"宝贝设置.ini", "[共享账号]\r\n循环=否\r\n");
  ASSERT_TRUE(sim_->AddOrder("7105", "共享账号", "1", "b5"));
  EXPECT_EQ(engine_->DeliveryRun().delivered, 1);
  ASSERT_EQ(Sent("7105").size(), 1u);
  EXPECT_EQ(Sent("7105")[0][4], "K1");
  EXPECT_EQ(stores_->CountCardsOf("共享账号"), 1);

  // Settings that cannot be read say nothing about the item: its order waits, its code stays.
  std::filesystem::remove(dir_ / u8"宝贝设置.ini");
  std::filesystem::create_directory(dir_ / u8"宝贝设置.ini");
  ASSERT_TRUE(sim_->AddOrder("7106", "共享账号", "1", "b6"));
  EXPECT_EQ(engine_->DeliveryRun().delivered, 0);
  const auto m = Messages(*log_);
  EXPECT_EQ(m.back().rfind("订单编号:[7106] 暂不发货: 宝贝设置.ini 无法读取: ", 0), 0u) << m.back();
  EXPECT_TRUE(Sent("7106").empty());
  EXPECT_EQ(stores_->CountCardsOf("共享账号"), 1);
}

TEST_F(DeliveryEndToEnd, UnreadableQuantityTakesNothing) {
  AddCards("点卡", {"U1"});
  ASSERT_TRUE(sim_->AddOrder("4001", "点卡", "abc", "b1"));
  ASSERT_TRUE(sim_->AddOrder("4002", "点卡", "0", "b2"));
  engine_->DeliveryRun();
  EXPECT_TRUE(Logged(*log_, "订单编号:[4001] 购买数量无法识别 自动跳过"));
  EXPECT_TRUE(Logged(*log_, "订单编号:[4002] 购买数量无法识别 自动跳过"));
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 1);
  EXPECT_EQ(Blacklist(), "");
  EXPECT_TRUE(desk_.messages.empty());
  EXPECT_EQ(sim_->OrderStatus("4001"), "paid");
}

TEST_F(DeliveryEndToEnd, MailGoesToTheAddressInTheMessageOrFallsBackToChat) {
  UseSettings([](Settings& s) {
    s.deliverByChat = false;
    s.deliverByMail = true;
    s.signatureOn = true;
    s.signature = "欢迎再来";
  });
  AddCards("点卡", {"M1", "M2"}, "备注一");
  ASSERT_TRUE(sim_->AddOrder("5001", "点卡", "1", "b1", "请发到 buyer.one@example.com 谢谢"));
  ASSERT_TRUE(sim_->AddOrder("5002", "点卡", "1", "b2", "没有邮箱"));

  const std::string start = NowSortableTimeText();
  engine_->DeliveryRun();
  const std::string end = NowSortableTimeText();
  // When and how each code was handed over.
  for (const char* order : {"5001", "5002"}) {
    const std::string handedAt = Sent(order).at(0).at(9);
    EXPECT_TRUE(handedAt.size() == 19 && start <= handedAt && handedAt <= end) << order << ": " << handedAt;
  }
  EXPECT_EQ(Sent("5001").at(0).at(10), "邮件");
  EXPECT_EQ(Sent("5002").at(0).at(10), "旺旺");
  ASSERT_EQ(mail_.sent.size(), 1u);
  EXPECT_EQ(mail_.sent[0].recipient, "buyer.one@example.com");
  EXPECT_EQ(mail_.sent[0].subject, "您购买的宝贝送到");
  EXPECT_EQ(mail_.sent[0].body, "\r\n\r\n感谢您的购买\r\n\r\n卡号: M1  卡密: SM1\r\n\r\n备注：备注一\r\n\r\n欢迎再来");
  EXPECT_EQ(Sent("5001").at(0)[7], "邮件发送");

  EXPECT_TRUE(Logged(*log_, "订单编号:[5002] 由于留言邮箱格式错误 自动使用旺旺方式发送卡密"));
  ASSERT_EQ(desk_.messages.size(), 1u);
  EXPECT_EQ(desk_.messages[0].first, "b2");
  EXPECT_EQ(Sent("5002").at(0)[7], "旺旺发送");
  ASSERT_EQ(notices_.delivered.size(), 2u);
  EXPECT_NE(notices_.delivered[0].find("已经通过:[邮件发送]发送宝贝"), std::string::npos);
  EXPECT_EQ(sim_->OrderStatus("5001"), "shipped");
  EXPECT_EQ(sim_->OrderStatus("5002"), "shipped");
}

TEST_F(DeliveryEndToEnd, WithoutAChatClientNoCodeIsTaken) {
  desk_.available = false;
  AddCards("点卡", {"W1"});
  ASSERT_TRUE(sim_->AddOrder("6001", "点卡", "1", "b1"));
  engine_->DeliveryRun();
  EXPECT_TRUE(Logged(*log_, "未找到旺旺客户端 订单编号:[6001] 暂不发货"));
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 1);
  EXPECT_TRUE(Sent("6001").empty());
  EXPECT_EQ(Blacklist(), "");
  EXPECT_EQ(sim_->OrderStatus("6001"), "paid");
  EXPECT_TRUE(notices_.delivered.empty());
}

TEST_F(DeliveryEndToEnd, FailedSendsAreRecordedAsFailedAndNotShipped) {
  UseSettings([](Settings& s) { s.deliverByMail = true; });
  mail_.accept = false;
  AddCards("点卡", {"F1", "F2", "F3"});
  ASSERT_TRUE(sim_->AddOrder("7001", "点卡", "1", "b1", "a@b.com"));
  desk_.opensWindows = false;  // the chat window never comes either
  deployment_.chatWaitSeconds = 0;
  ASSERT_TRUE(sim_->AddOrder("7002", "点卡", "1", "b2", "no address"));

  const DeliverySummary summary = engine_->DeliveryRun();
  EXPECT_EQ(summary.failed, 2);
  EXPECT_EQ(summary.delivered, 0);
  EXPECT_TRUE(Logged(*log_, "订单编号:[7001] 卡密发送失败 请手动处理: 收件人被拒绝"));
  EXPECT_TRUE(Logged(*log_, "订单编号:[7002] 卡密发送失败 请手动处理"));
  EXPECT_EQ(Sent("7001").at(0)[7], "发送失败");
  EXPECT_EQ(Sent("7002").at(0)[7], "发送失败");
  EXPECT_EQ(Sent("7002").at(0).at(9) + Sent("7002").at(0).at(10), "");  // never handed over
  EXPECT_EQ(sim_->OrderStatus("7001"), "paid");
  EXPECT_EQ(sim_->OrderStatus("7002"), "paid");
  EXPECT_TRUE(sim_->Consigns().empty());
  EXPECT_TRUE(notices_.delivered.empty());
  EXPECT_EQ(notices_.problems, (std::vector<std::string>{"订单编号:[7001] 卡密邮件被拒收 请手动处理"}));
  EXPECT_EQ(Blacklist(), "70017002");

  // A later pass spends no new codes on them.
  mail_.accept = true;
  desk_.opensWindows = true;
  engine_->DeliveryRun();
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 1);
  EXPECT_EQ(mail_.sent.size(), 1u);

  // The chat order sent again goes to its buyer's chat, with the order's own code, and ships.
  const ResendResult resent = engine_->ResendOrder("7002");
  EXPECT_TRUE(resent.Done());
  ASSERT_EQ(desk_.messages.size(), 1u);
  EXPECT_EQ(desk_.messages[0].first, "b2");
  EXPECT_NE(desk_.messages[0].second.find("卡号: " + Sent("7002").at(0)[4] + "  "), std::string::npos);
  EXPECT_EQ(desk_.opened.back(), ChatAddress("b2", "7002"));
  EXPECT_EQ(Sent("7002").at(0)[7], "旺旺发送");
  EXPECT_EQ(Sent("7002").at(0).at(10), "重新发送");
  EXPECT_EQ(Sent("7002").at(0).at(9).size(), 19u);
  EXPECT_EQ(sim_->OrderStatus("7002"), "shipped");
}

TEST_F(DeliveryEndToEnd, CodesTakenBeforeACrashAreSentAgainAndNoNewOnesSpent) {
  AddCards("点卡", {"R1", "R2", "R3", "R4"});
  // A pass stopped after taking the cards of 8001 and of 8999 (not listed any more).
  ASSERT_EQ(stores_->TakeCards("点卡", 1, "8999", "other", "1", "", "发货中", "t0").size(), 1u);
  ASSERT_EQ(stores_->TakeCards("点卡", 2, "8001", "b1", "2", "", "发货中", "t0").size(), 2u);
  ASSERT_TRUE(sim_->AddOrder("8001", "点卡", "2", "b1"));
  // Records marked for deletion count for nothing: neither codes to send again nor an earlier delivery.
  RecordStore& sent = stores_->Sent();
  ASSERT_TRUE(sent.GoToRecordNumber(sent.AppendRecord({"点卡", "8001", "b1", "2", "Z1", "SZ1", "", "发货中", "t0"})));
  ASSERT_TRUE(sent.MarkDeleted());
  ASSERT_TRUE(sent.GoToRecordNumber(sent.AppendRecord({"点卡", "8002", "b2", "1", "Z2", "SZ2", "", "旺旺发送", "t0"})));
  ASSERT_TRUE(sent.MarkDeleted());
  ASSERT_TRUE(sim_->AddOrder("8002", "点卡", "1", "b2"));

  engine_->DeliveryRun();
  const std::string thanks = "\r\n\r\n感谢您的购买\r\n\r\n";
  ASSERT_EQ(desk_.messages.size(), 2u);
  EXPECT_EQ(desk_.messages[0].second, thanks + "卡号: R2  卡密: SR2\r\n卡号: R3  卡密: SR3\r\n\r\n备注：");
  EXPECT_EQ(desk_.messages[1].second, thanks + "卡号: R4  卡密: SR4\r\n\r\n备注：");
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 0);
  EXPECT_EQ(stores_->SentRecordsOf("8001", "旺旺发送").size(), 2u);
  EXPECT_TRUE(stores_->SentRecordsOf("8001", "发货中").empty());
  EXPECT_EQ(stores_->SentRecordsOf("8002", "旺旺发送").size(), 1u);
  EXPECT_EQ(Sent("8999").at(0)[7], "发货中");  // another order's record is left alone
  EXPECT_EQ(notices_.delivered.size(), 2u);
  EXPECT_EQ(sim_->OrderStatus("8001"), "shipped");
  EXPECT_EQ(sim_->OrderStatus("8002"), "shipped");
}

TEST_F(DeliveryEndToEnd, NoDeliveryMethodTakesNothing) {
  UseSettings([](Settings& s) { s.deliverByChat = false; });
  AddCards("点卡", {"N1"});
  ASSERT_TRUE(sim_->AddOrder("9001", "点卡", "1", "b1"));
  ASSERT_TRUE(sim_->AddOrder("9002", "点卡", "1", "b2"));
  engine_->DeliveryRun();
  EXPECT_EQ(Messages(*log_), (std::vector<std::string>{"发现已付款订单 [2]个", "未选择发货方式 自动跳过"}));
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 1);
  EXPECT_EQ(sim_->OrderStatus("9001"), "paid");
}

TEST_F(DeliveryEndToEnd, EmptyShipmentModeOnlyMarksOrdersShipped) {
  UseSettings([](Settings& s) { s.deliverEmpty = true; });
  AddCards("点卡", {"E1"});
  ASSERT_TRUE(sim_->AddOrder("1101", "点卡", "1", "b1"));
  ASSERT_TRUE(sim_->AddOrder("1102", "别的", "1", "b2"));
  ASSERT_TRUE(sim_->AddOrder("1103", "点卡", "2", "b3"));
  engine_->DeliveryRun();
  EXPECT_EQ(Messages(*log_),
            (std::vector<std::string>{"发现已付款订单 [3]个", "启动空发货", "完成 共空发货订单 [3]个"}));
  const auto consigns = sim_->Consigns();
  ASSERT_EQ(consigns.size(), 3u);
  EXPECT_EQ(consigns[2].body, ConsignBody("TOKEN42", "1103"));
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 1);
  EXPECT_EQ(Blacklist(), "");
  EXPECT_TRUE(desk_.messages.empty());

  // A refused form is not counted as shipped.
  ASSERT_TRUE(sim_->AddOrder("1104", "点卡", "1", "b4"));
  SetLoginValues("WRONG", "7788");
  engine_->DeliveryRun();
  EXPECT_TRUE(Logged(*log_, "订单编号:[1104] 标记发货失败 请手动发货"));
  EXPECT_TRUE(Logged(*log_, "完成 共空发货订单 [0]个"));
  EXPECT_EQ(sim_->OrderStatus("1104"), "paid");
  // What the marketplace answered instead is kept for the seller, and the line names the file.
  const std::string saved = "订单编号:[1104] 发货页面未确认发货 (页面已保存: ";
  const std::vector<std::string> lines = Messages(*log_);
  const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(saved, 0) == 0; });
  ASSERT_NE(line, lines.end()) << GbkToUtf8(log_->Text());
  const std::string file = line->substr(saved.size(), line->size() - saved.size() - 1);
  EXPECT_NE(test::ReadBytes(std::filesystem::path(GbkToUtf8(file))).find("安全校验失败"), std::string::npos) << file;
}

TEST_F(DeliveryEndToEnd, RatingsGoToEveryUnratedTrade) {
  ASSERT_TRUE(sim_->AddSoldTrade("11", "点卡", "b1"));
  ASSERT_TRUE(sim_->AddSoldTrade("22", "月卡", "b2"));
  UseSettings([](Settings& s) { s.rateText = "好买家a"; });
  AutoRateRun(deployment_, settings_, *log_);
  const auto ratings = sim_->Ratings();
  ASSERT_EQ(ratings.size(), 2u);
  EXPECT_EQ(ratings[0].tradeId, "11");
  EXPECT_EQ(ratings[1].tradeId, "22");
  for (const auto& r : ratings) {
    EXPECT_TRUE(r.success) << r.reason;
    EXPECT_EQ(r.text, "好买家a");
  }
  EXPECT_EQ(ratings[1].title, "月卡");
  EXPECT_TRUE(sim_->OrderRated("11"));
  EXPECT_EQ(Messages(*log_), (std::vector<std::string>{"发现已评价订单,完成自动评价"}));

  // Nothing left to rate: no line.
  AutoRateRun(deployment_, settings_, *log_);
  EXPECT_EQ(Messages(*log_).size(), 1u);
}

std::string Tag(const std::string& orderNumber) { return "订单编号:[" + orderNumber + "]"; }

// The decoded body of a raw message as received.
std::string BodyText(const std::string& rawMessage) {
  std::string compact;
  for (char c : test::MailBodyPart(rawMessage)) {
    if (c != '\r' && c != '\n') compact += c;
  }
  std::string out;
  EXPECT_TRUE(Base64Decode(compact, &out));
  return out;
}

MailAccount AccountFor(const test::SmtpTestServer& server) {
  MailAccount account;
  account.server = "127.0.0.1";
  account.port = server.port();
  account.fromAddress = "shop@torvane.test";
  account.userName = server.options().user;
  account.passwordObfuscated = ObfuscateMailPassword(server.options().password);
  account.encryption = MailEncryption::kNone;
  return account;
}

// The card numbers of the order's sent records, in store order.
std::vector<std::string> CodesOf(CardStores& stores, const std::string& orderNumber) {
  std::vector<std::string> codes;
  for (const auto& r : stores.Sent().Select(2, orderNumber)) codes.push_back(r[4]);
  return codes;
}

// The marketplace served over TLS (roles configured https, its certificate trusted through 部署配置.ini)
// writes its ship and rating links with plain http: they are its own links, asked over https.
TEST_F(DeliveryEndToEnd, HttpLinksOnHttpsRolesAreAskedOverTlsShippedAndRated) {
  std::string error;
  ASSERT_TRUE(test::MakeTestCertificate(dir_ / "market.pem", dir_ / "market.key", &error)) << error;
  test::MarketSimOptions options;
  options.tlsCertificate = dir_ / "market.pem";
  options.tlsKey = dir_ / "market.key";
  options.linkScheme = "http";
  std::unique_ptr<MarketSim> tls = MarketSim::Start(options);
  ASSERT_TRUE(tls);
  ASSERT_EQ(tls->BaseUrl().rfind("https://127.0.0.1:", 0), 0u) << tls->BaseUrl();
  ASSERT_TRUE(tls->SetSeller("好店铺", "7788", "pw", "TLS7"));
  ASSERT_TRUE(tls->WriteDeployment(dir_.path()));
  IniFile ini;
  ASSERT_TRUE(ini.Load(DeploymentPath(dir_.path())));
  ini.Set("网络", "CA证书", PathText(dir_ / "market.pem"));
  ASSERT_TRUE(ini.Save(DeploymentPath(dir_.path())));
  deployment_ = LoadDeployment(DeploymentPath(dir_.path()));
  const WebConfig before = CurrentWebConfig();
  WebConfig web = before;
  web.caFile = GbkToUtf8(deployment_.webCaFile);
  ConfigureWeb(web);
  ClearCookies();
  网页_访问(tls->BaseUrl() + "/member/login.jhtml", 1, {}, {}, "TPL_username=seller&TPL_password=pw");
  ASSERT_TRUE(CheckLoginSession(deployment_));
  ASSERT_EQ(FormToken(), "TLS7");

  AddCards("点卡", {"T1"});
  ASSERT_TRUE(tls->AddOrder("7001", "点卡", "1", "b1"));
  ASSERT_TRUE(tls->AddSoldTrade("7002", "月卡", "b2"));
  const std::string http = "http://127.0.0.1:" + std::to_string(tls->Port());
  EXPECT_NE(FetchPageText(OrderListAddress(deployment_)).find(http + "/user/consign.htm?orderId=7001\""), std::string::npos);

  const DeliverySummary summary = engine_->DeliveryRun();
  EXPECT_EQ(summary.delivered, 1);
  EXPECT_EQ(summary.shipped, 1);
  const auto consigns = tls->Consigns();
  ASSERT_EQ(consigns.size(), 1u);
  EXPECT_TRUE(consigns[0].success) << consigns[0].reason;
  EXPECT_EQ(tls->OrderStatus("7001"), "shipped");

  EXPECT_TRUE(RateUnratedOrders(deployment_, "好评", SellerUserId()));
  const auto ratings = tls->Ratings();
  ASSERT_EQ(ratings.size(), 2u);
  for (const auto& r : ratings) EXPECT_TRUE(r.success) << r.reason;
  EXPECT_TRUE(tls->OrderRated("7001"));
  EXPECT_TRUE(tls->OrderRated("7002"));
  ConfigureWeb(before);
}

TEST_F(DeliveryEndToEnd, MailServerOutagesSpendNoCodesAndTheSameCodesGoOutOnceItIsBack) {
  test::SmtpTestServer server;
  ASSERT_TRUE(server.running()) << server.error();
  SmtpMailSender smtp(AccountFor(server), 2, 10);
  DeliveryEngine engine(deployment_, *stores_, dir_.path(), settings_, *log_, smtp, notices_, desk_);
  engine.SetChatPollPause(std::chrono::milliseconds(5));
  UseSettings([](Settings& s) { s.deliverByMail = true; });
  AddCards("点卡", {"P1", "P2", "P3", "P4", "P5", "P6", "P7"});
  ASSERT_TRUE(sim_->AddOrder("9101", "点卡", "2", "b1", "请发到 one@example.com"));
  ASSERT_TRUE(sim_->AddOrder("9102", "点卡", "1", "b2", "two@example.com"));
  ASSERT_TRUE(sim_->AddOrder("9103", "点卡", "1", "b3", "没有邮箱"));  // by chat, whatever the mail server does

  struct Outage {
    const char* name;
    std::function<bool()> begin;
    std::string reason;  // part of the logged reason
  };
  const std::vector<Outage> outages = {
      {"server down", [&] { server.Stop(); return true; }, "无法连接邮件服务器"},
      {"421 to RCPT", [&] { return server.Restart() && server.SetReplies({"421 4.3.2 Closing", "", ""}); },
       "421 4.3.2 Closing"},
      {"553 to MAIL FROM", [&] { return server.SetReplies({"", "", "", "553 5.7.1 Sender address rejected"}); },
       "553 5.7.1"},
      {"451 to DATA", [&] { return server.SetReplies({"", "451 4.3.0 Try again later", ""}); }, "451 4.3.0"},
      {"554 to DATA", [&] { return server.SetReplies({"", "554 5.7.1 Message refused", ""}); }, "554 5.7.1"},
      {"452 to RCPT", [&] { return server.SetReplies({"452 4.3.1 Out of storage", "", ""}); }, "452 4.3.1"},
      {"login refused", [&] { return server.SetReplies({"", "", "535 5.7.8 Bad credentials"}); },
       "邮件服务器登录失败: 535 5.7.8"},
  };
  std::vector<std::string> codes;  // what 9101 took at the first failure
  for (const Outage& outage : outages) {
    SCOPED_TRACE(outage.name);
    ASSERT_TRUE(outage.begin());
    const std::size_t before = Messages(*log_).size();
    const DeliverySummary summary = engine.DeliveryRun();
    EXPECT_EQ(summary.held, 1);
    EXPECT_EQ(summary.failed, 0);
    if (codes.empty()) codes = CodesOf(*stores_, "9101");
    EXPECT_EQ(CodesOf(*stores_, "9101"), codes);
    for (const auto& r : Sent("9101")) EXPECT_EQ(r[7], "发货中");
    EXPECT_TRUE(Sent("9102").empty());  // no new codes once the server failed
    const std::vector<std::string> lines = MessagesSince(*log_, before);
    const std::string held = "订单编号:[9101] 邮件服务器暂时无法发信 卡密保留到下次发送: ";
    const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(held, 0) == 0; });
    ASSERT_NE(line, lines.end());
    EXPECT_NE(line->find(outage.reason), std::string::npos) << *line;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "订单编号:[9102] 邮件服务器暂时无法发信 暂不发货"), lines.end());
    EXPECT_EQ(sim_->OrderStatus("9101"), "paid");
    EXPECT_TRUE(server.Messages().empty());
  }
  EXPECT_EQ(codes.size(), 2u);
  EXPECT_EQ(Blacklist(), "9103");
  EXPECT_EQ(desk_.messages.size(), 1u);
  // One notice for the whole outage, not one per order or per pass.
  ASSERT_EQ(notices_.problems.size(), 1u);
  EXPECT_EQ(notices_.problems[0].rfind("邮件服务器暂时无法发信 邮件发货暂停: 无法连接邮件服务器", 0), 0u);

  // The server is back: the same codes go out, once, and new ones for the order that waited.
  ASSERT_TRUE(server.SetReplies({}));
  const DeliverySummary back = engine.DeliveryRun();
  EXPECT_EQ(back.delivered, 2);
  std::map<std::string, std::string> mailTo;
  for (const auto& m : server.Messages()) {
    ASSERT_EQ(m.recipients.size(), 1u);
    mailTo[m.recipients[0]] += BodyText(m.data);
  }
  ASSERT_EQ(mailTo.size(), 2u);
  EXPECT_EQ(server.Messages().size(), 2u);
  EXPECT_NE(mailTo["one@example.com"].find("卡号: P1  卡密: SP1\r\n卡号: P2  卡密: SP2"), std::string::npos);
  EXPECT_EQ(CodesOf(*stores_, "9101"), codes);
  EXPECT_EQ(CodesOf(*stores_, "9102").size(), 1u);
  for (const char* order : {"9101", "9102"}) {
    for (const auto& r : Sent(order)) EXPECT_EQ(r[7], "邮件发送");
    EXPECT_EQ(sim_->OrderStatus(order), "shipped");
  }
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 3);
  engine.DeliveryRun();
  EXPECT_EQ(server.Messages().size(), 2u);

  // Down again within the hour: the seller is told again, since the server had recovered.
  ASSERT_TRUE(sim_->AddOrder("9106", "点卡", "1", "b6", "six@example.com"));
  server.Stop();
  EXPECT_EQ(engine.DeliveryRun().held, 1);
  ASSERT_EQ(notices_.problems.size(), 2u);
  EXPECT_EQ(notices_.problems[1].rfind("邮件服务器暂时无法发信 邮件发货暂停: 无法连接邮件服务器", 0), 0u);
  ASSERT_TRUE(server.Restart()) << server.error();
  EXPECT_EQ(engine.DeliveryRun().delivered, 1);

  // A refusal of the recipient itself uses the codes up as before, with the server's reason.
  const std::pair<const char*, test::SmtpReplies> refusals[] = {{"9104", {"550 5.1.1 No such user", "", ""}},
                                                              {"9105", {"553 5.1.3 Bad address", "", ""}}};
  for (const auto& [order, replies] : refusals) {
    SCOPED_TRACE(order);
    ASSERT_TRUE(sim_->AddOrder(order, "点卡", "1", "b", "x@example.com"));
    ASSERT_TRUE(server.SetReplies(replies));
    const std::size_t problemsBefore = notices_.problems.size();
    EXPECT_EQ(engine.DeliveryRun().failed, 1);
    EXPECT_EQ(Sent(order).at(0)[7], "发送失败");
    const std::string reason = replies.rcpt.empty() ? replies.data : replies.rcpt;
    EXPECT_TRUE(Logged(*log_, Tag(order) + " 卡密发送失败 请手动处理: 邮件服务器拒收: " + reason));
    ASSERT_EQ(notices_.problems.size(), problemsBefore + 1);
    EXPECT_EQ(notices_.problems.back(), Tag(order) + " 卡密邮件被拒收 请手动处理");
    EXPECT_EQ(sim_->OrderStatus(order), "paid");
  }

  // A resend while the server is away or busy sends nothing and changes nothing; nor does one whose
  // channel would follow a buyer's message that the unreadable list holds.
  const std::vector<std::pair<const char*, std::function<bool()>>> stuck = {
      {"server down", [&] { server.Stop(); return true; }},
      {"421 to RCPT", [&] { return server.Restart() && server.SetReplies({"421 4.3.2 Closing", "", ""}); }},
      {"list unreadable", [&] {
         test::SimFaults fault;
         fault.status500 = true;
         fault.paths = {"/user/order_list_new.htm"};
         return server.SetReplies({}) && sim_->SetFaults(fault);
       }}};
  const std::size_t mailsBefore = server.Messages().size();
  for (const auto& [name, begin] : stuck) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(begin());
    const ResendResult result = engine.ResendOrder("9105");
    EXPECT_FALSE(result.sent);
    EXPECT_FALSE(result.Done());
    EXPECT_EQ(Sent("9105").at(0)[7], "发送失败");
    EXPECT_EQ(sim_->OrderStatus("9105"), "paid");
  }
  EXPECT_TRUE(Logged(*log_, "订单编号:[9105] 无法确定发货方式 未重新发送"));
  ASSERT_TRUE(sim_->ClearFaults());
  EXPECT_EQ(server.Messages().size(), mailsBefore);

  // The seller sends 9104's codes again to a corrected address.
  ASSERT_TRUE(server.SetReplies({}));
  const std::vector<std::string> refusedCodes = CodesOf(*stores_, "9104");
  const ResendResult resent = engine.ResendOrder("9104", "fixed@example.com");
  EXPECT_TRUE(resent.sent);
  EXPECT_TRUE(resent.listed);
  EXPECT_TRUE(resent.shipped);
  ASSERT_EQ(server.Messages().size(), mailsBefore + 1);
  EXPECT_EQ(server.Messages().back().recipients, std::vector<std::string>{"fixed@example.com"});
  EXPECT_NE(BodyText(server.Messages().back().data).find("卡号: " + refusedCodes.at(0) + "  "), std::string::npos);
  EXPECT_EQ(CodesOf(*stores_, "9104"), refusedCodes);
  EXPECT_EQ(Sent("9104").at(0)[7], "邮件发送");
  EXPECT_EQ(sim_->OrderStatus("9104"), "shipped");
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 0);
}

// Hands each mail to the real sender and notes its recipient, in the order tried.
class NotingMail : public MailSender {
 public:
  explicit NotingMail(MailSender& inner) : inner_(inner) {}
  MailResult SendMail(const std::string& recipient, const std::string& subject, const std::string& body) override {
    recipients.push_back(recipient);
    return inner_.SendMail(recipient, subject, body);
  }
  std::vector<std::string> recipients;

 private:
  MailSender& inner_;
};

TEST_F(DeliveryEndToEnd, OneBuyersAddressRefusedForNowHoldsOnlyItsOrderForADay) {
  test::SmtpTestServer server;
  ASSERT_TRUE(server.running()) << server.error();
  SmtpMailSender smtp(AccountFor(server), 2, 10);
  NotingMail mail(smtp);
  std::time_t now = 1'800'000'000;
  std::unique_ptr<DeliveryEngine> engine;
  auto restart = [&] {
    engine = std::make_unique<DeliveryEngine>(deployment_, *stores_, dir_.path(), settings_, *log_, mail, notices_,
                                              desk_);
    engine->SetClock([&] { return now; });
  };
  UseSettings([](Settings& s) {
    s.deliverByChat = false;
    s.deliverByMail = true;
  });
  AddCards("点卡", {"V1", "V2", "V3", "V4"});
  ASSERT_TRUE(sim_->AddOrder("9801", "点卡", "2", "b1", "typo@nodomain.test"));
  ASSERT_TRUE(sim_->AddOrder("9802", "点卡", "1", "b2", "two@example.com"));
  const std::string refusal = "450 4.1.2 <typo@nodomain.test>: Recipient address rejected: Domain not found";
  ASSERT_TRUE(server.SetReplies({refusal, "", "", "", "typo@nodomain.test"}));

  restart();
  const DeliverySummary first = engine->DeliveryRun();
  EXPECT_EQ(first.held, 1);
  EXPECT_EQ(first.delivered, 1);
  EXPECT_TRUE(Logged(*log_, "订单编号:[9801] 买家邮箱暂时拒收 卡密保留到下次发送: 邮件服务器拒收: " + refusal));
  const std::vector<std::string> codes = CodesOf(*stores_, "9801");
  EXPECT_EQ(codes, (std::vector<std::string>{"V1", "V2"}));
  for (const auto& r : Sent("9801")) EXPECT_EQ(r[7], "发货中");
  EXPECT_EQ(test::ReadBytes(RecipientRefusalsPath(dir_.path())), "1800000000 9801\r\n");
  EXPECT_EQ(sim_->OrderStatus("9802"), "shipped");
  EXPECT_TRUE(notices_.problems.empty()) << "the server was blamed";

  // After a restart, 23 hours on: tried after the other orders, with the same codes.
  ASSERT_TRUE(sim_->AddOrder("9803", "点卡", "1", "b3", "three@example.com"));
  now += 23 * 3600;
  restart();
  const DeliverySummary later = engine->DeliveryRun();
  EXPECT_EQ(later.held, 1);
  EXPECT_EQ(later.delivered, 1);
  EXPECT_EQ(mail.recipients, (std::vector<std::string>{"typo@nodomain.test", "two@example.com", "three@example.com",
                                                       "typo@nodomain.test"}));
  EXPECT_EQ(CodesOf(*stores_, "9801"), codes);
  EXPECT_TRUE(notices_.problems.empty());

  // 24 hours after the first refusal, the next one gives up: 发送失败, the seller is told, resend works.
  now += 3600;
  restart();
  EXPECT_EQ(engine->DeliveryRun().failed, 1);
  for (const auto& r : Sent("9801")) EXPECT_EQ(r[7], "发送失败");
  EXPECT_EQ(CodesOf(*stores_, "9801"), codes);
  EXPECT_TRUE(Logged(*log_, "订单编号:[9801] 买家邮箱拒收已超过24小时"));
  EXPECT_EQ(notices_.problems, (std::vector<std::string>{"订单编号:[9801] 卡密邮件被拒收 请手动处理"}));
  EXPECT_EQ(test::ReadBytes(RecipientRefusalsPath(dir_.path())), "");
  EXPECT_EQ(sim_->OrderStatus("9801"), "paid");
  ASSERT_TRUE(server.SetReplies({}));
  EXPECT_TRUE(engine->ResendOrder("9801", "fixed@example.com").sent);
  EXPECT_EQ(sim_->OrderStatus("9801"), "shipped");
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 0);
}

TEST_F(DeliveryEndToEnd, AnUnreadableOrderListIsNeverTakenForAnEmptyOne) {
  ListItems("点卡\r\n");
  AddCards("点卡", {"L1"});
  ASSERT_TRUE(sim_->AddOrder("9201", "点卡", "1", "b1"));
  test::RawHttpServer gone;
  const std::string goneUrl = gone.BaseUrl();
  gone.Stop();
  const std::string listHost = deployment_.logisticsHost;
  auto fault = [&](auto set) {
    return [this, set] {
      test::SimFaults f;
      f.paths = {"/user/order_list_new.htm"};
      set(f);
      return sim_->SetFaults(f);
    };
  };
  struct Row {
    const char* name;
    std::function<bool()> begin;
    std::string line;  // the pass's line, or its beginning
  };
  const std::vector<Row> rows = {
      {"status 500", fault([](test::SimFaults& f) { f.status500 = true; }), "无法读取已付款订单: 服务器返回 500"},
      {"dropped", fault([](test::SimFaults& f) { f.drop = true; }), "无法读取已付款订单: "},
      {"no markers", fault([](test::SimFaults& f) { f.noMarkers = true; }), "无法读取已付款订单: 页面不是订单列表"},
      {"host down", [&] { deployment_.logisticsHost = goneUrl; return true; }, "无法读取已付款订单: "},
      {"login page", [&] { return sim_->ExpireLogin(); }, "登录已失效 请重新登录淘宝"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(sim_->ClearFaults());
    deployment_.logisticsHost = listHost;
    ASSERT_TRUE(row.begin());
    for (int pass = 0; pass < 2; ++pass) {
      const std::size_t before = Messages(*log_).size();
      EXPECT_TRUE(engine_->DeliveryRun().listUnreadable);
      const std::vector<std::string> lines = MessagesSince(*log_, before);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(lines[0].rfind(row.line, 0), 0u) << lines[0];
      EXPECT_GT(lines[0].size(), std::string("无法读取已付款订单: ").size());  // a reason is given
    }
  }
  // The expired login is told once, not at every pass; nothing else raised a notice.
  EXPECT_EQ(notices_.problems, (std::vector<std::string>{"登录已失效 请重新登录淘宝"}));
  EXPECT_TRUE(notices_.outOfStock.empty());
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 1);

  // A list that really is empty says so.
  ASSERT_TRUE(sim_->Reset());
  ASSERT_TRUE(sim_->SetSeller("好店铺", "7788", "pw", "TOKEN42"));
  网页_访问(sim_->BaseUrl() + "/member/login.jhtml", 1, {}, {}, "TPL_username=seller&TPL_password=pw");
  EXPECT_FALSE(engine_->DeliveryRun().listUnreadable);
  EXPECT_EQ(Messages(*log_).back(), "未发现已付款订单");
}

// An empty list is told by any one of its signals (container, title, table head, as 部署配置.ini names
// them); a login page by its address or its form; any other answer is unreadable, and kept for the
// seller in 诊断 (once an hour, owner only, without the cookies or the form token it carried).
TEST_F(DeliveryEndToEnd, PagesAreKnownByAnyOfTheirSignalsAndOthersAreKeptWithoutSecrets) {
  test::RawHttpServer market;
  deployment_.logisticsHost = market.BaseUrl();
  const std::string sessionCookie = TextBetween(CookieHeaderFor("127.0.0.1", "/", false) + ";", "cookie2=", ";");
  ASSERT_GE(sessionCookie.size(), 8u);
  std::string listPage;
  market.SetHandler([&](const test::RecordedRequest& r) {
    if (r.requestLine.find("/member/login.jhtml") != std::string::npos) {
      return test::RawReply::Http(200, "<html><body>请先登录<div id=\"qr\"></div></body></html>");
    }
    if (listPage == "redirect") return test::RawReply::Redirect(302, market.BaseUrl() + "/member/login.jhtml?f=1");
    // A page that shows what it was sent, secrets included.
    return test::RawReply::Http(200, ReplaceAll(listPage, "COOKIES", r.Header("Cookie")));
  });
  const std::string saved = "无法读取已付款订单: 页面不是订单列表 (页面已保存: ";
  struct Row {
    const char* name;
    std::string page;
    std::string line;  // the pass's line, or its beginning
    std::string markers = {};  // [页面] lines for 部署配置.ini
  };
  const std::vector<Row> rows = {
      {"container only", "<div id=\"J_OrderList\"><table></table></div>", "未发现已付款订单"},
      {"title only", "<html><head><TITLE>已卖出的宝贝 - 等待发货</TITLE></head><body>无</body></html>", "未发现已付款订单"},
      {"table head only", "<table><thead class=\"h\"><tr><th>宝贝</th><th>交易状态</th></tr></thead></table>",
       "未发现已付款订单"},
      {"title configured", "<title>等待发货的宝贝</title>", "未发现已付款订单", "订单列表标题=等待发货的宝贝\r\n"},
      {"expired session, no password field", "redirect", "登录已失效 请重新登录淘宝"},
      {"none of them", "<title>安全验证</title><p>请拖动滑块</p><!-- COOKIES --><input name='_tb_token_' value='TOKEN42'>",
       saved},
      {"none of them, within the hour", "<title>安全验证</title>", "无法读取已付款订单: 页面不是订单列表"},
  };
  // Twenty pages kept by earlier runs, the newest two hours old: one more is saved and the oldest goes.
  const std::filesystem::path keptDir = dir_ / u8"诊断";
  std::filesystem::create_directory(keptDir);
  for (int i = 10; i < 30; ++i) {
    const std::filesystem::path old = keptDir / ("20000101-0000" + std::to_string(i) + "-order-list.html");
    test::WriteBytes(old, "old");
    std::filesystem::last_write_time(old, std::filesystem::file_time_type::clock::now() - std::chrono::hours(2));
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test::WriteBytes(DeploymentPath(dir_.path()), "[页面]\r\n" + row.markers + "[市场]\r\n物流主机=" + market.BaseUrl() +
                                                      "\r\n交易主机=" + market.BaseUrl() + "\r\n");
    deployment_ = LoadDeployment(DeploymentPath(dir_.path()));
    listPage = row.page;
    const std::size_t before = Messages(*log_).size();
    engine_->DeliveryRun();
    const std::vector<std::string> lines = MessagesSince(*log_, before);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(row.line, 0), 0u) << GbkToUtf8(lines[0]);
    if (row.line != saved) {
      EXPECT_EQ(lines[0], row.line);
    }
  }
  // One page saved, named in the line, readable by the owner only, its secrets taken out.
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(keptDir)) {
    if (entry.path().filename().string().rfind("2000", 0) != 0) files.push_back(entry.path());
  }
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(keptDir), std::filesystem::directory_iterator()), 20);
  EXPECT_FALSE(std::filesystem::exists(keptDir / "20000101-000010-order-list.html"));
  EXPECT_TRUE(std::filesystem::exists(keptDir / "20000101-000011-order-list.html"));
  EXPECT_TRUE(Logged(*log_, saved + PathText(files[0]) + ")"));
  EXPECT_EQ(std::filesystem::status(files[0]).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const std::string kept = test::ReadBytes(files[0]);
  EXPECT_NE(kept.find("请拖动滑块"), std::string::npos);
  EXPECT_NE(kept.find(market.BaseUrl() + "/user/order_list_new.htm"), std::string::npos);
  EXPECT_EQ(kept.find(sessionCookie), std::string::npos) << kept;
  EXPECT_EQ(kept.find("TOKEN42"), std::string::npos) << kept;
  EXPECT_NE(kept.find("cookie2=[已隐去]"), std::string::npos) << kept;
}

TEST_F(DeliveryEndToEnd, EscapedTitlesBuyersAndMessagesAreReadAsWritten) {
  UseSettings([](Settings& s) { s.deliverByMail = true; });
  const std::string title = "点卡&礼包 <\"至尊\"> 'VIP'";
  AddCards(title, {"H1"});
  // Markup in a message must not open a block of its own.
  const std::string message = "</span></tbody><tbody><span class=\"order-number\">订单编号：666</span> 发到 a&b@example.com";
  ASSERT_TRUE(sim_->AddOrder("9301", title, "1", "b<1>", message));
  const DeliverySummary summary = engine_->DeliveryRun();
  EXPECT_EQ(summary.listed, 1);
  EXPECT_EQ(summary.delivered, 1);
  ASSERT_EQ(mail_.sent.size(), 1u);
  EXPECT_EQ(mail_.sent[0].recipient, "b@example.com");
  const auto sent = Sent("9301");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][0], title);
  EXPECT_EQ(sent[0][2], "b%3C1%3E");  // the buyer id as the chat link writes it, percent-encoded
  EXPECT_EQ(sent[0][4], "H1");
  EXPECT_EQ(sim_->OrderStatus("9301"), "shipped");
}

TEST_F(DeliveryEndToEnd, AStoreThatFailsHoldsTheOrderAndIsNoShortage) {
  ListItems("点卡\r\n");
  AddCards("点卡", {"S1"});
  ASSERT_TRUE(sim_->AddOrder("9401", "点卡", "1", "b1"));
  {
    // Every page of the inventory but the first turned to garbage, and the change counter moved
    // so the open store reads them again.
    std::string bytes = test::ReadBytes(dir_ / kInventoryFileName);
    ASSERT_GT(bytes.size(), 4096u);
    std::fill(bytes.begin() + 4096, bytes.end(), '\xFF');
    bytes[27] = static_cast<char>(bytes[27] + 1);
    test::WriteBytes(dir_ / kInventoryFileName, bytes);
  }
  const DeliverySummary summary = engine_->DeliveryRun();
  EXPECT_EQ(summary.delivered, 0);
  const std::vector<std::string> m = Messages(*log_);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[1].rfind("订单编号:[9401] 卡密库读写失败 暂不发货: ", 0), 0u) << m[1];
  EXPECT_TRUE(notices_.outOfStock.empty());
  EXPECT_EQ(Blacklist(), "");
  EXPECT_EQ(sim_->OrderStatus("9401"), "paid");
}

TEST_F(DeliveryEndToEnd, CodesTakenByAnotherProcessMeanTheOrderIsHandled) {
  AddCards("点卡", {"T1", "T2"});
  ListItems("点卡\r\n");
  ASSERT_TRUE(sim_->AddOrder("9501", "点卡", "1", "b1"));
  // A record of the order under a status the run does not look for (another program's).
  ASSERT_EQ(stores_->TakeCards("点卡", 1, "9501", "b1", "1", "", "已退款", "t").size(), 1u);
  ASSERT_TRUE(stores_->TakeCards("点卡", 1, "9501", "b1", "1", "", "发货中", "t").empty());
  engine_->DeliveryRun();
  EXPECT_TRUE(Logged(*log_, "订单编号:[9501] 发现重复订单 自动跳过"));
  EXPECT_TRUE(notices_.outOfStock.empty());
  EXPECT_TRUE(desk_.messages.empty());
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 1);
}

TEST_F(DeliveryEndToEnd, AStopRequestEndsThePassBetweenOrders) {
  AddCards("点卡", {"X1", "X2", "X3"});
  ASSERT_TRUE(sim_->AddOrder("9601", "点卡", "1", "b1"));
  ASSERT_TRUE(sim_->AddOrder("9602", "点卡", "1", "b2"));
  ASSERT_TRUE(sim_->AddOrder("9603", "点卡", "1", "b3"));
  DeliveryEngine* self = nullptr;
  // The request comes while the first order is being finished.
  DeliveryEngine engine(deployment_, *stores_, dir_.path(), settings_, *log_, mail_, notices_, desk_,
                        [&] { self->RequestStop(); });
  self = &engine;
  engine.SetChatPollPause(std::chrono::milliseconds(5));
  EXPECT_EQ(engine.DeliveryRun().delivered, 1);
  EXPECT_EQ(Messages(*log_).back(), "收到退出请求 其余订单下次处理");
  EXPECT_EQ(sim_->OrderStatus("9601"), "shipped");
  EXPECT_EQ(sim_->OrderStatus("9602"), "paid");
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 2);

  // With empty shipment on, likewise: the request comes while the first order is marked shipped.
  UseSettings([](Settings& s) { s.deliverEmpty = true; });
  DeliveryEngine empty(deployment_, *stores_, dir_.path(), settings_, *log_, mail_, notices_, desk_);
  empty.SetAfterDurableStep([&](DurableStep step) {
    if (step == DurableStep::kConsign) empty.RequestStop();
  });
  const std::size_t before = Messages(*log_).size();
  EXPECT_EQ(empty.DeliveryRun().shipped, 1);
  EXPECT_EQ(MessagesSince(*log_, before), (std::vector<std::string>{"发现已付款订单 [2]个", "启动空发货",
                                                                    "收到退出请求 其余订单下次处理",
                                                                    "完成 共空发货订单 [1]个"}));
  EXPECT_EQ(sim_->OrderStatus("9602"), "shipped");
  EXPECT_EQ(sim_->OrderStatus("9603"), "paid");
}

// The seller's notices through the real notifier with only the group-chat robot ticked: the robot
// gets each notice as one JSON text message in UTF-8; a robot that refuses, answers 500 or is not
// there costs one log line naming its host (never its key) and holds no delivery.
TEST_F(DeliveryEndToEnd, TheGroupRobotGetsTheNoticesAndItsFailuresHoldNoDelivery) {
  struct NoUi : NoticeUi {
    void ShowTrayBalloon(const std::string&, const std::string&, int, int) override {}
    int ShowNotice(const std::string&, int, const std::string&) override { return 0; }
  } ui;
  Notices notices(settings_, *log_, ui, mail_, deployment_);
  DeliveryEngine engine(deployment_, *stores_, dir_.path(), settings_, *log_, mail_, notices, desk_);
  engine.SetChatPollPause(std::chrono::milliseconds(5));
  const std::string key = "grp-secret-key-0001";
  UseSettings([&](Settings& s) {
    s.robotAddress = " " + sim_->BaseUrl() + "/robot/send?key=" + key + " ";
    s.deliveredRobot = s.outOfStockRobot = true;
  });
  ASSERT_TRUE(sim_->SetRobotKey(key));
  AddCards("游戏点卡", {"R1", "R2", "R3", "R4", "R5"});
  ListItems("游戏点卡\r\n月卡\r\n");
  ASSERT_TRUE(sim_->AddOrder("2001", "游戏点卡", "1", "张三"));
  ASSERT_TRUE(sim_->AddOrder("2002", "月卡", "1", "李四"));  // listed, no codes: out of stock

  EXPECT_EQ(engine.DeliveryRun().delivered, 1);
  auto posted = sim_->RobotMessages();
  ASSERT_EQ(posted.size(), 2u);
  const std::string delivered =
      "【发货通知】宝贝名称:[游戏点卡]  订单编号:[2001]  购买数量:[1]  买家旺旺:[张三]  已经通过:[旺旺发送]发送宝贝";
  EXPECT_EQ(posted[0].content, delivered);
  EXPECT_EQ(posted[1].content, "【库存不足】宝贝名称: 月卡库存不足");
  for (const auto& m : posted) {
    EXPECT_EQ(m.key, key);
    EXPECT_EQ(m.errcode, 0);
    EXPECT_EQ(m.msgtype, "text");
    EXPECT_TRUE(m.validUtf8 && m.validJson);
    ASSERT_EQ(m.contentTypes.size(), 1u);
    EXPECT_EQ(m.contentTypes[0], "application/json; charset=utf-8");
  }
  const nlohmann::json body = nlohmann::json::parse(posted[0].body, nullptr, false);
  ASSERT_FALSE(body.is_discarded()) << posted[0].body;
  EXPECT_EQ(body, nlohmann::json::parse(R"({"msgtype":"text","text":{"content":")" + GbkToUtf8(delivered) + R"("}})"));
  UseSettings([](Settings& s) { s.outOfStockRobot = false; });

  // Each failure: one line, the order still delivered, recorded and shipped.
  test::RawHttpServer gone;
  const std::string goneAddress = gone.BaseUrl() + "/robot/send?key=" + key;
  gone.Stop();
  test::RawHttpServer moved;  // sends the post on elsewhere, where a bare GET is answered 200
  moved.Enqueue(test::RawReply::Redirect(302, moved.BaseUrl() + "/elsewhere"));
  moved.Enqueue(test::RawReply::Http(200, "{}"));
  struct Failure {
    std::string order;
    std::function<void()> arrange;
    std::string line;
  };
  const std::vector<Failure> failures = {
      {"2003", [&] { ASSERT_TRUE(sim_->SetRobotKey("another-group")); },
       "群机器人通知发送失败 [127.0.0.1] 群机器人拒绝了消息 errcode=93000 invalid webhook url, hint: [robot] key not found"},
      {"2004",
       [&] {
         test::SimFaults faults;
         faults.status500 = true;
         faults.paths = {"/robot/"};
         ASSERT_TRUE(sim_->SetFaults(faults));
       },
       "群机器人通知发送失败 [127.0.0.1] 群机器人服务返回状态500"},
      {"2005", [&] { UseSettings([&](Settings& s) { s.robotAddress = goneAddress; }); },
       "群机器人通知发送失败 [127.0.0.1] 无法连接服务器"},
      {"2006",
       [&] { UseSettings([&](Settings& s) { s.robotAddress = moved.BaseUrl() + "/robot/send?k=" + key; }); },
       "群机器人通知发送失败 [127.0.0.1] 群机器人服务把消息转到了别处 未确认送达"},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.order);
    f.arrange();
    ASSERT_TRUE(sim_->AddOrder(f.order, "游戏点卡", "1", "王五"));
    const std::size_t before = Messages(*log_).size();
    EXPECT_EQ(engine.DeliveryRun().delivered, 1);
    EXPECT_EQ(sim_->OrderStatus(f.order), "shipped");
    ASSERT_EQ(Sent(f.order).size(), 1u);
    EXPECT_EQ(Sent(f.order)[0][7], "旺旺发送");
    const auto lines = MessagesSince(*log_, before);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), f.line), 1) << ::testing::PrintToString(lines);
  }
  EXPECT_EQ(sim_->RobotMessages().size(), 3u);  // the refused one is recorded; the 500 is answered before
  EXPECT_EQ(log_->Text().find(key), std::string::npos);
}

// An item's threshold in 宝贝设置.ini, read at each order: the delivery that brings the stock to or
// below it warns once, with one activity line and the notice on the out-of-stock channels; deliveries
// below it do not; a restock above it arms the warning again. A reusable item never warns.
TEST_F(DeliveryEndToEnd, TheLowStockWarningComesOncePerCrossing) {
  struct Balloons : NoticeUi {
    std::vector<std::string> titles;
    void ShowTrayBalloon(const std::string& title, const std::string&, int, int) override { titles.push_back(title); }
    int ShowNotice(const std::string&, int, const std::string&) override { return 0; }
  } ui;
  Notices notices(settings_, *log_, ui, mail_, deployment_);
  DeliveryEngine engine(deployment_, *stores_, dir_.path(), settings_, *log_, mail_, notices, desk_);
  engine.SetChatPollPause(std::chrono::milliseconds(5));
  UseSettings([](Settings& s) {
    s.outOfStockSoftware = s.outOfStockMail = true;
    s.noticeMailbox = "seller@example.com";
  });
  auto setItem = [&](const std::string& item, ItemSetting setting) {
    ItemSettings file;
    ASSERT_TRUE(file.Load(dir_.path()));
    ASSERT_TRUE(file.Set(item, setting));
    ASSERT_TRUE(file.Save(dir_.path()));
  };
  setItem("游戏点卡", {false, 2});
  setItem("月卡", {true, 0});
  AddCards("游戏点卡", {"L1", "L2", "L3", "L4", "L5"});
  AddCards("月卡", {"M1"});
  AddCards("点卡", {"P1"});  // no threshold
  const std::string warning = "宝贝名称: 游戏点卡 库存预警 只剩[2]个";
  auto lowStockLines = [&] {
    std::vector<std::string> found;
    for (const std::string& m : Messages(*log_)) {
      if (m.find("库存预警") != std::string::npos) found.push_back(m);
    }
    return found;
  };

  // 5 -> 3 (above), -> 2 (the crossing), -> 1 (below already).
  ASSERT_TRUE(sim_->AddOrder("3001", "游戏点卡", "2", "b1"));
  ASSERT_TRUE(sim_->AddOrder("3002", "游戏点卡", "1", "b2"));
  ASSERT_TRUE(sim_->AddOrder("3003", "月卡", "1", "b3"));
  ASSERT_TRUE(sim_->AddOrder("3004", "点卡", "1", "b4"));
  ASSERT_TRUE(sim_->AddOrder("3005", "游戏点卡", "1", "b5"));
  EXPECT_EQ(engine.DeliveryRun().delivered, 5);
  EXPECT_EQ(lowStockLines(), std::vector<std::string>{warning});
  ASSERT_EQ(mail_.sent.size(), 1u);
  EXPECT_EQ(mail_.sent[0].recipient, "seller@example.com");
  EXPECT_EQ(mail_.sent[0].subject, "库存预警");
  EXPECT_EQ(mail_.sent[0].body, warning);
  EXPECT_EQ(ui.titles, std::vector<std::string>{"库存预警"});

  // Below the threshold: no warning. A restock to 4 and an order for 3: warned again, at 1.
  ASSERT_TRUE(sim_->AddOrder("3006", "游戏点卡", "1", "b6"));
  EXPECT_EQ(engine.DeliveryRun().delivered, 1);
  EXPECT_EQ(mail_.sent.size(), 1u);
  AddCards("游戏点卡", {"L6", "L7", "L8", "L9"});
  ASSERT_TRUE(sim_->AddOrder("3007", "游戏点卡", "3", "b7"));
  EXPECT_EQ(engine.DeliveryRun().delivered, 1);
  EXPECT_EQ(stores_->CountCardsOf("游戏点卡"), 1);
  EXPECT_EQ(lowStockLines(), (std::vector<std::string>{warning, "宝贝名称: 游戏点卡 库存预警 只剩[1]个"}));
  ASSERT_EQ(mail_.sent.size(), 2u);
  EXPECT_EQ(mail_.sent[1].body, "宝贝名称: 游戏点卡 库存预警 只剩[1]个");
  EXPECT_EQ(Sent("3007")[0][7], "旺旺发送");
}

// A pass that ends right after any durable write of an order, as a crash would, leaves the order
// to the next pass (a new engine on the stores opened afresh): it completes the order, and every
// code goes out exactly once. Mail delivery without a chat client, as the headless runner has.
class DeliveryCrashPoints : public DeliveryEndToEnd, public ::testing::WithParamInterface<DurableStep> {};

struct Crash {};

TEST_P(DeliveryCrashPoints, TheNextPassCompletesTheOrderWithNoCodeLostOrSentTwice) {
  UseSettings([](Settings& s) {
    s.deliverByChat = false;
    s.deliverByMail = true;
  });
  desk_.available = false;
  AddCards("点卡", {"K1", "K2", "K3", "K4"});
  ASSERT_TRUE(sim_->AddOrder("7101", "点卡", "2", "b1", "a@example.com"));
  ASSERT_TRUE(sim_->AddOrder("7102", "点卡", "1", "b2", "b@example.com"));
  bool crashed = false;
  engine_->SetAfterDurableStep([&](DurableStep step) {
    if (step != GetParam() || crashed) return;
    crashed = true;
    throw Crash{};
  });
  EXPECT_THROW(engine_->DeliveryRun(), Crash);

  engine_.reset();
  stores_.reset();
  StoreError error;
  stores_ = CardStores::Open(dir_.path(), &error);
  ASSERT_TRUE(stores_) << error.message;
  engine_ = std::make_unique<DeliveryEngine>(deployment_, *stores_, dir_.path(), settings_, *log_, mail_, notices_,
                                             desk_);
  engine_->DeliveryRun();

  const std::string thanks = "\r\n\r\n感谢您的购买\r\n\r\n";
  ASSERT_EQ(mail_.sent.size(), 2u);
  EXPECT_EQ(mail_.sent[0].recipient, "a@example.com");
  EXPECT_EQ(mail_.sent[0].body, thanks + "卡号: K1  卡密: SK1\r\n卡号: K2  卡密: SK2\r\n\r\n备注：");
  EXPECT_EQ(mail_.sent[1].recipient, "b@example.com");
  EXPECT_EQ(mail_.sent[1].body, thanks + "卡号: K3  卡密: SK3\r\n\r\n备注：");
  const std::pair<std::string, std::vector<std::string>> codes[] = {{"7101", {"K1", "K2"}}, {"7102", {"K3"}}};
  for (const auto& [order, expected] : codes) {
    std::vector<std::string> recorded;
    for (const auto& r : Sent(order)) {
      recorded.push_back(r[4]);
      EXPECT_EQ(r[7], "邮件发送") << order;
    }
    EXPECT_EQ(recorded, expected) << order;
    EXPECT_EQ(sim_->OrderStatus(order), "shipped") << order;
  }
  EXPECT_EQ(stores_->CountCardsOf("点卡"), 1);
  EXPECT_EQ(Blacklist(), "71017102");
  EXPECT_EQ(test::ReadBytes(HandledOrdersPath(dir_.path())), "0 7101\r\n4 7102\r\n");
  const auto consigns = sim_->Consigns();
  ASSERT_EQ(consigns.size(), 2u);
  EXPECT_EQ(consigns[0].orderId, "7101");
  EXPECT_EQ(consigns[1].orderId, "7102");
  for (const auto& c : consigns) EXPECT_TRUE(c.success) << c.reason;
}

std::string StepName(const ::testing::TestParamInfo<DurableStep>& step) {
  static const char* const kNames[] = {"CardsTaken", "Status", "HandledOrder", "Blacklist", "Consign"};
  return kNames[static_cast<int>(step.param)];
}

INSTANTIATE_TEST_SUITE_P(AfterEachWrite, DeliveryCrashPoints,
                         ::testing::Values(DurableStep::kCardsTaken, DurableStep::kStatus, DurableStep::kHandledOrder,
                                           DurableStep::kBlacklist, DurableStep::kConsign),
                         StepName);

}  // namespace
}  // namespace torvane
