#include "delivery/empty_ship.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "support/raw_http_server.h"

namespace torvane {
namespace {

std::vector<std::string> Pieces(const std::string& body) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (true) {
    const std::size_t amp = body.find('&', start);
    out.push_back(body.substr(start, amp == std::string::npos ? std::string::npos : amp - start));
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return out;
}

TEST(EmptyShipBody, BeginsWithTokenOrderAndConsignee) {
  const std::string body = EmptyShipBody("T", "1234", ShipperContact{});
  const std::string start = "source=&callUrl=&_tb_token_=T&mailNo=&companyCode=&orderId=1234&flag=&province=" +
                            std::string(kConsigneeText) + "&action=user%2Fconsign_action&";
  EXPECT_EQ(body.substr(0, start.size()), start);
  EXPECT_NE(body.back(), '&');

  const std::string noToken = EmptyShipBody("", "1234", ShipperContact{});
  EXPECT_EQ(noToken.substr(0, 40), "source=&callUrl=&_tb_token_=&mailNo=&com");
}

TEST(EmptyShipBody, FixedTextsAreTheFormEncodingOfTheirChineseTexts) {
  EXPECT_EQ(kConsigneeText, PercentEncodeForm("所在区/服:你是谁啊\r\n角色名:你是谁啊\r\n备注:"));
  EXPECT_EQ(kConsigneeText.size(), 126u);
  const std::string body = EmptyShipBody("T", "1", ShipperContact{});
  EXPECT_NE(body.find("&_fmw.r._0.c=" + PercentEncodeForm("不需收货人") + "&"), std::string::npos);
  EXPECT_NE(body.find("&_fmw.n._0.g=" + PercentEncodeForm("您可以在此输入备忘信息（仅卖家自己可见）。") + "&"),
            std::string::npos);
}

TEST(EmptyShipBody, SixtyNineFieldsByteForByte) {
  ShipperContact c;
  c.regionCode1 = "86110000";
  c.regionCode2 = "110100";
  c.name = "李四";
  c.street = "长安街1号";
  c.fullAddress = "北京市东城区长安街1号";
  c.joinedAddress = "北京市^^^北京市^^^东城区^^^长安街1号";
  c.postcode = "100010";
  c.mobile = "13900000000";
  const std::string body = EmptyShipBody("tok_1", "98765", c);
  const std::vector<std::string> fields = Pieces(body);
  ASSERT_EQ(fields.size(), 69u);

  const std::string k(kConsigneeText);
  const std::string contact = "co=86110000&{p}coun=110100&{p}c=%C0%EE%CB%C4&{p}p=&{p}ci=&{p}cou=&{p}adr=%B3%A4%B0%B2%BD%D61%BA%C5"
                              "&{p}dd=%B1%B1%BE%A9%CA%D0%B6%AB%B3%C7%C7%F8%B3%A4%B0%B2%BD%D61%BA%C5"
                              "&{p}ad=%B1%B1%BE%A9%CA%D0%5E%5E%5E%B1%B1%BE%A9%CA%D0%5E%5E%5E%B6%AB%B3%C7%C7%F8%5E%5E%5E%B3%A4%B0%B2%BD%D61%BA%C5"
                              "&{p}z=100010&{p}ddd=&{p}ph=&{p}b=&{p}t=&{p}m=13900000000";
  auto withPrefix = [&](const std::string& p) { return p + ReplaceAll(contact, "{p}", p); };
  const std::string expected =
      "source=&callUrl=&_tb_token_=tok_1&mailNo=&companyCode=&orderId=98765&flag=&province=" + k +
      "&action=user%2Fconsign_action&event_submit_do_online_consign=&event_submit_do_offline_consign="
      "&event_submit_do_dummy=1&event_submit_do_limit_consign=&event_submit_do_cod_consign="
      "&event_submit_do_store_consign=&event_submit_do_refresh_address=&event_submit_do_refresh_store="
      "&event_submit_do_store_cod_consign=&companyId=&_fmw.r._0.coun=1&_fmw.r._0.c=%B2%BB%D0%E8%CA%D5%BB%F5%C8%CB"
      "&_fmw.r._0.p=" + k + "&_fmw.r._0.ci=&_fmw.r._0.d=&_fmw.r._0.cou=&_fmw.r._0.adr=&_fmw.r._0.dd=" + k +
      "&_fmw.r._0.ad=%5E%5E%5E%5E%5E%5E%5E%5E%5E" + k +
      "&_fmw.r._0.z=000000&_fmw.r._0.ddd=&_fmw.r._0.ph=&_fmw.r._0.b=&_fmw.r._0.t=&_fmw.r._0.mo="
      "&_fmw.n._0.g=%C4%FA%BF%C9%D2%D4%D4%DA%B4%CB%CA%E4%C8%EB%B1%B8%CD%FC%D0%C5%CF%A2%A3%A8%BD%F6%C2%F4%BC%D2%D7%D4%BC%BA%BF%C9%BC%FB%A3%A9%A1%A3&" +
      withPrefix("_fmw.f._0.") + "&" + withPrefix("_fmw.re._0.") +
      "&initialWeightOld=all&_fmw.f._0.f=&_fmw.f._0.fe=&_fmw.f._0.fet=";
  EXPECT_EQ(body, expected);
}

TEST(EmptyShipBody, ValuesFromThePageCannotAddFields) {
  const std::string body = EmptyShipBody("T&orderId=1", "42&_tb_token_=x", ShipperContact{});
  EXPECT_EQ(Pieces(body).size(), 69u);
  EXPECT_EQ(body.rfind("source=&callUrl=&_tb_token_=T%26orderId%3D1&mailNo=&companyCode=&orderId=42%26_tb_token_%3Dx&", 0),
            0u)
      << body.substr(0, 120);
}

// A link belongs to a role by host and port, whether the page writes it with http or https; an https
// role is asked over https; the path is the page's own.
TEST(ShipLink, HostAndPortOfTheTradeOrLogisticsRoleWhateverTheScheme) {
  Deployment d;
  d.tradeHost = "http://127.0.0.1:7001";
  d.logisticsHost = "https://wuliu.example.com";
  struct Row {
    const char* link;
    const char* address;  // "" : refused
  };
  const Row rows[] = {
      {"http://127.0.0.1:7001/user/consign.htm?orderId=1", "http://127.0.0.1:7001/user/consign.htm?orderId=1"},
      {"HTTP://127.0.0.1:7001/a/b", "http://127.0.0.1:7001/a/b"},
      {"https://127.0.0.1:7001/x", "https://127.0.0.1:7001/x"},  // never down to http
      {"https://wuliu.example.com/user/consign.htm?orderId=1", "https://wuliu.example.com/user/consign.htm?orderId=1"},
      {"https://wuliu.example.com:443/c?orderId=1", "https://wuliu.example.com/c?orderId=1"},
      {"http://wuliu.example.com/user/consign.htm?orderId=1", "https://wuliu.example.com/user/consign.htm?orderId=1"},
      {"http://WULIU.example.com:80/steal", "https://wuliu.example.com/steal"},  // no rule on the path
      {"http://wuliu.example.com:443/c", "https://wuliu.example.com/c"},
      {"http://127.0.0.1:7002/user/consign.htm?orderId=1", ""},   // another port
      {"http://127.0.0.1/user/consign.htm", ""},                  // port 80 is another port than 7001
      {"http://wuliu.example.com:8080/user/consign.htm", ""},     // an explicit port of its own
      {"https://wuliu.example.com:80/user/consign.htm", ""},
      {"https://wuliu.example.com.evil.example/user/consign.htm", ""},
      {"https://wuliu.example.com@evil.example/user/consign.htm", ""},
      {"https://x@wuliu.example.com/user/consign.htm", ""},
      {"https://wuliu.example.com/user/consign.htm#x", ""},
      {"/user/consign.htm?orderId=1", ""},
      {"//evil.example/user/consign.htm", ""},
      {"", ""},
  };
  for (const Row& row : rows) {
    std::string refusal;
    EXPECT_EQ(ShipAddress(d, row.link, &refusal), row.address) << row.link;
    EXPECT_EQ(refusal.empty(), *row.address != '\0') << row.link << ": " << GbkToUtf8(refusal);
  }
  EXPECT_EQ(ShipLinkRefusal(d, "http://127.0.0.1:7002/user/consign.htm"),
            "发货链接不属于交易主机或物流主机: http://127.0.0.1:7002");
  // The order a link names, where it names one.
  EXPECT_EQ(MissingShipAction(d, "http://127.0.0.1:7001/c?x=1&OrderID=77", "77"), "");
  EXPECT_EQ(MissingShipAction(d, "http://127.0.0.1:7001/c?trade_id=7%38", "77"), "发货链接属于订单 78");
  EXPECT_EQ(MissingShipAction(d, "http://127.0.0.1:7001/c", "77"), "");
  EXPECT_EQ(MissingShipAction(d, "", "77"), "没有发货链接");
}

TEST(ShipLink, AForeignLinkGetsNoFormAndNoToken) {
  test::RawHttpServer market;
  test::RawHttpServer thief;
  thief.SetHandler([](const test::RecordedRequest&) { return test::RawReply::Http(200, "恭喜您，操作成功"); });
  market.SetHandler([](const test::RecordedRequest&) { return test::RawReply::Http(200, "恭喜您，操作成功"); });
  Deployment d;
  d.tradeHost = market.BaseUrl();
  d.logisticsHost = market.BaseUrl();
  std::string refusal;
  EXPECT_FALSE(EmptyShipWithToken(d, thief.BaseUrl() + "/user/consign.htm?orderId=1", "1", "T0KEN", &refusal));
  EXPECT_EQ(refusal, "发货链接不属于交易主机或物流主机: " + thief.BaseUrl());
  EXPECT_EQ(thief.Connections(), 0);

  refusal.clear();
  EXPECT_TRUE(EmptyShipWithToken(d, market.BaseUrl() + "/user/consign.htm?orderId=1", "1", "T0KEN", &refusal));
  EXPECT_EQ(refusal, "");
  ASSERT_EQ(market.RequestCount(), 1u);
  EXPECT_EQ(market.Requests()[0].requestLine, "POST /user/consign.htm?orderId=1 HTTP/1.1");
}

}  // namespace
}  // namespace torvane
