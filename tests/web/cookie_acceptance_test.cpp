// Which cookies a server may set: hostile Set-Cookie lines from a loopback server, and the
// rules of the store for domains, secure cookies, sizes and paths.
#include <gtest/gtest.h>

#include <string>

#include "support/raw_http_server.h"
#include "web/cookie_store.h"
#include "web/http.h"

namespace torvane {
namespace {

using test::RawHttpServer;
using test::RawReply;

class CookieAcceptance : public ::testing::Test {
 protected:
  void SetUp() override { ClearCookies(); }
  void TearDown() override { ClearCookies(); }
};

TEST_F(CookieAcceptance, HostileServerCannotWidenOrHijackCookies) {
  RawHttpServer server;
  // An IP host may not widen its cookies to other addresses, nor set Secure ones over http.
  server.Enqueue(RawReply::Http(200, "",
                                "Set-Cookie: wide=1; Domain=0.1\r\n"
                                "Set-Cookie: dotted=1; Domain=.0.0.1\r\n"
                                "Set-Cookie: own=1; Domain=127.0.0.1\r\n"
                                "Set-Cookie: sec=1; Secure\r\n"
                                "Set-Cookie: __Host-x=1; Path=/\r\n"
                                "Set-Cookie: big=" + std::string(kMaxCookieBytes, 'v') + "\r\n"));
  server.Enqueue(RawReply::Http(200, ""));
  网页_访问(server.BaseUrl() + "/member/login.jhtml");
  网页_访问(server.BaseUrl() + "/member/next");

  auto all = AllCookies();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, "own");
  EXPECT_TRUE(all[0].hostOnly);
  EXPECT_EQ(all[0].path, "/member");  // from the request path, without a Path attribute
  EXPECT_EQ(server.Requests()[1].Header("Cookie"), "own=1");
  EXPECT_EQ(CookieHeaderFor("127.5.0.1", "/member/x", false), "");
  EXPECT_EQ(CookieHeaderFor("10.0.0.1", "/member/x", false), "");
}

TEST_F(CookieAcceptance, RulesInOrder) {
  struct Row {
    const char* host;
    std::string line;
    bool secureOrigin;
    const char* requestPath;
    bool stored;
  };
  const Row rows[] = {
      // Domains: public suffixes are nobody's, an IP address only its own.
      {"shop.example.com.cn", "a=1; Domain=com.cn", true, "/", false},
      {"www.example.co.uk", "a=1; Domain=co.uk", true, "/", false},
      {"www.example.co.uk", "a=1; Domain=example.co.uk", true, "/", true},
      {"user.github.io", "a=1; Domain=github.io", true, "/", false},
      {"co.uk", "host=1; Domain=co.uk", true, "/", true},  // the suffix itself: host-only
      {"127.0.0.1", "b=1; Domain=0.0.1", false, "/", false},
      {"10.1.2.3", "b=1; Domain=1.2.3", false, "/", false},
      {"10.1.2.3", "b=1; Domain=10.1.2.3", false, "/", true},
      // Secure only from https, and then never shadowed from http.
      {"h.example.com", "s=1; Secure", false, "/", false},
      {"h.example.com", "s=1; Secure; Path=/", true, "/", true},
      {"h.example.com", "s=evil", false, "/", false},
      {"h.example.com", "s=evil; Path=/deeper", false, "/", false},
      {"h.example.com", "s=evil; Domain=example.com", false, "/", false},
      {"other.example.com", "s=evil", false, "/", true},  // a host the Secure cookie does not cover
      {"h.example.com", "s=2; Secure", true, "/", true},  // https may replace it
      // Name prefixes.
      {"h.example.com", "__Secure-a=1", true, "/", false},
      {"h.example.com", "__Secure-a=1; Secure", true, "/", true},
      {"h.example.com", "__Host-a=1; Secure; Path=/; Domain=example.com", true, "/", false},
      {"h.example.com", "__Host-a=1; Secure; Path=/x", true, "/", false},
      {"h.example.com", "__Host-a=1; Secure; Path=/", true, "/", true},
      // Size: name and value together.
      {"h.example.com", "n=" + std::string(kMaxCookieBytes - 1, 'v'), false, "/", true},
      {"h.example.com", "n=" + std::string(kMaxCookieBytes, 'v'), false, "/", false},
      {"h.example.com", "p=1; Path=/" + std::string(kMaxCookieAttributeBytes, 'x'), false, "/a/b/c", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(StoreSetCookie(row.host, row.line, row.secureOrigin, row.requestPath), row.stored)
        << row.host << ": " << row.line.substr(0, 60);
  }
  EXPECT_EQ(CookieHeaderFor("co.uk", "/", true), "host=1");
  EXPECT_EQ(CookieHeaderFor("x.co.uk", "/", true), "");
  EXPECT_EQ(CookieHeaderFor("10.1.2.3", "/", false), "b=1");
  EXPECT_EQ(CookieHeaderFor("h.example.com", "/", false).find("s="), std::string::npos);
  EXPECT_NE(CookieHeaderFor("h.example.com", "/", true).find("s=2"), std::string::npos);
  EXPECT_EQ(CookieHeaderFor("other.example.com", "/", false), "s=evil");
  EXPECT_EQ(CookieHeaderFor("h.example.com", "/a/c", false).find("p=1"), std::string::npos)
      << "an over-long Path attribute is ignored: the path is the default /a/b";
  EXPECT_NE(CookieHeaderFor("h.example.com", "/a/b/x", false).find("p=1"), std::string::npos);
}

TEST_F(CookieAcceptance, OneRegistrableDomainHoldsABoundedNumber) {
  // Two hosts of one shop share the bound; the least recently used cookie goes first.
  ASSERT_TRUE(StoreSetCookie("login.example.com", "session=s1; Domain=example.com"));
  for (std::size_t i = 0; i + 1 < kMaxCookiesPerDomain; ++i) {
    ASSERT_TRUE(StoreSetCookie(i % 2 ? "a.example.com" : "b.example.com", "c" + std::to_string(i) + "=1"));
  }
  EXPECT_EQ(CookieCount(), kMaxCookiesPerDomain);
  EXPECT_EQ(CookieHeaderFor("login.example.com", "/", false), "session=s1");  // used: now the most recent
  ASSERT_TRUE(StoreSetCookie("a.example.com", "one=more"));
  EXPECT_EQ(CookieCount(), kMaxCookiesPerDomain);
  EXPECT_EQ(CookieHeaderFor("b.example.com", "/", false).find("c0=1"), std::string::npos);
  EXPECT_EQ(CookieHeaderFor("login.example.com", "/", false), "session=s1");
  // Another shop has a bound of its own.
  ASSERT_TRUE(StoreSetCookie("shop.example.net", "x=1"));
  EXPECT_EQ(CookieCount(), kMaxCookiesPerDomain + 1);
}

}  // namespace
}  // namespace torvane
