#include "delivery/rating.h"

#include <optional>

#include "delivery/role_link.h"
#include "web/http.h"
#include "web/login_session.h"
#include "base/text.h"

namespace torvane {

std::string RateLinkPrefix(const Deployment& deployment) { return deployment.rateHost + std::string(kRatingLinkPath); }

std::string SoldItemsQueryBody(std::string_view sellerUserId) {
  std::string body =
      "event_submit_do_query=1&closeorder_flag=1&isArchive=false&isArchiveDefault=0&user_type=1&pageNum=1&order=desc"
      "&order_type=orderList&isQueryMore=&select_shop_name=&isOwnOfficialShop=false&sellerNumID=";
  body += PercentEncodeForm(sellerUserId);
  body +=
      "&auctionTitle=&bizOrderTimeBegin=&bizOrderHourBegin=00&bizOrderMinBegin=&bizOrderTimeEnd=&bizOrderHourEnd=00"
      "&bizOrderMinEnd=&buyerNick=&auctionStatus=ALL&commentStatus=I_HAS_NOT_COMMENT&bizOrderId=&logisticsService=ALL"
      "&tradeDissension=ALL&queryTag=0&shopName=All&action=itemlist%2FQueryAction&fromTag=true";
  return body;
}

namespace {

bool IsAuthorityByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_' || c == ':' || c == '[' || c == ']';
}

// "scheme://authority" written right before position end ("http" or "https" in any case); "" when none.
std::string_view AddressStartBefore(std::string_view page, std::size_t end) {
  constexpr std::size_t kLongestAuthority = 270;
  std::size_t start = end;
  while (start > 0 && end - start < kLongestAuthority && IsAuthorityByte(page[start - 1])) --start;
  if (start == end || start < 3 || page.substr(start - 3, 3) != "://") return {};
  for (std::string_view scheme : {std::string_view("https"), std::string_view("http")}) {
    if (start - 3 < scheme.size()) continue;
    const std::size_t at = start - 3 - scheme.size();
    if (FindTextIgnoreAsciiCase(page.substr(at, scheme.size()), scheme) == 0) return page.substr(at, end - at);
  }
  return {};
}

}  // namespace

std::vector<RatingLink> RatingLinksOfSoldItemsPage(std::string_view raw, const Deployment& deployment) {
  const std::string page = StripLineBreaks(raw);
  std::vector<RatingLink> links;
  std::size_t at = FindText(page, kRatingLinkPath);
  while (at != kNotFound) {
    const std::size_t idStart = at + kRatingLinkPath.size();
    const std::size_t next = FindText(page, kRatingLinkPath, idStart);
    const std::size_t pieceEnd = next == kNotFound ? page.size() : next;
    const std::size_t quote = page.find('"', idStart);
    const std::string_view origin = AddressStartBefore(page, at);
    if (quote != std::string::npos && quote < pieceEnd && !origin.empty()) {
      RatingLink link;
      link.tradeId = page.substr(idStart, quote - idStart);
      const std::optional<WebAddress> written =
          ParseWebAddress(std::string(origin) + std::string(kRatingLinkPath) + PercentEncodeForm(link.tradeId));
      if (written && !written->hasUserInfo) {
        if (std::optional<std::string> address = AddressOnRole(*written, deployment.rateHost)) {
          link.address = std::move(*address);
          links.push_back(std::move(link));
        }
      }
    }
    at = next;
  }
  return links;
}

RatingPageValues ParseRatingPage(std::string_view page) {
  const std::string text = StripLineBreaks(page);
  RatingPageValues v;
  v.formToken = TextBetween(text, "<input name='_tb_token_' type='hidden' value='", "'>");
  v.rateId = TextBetween(text, "name=\"hiddRateIds\" value=\"", "\"");
  const std::string& r = v.rateId;
  v.pictureAddress = TextBetween(text, "name=\"auctionPictUrl" + r + "\" value=\"", "}\"");
  v.itemTitle = TextBetween(text, "name=\"auctionTitle" + r + "\" value=\"", "\"");
  v.itemId = TextBetween(text, "name=\"auctionId" + r + "\" value=\"", "\"");
  v.endTime = TextBetween(text, "name=\"smallEndTime" + r + "}\" value=\"", "\"");
  v.sellerIdForBuyer = TextBetween(text, "name=\"sellerId4Buyer\" value=\"", "\"");
  v.sellerNickForBuyer = TextBetween(text, "name=\"sellerNick4Buyer\" value=\"", "\"");
  return v;
}

std::string RatingFormBody(const RatingPageValues& v, std::string_view rateText) {
  // Every value copied from the page is encoded, so none can end its field and add fields of its own.
  const std::string r = PercentEncodeForm(v.rateId);
  std::string body;
  body += "_tb_token_=" + PercentEncodeForm(v.formToken);
  body += "&good-all=on&hiddRateIds=" + r;
  body += "&auctionPictUrl" + r + "=" + PercentEncodeForm(v.pictureAddress);
  body += "%7D&auctionTitle" + r + "=" + PercentEncodeGbk(v.itemTitle);
  body += "&auctionId" + r + "=" + PercentEncodeForm(v.itemId);
  body += "&auctionSkuId" + r + "=&auctionPrice" + r + "=0.1&smallEndTime" + r + "%7D=" + PercentEncodeGbk(v.endTime);
  body += "&rates" + r + "=1&rateContents" + r + "=" + PercentEncodeGbk(rateText);
  body +=
      "&virtual=&merchandiseScore=&dsrIsRated=%7D&endTime=&buyer_or_seller=1&sellerId=&sellerNumId=&userTag="
      "&sellerNick=&tradeId=" +
      r;
  body += "&shopTitle=&sellerId4Buyer=" + PercentEncodeForm(v.sellerIdForBuyer);
  body += "&sellerNick4Buyer=" + PercentEncodeGbk(v.sellerNickForBuyer);
  body += "&bizType4Success=200&event_submit_do_create_good_bad=anything&action=rate_action";
  return body;
}

bool RateOneOrder(const Deployment& deployment, const std::string& ratingPageAddress, const std::string& rateText) {
  const RatingPageValues values = ParseRatingPage(FetchPageText(ratingPageAddress));
  const std::string answer =
      网页_访问(deployment.rateHost + "/remarkBuyer.htm", 1, {}, {}, RatingFormBody(values, rateText));
  return answer.find("信用评价成功") != std::string::npos;
}

bool RateUnratedOrders(const Deployment& deployment, const std::string& rateText, const std::string& sellerUserId) {
  const std::string page =
      网页_访问(deployment.tradeHost + "/trade/itemlist/list_sold_items.htm", 1, {}, {}, SoldItemsQueryBody(sellerUserId));
  const std::vector<RatingLink> links = RatingLinksOfSoldItemsPage(page, deployment);
  if (links.empty()) return false;
  for (const RatingLink& link : links) RateOneOrder(deployment, link.address, rateText);
  return true;
}

void AutoRateRun(const Deployment& deployment, const LiveSettings& settings, ActivityLogger& log) {
  const std::string rateText = settings.Current().rateText;
  if (RateUnratedOrders(deployment, rateText, SellerUserId())) log.LogActivity("发现已评价订单,完成自动评价");
}

}  // namespace torvane
