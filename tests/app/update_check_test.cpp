#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "app/update_check.h"
#include "support/market_sim.h"
#include "support/raw_http_server.h"
#include "web/http.h"

using namespace torvane;
using torvane::test::RawHttpServer;
using torvane::test::RawReply;

namespace {

class UpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = CurrentWebConfig();
    WebConfig config;
    config.connectTimeoutSeconds = 2;
    config.totalTimeoutSeconds = 2;
    ConfigureWeb(config);
    deployment_.updateNoticePage = server_.BaseUrl() + "/update.htm?";
  }
  void TearDown() override { ConfigureWeb(saved_); }

  RawHttpServer server_;
  Deployment deployment_;

 private:
  WebConfig saved_;
};

class CountingUi : public UpdateUi {
 public:
  void ShowNewVersion() override { ++calls; }
  std::atomic<int> calls{0};
};

std::string Notice(std::string_view piece) { return "<p>公告</p>==分类头==" + std::string(piece) + "==分类尾==<p>end</p>"; }

}  // namespace


TEST_F(UpdateTest, SameVersionLeavesTheWindowAlone) {
  server_.Enqueue(RawReply::Http(200, Notice("1.8|https://dl.example.com/t.zip|")));
  CountingUi ui;
  EXPECT_EQ(CheckForUpdate(deployment_, ui), UpdateCheckOutcome::SameVersion);
  EXPECT_EQ(ui.calls, 0);
  EXPECT_EQ(PublishedVersion(), "1.8");
  EXPECT_EQ(DownloadAddress(), "https://dl.example.com/t.zip");
  EXPECT_EQ(SafeDownloadAddress(), "https://dl.example.com/t.zip");
}

TEST_F(UpdateTest, AnyOtherVersionTextAsksToUpdate) {
  for (std::string version : {"1.9", "1.7", "1.8 ", "\r\n1.8", "1.80"}) {
    server_.Enqueue(RawReply::Http(200, Notice(version + "|https://dl.example.com/new.exe")));
    CountingUi ui;
    EXPECT_EQ(CheckForUpdate(deployment_, ui), UpdateCheckOutcome::NewVersion) << version;
    EXPECT_EQ(ui.calls, 1) << version;
    EXPECT_EQ(PublishedVersion(), version);
    EXPECT_EQ(DownloadAddress(), "https://dl.example.com/new.exe");
  }
}

TEST_F(UpdateTest, AddressEndsWithThreeRandomPairs) {
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

TEST_F(UpdateTest, MissingOrShortNoticesChangeNothing) {
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

TEST_F(UpdateTest, FieldsFollowTheSplitRules) {
  // An empty version field still counts as a field; the download address is the second one.
  server_.Enqueue(RawReply::Http(200, Notice("|http://dl.example.com/a|extra|more")));
  CountingUi ui;
  EXPECT_EQ(CheckForUpdate(deployment_, ui), UpdateCheckOutcome::NewVersion);
  EXPECT_EQ(PublishedVersion(), "");
  EXPECT_EQ(DownloadAddress(), "http://dl.example.com/a");
}

TEST_F(UpdateTest, UnsafeDownloadAddressesAreNeverHandedOn) {
  CountingUi ui;
  for (std::string address : {"file:///etc/passwd", "C:\\Windows\\system32\\calc.exe", "/usr/bin/xterm",
                              "javascript:alert(1)", "http://dl.example.com/a b.zip", "http://dl.example.com/\x01x",
                              "http://", "https:///etc/passwd", "ftp://dl.example.com/t.zip", "http://x\"; rm -rf ~",
                              " http://dl.example.com/",
                              // plain http, which anyone on the path can answer with another program
                              "http://dl.example.com/t.zip", "http://127.0.0.1:8080/t.zip",
                              // user-info: the host is evil.example, whatever the text before "@" says
                              "http://www.example.com@evil.example/setup.exe",
                              "https://www.example.com@evil.example/setup.exe", "https://u:p@dl.example.com/t.zip",
                              "https://dl.example.com:99999/t.zip", "https://-dl.example.com/t.zip"}) {
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
  EXPECT_EQ(SafeDownloadAddress(), "") << "a plain http download is never opened, loopback included";
  ASSERT_TRUE(sim->SetUpdateNotice("2.0", "https://dl.example.com/torvane-2.0.zip"));
  EXPECT_EQ(CheckForUpdate(d, ui), UpdateCheckOutcome::NewVersion);
  EXPECT_EQ(SafeDownloadAddress(), "https://dl.example.com/torvane-2.0.zip");
  auto queries = sim->UpdateQueries();
  ASSERT_EQ(queries.size(), 3u);
  EXPECT_EQ(queries[0].size(), 6u);
}
