// Strict reading of absolute web addresses, for the places that decide where a request
// may go: the deployment's service addresses, a ship link taken from a page, a redirect
// target, a download address.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// The parts of an "http" or "https" address.
struct WebAddress {
  std::string scheme;      // "http" or "https", lower case
  std::string host;        // lower case; an IPv6 literal keeps its brackets
  int port = 0;            // the given port, else 80 or 443
  bool hasUserInfo = false;  // "user@" or "user:password@" before the host
  std::string path;        // from the first "/" up to "?" or "#"; "" when none
  std::string query;       // after "?", without it
  bool hasQuery = false;
  bool hasFragment = false;

  // "scheme://host:port", the port always written.
  std::string Origin() const;
  bool Secure() const { return scheme == "https"; }
};

// The parts of an absolute http(s) address; nullopt for anything else: another scheme, no host,
// a host or port that is not one, blanks, control bytes, backslashes, or bytes of 0x80 and above
// before the path.
std::optional<WebAddress> ParseWebAddress(std::string_view address);

// True for a host that always means this machine: "localhost", an IPv4 address 127.x.y.z, or [::1].
bool IsLoopbackHost(std::string_view host);

// True when both have the same scheme, host and port.
bool SameOrigin(const WebAddress& a, const WebAddress& b);

}  // namespace torvane
