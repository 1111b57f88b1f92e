// Whether a link read from a marketplace page belongs to one of the marketplace's host roles, and the
// address it is then requested at. Pages write their links with http or https as they please; what
// counts is the host and the port, and a role configured https is never left for plain http.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/web_address.h"

namespace torvane {

// The address to request for link when its host and port are those of the role whose base address
// (scheme://host[:port], as in 部署配置.ini) is given; nullopt when they are not, or when either
// does not parse.
//
// Hosts compare exactly (both are lower case once parsed). Ports match when they are the same
// number, whatever the schemes (http://h:8443 and https://h:8443 are one host), or when each is its
// own scheme's default (http://h, that is port 80, and https://h, port 443, are one host). An
// explicit port that is neither is another host: http://h:8080 never belongs to the role https://h.
//
// The request goes over https when the role or the link says https (an http link on an https role
// is upgraded, never the other way); the port is the link's when the ports were the same number,
// else the default port of the scheme chosen. Path and query are the link's as written.
std::optional<std::string> AddressOnRole(const WebAddress& link, std::string_view roleBase);

}  // namespace torvane
