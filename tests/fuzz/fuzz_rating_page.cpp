// A rating page (ParseRatingPage) and the form built from it (RatingFormBody): every value is cut from
// the page, and no page value can change the form's fields: the form always has the same fields in the
// same order, and each value decodes back to what the page held.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "delivery/rating.h"
#include "fuzz_check.h"

using namespace torvane;

namespace {

struct FormField {
  std::string name;
  std::string value;
};

std::vector<FormField> FieldsOf(std::string_view body) {
  std::vector<FormField> fields;
  std::size_t pos = 0;
  while (true) {
    const std::size_t amp = body.find('&', pos);
    const std::string_view pair = body.substr(pos, amp == std::string_view::npos ? std::string_view::npos : amp - pos);
    const std::size_t eq = pair.find('=');
    fields.push_back({std::string(pair.substr(0, eq)),
                      eq == std::string_view::npos ? std::string() : std::string(pair.substr(eq + 1))});
    if (amp == std::string_view::npos) break;
    pos = amp + 1;
  }
  return fields;
}

std::string Decoded(std::string_view value) {
  std::string out;
  FUZZ_CHECK(fuzz::PercentDecode(value, &out));
  return out;
}

void CheckCut(const std::string& value, const std::string& page) {
  FUZZ_CHECK(page.find(value) != std::string::npos);
  FUZZ_CHECK(value.find_first_of("\r\n\t") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string rateText = input.ConsumeRandomLengthString(24);
  const std::string raw = input.ConsumeRemainingBytesAsString();
  const std::string page = StripLineBreaks(raw);

  const RatingPageValues v = ParseRatingPage(raw);
  for (const std::string* value : {&v.formToken, &v.rateId, &v.pictureAddress, &v.itemTitle, &v.itemId, &v.endTime,
                                   &v.sellerIdForBuyer, &v.sellerNickForBuyer}) {
    CheckCut(*value, page);
  }
  FUZZ_CHECK(v.rateId.find('"') == std::string::npos);

  const std::string body = RatingFormBody(v, rateText);
  for (char c : body) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                       c == '%' || c == '&' || c == '=' || c == '-' || c == '.';
    FUZZ_CHECK(plain);
  }
  const std::vector<FormField> fields = FieldsOf(body);
  const std::string r = PercentEncodeForm(v.rateId);
  const std::vector<std::string> names = {
      "_tb_token_", "good-all", "hiddRateIds", "auctionPictUrl" + r, "auctionTitle" + r, "auctionId" + r,
      "auctionSkuId" + r, "auctionPrice" + r, "smallEndTime" + r + "%7D", "rates" + r, "rateContents" + r,
      "virtual", "merchandiseScore", "dsrIsRated", "endTime", "buyer_or_seller", "sellerId", "sellerNumId",
      "userTag", "sellerNick", "tradeId", "shopTitle", "sellerId4Buyer", "sellerNick4Buyer", "bizType4Success",
      "event_submit_do_create_good_bad", "action"};
  FUZZ_CHECK(fields.size() == names.size());
  for (std::size_t i = 0; i < fields.size() && i < names.size(); ++i) FUZZ_CHECK(fields[i].name == names[i]);
  if (fields.size() != names.size()) return 0;
  FUZZ_CHECK(Decoded(fields[0].value) == v.formToken);
  FUZZ_CHECK(fields[1].value == "on");
  FUZZ_CHECK(Decoded(fields[2].value) == v.rateId);
  FUZZ_CHECK(Decoded(fields[3].value) == v.pictureAddress + "}");
  FUZZ_CHECK(Decoded(fields[4].value) == v.itemTitle);
  FUZZ_CHECK(Decoded(fields[5].value) == v.itemId);
  FUZZ_CHECK(fields[6].value.empty() && fields[7].value == "0.1");
  FUZZ_CHECK(Decoded(fields[8].value) == v.endTime);
  FUZZ_CHECK(fields[9].value == "1");
  FUZZ_CHECK(Decoded(fields[10].value) == rateText);
  FUZZ_CHECK(Decoded(fields[20].value) == v.rateId);
  FUZZ_CHECK(Decoded(fields[22].value) == v.sellerIdForBuyer);
  FUZZ_CHECK(Decoded(fields[23].value) == v.sellerNickForBuyer);
  FUZZ_CHECK(fields[26].value == "rate_action");
  return 0;
}
