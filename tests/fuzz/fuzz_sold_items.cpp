// The sold-items page (TradeIdsOfSoldItemsPage): every trade id is cut from the page after a rating
// link; the rating address built from it stays on the rating host's rating page; the ids of a page
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
  static const std::string prefix = [] {
    Deployment deployment;
    deployment.rateHost = "http://127.0.0.1:8080";
    return RateLinkPrefix(deployment);
  }();
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const std::string page = StripLineBreaks(raw);
  const std::vector<std::string> ids = TradeIdsOfSoldItemsPage(raw, prefix);

  std::size_t links = 0;
  for (std::size_t at = FindText(page, prefix); at != kNotFound; at = FindText(page, prefix, at + prefix.size())) ++links;
  FUZZ_CHECK(ids.size() <= links);
  for (const std::string& id : ids) {
    FUZZ_CHECK(page.find(prefix + id + "\"") != std::string::npos);
    FUZZ_CHECK(id.find_first_of("\"\r\n\t") == std::string::npos);
    FUZZ_CHECK(FindText(id, prefix) == kNotFound);
    // The id stays in the query of the rating page's address.
    const std::string address = prefix + PercentEncodeForm(id);
    const std::optional<WebAddress> parsed = ParseWebAddress(address);
    FUZZ_CHECK(parsed.has_value());
    FUZZ_CHECK(parsed->Origin() == "http://127.0.0.1:8080" && parsed->path == "/remark_buyer.jhtml");
    FUZZ_CHECK(parsed->hasQuery && !parsed->hasFragment && !parsed->hasUserInfo);
    std::string decoded;
    FUZZ_CHECK(fuzz::PercentDecode(parsed->query, &decoded) && decoded == "tradeID=" + id);
  }

  if (fuzz::EndsOnWholeCharacter(page)) {
    const std::vector<std::string> doubled = TradeIdsOfSoldItemsPage(std::string(raw) + std::string(raw), prefix);
    FUZZ_CHECK(doubled.size() >= ids.size());
    for (std::size_t i = 0; i < ids.size() && i < doubled.size(); ++i) FUZZ_CHECK(doubled[i] == ids[i]);
  }
  return 0;
}
