#include "delivery/rating.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace torvane {
namespace {

TEST(RatingBodies, SoldItemsQueryCarriesTheSellerAndTheNotRatedFilter) {
  EXPECT_EQ(SoldItemsQueryBody("42"),
            "event_submit_do_query=1&closeorder_flag=1&isArchive=false&isArchiveDefault=0&user_type=1&pageNum=1"
            "&order=desc&order_type=orderList&isQueryMore=&select_shop_name=&isOwnOfficialShop=false&sellerNumID=42"
            "&auctionTitle=&bizOrderTimeBegin=&bizOrderHourBegin=00&bizOrderMinBegin=&bizOrderTimeEnd="
            "&bizOrderHourEnd=00&bizOrderMinEnd=&buyerNick=&auctionStatus=ALL&commentStatus=I_HAS_NOT_COMMENT"
            "&bizOrderId=&logisticsService=ALL&tradeDissension=ALL&queryTag=0&shopName=All"
            "&action=itemlist%2FQueryAction&fromTag=true");
}

// Rating links on the rating host, written http or https, are asked on the rating role's own scheme.
TEST(RatingBodies, TradeIdsFollowTheAbsoluteRatingLinksOnTheRatingHost) {
  Deployment d;
  d.rateHost = "https://rate.example.com";
  const std::string page =
      "<a href=\"http://rate.example.com/remark_buyer.jhtml?tradeID=11\">评价</a>\r\n"
      "<a href=\"/remark_buyer.jhtml?tradeID=99\">x</a>"                              // not absolute
      "<a href=\"http://rate.example.com:8080/remark_buyer.jhtml?tradeID=98\">x</a>"  // another port
      "<a href=\"https://evil.example/remark_buyer.jhtml?tradeID=97\">x</a>"          // another host
      "<a href=\"HTTPS://Rate.Example.com/remark_buyer.jhtml?tradeID=2\r\n2\">评价</a>"
      "<a href=\"https://rate.example.com:443/remark_buyer.jhtml?tradeID=11\">again</a>";
  const std::vector<RatingLink> links = RatingLinksOfSoldItemsPage(page, d);
  ASSERT_EQ(links.size(), 3u);
  EXPECT_EQ(links[0].tradeId, "11");
  EXPECT_EQ(links[0].address, "https://rate.example.com/remark_buyer.jhtml?tradeID=11");
  EXPECT_EQ(links[1].tradeId, "22");
  EXPECT_EQ(links[1].address, "https://rate.example.com/remark_buyer.jhtml?tradeID=22");
  EXPECT_EQ(links[2].tradeId, "11");
  EXPECT_TRUE(RatingLinksOfSoldItemsPage("<html>no links</html>", d).empty());
}

TEST(RatingBodies, FormCopiesThePageValuesAndEncodesTheTexts) {
  const std::string page =
      "<form><input name='_tb_token_' type='hidden' value='tk9'>\r\n"
      "<input type=\"hidden\" name=\"hiddRateIds\" value=\"77\" />"
      "<input name=\"auctionPictUrl77\" value=\"http://img/p.jpg}\" />"
      "<input name=\"auctionTitle77\" value=\"点卡a\" />"
      "<input name=\"auctionId77\" value=\"5001\" />"
      "<input name=\"smallEndTime77}\" value=\"2026-12-07 10:00\" />"
      "<input name=\"sellerId4Buyer\" value=\"314\" />"
      "<input name=\"sellerNick4Buyer\" value=\"店主\" /></form>";
  const RatingPageValues v = ParseRatingPage(page);
  EXPECT_EQ(v.formToken, "tk9");
  EXPECT_EQ(v.rateId, "77");
  EXPECT_EQ(v.pictureAddress, "http://img/p.jpg");
  EXPECT_EQ(v.itemTitle, "点卡a");
  EXPECT_EQ(v.itemId, "5001");
  EXPECT_EQ(v.endTime, "2026-12-07 10:00");
  EXPECT_EQ(v.sellerIdForBuyer, "314");
  EXPECT_EQ(v.sellerNickForBuyer, "店主");

  EXPECT_EQ(RatingFormBody(v, "好a"),
            "_tb_token_=tk9&good-all=on&hiddRateIds=77&auctionPictUrl77=http%3A%2F%2Fimg%2Fp%2Ejpg%7D&auctionTitle77="
            "%B5%E3%BF%A8%61&auctionId77=5001&auctionSkuId77=&auctionPrice77=0.1&smallEndTime77%7D="
            "%32%30%32%36%2D%31%32%2D%30%37%20%31%30%3A%30%30&rates77=1&rateContents77=%BA%C3%61"
            "&virtual=&merchandiseScore=&dsrIsRated=%7D&endTime=&buyer_or_seller=1&sellerId=&sellerNumId=&userTag="
            "&sellerNick=&tradeId=77&shopTitle=&sellerId4Buyer=314&sellerNick4Buyer=%B5%EA%D6%F7"
            "&bizType4Success=200&event_submit_do_create_good_bad=anything&action=rate_action");
  // An empty rating text sends the field with an empty value.
  const std::string empty = RatingFormBody(v, "");
  EXPECT_NE(empty.find("&rateContents77=&virtual="), std::string::npos);

  // Values copied from the page cannot end their field and add fields of their own.
  RatingPageValues hostile = v;
  hostile.formToken = "t&x=1";
  hostile.rateId = "7=1&rates7";
  hostile.pictureAddress = "p&x=2";
  hostile.itemId = "5&x=3";
  hostile.sellerIdForBuyer = "3&x=4";
  const std::string body = RatingFormBody(hostile, "好");
  EXPECT_EQ(body.find("x="), std::string::npos) << body;
  EXPECT_EQ(std::count(body.begin(), body.end(), '&'), std::count(empty.begin(), empty.end(), '&'));
  EXPECT_EQ(body.rfind("_tb_token_=t%26x%3D1&good-all=on&hiddRateIds=7%3D1%26rates7&", 0), 0u) << body;
  EXPECT_NE(SoldItemsQueryBody("42&commentStatus=ALL").find("&sellerNumID=42%26commentStatus%3DALL&"), std::string::npos);
}

}  // namespace
}  // namespace torvane
