#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/market_sim.h"
#include "support/raw_http_server.h"
#include "support/temp_dir.h"
#include "web/cookie_store.h"
#include "web/http.h"
#include "web/login_session.h"
#include "base/text.h"

using namespace torvane;
using torvane::test::RawHttpServer;
using torvane::test::RawReply;

namespace {

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = CurrentWebConfig();
    WebConfig config;
    config.connectTimeoutSeconds = 2;
    config.totalTimeoutSeconds = 2;
    ConfigureWeb(config);
    ClearCookies();
    SetLoginValues("", "");
    deployment_.memberHost = server_.BaseUrl();
  }
  void TearDown() override {
    ConfigureWeb(saved_);
    ClearCookies();
    SetLoginValues("", "");
  }

  RawHttpServer server_;
  Deployment deployment_;

 private:
  WebConfig saved_;
};

std::string AccountPage(std::string_view token, std::string_view userId) {
  std::string page = "<html><body>账户安全<form>";
  if (!token.empty()) page += "<input name='_tb_token_' type='hidden' value='" + std::string(token) + "'>";
  page += "</form>";
  if (!userId.empty()) page += "<a href=\"http://rate.example.com/rate.htm?x=1&userid=" + std::string(userId) + "&t=2\">";
  return page + "</body></html>";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Login check

// A check that reads no token (no login on the page, an error status, no answer) replaces neither value:
// a pass under way keeps the good token it has. The failure says why; a read alone never stores.
TEST_F(SessionTest, AFailedCheckKeepsTheValuesAndSaysWhy) {
  SetLoginValues("old-token", "123456");
  server_.Enqueue(RawReply::Http(200, AccountPage("", "999")));
  server_.Enqueue(RawReply::Http(500, AccountPage("bad", "888")));
  server_.Enqueue(RawReply::Http(200, AccountPage("fresh", "4242")));
  std::string failure;
  EXPECT_FALSE(CheckLoginSession(deployment_, &failure));
  EXPECT_EQ(failure, "账户页面没有登录信息 请重新登录淘宝");
  EXPECT_FALSE(CheckLoginSession(deployment_, &failure));
  EXPECT_EQ(failure, "账户页面返回 500");
  const LoginRead read = ReadLoginSession(deployment_);
  EXPECT_EQ(read.formToken, "fresh");
  EXPECT_EQ(read.sellerUserId, "4242");
  EXPECT_EQ(FormToken(), "old-token");
  EXPECT_EQ(SellerUserId(), "123456");
  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].requestLine, "GET /member/fresh/account_security.htm HTTP/1.1");
  server_.Stop();
  EXPECT_FALSE(CheckLoginSession(deployment_, &failure));
  EXPECT_EQ(failure.rfind("无法读取账户页面: ", 0), 0u) << failure;
  EXPECT_EQ(FormToken(), "old-token");
}

TEST_F(SessionTest, TokenWithoutUserIdGivesFalseAndAnEmptyUserId) {
  SetLoginValues("", "123456");
  server_.Enqueue(RawReply::Http(200, AccountPage("e1f2a3", "")));
  EXPECT_FALSE(CheckLoginSession(deployment_));
  EXPECT_EQ(FormToken(), "e1f2a3");
  EXPECT_EQ(SellerUserId(), "");
}

TEST_F(SessionTest, TokenAndUserIdAreBothTakenAndASecondCheckOverwritesThem) {
  server_.Enqueue(RawReply::Http(200, AccountPage("tok1", "1001")));
  server_.Enqueue(RawReply::Http(200, AccountPage("tok2", "2002")));
  EXPECT_TRUE(CheckLoginSession(deployment_));
  EXPECT_EQ(FormToken(), "tok1");
  EXPECT_EQ(SellerUserId(), "1001");
  EXPECT_TRUE(CheckLoginSession(deployment_));
  EXPECT_EQ(FormToken(), "tok2");
  EXPECT_EQ(SellerUserId(), "2002");
}

TEST(LoginPage, AddressCarriesTheKeysInOrder) {
  Deployment d;
  d.loginHost = "http://login.example.com";
  d.personalHost = "http://i.example.com";
  EXPECT_EQ(LoginPageAddress(d),
            "http://login.example.com/member/login.jhtml?is_ignore=true&from=onlinecs&style=minisimple"
            "&minititle=%C7%EB%CF%C8%B5%C7%C2%BD%CC%D4%B1%A6%A1%AATorvane"
            "&redirect_url=http://i.example.com/my_taobao.htm");
}

// The whole road against the simulated marketplace: a login leaves its cookies in the store, the check
// reads the token and user id with them, and the cookies survive a save and load.
TEST(SessionWithMarket, LoginCookiesCarryTheCheckAcrossARestart) {
  auto sim = test::MarketSim::Start();
  ASSERT_NE(sim, nullptr);
  ASSERT_TRUE(sim->SetSeller("卖家", "31415926", "secret", "abc123"));
  WebConfig saved = CurrentWebConfig();
  ClearCookies();
  SetLoginValues("", "");
  Deployment d;
  d.loginHost = d.personalHost = d.memberHost = sim->BaseUrl();

  EXPECT_FALSE(CheckLoginSession(d)) << "not logged in yet";
  std::string home = 网页_访问(LoginPageAddress(d), 1, "", "", "TPL_username=seller&TPL_password=secret");
  EXPECT_FALSE(home.empty());
  EXPECT_TRUE(CheckLoginSession(d));
  EXPECT_EQ(FormToken(), "abc123");
  EXPECT_EQ(SellerUserId(), "31415926");

  test::TempDir dir;
  ASSERT_TRUE(SaveCookies(dir.path()));
  ClearCookies();
  SetLoginValues("", "");
  EXPECT_FALSE(CheckLoginSession(d));
  ASSERT_TRUE(LoadCookies(dir.path()));
  EXPECT_TRUE(CheckLoginSession(d));
  EXPECT_EQ(FormToken(), "abc123");

  ClearCookies();
  SetLoginValues("", "");
  ConfigureWeb(saved);
}
