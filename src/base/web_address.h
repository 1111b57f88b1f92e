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
  std::string host;        // as NormaliseHost gives it: lower case; an IPv6 literal keeps its brackets
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

// The parts of an absolute http(s) address, scheme and host in lower case and the port written out;
// nullopt for anything else: another scheme, no host, a host (NormaliseHost) or port that is not one,
// blanks, control bytes, backslashes, or bytes of 0x80 and above before the path. An address with
// user-info comes back with hasUserInfo set, and every reader of an address refuses it.
std::optional<WebAddress> ParseWebAddress(std::string_view address);

// A host name or numeric address as connections use it: ASCII letters lower-cased, an IPv6 address in
// brackets (also when written without them, as a mail server may be). nullopt for anything else: bytes
// a host name cannot hold, an IPv6 address that is not one (zone ids included), and a name that ends in
// a number ("127.0.0.08", "0177.0.0.1", "0x7f.1", "2130706433", "127.1") unless it is an IPv4 address
// written as four decimal numbers up to 255 without leading zeros. Other programs read such numbers as
// octal, hexadecimal or short forms, or hand them to the name resolver: they are no one address.
std::optional<std::string> NormaliseHost(std::string_view host);

// True for a host that always means this machine, decided on the address it reads as (NormaliseHost):
// the name "localhost", an IPv4 address in 127.0.0.0/8, or the IPv6 address ::1 however written.
bool IsLoopbackHost(std::string_view host);

// The numeric addresses a connection to the host must go to without asking the name resolver:
// "127.0.0.1,[::1]" for "localhost" (any case), "" for every other host (numeric addresses need no
// lookup, other names are looked up).
std::string FixedAddressesOf(std::string_view host);

// True when both have the same scheme, host and port.
bool SameOrigin(const WebAddress& a, const WebAddress& b);

}  // namespace torvane
