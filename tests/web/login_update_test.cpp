#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "shell/update_check.h"
#include "support/market_sim.h"
#include "support/raw_http_server.h"
#include "support/temp_dir.h"
#include "web/cookie_store.h"
#include "web/http.h"
#include "web/login_session.h"
#include "web/text.h"

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
    deployment_.updateNoticePage = server_.BaseUrl() + "/update.htm?";
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

class CountingUi : public UpdateUi {
 public:
  void ShowNewVersion() override { ++calls; }
  std::atomic<int> calls{0};
};

std::string Notice(std::string_view piece) { return "<p>公告</p>==分类头==" + std::string(piece) + "==分类尾==<p>end</p>"; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Login check

TEST_F(SessionTest, PageWithoutTokenClearsTheTokenAndKeepsTheUserId) {
  SetLoginValues("old-token", "123456");
  server_.Enqueue(RawReply::Http(200, AccountPage("", "999")));
  EXPECT_FALSE(CheckLoginSession(deployment_));
  EXPECT_EQ(FormToken(), "");
  EXPECT_EQ(SellerUserId(), "123456");
  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].requestLine, "GET /member/fresh/account_security.htm HTTP/1.1");
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

TEST_F(SessionTest, UnreachableMemberHostCountsAsAnExpiredLogin) {
  SetLoginValues("tok", "77");
  server_.Stop();
  EXPECT_FALSE(CheckLoginSession(deployment_));
  EXPECT_EQ(FormToken(), "");
  EXPECT_EQ(SellerUserId(), "77");
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

// ---------------------------------------------------------------------------------------------
// Update check

TEST_F(SessionTest, SameVersionLeavesTheWindowAlone) {
  server_.Enqueue(RawReply::Http(200, Notice("1.8|http://dl.example.com/t.zip|")));
  CountingUi ui;
  EXPECT_EQ(CheckForUpdate(deployment_, ui), UpdateCheckOutcome::SameVersion);
  EXPECT_EQ(ui.calls, 0);
  EXPECT_EQ(PublishedVersion(), "1.8");
  EXPECT_EQ(DownloadAddress(), "http://dl.example.com/t.zip");
  EXPECT_EQ(SafeDownloadAddress(), "http://dl.example.com/t.zip");
}

TEST_F(SessionTest, AnyOtherVersionTextAsksToUpdate) {
  for (std::string version : {"1.9", "1.7", "1.8 ", "\r\n1.8", "1.80"}) {
    server_.Enqueue(RawReply::Http(200, Notice(version + "|https://dl.example.com/new.exe")));
    CountingUi ui;
    EXPECT_EQ(CheckForUpdate(deployment_, ui), UpdateCheckOutcome::NewVersion) << version;
    EXPECT_EQ(ui.calls, 1) << version;
    EXPECT_EQ(PublishedVersion(), version);
    EXPECT_EQ(DownloadAddress(), "https://dl.example.com/new.exe");
  }
}

TEST_F(SessionTest, AddressEndsWithThreeRandomPairs) {
  for (int i = 0; i < 20; ++i) server_.Enqueue(RawReply::Http(200, ""));
  CountingUi ui;
  for (int i = 0; i < 20; ++i) CheckForUpdate(deployment_, ui);
  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 20u);
  for (const auto& request : r) {
    const std::string& line = request.requestLine;
    ASSERT_EQ(line.rfind("GET /update.htm?", 0), 0u) << line;
    std::string digits = line.substr(16, line.find(' ', 16) - 16);
    ASSERT_EQ(digits.size(), 6u) << line;
    for (int k = 0; k < 3; ++k) {
      int pair = std::stoi(digits.substr(2 * k, 2));
      EXPECT_GE(pair, 11);
      EXPECT_LE(pair, 99);
    }
  }
  EXPECT_EQ(UpdateNoticeAddress(deployment_).size(), deployment_.updateNoticePage.size() + 6);
}

TEST_F(SessionTest, MissingOrShortNoticesChangeNothing) {
  server_.Enqueue(RawReply::Http(200, Notice("1.8|http://dl.example.com/first")));
  CountingUi ui;
  ASSERT_EQ(CheckForUpdate(deployment_, ui), UpdateCheckOutcome::SameVersion);

  for (std::string page : {std::string("==分类头==2.0|http://x.example.com/|"), std::string("2.0|http://x|==分类尾=="),
                           Notice("2.0|"), Notice("2.0"), Notice(""), std::string()}) {
    server_.Enqueue(RawReply::Http(200, page));
    EXPECT_EQ(CheckForUpdate(deployment_, ui), UpdateCheckOutcome::NoNotice) << page;
  }
  server_.Stop();
  EXPECT_EQ(CheckForUpdate(deployment_, ui), UpdateCheckOutcome::NoNotice);
  EXPECT_EQ(ui.calls, 0);
  EXPECT_EQ(PublishedVersion(), "1.8");
  EXPECT_EQ(DownloadAddress(), "http://dl.example.com/first");
}

TEST_F(SessionTest, FieldsFollowTheSplitRules) {
  // An empty version field still counts as a field; the download address is the second one.
  server_.Enqueue(RawReply::Http(200, Notice("|http://dl.example.com/a|extra|more")));
  CountingUi ui;
  EXPECT_EQ(CheckForUpdate(deployment_, ui), UpdateCheckOutcome::NewVersion);
  EXPECT_EQ(PublishedVersion(), "");
  EXPECT_EQ(DownloadAddress(), "http://dl.example.com/a");
}

TEST_F(SessionTest, UnsafeDownloadAddressesAreNeverHandedOn) {
  CountingUi ui;
  for (std::string address : {"file:///etc/passwd", "C:\\Windows\\system32\\calc.exe", "/usr/bin/xterm",
                              "javascript:alert(1)", "http://dl.example.com/a b.zip", "http://dl.example.com/\x01x",
                              "http://", "https:///etc/passwd", "ftp://dl.example.com/t.zip", "http://x\"; rm -rf ~",
                              " http://dl.example.com/"}) {
    server_.Enqueue(RawReply::Http(200, Notice("9.9|" + address)));
    EXPECT_EQ(CheckForUpdate(deployment_, ui), UpdateCheckOutcome::NewVersion);
    EXPECT_EQ(DownloadAddress(), address);
    EXPECT_EQ(SafeDownloadAddress(), "") << address;
  }
  server_.Enqueue(RawReply::Http(200, Notice("9.9|HTTPS://dl.example.com:8443/torvane-1.9.zip?from=app")));
  CheckForUpdate(deployment_, ui);
  EXPECT_EQ(SafeDownloadAddress(), "HTTPS://dl.example.com:8443/torvane-1.9.zip?from=app");
}

TEST(UpdateWithMarket, NoticeOfTheSimulatedPage) {
  auto sim = test::MarketSim::Start();
  ASSERT_NE(sim, nullptr);
  Deployment d;
  d.updateNoticePage = sim->BaseUrl() + "/update.htm?";
  CountingUi ui;
  ASSERT_TRUE(sim->SetUpdateNotice("1.8", sim->BaseUrl() + "/download"));
  EXPECT_EQ(CheckForUpdate(d, ui), UpdateCheckOutcome::SameVersion);
  ASSERT_TRUE(sim->SetUpdateNotice("2.0", sim->BaseUrl() + "/download"));
  EXPECT_EQ(CheckForUpdate(d, ui), UpdateCheckOutcome::NewVersion);
  EXPECT_EQ(ui.calls, 1);
  EXPECT_EQ(SafeDownloadAddress(), sim->BaseUrl() + "/download");
  auto queries = sim->UpdateQueries();
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_EQ(queries[0].size(), 6u);
}
