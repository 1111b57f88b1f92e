// The sold-items page (RatingLinksOfSoldItemsPage): every trade id is cut from the page after a rating
// link on the rating host; the rating address built from it stays on the rating host's rating page; the ids of a page
// come first and unchanged whatever follows it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/deployment.h"
#include "base/text.h"
#include "base/web_address.h"
#include "delivery/rating.h"
#include "fuzz_check.h"

using namespace torvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Deployment deployment = [] {
    Deployment d;
    d.rateHost = "http://127.0.0.1:8080";
    return d;
  }();
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const std::string page = StripLineBreaks(raw);
  const std::vector<RatingLink> links = RatingLinksOfSoldItemsPage(raw, deployment);

  std::size_t marks = 0;
  for (std::size_t at = FindText(page, kRatingLinkPath); at != kNotFound;
       at = FindText(page, kRatingLinkPath, at + kRatingLinkPath.size())) {
    ++marks;
  }
  FUZZ_CHECK(links.size() <= marks);
  for (const RatingLink& link : links) {
    const std::string& id = link.tradeId;
    FUZZ_CHECK(page.find(std::string(kRatingLinkPath) + id + "\"") != std::string::npos);
    FUZZ_CHECK(id.find_first_of("\"\r\n\t") == std::string::npos);
    FUZZ_CHECK(FindText(id, kRatingLinkPath) == kNotFound);
    // The id stays in the query of the rating page's address, on the rating host.
    const std::optional<WebAddress> parsed = ParseWebAddress(link.address);
    FUZZ_CHECK(parsed.has_value());
    FUZZ_CHECK(parsed->Origin() == "http://127.0.0.1:8080" && parsed->path == "/remark_buyer.jhtml");
    FUZZ_CHECK(parsed->hasQuery && !parsed->hasFragment && !parsed->hasUserInfo);
    std::string decoded;
    FUZZ_CHECK(fuzz::PercentDecode(parsed->query, &decoded) && decoded == "tradeID=" + id);
  }

  if (fuzz::EndsOnWholeCharacter(page)) {
    const std::vector<RatingLink> doubled = RatingLinksOfSoldItemsPage(std::string(raw) + std::string(raw), deployment);
    FUZZ_CHECK(doubled.size() >= links.size());
    for (std::size_t i = 0; i < links.size() && i < doubled.size(); ++i) {
      FUZZ_CHECK(doubled[i].tradeId == links[i].tradeId);
    }
  }
  return 0;
}
