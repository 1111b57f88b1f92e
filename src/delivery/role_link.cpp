#include "delivery/role_link.h"

namespace torvane {
namespace {

int DefaultPort(const WebAddress& address) { return address.Secure() ? 443 : 80; }

}  // namespace

std::optional<std::string> AddressOnRole(const WebAddress& link, std::string_view roleBase) {
  const std::optional<WebAddress> role = ParseWebAddress(roleBase);
  if (!role || role->host != link.host) return std::nullopt;
  const bool samePort = link.port == role->port;
  const bool bothDefault = link.port == DefaultPort(link) && role->port == DefaultPort(*role);
  if (!samePort && !bothDefault) return std::nullopt;
  const bool secure = role->Secure() || link.Secure();
  const int port = samePort ? link.port : (secure ? 443 : 80);
  std::string address = std::string(secure ? "https" : "http") + "://" + link.host;
  if (port != (secure ? 443 : 80)) address += ":" + std::to_string(port);
  address += link.path.empty() ? std::string("/") : link.path;
  if (link.hasQuery) address += "?" + link.query;
  return address;
}

}  // namespace torvane
