#include <gtest/gtest.h>

#include "notify/im_client.h"
#include "notify/test_buttons.h"
#include "support/market_sim.h"
#include "support/raw_http_server.h"
#include "base/text.h"

namespace torvane {
namespace {

using test::MarketSim;

TEST(Utf8FormEncode, EveryUtf8ByteIsWrittenAsUpperCaseHex) {
  EXPECT_EQ(Utf8FormEncode("a"), "%61");
  EXPECT_EQ(Utf8FormEncode("Az9"), "%41%7A%39");
  EXPECT_EQ(Utf8FormEncode("中"), "%E4%B8%AD");  // three groups, no byte-order mark before them
  EXPECT_EQ(Utf8FormEncode("\r\n"), "%0D%0A");
  EXPECT_EQ(Utf8FormEncode("\t"), "%09");
  EXPECT_EQ(Utf8FormEncode(""), "");
}

class ImClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = MarketSim::Start();
    ASSERT_NE(sim_, nullptr);
    ASSERT_TRUE(sim_->SetImAccounts({{"13800001111", "right-pw"}, {"13900002222", "p&w+d%1 x"}}));
  }
  ImClient NewClient() { return ImClient(sim_->BaseUrl(), 5, 10); }
  std::unique_ptr<MarketSim> sim_;
};

TEST_F(ImClientTest, LoginSendLogoutDeliversTheTextToTheOwnPhone) {
  ImClient client = NewClient();
  ASSERT_TRUE(client.Login("13800001111", "right-pw"));
  EXPECT_FALSE(client.token().empty());
  EXPECT_EQ(client.token().find('"'), std::string::npos);
  std::string text = "宝贝名称:[点卡]  订单编号:[1001]\r\n已经通过:[旺旺发送]发送宝贝";
  EXPECT_TRUE(client.SendToSelf(text));
  client.Logout();

  auto sms = sim_->Sms();
  ASSERT_EQ(sms.size(), 1u);
  EXPECT_EQ(sms[0].account, "13800001111");
  EXPECT_EQ(sms[0].path, "//im/user/sendMsgToMyselfs.action");  // the double slash reaches the service
  EXPECT_FALSE(sms[0].timed);
  EXPECT_TRUE(sms[0].validUtf8);
  EXPECT_EQ(sms[0].text, text);
  EXPECT_EQ(sms[0].body, "msg=" + Utf8FormEncode(text));
  EXPECT_EQ(sim_->Count("imLogins"), 1u);
  EXPECT_EQ(sim_->Count("imLogouts"), 1u);
  EXPECT_NE(sim_->State().find("\"loggedIn\":true"), std::string::npos) << sim_->State();
}

TEST_F(ImClientTest, WrongPasswordFailsLoginAndSendButLogoutStillRuns) {
  ImClient client = NewClient();
  EXPECT_FALSE(client.Login("13800001111", "wrong"));
  EXPECT_TRUE(client.token().empty());
  EXPECT_FALSE(client.lastRequestFailed());  // the service answered; it said no
  EXPECT_FALSE(client.SendToSelf("x"));
  client.Logout();
  EXPECT_EQ(sim_->Count("imLogins"), 1u);
  ASSERT_EQ(sim_->Sms().size(), 1u);
  EXPECT_FALSE(sim_->Sms()[0].success);
  EXPECT_EQ(sim_->Count("imLogouts"), 1u);
}

TEST_F(ImClientTest, BadStatusOrTimingIsRefusedWithoutARequest) {
  ImClient client = NewClient();
  EXPECT_FALSE(client.Login("13800001111", "right-pw", 0));
  EXPECT_FALSE(client.Login("13800001111", "right-pw", 5));
  EXPECT_EQ(sim_->Count("imLogins"), 0u);

  ASSERT_TRUE(client.Login("13800001111", "right-pw", 1));
  EXPECT_FALSE(client.SendToSelf("x", "20261207211"));    // 11 bytes
  EXPECT_FALSE(client.SendToSelf("x", "2026120721150"));  // 13 bytes
  EXPECT_TRUE(sim_->Sms().empty());
  EXPECT_TRUE(client.SendToSelf("定时", "202612072115"));
  auto sms = sim_->Sms();
  ASSERT_EQ(sms.size(), 1u);
  EXPECT_TRUE(sms[0].timed);
  EXPECT_EQ(sms[0].timing, "202612072115");
  EXPECT_EQ(sms[0].text, "定时");
  EXPECT_NE(sim_->State().find("\"loginstatus\":\"1\""), std::string::npos);
}

TEST_F(ImClientTest, EachClientKeepsItsOwnLogin) {
  ImClient first = NewClient();
  ImClient second = NewClient();
  ASSERT_TRUE(first.Login("13800001111", "right-pw"));
  EXPECT_FALSE(second.SendToSelf("from the other client"));
  EXPECT_TRUE(first.SendToSelf("from the logged-in client"));
  auto sms = sim_->Sms();
  ASSERT_EQ(sms.size(), 2u);
  EXPECT_FALSE(sms[0].success);
  EXPECT_TRUE(sms[1].success);
}

TEST_F(ImClientTest, PasswordWithFormCharactersReachesTheServiceIntact) {
  ImClient client = NewClient();
  EXPECT_TRUE(client.Login("13900002222", "p&w+d%1 x"));
  // A plain password still goes out exactly as typed.
  ImClient plain = NewClient();
  ASSERT_TRUE(plain.Login("13800001111", "right-pw"));
  EXPECT_NE(sim_->State().find("m=13800001111&pass=right-pw&loginstatus=4"), std::string::npos) << sim_->State();
}

TEST_F(ImClientTest, FurtherOperationsPostTheirFormsAndJudgeTheReply) {
  ImClient client = NewClient();
  ASSERT_TRUE(client.Login("13800001111", "right-pw"));
  EXPECT_TRUE(client.CreateGroup("客户"));
  EXPECT_TRUE(client.RenameGroup("7", "老客户"));
  EXPECT_TRUE(client.DeleteGroup("7"));
  EXPECT_TRUE(client.SendToContact("42", "你好", true));
  EXPECT_TRUE(client.SendToContact("42", "你好", false));
  EXPECT_TRUE(client.EditBirthday("1990", "5", "17"));
  EXPECT_TRUE(client.EditNickname("小店"));
  EXPECT_TRUE(client.EditMood("开心"));
  EXPECT_TRUE(client.SetLocalName("42", "老王"));
  EXPECT_TRUE(client.DeleteContact("7", "42"));
  EXPECT_EQ(client.SearchUsers("王"), ImSearchResult::kFound);
  EXPECT_EQ(client.SearchUsers(""), ImSearchResult::kNoMatch);
  EXPECT_NE(client.MyProfile().find("我的资料"), std::string::npos);
  EXPECT_NE(client.ListGroupContacts("7", 2).find("好友列表"), std::string::npos);

  std::string state = sim_->State();
  EXPECT_NE(state.find("year=1990&month=5&day=17"), std::string::npos) << state;
  EXPECT_NE(state.find("type=group&idContactList=7&page=2"), std::string::npos);
  EXPECT_NE(state.find("/im/chat/sendShortMsg.action"), std::string::npos);
  EXPECT_NE(state.find("touserid=42"), std::string::npos);
  EXPECT_NE(state.find("msg=" + Utf8FormEncode("老客户") + "&idContactList=7"), std::string::npos);

  // Logged out, the service answers with its login form and every judged operation fails.
  client.Logout();
  EXPECT_FALSE(client.CreateGroup("客户"));
  EXPECT_EQ(client.SearchUsers("王"), ImSearchResult::kUnknown);
}

TEST(ImRequest, PostHeadersInOrderAndUtf8ReplyBecomesGbk) {
  test::RawHttpServer server;
  server.Enqueue(test::RawReply::Http(200, GbkToUtf8("短信发送成功"), "Content-Type: text/html\r\n"));
  server.Enqueue(test::RawReply::Http(200, "短信发送成功", "Content-Type: text/html; charset=gb2312\r\n"));
  server.Enqueue(test::RawReply::Http(200, GbkToUtf8("好"), "Content-Type: text/html; charset=utf-8\r\n"));
  ImClient client(server.BaseUrl(), 5, 10);
  EXPECT_EQ(client.ImRequest(server.BaseUrl() + "/a", "POST", "k=v", "http://ref.test/"), "短信发送成功");
  EXPECT_EQ(client.ImRequest(server.BaseUrl() + "/b", "POST", "", ""), "短信发送成功");
  EXPECT_EQ(client.ImRequest(server.BaseUrl() + "/c"), "好");

  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  std::vector<std::string> names;
  for (const auto& line : requests[0].HeaderLines()) {
    std::string name = line.substr(0, line.find(':'));
    if (name == "Accept" || name == "Referer" || name == "Accept-Language" || name == "Content-Type") {
      names.push_back(line);
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Accept: */*", "Referer: http://ref.test/", "Accept-Language: zh-CN",
                                             "Content-Type: application/x-www-form-urlencoded"}));
  EXPECT_EQ(requests[0].body, "k=v");
  EXPECT_EQ(requests[0].requestLine, "POST /a HTTP/1.1");
  EXPECT_EQ(requests[1].HeaderCount("Referer"), 1);
  EXPECT_EQ(requests[2].requestLine, "GET /c HTTP/1.1");
  EXPECT_EQ(requests[2].HeaderCount("Accept-Language"), 0);
  EXPECT_EQ(requests[2].HeaderCount("Content-Type"), 0);
}

TEST(ImRequest, UnreachableServiceGivesEmptyRepliesAndFailedOperations) {
  test::RawHttpServer server;
  std::string base = server.BaseUrl();
  server.Stop();
  ImClient client(base, 2, 3);
  EXPECT_FALSE(client.Login("13800001111", "right-pw"));
  EXPECT_TRUE(client.lastRequestFailed());
  EXPECT_FALSE(client.SendToSelf("x"));
  EXPECT_EQ(client.ImRequest(base + "/x"), "");
}

TEST(ImRequest, RedirectsStayWithinTheServiceOrigin) {
  // A hostile answer to the login would send the account and password elsewhere.
  test::RawHttpServer service;
  test::RawHttpServer thief;
  const std::string servicePort = std::to_string(service.port());
  const std::string thiefPort = std::to_string(thief.port());
  struct Row {
    int status;
    std::string location;
    bool followed;
  };
  const Row rows[] = {
      {307, "http://127.0.0.1:" + thiefPort + "/im/login/inputpasssubmit1.action", false},
      {308, "http://localhost:" + servicePort + "/im/login/inputpasssubmit1.action", false},  // another host name
      {302, "ftp://127.0.0.1:" + thiefPort + "/x", false},
      {302, "https://127.0.0.1:" + servicePort + "/x", false},
      {302, "http://user:pw@127.0.0.1:" + servicePort + "/x", false},
      {307, "/im/login/again.action", true},  // the same origin: the form again
      {302, service.BaseUrl() + "/im/login/landing.action", true},
  };
  const std::string welcome = GbkToUtf8("您正在登录中国移动WAP飞信,请稍候 <a href=\"/im/index?t=TK\">");
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.status) + " to " + row.location);
    const std::size_t before = service.RequestCount();
    service.Enqueue(test::RawReply::Redirect(row.status, row.location));
    if (row.followed) service.Enqueue(test::RawReply::Http(200, welcome, "Content-Type: text/html\r\n"));
    ImClient client(service.BaseUrl(), 2, 5);
    EXPECT_EQ(client.Login("13800001111", "right-pw"), row.followed);
    EXPECT_EQ(client.lastRequestFailed(), !row.followed);
    EXPECT_EQ(service.RequestCount(), before + (row.followed ? 2 : 1));
  }
  EXPECT_EQ(thief.Connections(), 0);
  auto r = service.Requests();
  ASSERT_EQ(r.size(), 9u);
  EXPECT_EQ(r[6].requestLine, "POST /im/login/again.action HTTP/1.1");
  EXPECT_EQ(r[6].body, "m=13800001111&pass=right-pw&loginstatus=4");
  EXPECT_EQ(r[8].requestLine, "GET /im/login/landing.action HTTP/1.1");
  EXPECT_EQ(r[8].body, "");
}

class SmsButtonTest : public ImClientTest {
 protected:
  Deployment DeploymentFor(const std::string& base) {
    Deployment d;
    d.smsServiceAddress = base;
    d.connectTimeoutSeconds = 2;
    d.totalTimeoutSeconds = 5;
    return d;
  }
};

TEST_F(SmsButtonTest, EmptyAccountOrPasswordWarnsWithoutTouchingTheService) {
  Settings settings;
  settings.smsAccount = "13800001111";
  EXPECT_EQ(SendTestSms(settings, DeploymentFor(sim_->BaseUrl())),
            "再测试手机短信前 请一定先正确填写飞信账号和飞信密码");
  settings.smsAccount.clear();
  settings.smsPassword = "right-pw";
  EXPECT_EQ(SendTestSms(settings, DeploymentFor(sim_->BaseUrl())),
            "再测试手机短信前 请一定先正确填写飞信账号和飞信密码");
  EXPECT_EQ(sim_->Count("imLogins"), 0u);
  EXPECT_TRUE(sim_->Sms().empty());
}

TEST_F(SmsButtonTest, TellsSuccessOrWhyItFailed) {
  Settings settings;
  settings.smsAccount = "13800001111";
  settings.smsPassword = "right-pw";
  EXPECT_EQ(SendTestSms(settings, DeploymentFor(sim_->BaseUrl())),
            "短信已经发送,请仔细检查您的手机,如果发送失败,请确认您已经正确的填写了飞信账号和飞信密码");
  ASSERT_EQ(sim_->Sms().size(), 1u);
  EXPECT_EQ(sim_->Sms()[0].text, "Torvane短信通知测试");
  EXPECT_EQ(sim_->Count("imLogouts"), 1u);

  settings.smsPassword = "wrong";
  std::string refused = SendTestSms(settings, DeploymentFor(sim_->BaseUrl()));
  EXPECT_EQ(refused.rfind("短信发送失败", 0), 0u);
  EXPECT_NE(refused.find("登录失败"), std::string::npos) << GbkToUtf8(refused);
  EXPECT_EQ(sim_->Count("imLogouts"), 2u);  // three requests even when the login failed

  test::RawHttpServer gone;
  std::string base = gone.BaseUrl();
  gone.Stop();
  std::string unreachable = SendTestSms(settings, DeploymentFor(base));
  EXPECT_EQ(unreachable.rfind("短信发送失败", 0), 0u);
  EXPECT_NE(unreachable.find("无法连接"), std::string::npos) << GbkToUtf8(unreachable);
}

}  // namespace
}  // namespace torvane
