// How the request function reads the address it is given and where it then connects. The reading is
// ParseWebAddress's, the one the deployment check, the ship-link check and the update check use: what
// they approved is what is requested, never the raw text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/web_address.h"

namespace torvane {

// The address a request is made to: blanks around it (ASCII and the full-width A1 A1) removed,
// "http://" put in front when it names no scheme, blanks, backslashes and bytes of 0x80 and above in
// the path and query escaped as %XX, the fragment dropped; then read by ParseWebAddress (scheme and
// host lower-cased, the port written out). nullopt for a control byte anywhere and for whatever
// ParseWebAddress refuses; an address with user-info is for the caller to refuse.
std::optional<WebAddress> ReadRequestAddress(std::string_view url);

// The same for an absolute address (a redirect target): no scheme is put in front.
std::optional<WebAddress> ReadAbsoluteAddress(std::string_view url);

// The path and query as they go on the request line; "/" when there is no path.
std::string RequestPathOf(const WebAddress& address);

// "scheme://host:port/path?query" with the port always written: where the connection goes.
std::string ConnectionAddressOf(const WebAddress& address);

// "scheme://host[:port]/path?query" with the port written only when it is not the scheme's own: the
// address as a request names itself (its Referer).
std::string AddressText(const WebAddress& address);

// Lower-cased host of an address (ReadRequestAddress); "" when it cannot be read.
std::string HostOfUrl(std::string_view url);
// Path with query of an address, "/" when it has none or cannot be read.
std::string PathOfUrl(std::string_view url);
// Port of an address: the one written, else 80 for http and 443 for https; 0 when it cannot be read.
int PortOfUrl(std::string_view url);
// The address as the request function uses it (AddressText); "" when it cannot be read.
std::string NormaliseUrl(std::string_view url);

}  // namespace torvane
