// Good ratings for every buyer the seller has not rated yet.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/activity_log.h"
#include "base/deployment.h"
#include "base/settings.h"

namespace torvane {

// What follows the rating host's address in a rating link: the rating page's path and its query key.
inline constexpr std::string_view kRatingLinkPath = "/remark_buyer.jhtml?tradeID=";

// rateHost + kRatingLinkPath: the base of a rating page address on the configured rating host.
std::string RateLinkPrefix(const Deployment& deployment);

// Body of the sold-items query for orders not yet rated by the seller.
std::string SoldItemsQueryBody(std::string_view sellerUserId);

// One rating link of the sold-items page: the trade id, and the rating page's address to request.
struct RatingLink {
  std::string tradeId;
  std::string address;
};

// The rating links of a sold-items page (line breaks removed first), in page order, duplicates kept:
// an absolute address, written http or https, whose host and port are the rating role's (AddressOnRole),
// followed by kRatingLinkPath, the trade id and a double quote. The trade id runs up to that quote
// (and never past the next kRatingLinkPath); it goes into the address form-encoded, on the address
// AddressOnRole gives, so an https rating role is asked over https whatever the link says.
std::vector<RatingLink> RatingLinksOfSoldItemsPage(std::string_view page, const Deployment& deployment);

// The hidden values of one rating page.
struct RatingPageValues {
  std::string formToken;
  std::string rateId;
  std::string pictureAddress;
  std::string itemTitle;
  std::string itemId;
  std::string endTime;
  std::string sellerIdForBuyer;
  std::string sellerNickForBuyer;
};

// Takes the values out of a rating page (line breaks already removed or not: they are removed here).
RatingPageValues ParseRatingPage(std::string_view page);

// The rating form body: a good rating with rateText. Every value taken from the page is form-encoded.
std::string RatingFormBody(const RatingPageValues& values, std::string_view rateText);

// Fetches the rating page, posts the form; true when the answer contains "信用评价成功".
bool RateOneOrder(const Deployment& deployment, const std::string& ratingPageAddress, const std::string& rateText);

// Rates every order the first page of the sold-items query lists as not rated.
// False when none was listed; true once every listed order was tried.
bool RateUnratedOrders(const Deployment& deployment, const std::string& rateText, const std::string& sellerUserId);

// One rating pass with the live rating text and the login session's seller id; logs
// "发现已评价订单,完成自动评价" when at least one order was found.
void AutoRateRun(const Deployment& deployment, const LiveSettings& settings, ActivityLogger& log);

}  // namespace torvane
