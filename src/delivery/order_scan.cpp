#include "delivery/order_scan.h"

#include <random>

#include "web/http.h"
#include "web/text.h"

namespace torvane {
namespace {

constexpr std::string_view kBlockStart = "<tbody>";
constexpr std::string_view kBlockEnd = "</tbody>";
constexpr std::string_view kOrderNumberStart = "<span class=\"order-number\">订单编号：";
constexpr std::string_view kOrderNumberEnd = "</span>";
constexpr std::string_view kTitleStart = "<a target=\"_blank\" title=\"名称：";
constexpr std::string_view kTitleEnd = "件\"";
constexpr std::string_view kQuantitySeparator = " §数量：";
constexpr std::string_view kBuyerStart = "<span class=\"ww ww:token\"";
constexpr std::string_view kBuyerEnd = "</li>";
constexpr std::string_view kNickStart = "nick=";
constexpr std::string_view kNickEnd = "&";
constexpr std::string_view kMessageStart = "<label>买家留言：</label>";
constexpr std::string_view kMessageEnd = "</span>";
constexpr std::string_view kMessageInnerStart = "<span >";
constexpr std::string_view kMessageInnerEnd = "&nbsp;";
constexpr std::string_view kShipLinkStart = "class=\"btn\" href=\"";
constexpr std::string_view kShipLinkEnd = "\">发货</a>";

PaidOrder ParseBlock(std::string_view block) {
  PaidOrder order;
  order.orderNumber = Trim(TextBetween(block, kOrderNumberStart, kOrderNumberEnd));
  const std::string titleText = Trim(TextBetween(block, kTitleStart, kTitleEnd));
  const std::size_t sep = FindText(titleText, kQuantitySeparator);
  if (sep == kNotFound) {
    order.title = titleText;
  } else {
    order.title = Trim(std::string_view(titleText).substr(0, sep));
    std::string_view rest = std::string_view(titleText).substr(sep + kQuantitySeparator.size());
    // The second piece ends at a further separator, if the text holds one.
    const std::size_t next = FindText(rest, kQuantitySeparator);
    if (next != kNotFound) rest = rest.substr(0, next);
    order.quantity = Trim(rest);
  }
  const std::string buyerPart = Trim(TextBetween(block, kBuyerStart, kBuyerEnd));
  order.buyer = Trim(TextBetween(buyerPart, kNickStart, kNickEnd));
  const std::string messagePart = Trim(TextBetween(block, kMessageStart, kMessageEnd));
  order.buyerMessage = Trim(TextBetween(messagePart, kMessageInnerStart, kMessageInnerEnd));
  order.shipLink = Trim(TextBetween(block, kShipLinkStart, kShipLinkEnd));
  return order;
}

}  // namespace

std::vector<PaidOrder> ParseOrderPage(std::string_view page) {
  const std::string text = StripLineBreaks(page);
  std::vector<PaidOrder> orders;
  if (text.empty()) return orders;
  // Same cut as ExtractAllBetween, without copying every block.
  std::size_t hit = FindText(text, kBlockStart);
  std::string_view all(text);
  while (hit != kNotFound) {
    const std::size_t pieceStart = hit + kBlockStart.size();
    const std::size_t next = FindText(all, kBlockStart, pieceStart);
    const std::size_t pieceEnd = next == kNotFound ? all.size() : next;
    std::string_view piece = all.substr(pieceStart, pieceEnd - pieceStart);
    const std::size_t end = FindText(piece, kBlockEnd);
    if (end != kNotFound) orders.push_back(ParseBlock(piece.substr(0, end)));
    hit = next;
  }
  return orders;
}

std::string OrderListAddress(const Deployment& deployment) {
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> number(11, 99);
  std::string address = deployment.logisticsHost +
                        "/user/order_list_new.htm?order_status_show=send&mytmenu=fh&utkn=k,m7wq2xrt5pnb8cv3ja4618273";
  for (int i = 0; i < 3; ++i) address += std::to_string(number(generator));
  return address;
}

std::vector<PaidOrder> ScanPaidOrders(const Deployment& deployment) {
  return ParseOrderPage(FetchPageText(OrderListAddress(deployment)));
}

}  // namespace torvane
