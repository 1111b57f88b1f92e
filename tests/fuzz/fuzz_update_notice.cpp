// The update notice (ParseUpdateNotice) and the check of its download address (IsSafeWebAddress):
// both fields are cut from the notice between its markers, and only a plain https address with a host
// and no user-info is ever handed to the system's opener.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/update_check.h"
#include "base/text.h"
#include "base/web_address.h"
#include "fuzz_check.h"

using namespace torvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  const std::optional<UpdateNotice> notice = ParseUpdateNotice(page);
  const std::string piece = TextBetween(page, "==分类头==", "==分类尾==");

  // Whatever the page, its own text as an address is judged the same way.
  const std::string asAddress(page.substr(0, 512));
  if (IsSafeWebAddress(asAddress)) {
    const std::optional<WebAddress> parsed = ParseWebAddress(asAddress);
    FUZZ_CHECK(parsed && parsed->Secure() && !parsed->hasUserInfo && !parsed->host.empty());
    for (char c : asAddress) {
      const auto b = static_cast<unsigned char>(c);
      FUZZ_CHECK(b > 0x20 && b != 0x7F && c != '"' && c != '\'' && c != '`' && c != '<' && c != '>' && c != '\\' &&
                 c != '|' && c != '^' && c != '{' && c != '}');
    }
  }

  if (!notice) {
    FUZZ_CHECK(SplitText(piece, "|").size() < 2);
    return 0;
  }
  // Fields 1 and 2 of the text between the markers, cut where a "|" stands.
  FUZZ_CHECK(piece.starts_with(notice->version + "|"));
  FUZZ_CHECK(piece.substr(notice->version.size() + 1).starts_with(notice->downloadAddress));
  FUZZ_CHECK(FindText(notice->version, "|") == kNotFound && FindText(notice->downloadAddress, "|") == kNotFound);
  if (IsSafeWebAddress(notice->downloadAddress)) {
    const std::optional<WebAddress> parsed = ParseWebAddress(notice->downloadAddress);
    FUZZ_CHECK(parsed && parsed->Secure() && !parsed->hasUserInfo);
    FUZZ_CHECK(fuzz::NoControlBytes(notice->downloadAddress));
    FUZZ_CHECK(notice->downloadAddress.find(' ') == std::string::npos);
  }
  return 0;
}
