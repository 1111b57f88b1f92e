#include "delivery/order_scan.h"

#include <gtest/gtest.h>

#include "base/deployment.h"
#include "base/text.h"

namespace torvane {
namespace {

// One order block as the to-ship list writes it.
std::string Block(const std::string& number, const std::string& titleText, const std::string& buyer,
                  const std::string* message, const std::string& shipLink) {
  std::string b = "<tbody>\r\n<tr><td><span class=\"order-number\">订单编号：" + number + "</span></td>\r\n";
  b += "<td><a target=\"_blank\" title=\"名称：" + titleText + "件\" href=\"http://item/1\">x</a></td>\r\n";
  b += "<ul><li><span class=\"ww ww:token\" data-href=\"http://im/?nick=" + buyer + "&site=cntaobao\">w</span></li></ul>\r\n";
  if (message != nullptr) {
    b += "<div><label>买家留言：</label><span >" + *message + "&nbsp;</span></div>\r\n";
  }
  b += "<td><a class=\"btn\" href=\"" + shipLink + "\">发货</a></td>\r\n</tbody>\r\n";
  return b;
}

TEST(OrderScan, ThreeBlocksGiveThreeOrdersInPageOrder) {
  const std::string m1 = "请发到 a@b.com";
  const std::string m3 = "谢谢";
  const std::string page = "<html><table>" + Block("1001", "点卡 §数量：1", "buyer_1", &m1, "http://h/ship?o=1001") +
                           Block("1002", "月卡 §数量：2", "张三", nullptr, "http://h/ship?o=1002") +
                           Block(" 1003 ", "季卡 §数量：3", "c3", &m3, "http://h/ship?o=1003") + "</table></html>";
  const std::vector<PaidOrder> orders = ParseOrderPage(page);
  ASSERT_EQ(orders.size(), 3u);
  EXPECT_EQ(orders[0].orderNumber, "1001");
  EXPECT_EQ(orders[0].title, "点卡");
  EXPECT_EQ(orders[0].quantity, "1");
  EXPECT_EQ(orders[0].buyer, "buyer_1");
  EXPECT_EQ(orders[0].buyerMessage, m1);
  EXPECT_EQ(orders[0].shipLink, "http://h/ship?o=1001");
  EXPECT_EQ(orders[1].title, "月卡");
  EXPECT_EQ(orders[1].quantity, "2");
  EXPECT_EQ(orders[1].buyer, "张三");
  EXPECT_EQ(orders[1].buyerMessage, "");  // no message section
  EXPECT_EQ(orders[2].orderNumber, "1003");  // trimmed
  EXPECT_EQ(orders[2].buyerMessage, m3);
}

TEST(OrderScan, BlockWithoutClosingTagBeforeTheNextIsNoOrder) {
  const std::string open = "<tbody><span class=\"order-number\">订单编号：9</span>";
  const std::string page = open + Block("1", "A §数量：1", "b", nullptr, "l") + "<tbody>dangling at end";
  const std::vector<PaidOrder> orders = ParseOrderPage(page);
  ASSERT_EQ(orders.size(), 1u);
  EXPECT_EQ(orders[0].orderNumber, "1");
  EXPECT_TRUE(ParseOrderPage("").empty());
  EXPECT_TRUE(ParseOrderPage("<html>login page</html>").empty());
}

TEST(OrderScan, LineBreaksAndTabsInsideFieldsAreRemoved) {
  const std::string message = "第一行\r\n第二\t行";
  const std::vector<PaidOrder> orders =
      ParseOrderPage(Block("12\r\n34", "游戏\n点卡 §数量：1\r\n0", "bu\r\nyer", &message, "http://h/s\r\nhip"));
  ASSERT_EQ(orders.size(), 1u);
  EXPECT_EQ(orders[0].orderNumber, "1234");
  EXPECT_EQ(orders[0].title, "游戏点卡");
  EXPECT_EQ(orders[0].quantity, "10");
  EXPECT_EQ(orders[0].buyer, "buyer");
  EXPECT_EQ(orders[0].buyerMessage, "第一行第二行");
  EXPECT_EQ(orders[0].shipLink, "http://h/ship");
}

TEST(OrderScan, TitleIsTheFirstPieceAndQuantityTheSecond) {
  const struct {
    std::string titleText, title, quantity;
  } rows[] = {
      {"  X  Y 　 §数量： 2 ", "X  Y", "2"},  // ASCII and full-width spaces at the ends go, inner ones stay
      {"点卡 §数量：2 §数量：9", "点卡", "2"},  // the quantity ends at a second separator
  };
  for (const auto& row : rows) {
    const std::vector<PaidOrder> orders = ParseOrderPage(Block("1", row.titleText, "b", nullptr, "l"));
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(orders[0].title, row.title) << GbkToUtf8(row.titleText);
    EXPECT_EQ(orders[0].quantity, row.quantity) << GbkToUtf8(row.titleText);
  }
}

// Markers are found only where a character starts: bytes that spell one from the second byte of a
// two-byte character on (as a buyer's message can) move no field.
TEST(OrderScan, MarkersInsideTwoByteCharactersMoveNoField) {
  const std::string realLink = "http://h/user/consign.htm?orderId=1";
  const struct {
    const char* name;
    std::string block;
  } rows[] = {
      {"ship link in a message before it",
       "<tbody><label>买家留言：</label><span >\x81" "class=\"btn\" href=\"http://thief/\">发货</a>&nbsp;</span>" +
           Block("1", "点卡 §数量：2", "b", nullptr, realLink).substr(7)},
      {"title end inside the title",
       Block("1", "点卡\x81件\" §数量：2", "b", nullptr, realLink)},
      {"nick inside the buyer link",
       ReplaceAll(Block("1", "点卡 §数量：2", "b", nullptr, realLink), "data-href=", "data-x=\"\x81nick=thief&\" data-href=")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<PaidOrder> orders = ParseOrderPage(row.block);
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(orders[0].orderNumber, "1");
    EXPECT_EQ(orders[0].shipLink, realLink);
    EXPECT_EQ(orders[0].buyer, "b");
    EXPECT_EQ(orders[0].quantity, "2");
  }
}

TEST(OrderScan, TitleWithoutSeparatorIsWholeTitleAndNoQuantity) {
  std::vector<PaidOrder> orders = ParseOrderPage(Block("1", "只有名称 数量：2", "b", nullptr, "l"));
  ASSERT_EQ(orders.size(), 1u);
  EXPECT_EQ(orders[0].title, "只有名称 数量：2");
  EXPECT_EQ(orders[0].quantity, "");

  // A block without the item link or any other marker still counts, with empty fields.
  orders = ParseOrderPage("<tbody><td>nothing</td></tbody>");
  ASSERT_EQ(orders.size(), 1u);
  EXPECT_EQ(orders[0].title, "");
  EXPECT_EQ(orders[0].quantity, "");
  EXPECT_EQ(orders[0].orderNumber, "");
  EXPECT_EQ(orders[0].shipLink, "");
}

TEST(OrderScan, EscapedFieldsAreDecodedAfterTheyAreCut) {
  const std::string message = "x &lt;/span&gt;&lt;/tbody&gt; &amp;nbsp; y";
  const std::vector<PaidOrder> orders =
      ParseOrderPage(Block("1", "&nbsp;点卡&amp;礼包 &quot;A&quot; §数量：&#50;", "b", &message, "l"));
  ASSERT_EQ(orders.size(), 1u);
  EXPECT_EQ(orders[0].title, "点卡&礼包 \"A\"");
  EXPECT_EQ(orders[0].quantity, "2");
  EXPECT_EQ(orders[0].buyerMessage, "x </span></tbody> &nbsp; y");
}

// Control bytes of a page never reach a field; two-byte characters stay whole, also those whose lead
// byte lies in 0x81-0x9F, while single bytes 0x80 and 0xFF (no character) go.
TEST(OrderScan, ControlCharactersAreStrippedAndCharactersKeptWhole) {
  const std::string message = "\x1B[2Jhi\x01&#x1B;";
  const std::vector<PaidOrder> orders = ParseOrderPage(
      Block("10\x1B" "01", "点卡\x1B[31m §数量：1\x7F", "\x1B]0;x\x07\x81\x40\x9F\xA1\x80\xFFok\x9B", &message,
            "http://h/ship\x1B?o=1"));
  ASSERT_EQ(orders.size(), 1u);
  EXPECT_EQ(orders[0].orderNumber, "1001");
  EXPECT_EQ(orders[0].title, "点卡[31m");
  EXPECT_EQ(orders[0].quantity, "1");
  EXPECT_EQ(orders[0].buyer, "]0;x\x81\x40\x9F\xA1ok\x9B");  // a lone lead byte at the end is no control
  EXPECT_EQ(orders[0].buyerMessage, "[2Jhi&#x1B;");
  EXPECT_EQ(orders[0].shipLink, "http://h/ship?o=1");
}

TEST(OrderScan, CharacterReferencesBecomeGbkOrStayAsWritten) {
  const std::pair<std::string, std::string> rows[] = {
      {"&lt;b&gt; &quot;x&quot; &#39;y&#39; &apos;z&apos; a&nbsp;b", "<b> \"x\" 'y' 'z' a b"},
      {"&#28857;&#x5361;&#X5361;", "点卡卡"},
      {"&amp;lt;", "&lt;"},                          // decoded once
      {"&#x1F600;&#128512;", "&#x1F600;&#128512;"},  // GBK has no emoji
      {"&#10;&#13;&#0;&#x7F;", "&#10;&#13;&#0;&#x7F;"},  // no control characters come back
      {"&copy; &amp &#xZZ; &#; &#99999999999; & ;", "&copy; &amp &#xZZ; &#; &#99999999999; & ;"},
  };
  for (const auto& [escaped, text] : rows) EXPECT_EQ(DecodeCharacterReferences(escaped), text) << escaped;
}

// A hostile page's field of "&" without a ";" costs work in proportion to its length, not its square.
TEST(OrderScan, CharacterReferencesAreFoundInBoundedWork) {
  for (const std::string& field : {std::string(2u << 20, '&'), std::string(2u << 20, '&') + ";"}) {
    std::size_t lookedAhead = 0;
    EXPECT_EQ(DecodeCharacterReferences(field, &lookedAhead), field);
    EXPECT_LE(lookedAhead, 10 * field.size());
  }
}

TEST(OrderScan, ListAddressHasFixedPartAndThreeRandomNumbers) {
  Deployment d;
  d.logisticsHost = "http://127.0.0.1:8080";
  const std::string prefix =
      "http://127.0.0.1:8080/user/order_list_new.htm?order_status_show=send&mytmenu=fh&utkn=k,m7wq2xrt5pnb8cv3ja4618273";
  for (int i = 0; i < 50; ++i) {
    const std::string address = OrderListAddress(d);
    ASSERT_EQ(address.substr(0, prefix.size()), prefix);
    const std::string digits = address.substr(prefix.size());
    ASSERT_EQ(digits.size(), 6u) << address;
    for (int k = 0; k < 3; ++k) {
      const int n = std::stoi(digits.substr(2 * k, 2));
      EXPECT_GE(n, 11);
      EXPECT_LE(n, 99);
    }
  }
}

}  // namespace
}  // namespace torvane
