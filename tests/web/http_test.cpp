#include "web/http.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "notify/notify_interfaces.h"
#include "support/deadline.h"
#include "support/raw_http_server.h"
#include "support/temp_dir.h"
#include "web/cookie_store.h"
#include "app/update_check.h"
#include "base/deployment.h"
#include "base/text.h"
#include "base/web_address.h"
#include "delivery/empty_ship.h"
#include "notify/mail.h"

using namespace torvane;
using torvane::test::RawHttpServer;
using torvane::test::RawReply;

namespace {

const std::string kAccept =
    "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";
const std::string kAgent = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

class RecordingNotices : public NoticeUi {
 public:
  void ShowTrayBalloon(const std::string&, const std::string&, int, int) override {}
  int ShowNotice(const std::string& text, int style, const std::string& title) override {
    texts.push_back(text);
    titles.push_back(title);
    styles.push_back(style);
    return 0;
  }
  std::vector<std::string> texts, titles;
  std::vector<int> styles;
};

// Every test starts from the default settings with short time-outs and an empty cookie store.
class WebTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = CurrentWebConfig();
    WebConfig config;
    config.connectTimeoutSeconds = 2;
    config.totalTimeoutSeconds = 2;
    ConfigureWeb(config);
    ClearCookies();
  }
  void TearDown() override {
    ConfigureWeb(saved_);
    ClearCookies();
  }
  void SetMaxBody(std::size_t bytes) {
    WebConfig config = CurrentWebConfig();
    config.maxBodyBytes = bytes;
    ConfigureWeb(config);
  }

  RawHttpServer server_;

 private:
  WebConfig saved_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Address parts

// One reading of an address for every check and for the request itself: what a check approved is
// exactly where the request goes, and "this machine" is decided on the address, not on its text.
TEST(Addresses, OneReadingForEveryCheckAndTheRequest) {
  struct Row {
    const char* written;
    const char* connection;  // where the request goes; "" when every reader refuses the address
    bool loopback;
    const char* server;      // the host as a mail server setting would name it; nullptr: none
  };
  const Row rows[] = {
      {"HTTPS://Trade.Example.COM", "https://trade.example.com:443/", false, "SMTP.Example.COM"},
      {"https://trade.example.com:8443/x?a=1#f", "https://trade.example.com:8443/x?a=1", false, nullptr},
      {"\xA1\xA1 www.example.com/x y ", "http://www.example.com:80/x%20y", false, nullptr},  // no scheme: http
      {"http://trade.example.com:/x", "http://trade.example.com:80/x", false, nullptr},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080/", true, "127.0.0.1"},
      {"http://127.255.0.1/u?", "http://127.255.0.1:80/u?", true, "127.255.0.1"},
      {"HTTP://LOCALHOST:9/u?", "http://localhost:9/u?", true, "LocalHost"},
      {"http://[::1]:9", "http://[::1]:9/", true, "::1"},
      {"http://[0:0:0:0:0:0:0:1]", "http://[0:0:0:0:0:0:0:1]:80/", true, "[0::1]"},
      {"http://[::FFFF:127.0.0.1]", "http://[::ffff:127.0.0.1]:80/", false, "::ffff:127.0.0.1"},
      {"http://127.0.0.08", "", false, "127.0.0.08"},  // a leading zero: octal to some readers
      {"http://0177.0.0.1", "", false, "0177.0.0.1"},
      {"http://0x7f.0.0.1", "", false, "0x7f.0.0.1"},
      {"http://0x7F000001", "", false, "0X7F000001"},
      {"http://2130706433", "", false, "2130706433"},
      {"http://127.1", "", false, "127.1"},
      {"http://127.0.0.1.", "", false, "127.0.0.1."},
      {"http://[::1%25lo]", "", false, "::1%lo"},
      {"http://[1::2::3]", "", false, "1::2::3"},
      {"http://[::1", "", false, "[::1"},
      {"http://127.0.0.1.evil.example", "http://127.0.0.1.evil.example:80/", false, "127.0.0.1.evil.example"},
      {"http://localhost.evil.example", "http://localhost.evil.example:80/", false, "localhost.evil.example"},
      {"https://user:pw@trade.example.com", "", false, nullptr},
      {"http://127.0.0.1@evil.example", "", false, nullptr},
      {"ftp://127.0.0.1", "", false, nullptr},
      {"http://trade.example.com:99999", "", false, "smtp.example.com:25"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.written);
    const bool accepted = *row.connection != '\0';
    const bool secure = std::string_view(row.connection).starts_with("https:");

    // The request code.
    const std::optional<WebAddress> read = ReadRequestAddress(row.written);
    EXPECT_EQ(read && !read->hasUserInfo, accepted);
    if (read && accepted) {
      EXPECT_EQ(ConnectionAddressOf(*read), row.connection);
      EXPECT_EQ(IsLoopbackHost(read->host), row.loopback);
      EXPECT_EQ(HostOfUrl(row.written), read->host);
      EXPECT_EQ(PortOfUrl(row.written), read->port);
      EXPECT_EQ(FixedAddressesOf(read->host), read->host == "localhost" ? "127.0.0.1,[::1]" : "");
    }

    // The deployment check of every service address, and the update check's download address.
    Deployment deployment;
    deployment.tradeHost = Trim(row.written);
    std::string error;
    const bool schemeWritten = std::string_view(deployment.tradeHost).find("://") != std::string_view::npos;
    EXPECT_EQ(CheckDeploymentAddresses(deployment, &error), accepted && schemeWritten && (secure || row.loopback))
        << GbkToUtf8(error);
    EXPECT_EQ(IsSafeWebAddress(row.written), accepted && secure && schemeWritten &&
                                                 std::string_view(row.written).find(' ') == std::string_view::npos);

    // The mail server: cleartext only to this machine, by the check and by the sender itself.
    if (row.server == nullptr) continue;
    Deployment mail;
    mail.mail.server = row.server;
    mail.mail.encryption = MailEncryption::kNone;
    EXPECT_EQ(CheckDeploymentAddresses(mail, &error), row.loopback) << GbkToUtf8(error);
    EXPECT_EQ(IsLoopbackMailServer(row.server), row.loopback);
    mail.mail.encryption = MailEncryption::kStartTls;
    EXPECT_EQ(CheckDeploymentAddresses(mail, &error), accepted) << GbkToUtf8(error);
    if (!accepted) {
      const MailResult sent = SmtpMailSender(mail.mail, 1, 1).SendMail("buyer@example.com", "codes", "A1");
      EXPECT_EQ(sent.reason, std::string(kMailNoConnection) + ": " + row.server);
    }
    if (!row.loopback) {
      mail.mail.encryption = MailEncryption::kNone;
      const MailResult sent = SmtpMailSender(mail.mail, 1, 1).SendMail("buyer@example.com", "codes", "A1");
      EXPECT_FALSE(sent.accepted);
      EXPECT_EQ(sent.reason.rfind(std::string(kMailCleartextRefused), 0), 0u) << GbkToUtf8(sent.reason);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Requests as they arrive

TEST_F(WebTest, GetSendsExactlyTheFixedHeaders) {
  server_.Enqueue(RawReply::Http(200, "page body"));
  std::string url = server_.BaseUrl() + "/a/b.htm?x=1&y=%41";
  std::string headers;
  EXPECT_EQ(网页_访问(url, 0, "", "", "", 0, &headers), "page body");

  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  std::string expected = "GET /a/b.htm?x=1&y=%41 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_.port()) +
                         "\r\n" + kAgent + "\r\n" + kAccept + "\r\nReferer: " + url +
                         "\r\nAccept-Language: zh-cn\r\n\r\n";
  EXPECT_EQ(requests[0].raw, expected);
  EXPECT_EQ(headers.rfind("HTTP/1.1 200 Scripted\r\n", 0), 0u);
  EXPECT_NE(headers.find("Content-Length: 9\r\n"), std::string::npos);
}

TEST_F(WebTest, AddressWithBlanksAndWithoutSchemeIsNormalisedEverywhere) {
  server_.Enqueue(RawReply::Http(200, "one"));
  server_.Enqueue(RawReply::Http(200, "two"));
  std::string hostPort = "127.0.0.1:" + std::to_string(server_.port());
  EXPECT_EQ(网页_访问("\xA1\xA1  " + hostPort + "/q?k=v \xA1\xA1"), "one");
  EXPECT_EQ(网页_访问("  http://LOCALHOST:" + std::to_string(server_.port()) + "  "), "two");

  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].requestLine, "GET /q?k=v HTTP/1.1");
  EXPECT_EQ(requests[0].Header("Referer"), "http://" + hostPort + "/q?k=v");
  // Capital host without a path: lower-cased host, path "/".
  EXPECT_EQ(requests[1].requestLine, "GET / HTTP/1.1");
  EXPECT_EQ(requests[1].Header("Host"), "localhost:" + std::to_string(server_.port()));
  EXPECT_EQ(requests[1].Header("Referer"), "http://localhost:" + std::to_string(server_.port()) + "/");
}

// The callers request exactly what their checks read: a capitalised secure scheme is TLS on the given
// port (never plain text to a host named after the scheme), and "localhost" is this machine.
TEST_F(WebTest, CallersRequestTheAddressTheirChecksRead) {
  WebConfig config = CurrentWebConfig();
  config.totalTimeoutSeconds = 1;
  ConfigureWeb(config);
  const std::string port = std::to_string(server_.port());
  struct Ui : UpdateUi {
    void ShowNewVersion() override {}
  } ui;
  Deployment deployment;
  deployment.updateNoticePage = "HTTP://LOCALHOST:" + port + "/update.htm?";
  server_.Enqueue(RawReply::Http(200, "==分类头==0.0.0-test|https://www.example.com/new==分类尾=="));
  EXPECT_EQ(CheckForUpdate(deployment, ui), UpdateCheckOutcome::NewVersion);
  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].requestLine.rfind("GET /update.htm?", 0), 0u) << r[0].requestLine;
  EXPECT_EQ(r[0].Header("Host"), "localhost:" + port);

  // The plain server sees the TLS connection and no request: the form never travels in clear.
  deployment.tradeHost = "https://127.0.0.1:" + port;
  std::string refusal;
  EXPECT_FALSE(EmptyShipWithToken(deployment, "HTTPS://127.0.0.1:" + port + "/user/consign.htm?id=1", "1001",
                                  "T0KEN", &refusal));
  EXPECT_EQ(refusal, "") << GbkToUtf8(refusal);
  EXPECT_EQ(server_.Connections(), 2);
  EXPECT_EQ(server_.RequestCount(), 1u);

  // Not an address of this machine, nor one at all: refused before any lookup or connection.
  HttpRequest request;
  request.url = "http://127.0.0.08:" + port + "/";
  EXPECT_FALSE(WebRequest(request).ok);
  server_.Stop();
  EXPECT_EQ(server_.Connections(), 2);
}

TEST_F(WebTest, PostCarriesFormLinesAndBody) {
  server_.Enqueue(RawReply::Http(200, "done"));
  std::string url = server_.BaseUrl() + "/form.htm";
  std::string body = "a=%D6%D0&b=2";
  EXPECT_EQ(网页_访问(url, 1, "", "", body), "done");
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  std::string expected = "POST /form.htm HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_.port()) + "\r\n" +
                         kAgent + "\r\n" + kAccept + "\r\nReferer: " + url +
                         "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                         "Content-Length: 12\r\n\r\n" + body;
  EXPECT_EQ(requests[0].raw, expected);
}

TEST_F(WebTest, PostWithoutBodyHasNoFormLines) {
  server_.Enqueue(RawReply::Http(200, "ok"));
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/empty", 1), "ok");
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].requestLine, "POST /empty HTTP/1.1");
  EXPECT_EQ(requests[0].HeaderCount("Content-Type"), 0);
  EXPECT_EQ(requests[0].HeaderCount("Content-Length"), 0);
  EXPECT_EQ(requests[0].body, "");
}

TEST_F(WebTest, CallerHeadersSuppressOnlyTheirOwnDefaults) {
  server_.Enqueue(RawReply::Http(200, "a"));
  server_.Enqueue(RawReply::Http(200, "b"));
  server_.Enqueue(RawReply::Http(200, "c"));
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/1", 0, "", "accept-language: en-us\r\nX-Extra: 1\r\n"), "a");
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/2", 0, "", "Referer: http://elsewhere/\r\nACCEPT: text/html\r\n"), "b");
  // A last line without CR LF gets the first default joined onto it.
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/3", 0, "", "X-Last: 1"), "c");

  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].HeaderCount("Accept-Language"), 1);
  EXPECT_EQ(r[0].Header("Accept-Language"), "en-us");
  EXPECT_EQ(r[0].Header("X-Extra"), "1");
  EXPECT_EQ("Accept: " + r[0].Header("Accept"), kAccept);
  EXPECT_EQ(r[0].Header("Referer"), server_.BaseUrl() + "/1");

  EXPECT_EQ(r[1].HeaderCount("Referer"), 1);
  EXPECT_EQ(r[1].Header("Referer"), "http://elsewhere/");
  EXPECT_EQ(r[1].HeaderCount("Accept"), 1);
  EXPECT_EQ(r[1].Header("Accept"), "text/html");
  EXPECT_EQ(r[1].Header("Accept-Language"), "zh-cn");

  std::vector<std::string> lines = r[2].HeaderLines();
  bool joined = false;
  for (const auto& line : lines) joined = joined || line == "X-Last: 1" + kAccept;
  EXPECT_TRUE(joined);
  EXPECT_EQ(r[2].HeaderCount("Accept"), 0) << "curl must not add an Accept line of its own";
}

TEST_F(WebTest, WrongMethodShowsTheNoticeAndSendsNothing) {
  RecordingNotices notices;
  WebConfig config = CurrentWebConfig();
  config.notices = &notices;
  ConfigureWeb(config);

  std::string headers = "untouched";
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/x", 2, "", "", "a=b", 0, &headers), "");
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/x", -1), "");
  ASSERT_EQ(notices.texts.size(), 2u);
  EXPECT_EQ(notices.texts[0], "【网页_访问】命令的第二个【访问方式】参数有误,请返回修改");
  EXPECT_EQ(notices.titles[0], "友情提醒");
  EXPECT_EQ(notices.styles[0], 0);
  EXPECT_EQ(headers, "");
  server_.Stop();
  EXPECT_EQ(server_.Connections(), 0);
}

TEST_F(WebTest, BlankProxyIsDirectAndAProxyGetsTheAbsoluteAddress) {
  server_.Enqueue(RawReply::Http(200, "direct"));
  server_.Enqueue(RawReply::Http(200, "via proxy"));
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/d", 0, "   "), "direct");
  // The "proxy" is our server: the request line then carries the whole address of a host that does not exist.
  EXPECT_EQ(网页_访问("http://shop.invalid/p?q=1", 0, " 127.0.0.1:" + std::to_string(server_.port())), "via proxy");
  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].requestLine, "GET /d HTTP/1.1");
  EXPECT_EQ(r[1].requestLine, "GET http://shop.invalid/p?q=1 HTTP/1.1");
}

TEST_F(WebTest, SecureAddressGoesToItsOwnPortAndNeverFallsBackToPlainText) {
  WebConfig config = CurrentWebConfig();
  config.totalTimeoutSeconds = 1;
  ConfigureWeb(config);
  server_.Enqueue(RawReply::Http(200, "plain text answer"));
  HttpRequest request;
  request.url = "https://127.0.0.1:" + std::to_string(server_.port()) + "/secure";
  request.proxy = "127.0.0.1:1";  // an http proxy list does not apply to secure addresses
  HttpResult result = WebRequest(request);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.body, "");
  EXPECT_EQ(server_.Connections(), 1) << "the given port is used, not 443 or 80, and not through the proxy";
  EXPECT_EQ(server_.RequestCount(), 0u) << "no plain-text request on a secure address";
}

TEST_F(WebTest, UnusableAddressesFailWithoutTraffic) {
  HttpRequest bad;
  bad.url = server_.BaseUrl() + "/x\r\nX-Injected: 1";
  HttpResult result = WebRequest(bad);
  EXPECT_FALSE(result.ok);
  bad.url = "http:///nohost";
  EXPECT_FALSE(WebRequest(bad).ok);
  bad.url = "http://bad host/";
  EXPECT_FALSE(WebRequest(bad).ok);
  bad.url = "http://seller:pw@127.0.0.1:" + std::to_string(server_.port()) + "/";
  EXPECT_FALSE(WebRequest(bad).ok);
  server_.Stop();
  EXPECT_EQ(server_.Connections(), 0);
}

TEST_F(WebTest, PathBytesThatCannotTravelRawAreEscaped) {
  server_.Enqueue(RawReply::Http(200, "ok"));
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/s?q=\xD6\xD0 x#frag"), "ok");
  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].requestLine, "GET /s?q=%D6%D0%20x HTTP/1.1");
}

// ---------------------------------------------------------------------------------------------
// Responses

TEST_F(WebTest, RedirectsAreFollowedAndEveryHeaderBlockKept) {
  server_.Enqueue(RawReply::Redirect(302, "/second"));
  server_.Enqueue(RawReply::Redirect(301, server_.BaseUrl() + "/third"));
  server_.Enqueue(RawReply::Http(200, "final"));
  HttpRequest request;
  request.url = server_.BaseUrl() + "/first";
  HttpResult result = WebRequest(request);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.status, 200);
  EXPECT_EQ(result.body, "final");
  EXPECT_EQ(result.finalUrl, server_.BaseUrl() + "/third");
  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[1].requestLine, "GET /second HTTP/1.1");
  EXPECT_EQ(r[2].requestLine, "GET /third HTTP/1.1");
  EXPECT_EQ(result.rawHeaders.find("HTTP/1.1 302"), 0u);
  EXPECT_NE(result.rawHeaders.find("\r\n\r\nHTTP/1.1 301"), std::string::npos);
  EXPECT_NE(result.rawHeaders.find("\r\n\r\nHTTP/1.1 200"), std::string::npos);
}

TEST_F(WebTest, PostRedirectedBy302BecomesAPlainGetBut307KeepsTheForm) {
  server_.Enqueue(RawReply::Redirect(302, "/after"));
  server_.Enqueue(RawReply::Http(200, "got"));
  server_.Enqueue(RawReply::Redirect(307, "/again"));
  server_.Enqueue(RawReply::Http(200, "posted"));
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/form", 1, "", "", "x=1"), "got");
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/form", 1, "", "", "y=2"), "posted");
  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[1].requestLine, "GET /after HTTP/1.1");
  EXPECT_EQ(r[1].HeaderCount("Content-Length"), 0);
  EXPECT_EQ(r[1].HeaderCount("Content-Type"), 0);
  EXPECT_EQ(r[1].body, "");
  EXPECT_EQ(r[3].requestLine, "POST /again HTTP/1.1");
  EXPECT_EQ(r[3].body, "y=2");
}

TEST_F(WebTest, EndlessRedirectsEndInFailure) {
  server_.SetHandler([](const test::RecordedRequest&) { return RawReply::Redirect(302, "/loop"); });
  HttpRequest request;
  request.url = server_.BaseUrl() + "/loop";
  HttpResult result = WebRequest(request);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(网页_访问(request.url), "");
  EXPECT_LT(server_.RequestCount(), 50u);
}

TEST_F(WebTest, ErrorStatusBodiesAreReturnedLikeAnyOther) {
  server_.Enqueue(RawReply::Http(500, "server trouble"));
  HttpRequest request;
  request.url = server_.BaseUrl() + "/e";
  HttpResult result = WebRequest(request);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.status, 500);
  EXPECT_EQ(result.body, "server trouble");
}

TEST_F(WebTest, ZeroBytesStayInTheBodyButEndThePageText) {
  std::string body("before\0after", 12);
  server_.Enqueue(RawReply::Http(200, body));
  server_.Enqueue(RawReply::Http(200, body));
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/z"), body);
  EXPECT_EQ(FetchPageText(server_.BaseUrl() + "/z"), "before");
}

TEST_F(WebTest, PageEncodingsConvertToGbk) {
  server_.Enqueue(RawReply::Http(200, "\xE4\xB8\xAD\xE6\x96\x87 ok"));       // UTF-8
  server_.Enqueue(RawReply::Http(200, "\xA4\xA4\xA4\xE5\xC5\xE9"));          // Big5, 體 traditional
  server_.Enqueue(RawReply::Http(200, std::string("\xE4\xB8\xAD\0tail", 8)));  // cut at the zero byte
  server_.Enqueue(RawReply::Http(200, "ok\xFF\xFE" "end"));                  // not UTF-8 at all
  server_.Enqueue(RawReply::Http(200, "plain ascii"));
  std::string base = server_.BaseUrl();
  EXPECT_EQ(网页_访问(base + "/u", 0, "", "", "", 1), "中文 ok");
  EXPECT_EQ(网页_访问(base + "/b", 0, "", "", "", 2), "中文体");
  EXPECT_EQ(网页_访问(base + "/z", 0, "", "", "", 1), "中");
  EXPECT_EQ(网页_访问(base + "/i", 0, "", "", "", 1), "ok??end");
  EXPECT_EQ(网页_访问(base + "/a", 0, "", "", "", 7), "plain ascii") << "unknown encodings leave the body alone";
}

// ---------------------------------------------------------------------------------------------
// Limits

TEST_F(WebTest, ServerThatNeverAnswersEndsInATimeout) {
  WebConfig config = CurrentWebConfig();
  config.totalTimeoutSeconds = 1;
  ConfigureWeb(config);
  RawReply silent;
  silent.neverAnswer = true;
  server_.Enqueue(silent);
  HttpRequest request;
  request.url = server_.BaseUrl() + "/silent";
  HttpResult result = WebRequest(request);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.timedOut);
  EXPECT_FALSE(result.error.empty());
  EXPECT_EQ(result.body, "");
}

TEST_F(WebTest, TricklingServerEndsInATimeoutAndAnEmptyResult) {
  WebConfig config = CurrentWebConfig();
  config.totalTimeoutSeconds = 1;
  ConfigureWeb(config);
  RawReply slow;
  slow.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n";
  slow.streamBytes = 1000;
  slow.chunkSize = 1;
  slow.pauseMsBetweenChunks = 100;
  server_.Enqueue(slow);
  HttpRequest request;
  request.url = server_.BaseUrl() + "/slow";
  HttpResult result = WebRequest(request);
  EXPECT_TRUE(result.timedOut);
  EXPECT_FALSE(result.body.size() >= 1000);
  server_.Enqueue(slow);
  EXPECT_EQ(网页_访问(request.url), "") << "a partial page is never handed on as if it were whole";
}

TEST_F(WebTest, TruncatedBodyIsAFailure) {
  RawReply cut;
  cut.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nonly part";
  server_.Enqueue(cut);
  HttpRequest request;
  request.url = server_.BaseUrl() + "/cut";
  HttpResult result = WebRequest(request);
  EXPECT_FALSE(result.ok);
  EXPECT_FALSE(result.timedOut);
}

TEST_F(WebTest, BodiesBeyondTheCapAreRefused) {
  SetMaxBody(1u << 20);
  RawReply huge;  // 100 MB streamed without a length, until the client leaves
  huge.bytes = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
  huge.streamBytes = 100ull << 20;
  server_.Enqueue(huge);
  RawReply announced;  // a length announced up front
  announced.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n";
  announced.streamBytes = 100ull << 20;
  server_.Enqueue(announced);
  RawReply exact;
  exact.bytes = "HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n";
  exact.streamBytes = 1u << 20;
  server_.Enqueue(exact);

  HttpRequest request;
  request.url = server_.BaseUrl() + "/big";
  HttpResult streamed = WebRequest(request);
  EXPECT_FALSE(streamed.ok);
  EXPECT_TRUE(streamed.bodyTooLarge);
  EXPECT_EQ(streamed.body, "");
  HttpResult early = WebRequest(request);
  EXPECT_FALSE(early.ok);
  EXPECT_TRUE(early.bodyTooLarge);
  HttpResult fits = WebRequest(request);
  EXPECT_TRUE(fits.ok);
  EXPECT_EQ(fits.body.size(), 1u << 20);
}

TEST_F(WebTest, DefaultCapStopsABodyLargerThan64Megabytes) {
  SetMaxBody(WebConfig{}.maxBodyBytes);
  RawReply huge;
  huge.bytes = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
  huge.streamBytes = (64ull << 20) + 1;
  server_.Enqueue(huge);
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/big"), "");
}

TEST_F(WebTest, RedirectsNeverCarryTheFormCookiesOrRefererToAnotherOrigin) {
  // The shop's server (server_) has set a session cookie; a hostile answer sends the request on to
  // another origin: another port, or another host name of this machine (localhost).
  RawHttpServer thief;
  const std::string thiefPort = std::to_string(thief.port());
  ASSERT_TRUE(StoreSetCookie("127.0.0.1", "session=s1"));
  struct Row {
    int method;
    int status;
    std::string location;
    bool followed;
  };
  const Row rows[] = {
      {1, 307, "http://127.0.0.1:" + thiefPort + "/steal", false},
      {1, 308, "http://localhost:" + thiefPort + "/steal", false},
      {1, 307, "https://127.0.0.1:" + std::to_string(server_.port()) + "/steal", false},  // another scheme
      {1, 302, "http://localhost:" + thiefPort + "/landing", true},   // the form stays behind
      {1, 301, "http://localhost:" + thiefPort + "/landing", true},
      {1, 303, "http://localhost:" + thiefPort + "/landing", true},
      {1, 302, "http://127.0.0.1:" + thiefPort + "/landing", true},   // the same host, another port
      {0, 301, "http://localhost:" + thiefPort + "/landing", true},
      {0, 302, "ftp://127.0.0.1:" + thiefPort + "/x", false},
      {0, 302, "file:///etc/passwd", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.status) + " to " + row.location);
    const std::size_t before = thief.RequestCount();
    const int connectionsBefore = thief.Connections();
    server_.Enqueue(RawReply::Redirect(row.status, row.location));
    if (row.followed) thief.Enqueue(RawReply::Http(200, "landed"));
    HttpRequest request;
    request.url = server_.BaseUrl() + "/consign";
    request.method = row.method;
    request.postData = "_tb_token_=T0KEN&mobile=13800138000";
    request.extraHeaders = "Cookie: extra=1\r\nAuthorization: Basic c2VsbGVyOnB3\r\n";
    HttpResult result = WebRequest(request);
    if (!row.followed) {
      EXPECT_FALSE(result.ok);
      EXPECT_FALSE(result.error.empty());
      EXPECT_EQ(thief.Connections(), connectionsBefore);
      continue;
    }
    EXPECT_TRUE(result.ok) << GbkToUtf8(result.error);
    EXPECT_EQ(result.body, "landed");
    auto r = thief.Requests();
    ASSERT_EQ(r.size(), before + 1);
    const auto& landed = r.back();
    EXPECT_EQ(landed.requestLine, "GET /landing HTTP/1.1");
    EXPECT_EQ(landed.body, "");
    for (const char* header : {"Content-Type", "Content-Length", "Referer", "Authorization"}) {
      EXPECT_EQ(landed.HeaderCount(header), 0) << header << ": " << landed.head;
    }
    // The store's cookies of a host go to its every port, as cookies do; the caller's line never does.
    if (row.location.find("//127.0.0.1:") != std::string::npos) {
      EXPECT_EQ(landed.Header("Cookie"), "session=s1") << landed.head;
    } else {
      EXPECT_EQ(landed.HeaderCount("Cookie"), 0) << landed.head;
    }
  }
}

TEST_F(WebTest, SameOriginRedirectKeepsRefererAndCookies) {
  ASSERT_TRUE(StoreSetCookie("127.0.0.1", "session=s1"));
  server_.Enqueue(RawReply::Redirect(302, "/next"));
  server_.Enqueue(RawReply::Http(200, "here"));
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/first?q=1"), "here");
  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].Header("Referer"), server_.BaseUrl() + "/first?q=1");
  EXPECT_EQ(r[1].Header("Cookie"), "session=s1");
}

// The caller's Cookie, Authorization and Referer lines stay with the origin they were written for: another
// scheme or port of the same host is another origin.
TEST(Redirects, CallerLinesStayWithTheirOrigin) {
  const std::string lines = "Cookie: extra=1\r\nAuthorization: Basic c2VsbGVyOnB3\r\nReferer: http://shop.example.com/a\r\n"
                            "X-Other: 1\r\n";
  const WebAddress first = *ParseWebAddress("http://shop.example.com/a");
  const std::pair<const char*, std::string> rows[] = {
      {"HTTP://Shop.Example.com:80/b", lines},
      {"https://shop.example.com/b", "X-Other: 1\r\n"},
      {"https://shop.example.com:80/b", "X-Other: 1\r\n"},
      {"http://shop.example.com:8080/b", "X-Other: 1\r\n"},
      {"http://other.example.com/b", "X-Other: 1\r\n"},
  };
  for (const auto& [hop, kept] : rows) {
    EXPECT_EQ(CallerHeadersForHop(lines, first, *ParseWebAddress(hop)), kept) << hop;
  }
}

TEST(Redirects, RefusedOnesByOriginAndScheme) {
  struct Row {
    const char* from;
    const char* to;
    bool keepsForm;
    bool followed;
  };
  const Row rows[] = {
      {"https://trade.example.com/a", "http://trade.example.com/b", false, false},  // never down to plain text
      {"https://trade.example.com/a", "https://other.example.com/b", false, true},
      {"http://trade.example.com/a", "https://trade.example.com/b", false, true},
      {"https://trade.example.com/a", "https://trade.example.com:443/b", true, true},  // the same origin
      {"https://trade.example.com/a", "https://trade.example.com:8443/b", true, false},
      {"https://trade.example.com/a", "https://TRADE.example.com/b", true, true},
      {"https://trade.example.com/a", "https://evil.example/b", true, false},
      {"http://127.0.0.1:80/a", "http://127.0.0.1/b", true, true},
      {"http://127.0.0.1:80/a", "ftp://127.0.0.1/b", false, false},
      {"http://127.0.0.1:80/a", "javascript:alert(1)", false, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RedirectRefusal(row.from, row.to, row.keepsForm).empty(), row.followed)
        << row.from << " -> " << row.to << (row.keepsForm ? " with the form" : "");
  }
}

// ---------------------------------------------------------------------------------------------
// Cookies

TEST_F(WebTest, CookiesSetByOneResponseTravelWithTheNextRequestOnAnotherThread) {
  server_.Enqueue(RawReply::Http(200, "set", "Set-Cookie: cookie2=abc; Path=/\r\nset-cookie: _nk_=%D6%D0\r\n"));
  server_.Enqueue(RawReply::Http(200, "sent"));
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/login"), "set");
  std::string second;
  std::vector<std::thread> other;
  other.emplace_back([&] { second = 网页_访问(server_.BaseUrl() + "/member/x.htm"); });
  torvane::test::JoinWithin(other, "the request on another thread");
  EXPECT_EQ(second, "sent");
  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].HeaderCount("Cookie"), 0);
  EXPECT_EQ(r[1].Header("Cookie"), "cookie2=abc; _nk_=%D6%D0");
}

TEST_F(WebTest, CookieWithoutEqualsSignIsStoredWithAnEmptyName) {
  server_.Enqueue(RawReply::Http(200, "", "Set-Cookie: lonely-value; path=/\r\nSet-Cookie: b=2\r\n"));
  server_.Enqueue(RawReply::Http(200, ""));
  网页_访问(server_.BaseUrl() + "/");
  auto cookies = AllCookies();
  ASSERT_EQ(cookies.size(), 2u);
  EXPECT_EQ(cookies[0].name, "");
  EXPECT_EQ(cookies[0].value, "lonely-value");
  EXPECT_EQ(cookies[1].name, "b");
  网页_访问(server_.BaseUrl() + "/");
  EXPECT_EQ(server_.Requests()[1].Header("Cookie"), "lonely-value; b=2");
}

TEST_F(WebTest, CookiesOfRedirectResponsesAreKept) {
  server_.Enqueue(RawReply::Redirect(302, "/home", "Set-Cookie: session=s1; Path=/\r\n"));
  server_.Enqueue(RawReply::Http(200, "home"));
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/login", 1, "", "", "u=1"), "home");
  EXPECT_EQ(server_.Requests()[1].Header("Cookie"), "session=s1");
}

TEST_F(WebTest, TenThousandSetCookieLinesKeepTheNewestThatFitOneDomain) {
  std::string lines;
  for (int i = 0; i < 10000; ++i) lines += "Set-Cookie: c" + std::to_string(i) + "=v" + std::to_string(i) + "\r\n";
  server_.Enqueue(RawReply::Http(200, "flood", lines));
  server_.Enqueue(RawReply::Http(200, "next"));
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/flood"), "flood");
  auto cookies = AllCookies();
  ASSERT_EQ(cookies.size(), kMaxCookiesPerDomain);
  EXPECT_EQ(cookies.front().name, "c" + std::to_string(10000 - kMaxCookiesPerDomain));
  EXPECT_EQ(cookies.back().name, "c9999");
  EXPECT_EQ(网页_访问(server_.BaseUrl() + "/next"), "next");
  std::string sent = server_.Requests()[1].Header("Cookie");
  EXPECT_EQ(sent.rfind("c9820=v9820; c9821=v9821; ", 0), 0u);
  EXPECT_TRUE(sent.ends_with("; c9999=v9999"));
}

TEST_F(WebTest, LaterCookieReplacesEarlierAndExpiredOneIsRemoved) {
  server_.Enqueue(RawReply::Http(200, "", "Set-Cookie: t=old\r\nSet-Cookie: keep=1\r\nSet-Cookie: t=new\r\n"));
  server_.Enqueue(RawReply::Http(200, "", "Set-Cookie: keep=gone; Max-Age=0\r\n"));
  server_.Enqueue(RawReply::Http(200, ""));
  网页_访问(server_.BaseUrl() + "/1");
  网页_访问(server_.BaseUrl() + "/2");
  网页_访问(server_.BaseUrl() + "/3");
  auto r = server_.Requests();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[1].Header("Cookie"), "t=new; keep=1");
  EXPECT_EQ(r[2].Header("Cookie"), "t=new");
}

// ---------------------------------------------------------------------------------------------
// Cookie store rules and persistence

class CookieStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearCookies(); }
  void TearDown() override { ClearCookies(); }
};

TEST_F(CookieStoreTest, DomainAttributeMustCoverTheHost) {
  EXPECT_TRUE(StoreSetCookie("shop.example.com", "wide=1; Domain=.Example.com"));
  EXPECT_FALSE(StoreSetCookie("shop.example.com", "foreign=1; Domain=evil.com"));
  EXPECT_FALSE(StoreSetCookie("shop.example.com", "suffix=1; Domain=com"));
  EXPECT_FALSE(StoreSetCookie("example.com", "sub=1; Domain=shop.example.com"));
  EXPECT_TRUE(StoreSetCookie("shop.example.com", "narrow=2"));
  EXPECT_EQ(CookieHeaderFor("a.example.com", "/", false), "wide=1");
  EXPECT_EQ(CookieHeaderFor("example.com", "/", false), "wide=1");
  EXPECT_EQ(CookieHeaderFor("SHOP.example.com", "/", false), "wide=1; narrow=2");
  EXPECT_EQ(CookieHeaderFor("otherexample.com", "/", false), "");
}

TEST_F(CookieStoreTest, PathSecureAndOrderRules) {
  StoreSetCookie("h.example.com", "root=1");
  StoreSetCookie("h.example.com", "member=2; Path=/member");
  StoreSetCookie("h.example.com", "safe=3; Secure", true);
  StoreSetCookie("h.example.com", "bogus=4; Path=relative");
  EXPECT_EQ(CookieHeaderFor("h.example.com", "/member/x.htm?a=/b", false), "member=2; root=1; bogus=4");
  EXPECT_EQ(CookieHeaderFor("h.example.com", "/member", false), "member=2; root=1; bogus=4");
  EXPECT_EQ(CookieHeaderFor("h.example.com", "/members", false), "root=1; bogus=4");
  EXPECT_EQ(CookieHeaderFor("h.example.com", "/", true), "root=1; safe=3; bogus=4");
}

TEST_F(CookieStoreTest, ControlBytesAndEmptyPairsAreRejected) {
  EXPECT_FALSE(StoreSetCookie("h.example.com", std::string("a=b\0c", 5)));
  EXPECT_FALSE(StoreSetCookie("h.example.com", "a=b\tc"));
  EXPECT_FALSE(StoreSetCookie("h.example.com", "=; Path=/"));
  EXPECT_EQ(CookieCount(), 0u);
}

TEST_F(CookieStoreTest, ExpiryInThePastRemovesAndFutureKeeps) {
  StoreSetCookie("h.example.com", "a=1");
  StoreSetCookie("h.example.com", "b=2; Expires=Wed, 09 Jun 2100 10:18:14 GMT");
  StoreSetCookie("h.example.com", "a=x; Expires=Thu, 01 Jan 1970 00:00:01 GMT");
  StoreSetCookie("h.example.com", "b=3; Max-Age=-5; Expires=Wed, 09 Jun 2100 10:18:14 GMT");
  EXPECT_EQ(CookieHeaderFor("h.example.com", "/", false), "");
  StoreSetCookie("h.example.com", "c=4; Max-Age=3600");
  auto all = AllCookies();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_GT(all[0].expiry, 0);
}

TEST_F(CookieStoreTest, ImportedBrowserCookiesAreSent) {
  ImportCookie(".Example.com", "cookie2", "login", "/", false, 0);
  ImportCookie("member.example.com", "_tb_", "t", "/member", true, 4102444800);
  EXPECT_EQ(CookieHeaderFor("trade.example.com", "/", false), "cookie2=login");
  EXPECT_EQ(CookieHeaderFor("member.example.com", "/member/a", true), "_tb_=t; cookie2=login");
  EXPECT_EQ(CookieHeaderFor("member.example.com", "/member/a", false), "cookie2=login");
}

TEST_F(CookieStoreTest, SessionSurvivesSaveAndLoad) {
  test::TempDir dir;
  StoreSetCookie("member.example.com", "cookie2=abc; Path=/; HttpOnly");
  StoreSetCookie("member.example.com", "wide=w w; Domain=example.com; Expires=Wed, 09 Jun 2100 10:18:14 GMT");
  StoreSetCookie("member.example.com", "bare");
  ImportCookie("login.example.com", "sec", "1", "/x", true, 0);
  StoreSetCookie("member.example.com", "far=1; Max-Age=10995116277759");
  std::vector<StoredCookie> before = AllCookies();
  ASSERT_EQ(before.size(), 5u);
  std::string error;
  ASSERT_TRUE(SaveCookies(dir.path(), &error)) << error;

  struct stat st {};
  ASSERT_EQ(::stat(CookieFilePath(dir.path()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ClearCookies();
  ASSERT_TRUE(LoadCookies(dir.path(), &error)) << error;
  std::vector<StoredCookie> after = AllCookies();
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(after[i].domain, before[i].domain);
    EXPECT_EQ(after[i].hostOnly, before[i].hostOnly);
    EXPECT_EQ(after[i].path, before[i].path);
    EXPECT_EQ(after[i].name, before[i].name);
    EXPECT_EQ(after[i].value, before[i].value);
    EXPECT_EQ(after[i].secure, before[i].secure);
    EXPECT_EQ(after[i].httpOnly, before[i].httpOnly);
    EXPECT_EQ(after[i].expiry, before[i].expiry);
  }
  EXPECT_EQ(CookieHeaderFor("member.example.com", "/", false), "cookie2=abc; wide=w w; bare; far=1");
}

TEST_F(CookieStoreTest, LoadSkipsExpiredAndMalformedLinesAndHandlesMissingFiles) {
  test::TempDir dir;
  StoreSetCookie("h.example.com", "stale=1");
  ASSERT_TRUE(LoadCookies(dir.path()));
  EXPECT_EQ(CookieCount(), 0u) << "no file: an empty store";

  test::WriteBytes(CookieFilePath(dir.path()),
                   "# Netscape HTTP Cookie File\n"
                   "h.example.com\tFALSE\t/\tFALSE\t0\tgood\t1\n"
                   "h.example.com\tFALSE\t/\tFALSE\t1000\told\t2\n"
                   "h.example.com\tFALSE\t/\tFALSE\n"
                   "h.example.com\tFALSE\t/\tFALSE\tsoon\tbad\t3\n"
                   ".#x\tFALSE\t/\tFALSE\t0\tcomment\t5\n"
                   ".example.com\tTRUE\t/\tFALSE\t4102444800\twide\t4\r\n"
                   // Lines no Set-Cookie could have stored: a hand-written file is held to the same rules.
                   ".0.1\tTRUE\t/\tFALSE\t0\tipwide\t6\n"
                   ".com\tTRUE\t/\tFALSE\t0\tsuffix\t7\n"
                   "h.example.com\tFALSE\t/\tFALSE\t0\tinjected\t8; admin=1\n"
                   "h.example.com\tFALSE\t/\tFALSE\t0\tbig\t" + std::string(100 * 1024, 'x') + "\n"
                   "h.example.com\tFALSE\t/\tFALSE\t0\t__Host-unsafe\t9\n");
  ASSERT_TRUE(LoadCookies(dir.path()));
  EXPECT_EQ(CookieHeaderFor("h.example.com", "/", false), "good=1; wide=4");
  EXPECT_EQ(CookieHeaderFor("127.0.0.1", "/", false), "");
  EXPECT_EQ(CookieHeaderFor("shop.com", "/", false), "");
  // What was read is exactly what a save and a load give back.
  const std::size_t loaded = AllCookies().size();
  ASSERT_TRUE(SaveCookies(dir.path()));
  ASSERT_TRUE(LoadCookies(dir.path()));
  EXPECT_EQ(AllCookies().size(), loaded);
}

TEST_F(CookieStoreTest, UnreadableFileLeavesTheStoreAloneAndIsNeverOverwritten) {
  struct Row {
    const char* what;
    std::string bytes;
    bool isDirectory;
  };
  const std::vector<Row> rows = {
      {"a directory", "", true},
      {"another program's export", "[{\"domain\":\".example.com\",\"name\":\"cookie2\",\"value\":\"abc\"}]\n", false},
      {"zeros", std::string(4096, '\0'), false},
      {"lines of too few fields", "h.example.com\tFALSE\t/\tFALSE\n", false},
  };
  for (const auto& row : rows) {
    test::TempDir dir;
    const auto file = CookieFilePath(dir.path());
    if (row.isDirectory) {
      std::filesystem::create_directory(file);
    } else {
      test::WriteBytes(file, row.bytes);
    }
    ClearCookies();
    StoreSetCookie("h.example.com", "kept=1");
    std::string error;
    EXPECT_FALSE(LoadCookies(dir.path(), &error)) << row.what;
    EXPECT_FALSE(error.empty()) << row.what;
    EXPECT_EQ(CookieHeaderFor("h.example.com", "/", false), "kept=1") << row.what;
    // The pass after a failed load must not replace the saved login with this session.
    EXPECT_FALSE(SaveCookies(dir.path(), &error)) << row.what;
    if (!row.isDirectory) {
      EXPECT_EQ(test::ReadBytes(file), row.bytes) << row.what;
    }

    // Once the file reads again it is saved again.
    std::filesystem::remove_all(file);
    test::WriteBytes(file, "# Netscape HTTP Cookie File\n");
    ASSERT_TRUE(LoadCookies(dir.path(), &error)) << row.what << ": " << error;
    StoreSetCookie("h.example.com", "fresh=2");
    ASSERT_TRUE(SaveCookies(dir.path(), &error)) << row.what << ": " << error;
    EXPECT_NE(test::ReadBytes(file).find("fresh\t2"), std::string::npos) << row.what;
  }
}

TEST_F(WebTest, ManyThreadsShareOneCookieStore) {
  server_.SetHandler([](const test::RecordedRequest& request) {
    std::string line = request.requestLine;  // "GET /t<thread>/<n> HTTP/1.1"
    std::string name = line.substr(5, line.find(' ', 5) - 5);
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    return RawReply::Http(200, request.Header("Cookie"), "Set-Cookie: " + name + "=1\r\n");
  });
  constexpr int kThreads = 6;
  constexpr int kEach = 15;
  std::vector<std::thread> threads;
  std::atomic<int> answered{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < kEach; ++n) {
        HttpRequest request;
        request.url = server_.BaseUrl() + "/t" + std::to_string(t) + "/" + std::to_string(n);
        if (WebRequest(request).ok) ++answered;
      }
    });
  }
  torvane::test::JoinWithin(threads, "the requesting threads");
  EXPECT_EQ(answered, kThreads * kEach);
  EXPECT_EQ(CookieCount(), static_cast<std::size_t>(kThreads * kEach));
  // The last request of each thread carried at least every cookie that thread itself had set before.
  for (const auto& request : server_.Requests()) {
    std::string line = request.requestLine;
    std::string path = line.substr(4, line.find(' ', 4) - 4);
    int n = std::stoi(path.substr(path.rfind('/') + 1));
    std::string prefix = path.substr(1, path.rfind('/') - 1);
    for (int earlier = 0; earlier < n; ++earlier) {
      EXPECT_NE(request.Header("Cookie").find(prefix + "_" + std::to_string(earlier) + "=1"), std::string::npos)
          << line;
    }
  }
}
