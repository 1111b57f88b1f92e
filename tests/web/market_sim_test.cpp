// The simulator every marketplace, update and IM test talks to: its pages must carry the
// markers the client reads, its forms must refuse what the real service refuses, and its
// records must show exactly what was sent.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "../../tools/market-sim/json_fields.h"
#include "base/deployment.h"
#include "support/market_sim.h"
#include "support/process.h"
#include "support/temp_dir.h"
#include "base/text.h"

namespace torvane {
namespace {

using test::MarketSim;
using test::SimFaults;
using marketsim::Field;
using marketsim::Text;

// A tiny browser: one connection handle with its own cookie store, no redirects followed.
class Browser {
 public:
  struct Answer {
    bool ok = false;  // the exchange completed
    long status = 0;
    std::string headers;
    std::string body;
  };

  Browser() {
    curl_ = curl_easy_init();
    curl_easy_setopt(curl_, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 20L);
  }
  ~Browser() { curl_easy_cleanup(curl_); }

  Answer Get(const std::string& url, const std::vector<std::string>& headers = {}) {
    return Exchange(url, nullptr, headers);
  }
  Answer Post(const std::string& url, const std::string& body, const std::vector<std::string>& headers = {}) {
    return Exchange(url, &body, headers);
  }

 private:
  static std::size_t Collect(char* data, std::size_t size, std::size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
  }
  Answer Exchange(const std::string& url, const std::string* body, const std::vector<std::string>& headers) {
    Answer a;
    curl_slist* list = nullptr;
    for (const std::string& h : headers) list = curl_slist_append(list, h.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &a.body);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, Collect);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &a.headers);
    if (body) {
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body->c_str());
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
    } else {
      curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    }
    a.ok = curl_easy_perform(curl_) == CURLE_OK;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &a.status);
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(list);
    return a;
  }
  CURL* curl_;
};

class MarketSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = MarketSim::Start();
    ASSERT_NE(sim_, nullptr);
    base_ = sim_->BaseUrl();
  }

  std::string OrderListUrl() const {
    return base_ + "/user/order_list_new.htm?order_status_show=send&mytmenu=fh&utkn=k,m7wq2xrt5pnb8cv3ja4618273112233";
  }

  // Logs the browser in through the login form; the session's form token.
  std::string LogIn(Browser& browser) {
    auto login = browser.Post(base_ + "/member/login.jhtml", "TPL_username=seller&TPL_password=secret");
    EXPECT_EQ(login.status, 302);
    auto account = browser.Get(base_ + "/member/fresh/account_security.htm");
    return TextBetween(account.body, "<input name='_tb_token_' type='hidden' value='", "'>");
  }

  // The blocks the order scan would find.
  std::vector<std::string> OrderBlocks(Browser& browser) {
    auto page = browser.Get(OrderListUrl());
    return ExtractAllBetween(StripLineBreaks(page.body), "<tbody>", "</tbody>");
  }

  std::unique_ptr<MarketSim> sim_;
  std::string base_;
};

TEST_F(MarketSimTest, StartsOnAFreePortAndStopsOnShutdown) {
  EXPECT_GT(sim_->Port(), 0);
  EXPECT_EQ(base_, "http://127.0.0.1:" + std::to_string(sim_->Port()));
  auto second = MarketSim::Start();
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second->Port(), sim_->Port());

  pid_t pid = second->Pid();
  std::string secondBase = second->BaseUrl();
  EXPECT_TRUE(second->Shutdown());
  EXPECT_EQ(test::WaitProcess(pid, std::chrono::seconds(30)), 0) << "market-sim did not exit by itself";
  Browser browser;
  EXPECT_FALSE(browser.Get(secondBase + "/my_taobao.htm").ok);

  // Dropping the launcher stops and reaps the program.
  pid_t first = sim_->Pid();
  sim_.reset();
  EXPECT_EQ(kill(first, 0), -1);
  EXPECT_FALSE(browser.Get(base_ + "/my_taobao.htm").ok);
}

TEST(MarketSimDemo, AddsPaidOrdersUpToItsBound) {
  test::MarketSimOptions options;
  options.demo = true;
  options.demoIntervalMs = 10;
  options.demoOrders = 4;
  auto sim = MarketSim::Start(options);
  ASSERT_NE(sim, nullptr);
  marketsim::Json state;
  for (int i = 0; i < 500; ++i) {
    state = marketsim::Parse(sim->State(false));
    ASSERT_FALSE(state.is_discarded());
    if (Field(state, "orders").size() >= 4) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Well past the bound at this pace, still four.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  state = marketsim::Parse(sim->State(false));
  ASSERT_FALSE(state.is_discarded());
  const auto& orders = Field(state, "orders");
  ASSERT_EQ(orders.size(), 4u);
  for (const auto& o : orders) {
    EXPECT_EQ(Text(Field(o, "status")), "paid");
    std::int64_t quantity = LeadingNumber(Text(Field(o, "quantity")));
    EXPECT_GE(quantity, 1);
    EXPECT_LE(quantity, 3);
    EXPECT_FALSE(Text(Field(o, "title")).empty());
    EXPECT_EQ(Text(Field(o, "buyer")).rfind("buyer", 0), 0u);
  }
  // The demo seller logs in with the documented password.
  Browser browser;
  EXPECT_EQ(browser.Post(sim->BaseUrl() + "/member/login.jhtml", "TPL_username=demo&TPL_password=secret").status, 302);
}

TEST_F(MarketSimTest, LoginSetsCookiesAndUnlocksTheSellerPages) {
  ASSERT_TRUE(sim_->SetSeller("小店", "778899", "pw1"));
  ASSERT_TRUE(sim_->AddOrder("501", "点卡", "1", "buyer"));
  Browser browser;

  // Before any login: a login page without the markers.
  auto account = browser.Get(base_ + "/member/fresh/account_security.htm");
  EXPECT_EQ(FindText(account.body, "_tb_token_"), kNotFound);
  EXPECT_TRUE(OrderBlocks(browser).empty());

  auto wrong = browser.Post(base_ + "/member/login.jhtml", "TPL_username=seller&TPL_password=secret");
  EXPECT_EQ(wrong.status, 200);
  EXPECT_EQ(FindText(wrong.headers, "Set-Cookie"), kNotFound);

  auto login = browser.Post(base_ + "/member/login.jhtml?redirect_url=" + base_ + "/my_taobao.htm",
                            "TPL_username=seller&TPL_password=pw1");
  EXPECT_EQ(login.status, 302);
  EXPECT_TRUE(ContainsText(login.headers, "Set-Cookie: cookie2="));
  EXPECT_TRUE(ContainsText(login.headers, "Set-Cookie: _nk_=seller"));
  EXPECT_TRUE(ContainsText(login.headers, "Location: " + base_ + "/my_taobao.htm"));

  account = browser.Get(base_ + "/member/fresh/account_security.htm");
  std::string token = TextBetween(account.body, "<input name='_tb_token_' type='hidden' value='", "'>");
  EXPECT_FALSE(token.empty());
  EXPECT_EQ(TextBetween(account.body, "&userid=", "&"), "778899");
  EXPECT_EQ(OrderBlocks(browser).size(), 1u);

  // A fixed seller token is what every new login gets.
  ASSERT_TRUE(sim_->SetSeller("小店", "778899", "pw1", "TOK42"));
  Browser other;
  other.Post(base_ + "/member/login.jhtml", "TPL_username=x&TPL_password=pw1");
  EXPECT_EQ(TextBetween(other.Get(base_ + "/member/fresh/account_security.htm").body,
                        "<input name='_tb_token_' type='hidden' value='", "'>"),
            "TOK42");

  ASSERT_TRUE(sim_->ExpireLogin());
  EXPECT_TRUE(OrderBlocks(browser).empty());
  EXPECT_EQ(TextBetween(browser.Get(base_ + "/member/fresh/account_security.htm").body, "&userid=", "&"), "");
}

TEST_F(MarketSimTest, OrderListBlocksCarryEveryMarkerInArrivalOrder) {
  ASSERT_TRUE(sim_->AddOrders({{"9001", "QQ会员 一个月", "2", "买家甲", "请发到 a@example.com\r\n\t谢谢"},
                               {"9002", "点卡&礼包", "3 ", "b\"><x&y=1", ""},
                               {"9003", "网易一卡通", "1", "carol", "尽快"}}));
  Browser browser;
  LogIn(browser);
  auto blocks = OrderBlocks(browser);
  ASSERT_EQ(blocks.size(), 3u);

  const std::string& first = blocks[0];
  EXPECT_EQ(Trim(TextBetween(first, "<span class=\"order-number\">订单编号：", "</span>")), "9001");
  std::string titleText = Trim(TextBetween(first, "<a target=\"_blank\" title=\"名称：", "件\""));
  auto pieces = SplitText(titleText, " §数量：");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(Trim(pieces[0]), "QQ会员 一个月");
  EXPECT_EQ(Trim(pieces[1]), "2");
  std::string ww = Trim(TextBetween(first, "<span class=\"ww ww:token\"", "</li>"));
  EXPECT_EQ(Trim(TextBetween(ww, "nick=", "&")), "买家甲");
  std::string memo = Trim(TextBetween(first, "<label>买家留言：</label>", "</span>"));
  EXPECT_EQ(Trim(TextBetween(memo, "<span >", "&nbsp;")), "请发到 a@example.com谢谢");
  EXPECT_EQ(Trim(TextBetween(first, "class=\"btn\" href=\"", "\">发货</a>")), base_ + "/user/consign.htm?orderId=9001");

  // Markup characters are escaped as a real page has them; a block without a message has no message section.
  EXPECT_TRUE(ContainsText(blocks[1], "名称：点卡&amp;礼包 §数量：3 件\""));
  // A buyer id is escaped in the text and percent-encoded in the chat link: it cannot end either.
  EXPECT_TRUE(ContainsText(blocks[1], "<li class=\"nick\">b&quot;&gt;&lt;x&amp;y=1</li>"));
  EXPECT_TRUE(ContainsText(blocks[1], "&nick=b%22%3E%3Cx%26y%3D1&touid=b%22%3E%3Cx%26y%3D1&"));
  EXPECT_EQ(FindText(blocks[1], "买家留言"), kNotFound);
  EXPECT_EQ(Trim(TextBetween(blocks[2], "<span class=\"order-number\">订单编号：", "</span>")), "9003");

  // The raw page breaks fields over lines, so only the stripped text holds the joined message.
  auto raw = browser.Get(OrderListUrl());
  EXPECT_TRUE(ContainsText(raw.body, "\r\n"));
  EXPECT_EQ(sim_->OrderListTokens().back(), "k,m7wq2xrt5pnb8cv3ja4618273112233");
}

TEST_F(MarketSimTest, ConsignShipsOnlyWithTheSessionTokenAndMatchingOrder) {
  ASSERT_TRUE(sim_->AddOrder("7001", "点卡", "1", "b1"));
  ASSERT_TRUE(sim_->AddOrder("7002", "点卡", "1", "b2"));
  Browser browser;
  std::string token = LogIn(browser);
  ASSERT_FALSE(token.empty());
  const std::string link = base_ + "/user/consign.htm?orderId=7001";
  auto form = [](const std::string& t, const std::string& order) {
    return "source=&callUrl=&_tb_token_=" + t + "&mailNo=&companyCode=&orderId=" + order +
           "&flag=&province=%CB%F9&action=user%2Fconsign_action&event_submit_do_dummy=1";
  };

  auto badToken = browser.Post(link, form("wrong", "7001"));
  EXPECT_EQ(FindText(badToken.body, "恭喜您，操作成功"), kNotFound);
  auto emptyToken = browser.Post(link, form("", "7001"));
  EXPECT_EQ(FindText(emptyToken.body, "恭喜您，操作成功"), kNotFound);
  auto otherOrder = browser.Post(link, form(token, "7002"));
  EXPECT_EQ(FindText(otherOrder.body, "恭喜您，操作成功"), kNotFound);
  EXPECT_EQ(sim_->OrderStatus("7001"), "paid");
  EXPECT_EQ(sim_->OrderStatus("7002"), "paid");

  auto good = browser.Post(link, form(token, "7001"));
  EXPECT_TRUE(ContainsText(good.body, "恭喜您，操作成功"));
  EXPECT_EQ(sim_->OrderStatus("7001"), "shipped");
  auto blocks = OrderBlocks(browser);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_TRUE(ContainsText(blocks[0], "订单编号：7002"));

  // An order ships once; a second post is refused.
  auto again = browser.Post(link, form(token, "7001"));
  EXPECT_EQ(FindText(again.body, "恭喜您，操作成功"), kNotFound);

  auto consigns = sim_->Consigns();
  ASSERT_EQ(consigns.size(), 5u);
  EXPECT_FALSE(consigns[0].tokenValid);
  EXPECT_EQ(consigns[0].reason, "bad token");
  EXPECT_EQ(consigns[2].reason, "order mismatch");
  EXPECT_TRUE(consigns[3].success);
  EXPECT_EQ(consigns[3].body, form(token, "7001"));
  EXPECT_EQ(consigns[3].orderId, "7001");
  EXPECT_FALSE(consigns[4].success);

  // A post without a session is recorded and refused.
  Browser stranger;
  auto anonymous = stranger.Post(base_ + "/user/consign.htm?orderId=7002", form(token, "7002"));
  EXPECT_EQ(FindText(anonymous.body, "恭喜您，操作成功"), kNotFound);
  EXPECT_EQ(sim_->OrderStatus("7002"), "paid");
  EXPECT_FALSE(sim_->Consigns().back().loggedIn);
}

TEST_F(MarketSimTest, ShippedOrdersCanBeRatedOnceThroughTheRatingForm) {
  ASSERT_TRUE(sim_->SetSeller("好店", "5566", "secret", "T0K"));
  ASSERT_TRUE(sim_->AddSoldTrade("31", "魔兽点卡", "b"));
  Browser browser;
  LogIn(browser);
  const std::string prefix = base_ + "/remark_buyer.jhtml?tradeID=";
  auto soldBody = [](const std::string& seller) {
    return "event_submit_do_query=1&sellerNumID=" + seller + "&commentStatus=I_HAS_NOT_COMMENT&fromTag=true";
  };

  EXPECT_TRUE(ExtractAllBetween(browser.Post(base_ + "/trade/itemlist/list_sold_items.htm", soldBody("1")).body,
                                prefix, "\"")
                  .empty());
  auto ids = ExtractAllBetween(
      StripLineBreaks(browser.Post(base_ + "/trade/itemlist/list_sold_items.htm", soldBody("5566")).body), prefix,
      "\"");
  ASSERT_EQ(ids, std::vector<std::string>{"31"});

  std::string page = StripLineBreaks(browser.Get(prefix + "31").body);
  std::string token = TextBetween(page, "<input name='_tb_token_' type='hidden' value='", "'>");
  std::string r = TextBetween(page, "name=\"hiddRateIds\" value=\"", "\"");
  ASSERT_EQ(r, "31");
  EXPECT_EQ(token, "T0K");
  std::string picture = TextBetween(page, "name=\"auctionPictUrl" + r + "\" value=\"", "}\"");
  EXPECT_TRUE(picture.rfind("http://", 0) == 0);
  EXPECT_EQ(TextBetween(page, "name=\"auctionTitle" + r + "\" value=\"", "\""), "魔兽点卡");
  std::string endTime = TextBetween(page, "name=\"smallEndTime" + r + "}\" value=\"", "\"");
  EXPECT_FALSE(endTime.empty());
  EXPECT_EQ(TextBetween(page, "name=\"sellerId4Buyer\" value=\"", "\""), "5566");
  EXPECT_EQ(TextBetween(page, "name=\"sellerNick4Buyer\" value=\"", "\""), "好店");

  auto rating = [&](const std::string& rates) {
    return "_tb_token_=" + token + "&good-all=on&hiddRateIds=" + r + "&auctionPictUrl" + r + "=" + picture +
           "%7D&auctionTitle" + r + "=" + PercentEncodeGbk("魔兽点卡") + "&smallEndTime" + r +
           "%7D=" + PercentEncodeGbk(endTime) + "&rates" + r + "=" + rates + "&rateContents" + r + "=" +
           PercentEncodeGbk("好买家a") + "&tradeId=" + r + "&action=rate_action";
  };
  EXPECT_EQ(FindText(browser.Post(base_ + "/remarkBuyer.htm", rating("-1")).body, "信用评价成功"), kNotFound);
  EXPECT_FALSE(sim_->OrderRated("31"));
  EXPECT_TRUE(ContainsText(browser.Post(base_ + "/remarkBuyer.htm", rating("1")).body, "信用评价成功"));
  EXPECT_TRUE(sim_->OrderRated("31"));
  EXPECT_EQ(FindText(browser.Post(base_ + "/remarkBuyer.htm", rating("1")).body, "信用评价成功"), kNotFound);

  auto ratings = sim_->Ratings();
  ASSERT_EQ(ratings.size(), 3u);
  EXPECT_EQ(ratings[1].text, "好买家a");
  EXPECT_EQ(ratings[1].title, "魔兽点卡");
  EXPECT_EQ(ratings[1].endTime, endTime);
  EXPECT_EQ(ratings[1].pictureUrl, picture + "}");
  EXPECT_EQ(ratings[1].body, rating("1"));
  EXPECT_EQ(ratings[2].reason, "already rated");
  EXPECT_TRUE(ExtractAllBetween(browser.Post(base_ + "/trade/itemlist/list_sold_items.htm", soldBody("5566")).body,
                                prefix, "\"")
                  .empty());
}

TEST_F(MarketSimTest, ImServiceLogsInSendsToSelfAndLogsOut) {
  ASSERT_TRUE(sim_->SetImAccounts({{"13900000000", "pw"}}));
  Browser phone;
  auto wrong = phone.Post(base_ + "/im/login/inputpasssubmit1.action", "m=13900000000&pass=bad&loginstatus=4");
  EXPECT_EQ(FindText(wrong.body, "您正在登录中国移动WAP飞信,请稍候"), kNotFound);
  auto refused = phone.Post(base_ + "//im/user/sendMsgToMyselfs.action", "msg=%61");
  EXPECT_EQ(FindText(refused.body, "短信发送成功"), kNotFound);

  auto login = phone.Post(base_ + "/im/login/inputpasssubmit1.action", "m=13900000000&pass=pw&loginstatus=4");
  EXPECT_TRUE(ContainsText(login.body, "您正在登录中国移动WAP飞信,请稍候"));
  EXPECT_FALSE(TextBetween(login.body, "t=", "\"").empty());

  auto sent = phone.Post(base_ + "//im/user/sendMsgToMyselfs.action", "msg=" + PercentEncodeUtf8("库存不足\r\na"));
  EXPECT_TRUE(ContainsText(sent.body, "短信发送成功"));
  EXPECT_FALSE(ContainsText(phone.Post(base_ + "/im/user/sendTimingMsgToMyselfs.action", "timing=20261207&msg=%61").body,
                            "定时短信设置成功"));
  EXPECT_TRUE(ContainsText(
      phone.Post(base_ + "/im/user/sendTimingMsgToMyselfs.action", "timing=202612072300&msg=%61").body,
      "定时短信设置成功"));
  EXPECT_TRUE(ContainsText(phone.Post(base_ + "/im/user/editimpresaSubmit.action", "impresa=%61").body,
                           "修改心情短语成功"));

  phone.Post(base_ + "/im/index/logoutsubmit.action", "");
  auto afterLogout = phone.Post(base_ + "//im/user/sendMsgToMyselfs.action", "msg=%61");
  EXPECT_EQ(FindText(afterLogout.body, "短信发送成功"), kNotFound);

  auto sms = sim_->Sms();
  ASSERT_EQ(sms.size(), 5u);
  EXPECT_FALSE(sms[0].success);
  EXPECT_TRUE(sms[1].success);
  EXPECT_EQ(sms[1].account, "13900000000");
  EXPECT_EQ(sms[1].path, "//im/user/sendMsgToMyselfs.action");
  EXPECT_EQ(sms[1].text, "库存不足\r\na");
  EXPECT_EQ(sms[1].utf8Bytes, GbkToUtf8("库存不足\r\na"));
  EXPECT_EQ(sms[2].reason, "bad timing");
  EXPECT_TRUE(sms[3].timed);
  EXPECT_FALSE(sms[4].success);
  EXPECT_EQ(sim_->Count("imLogins"), 2u);
  EXPECT_EQ(sim_->Count("imLogouts"), 1u);
}

TEST_F(MarketSimTest, FaultsApplyToTheChosenPathsUntilCleared) {
  ASSERT_TRUE(sim_->AddOrder("8001", "点卡", "1", "b"));
  Browser browser;
  std::string token = LogIn(browser);

  SimFaults faults;
  faults.status500 = true;
  faults.paths = {"/user/"};
  ASSERT_TRUE(sim_->SetFaults(faults));
  EXPECT_EQ(browser.Get(OrderListUrl()).status, 500);
  auto consign = browser.Post(base_ + "/user/consign.htm?orderId=8001",
                              "_tb_token_=" + token + "&orderId=8001&event_submit_do_dummy=1");
  EXPECT_EQ(consign.status, 500);
  EXPECT_EQ(sim_->OrderStatus("8001"), "paid");  // a 500 answer handles nothing
  EXPECT_TRUE(ContainsText(browser.Get(base_ + "/member/fresh/account_security.htm").body, "_tb_token_"));

  faults = SimFaults{};
  faults.noMarkers = true;
  ASSERT_TRUE(sim_->SetFaults(faults));
  EXPECT_TRUE(OrderBlocks(browser).empty());

  faults = SimFaults{};
  faults.drop = true;
  ASSERT_TRUE(sim_->SetFaults(faults));
  EXPECT_FALSE(browser.Get(OrderListUrl()).ok);

  faults = SimFaults{};
  faults.truncate = true;
  ASSERT_TRUE(sim_->SetFaults(faults));
  auto truncated = browser.Get(OrderListUrl());
  EXPECT_TRUE(truncated.ok);
  EXPECT_EQ(FindText(truncated.body, "</html>"), kNotFound);

  ASSERT_TRUE(sim_->ClearFaults());
  EXPECT_EQ(OrderBlocks(browser).size(), 1u);

  // A counted fault hits only the next matching requests; others do not use it up.
  faults = SimFaults{};
  faults.status500 = true;
  faults.paths = {"/user/"};
  faults.times = 2;
  ASSERT_TRUE(sim_->SetFaults(faults));
  EXPECT_EQ(browser.Get(base_ + "/my_taobao.htm").status, 200);
  EXPECT_EQ(browser.Get(OrderListUrl()).status, 500);
  EXPECT_EQ(browser.Get(OrderListUrl()).status, 500);
  EXPECT_EQ(browser.Get(OrderListUrl()).status, 200);
  EXPECT_TRUE(ContainsText(browser.Post(base_ + "/user/consign.htm?orderId=8001",
                                        "_tb_token_=" + token + "&orderId=8001&event_submit_do_dummy=1")
                               .body,
                           "恭喜您，操作成功"));
}

TEST_F(MarketSimTest, UpdateNoticeAndDeploymentFilePointAtTheSimulator) {
  Browser browser;
  auto page = browser.Get(base_ + "/update.htm?112233");
  EXPECT_EQ(TextBetween(page.body, "==分类头==", "==分类尾=="), "1.8|" + base_ + "/download");
  ASSERT_TRUE(sim_->SetUpdateNotice("1.9", "http://example.invalid/new"));
  page = browser.Get(base_ + "/update.htm?445566");
  EXPECT_EQ(TextBetween(page.body, "==分类头==", "==分类尾=="), "1.9|http://example.invalid/new");
  EXPECT_EQ(sim_->UpdateQueries(), (std::vector<std::string>{"112233", "445566"}));

  test::TempDir dir;
  ASSERT_TRUE(sim_->WriteDeployment(dir.path()));
  Deployment d = LoadDeployment(DeploymentPath(dir.path()));
  for (const std::string* host : {&d.loginHost, &d.personalHost, &d.memberHost, &d.logisticsHost, &d.tradeHost, &d.rateHost})
    EXPECT_EQ(*host, base_);
  EXPECT_EQ(d.updateNoticePage, base_ + "/update.htm?");
  EXPECT_EQ(d.smsServiceAddress, base_);
}

TEST_F(MarketSimTest, AdminRefusesBadBatchesWhole) {
  ASSERT_TRUE(sim_->AddOrder("1", "a", "1", "b"));
  // A duplicate anywhere in the batch adds none of it.
  EXPECT_FALSE(sim_->AddOrders({{"2", "a", "1", "b", ""}, {"1", "a", "1", "b", ""}}));
  EXPECT_FALSE(sim_->AddOrders({{"3", "a", "1", "b", ""}, {"3", "a", "1", "b", ""}}));
  EXPECT_EQ(sim_->OrderStatus("2"), "");
  EXPECT_EQ(sim_->OrderStatus("3"), "");
  EXPECT_FALSE(sim_->AdminPost("/admin/orders", "[{\"orderNumber\":").has_value());
  EXPECT_FALSE(sim_->AdminPost("/admin/faults", "{\"slowMs\":-5}").has_value());
  ASSERT_TRUE(sim_->Reset());
  EXPECT_EQ(sim_->OrderStatus("1"), "");
}

TEST_F(MarketSimTest, AdminTakesOnlyItsOwnAddressAndJsonBodies) {
  // What a page in a browser on this machine could send: a form or text body, or the simulator's
  // port under another name (DNS rebinding).
  Browser browser;
  const std::string order = R"([{"orderNumber":"66","title":"a","quantity":"1","buyer":"b"}])";
  const std::string own = "Host: 127.0.0.1:" + std::to_string(sim_->Port());
  const std::string json = "Content-Type: application/json";
  const std::vector<std::vector<std::string>> refused = {
      {own},  // curl's default form type
      {own, "Content-Type: text/plain"},
      {own, "Content-Type: application/x-www-form-urlencoded"},
      {own, "Content-Type: application/jsonp"},
      {"Host: evil.example:" + std::to_string(sim_->Port()), json},
      {"Host: localhost:" + std::to_string(sim_->Port()), json},
      {"Host: 127.0.0.1", json},
  };
  for (const auto& headers : refused) {
    auto answer = browser.Post(base_ + "/admin/orders", order, headers);
    EXPECT_EQ(answer.status, 403) << headers.back();
  }
  EXPECT_EQ(browser.Get(base_ + "/admin/state", {"Host: evil.example"}).status, 403);
  EXPECT_EQ(browser.Post(base_ + "/admin/shutdown", "{}", {own, "Content-Type: text/plain"}).status, 403);
  EXPECT_EQ(sim_->OrderStatus("66"), "");

  EXPECT_EQ(browser.Post(base_ + "/admin/orders", order, {own, "Content-Type: Application/JSON; charset=utf-8"}).status,
            200);
  EXPECT_EQ(sim_->OrderStatus("66"), "paid");
  // The pages themselves answer under any name, as the marketplace does.
  EXPECT_EQ(browser.Get(base_ + "/my_taobao.htm", {"Host: i.taobao.com"}).status, 200);
}

}  // namespace
}  // namespace torvane
