#include "web/request_address.h"

#include "base/text.h"

namespace torvane {

namespace {

bool IsSchemeByte(char c, bool first) {
  const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return letter || (!first && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
}

// True when the text starts with a scheme and "://" (any scheme: only http and https are read later).
bool NamesScheme(std::string_view text) {
  const std::size_t end = text.find("://");
  if (end == std::string_view::npos || end == 0) return false;
  for (std::size_t i = 0; i < end; ++i) {
    if (!IsSchemeByte(text[i], i == 0)) return false;
  }
  return true;
}

std::optional<WebAddress> ReadEscaped(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) return std::nullopt;  // would split a header line
  }
  const std::size_t schemeEnd = text.find("://");
  const std::size_t authorityStart = schemeEnd == std::string_view::npos ? 0 : schemeEnd + 3;
  std::size_t pathStart = text.find_first_of("/?#", authorityStart);
  if (pathStart == std::string_view::npos) pathStart = text.size();
  std::string escaped(text.substr(0, pathStart));
  for (char ch : text.substr(pathStart)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == ' ' || c == '\\' || c >= 0x80) {
      escaped.push_back('%');
      escaped.push_back(kHex[c >> 4]);
      escaped.push_back(kHex[c & 15]);
    } else {
      escaped.push_back(ch);
    }
  }
  return ParseWebAddress(escaped);
}

std::string WithPath(std::string prefix, const WebAddress& address) {
  prefix += RequestPathOf(address);
  return prefix;
}

}  // namespace

std::optional<WebAddress> ReadRequestAddress(std::string_view url) {
  const std::string trimmed = Trim(url);
  if (NamesScheme(trimmed)) return ReadEscaped(trimmed);
  return ReadEscaped("http://" + trimmed);
}

std::optional<WebAddress> ReadAbsoluteAddress(std::string_view url) { return ReadEscaped(url); }

std::string RequestPathOf(const WebAddress& address) {
  std::string path = address.path.empty() ? std::string("/") : address.path;
  if (address.hasQuery) {
    path += '?';
    path += address.query;
  }
  return path;
}

std::string ConnectionAddressOf(const WebAddress& address) { return WithPath(address.Origin(), address); }

std::string AddressText(const WebAddress& address) {
  std::string text = address.scheme + "://" + address.host;
  if (address.port != (address.Secure() ? 443 : 80)) text += ":" + std::to_string(address.port);
  return WithPath(std::move(text), address);
}

std::string HostOfUrl(std::string_view url) {
  const std::optional<WebAddress> address = ReadRequestAddress(url);
  return address ? address->host : std::string();
}

std::string PathOfUrl(std::string_view url) {
  const std::optional<WebAddress> address = ReadRequestAddress(url);
  return address ? RequestPathOf(*address) : std::string("/");
}

int PortOfUrl(std::string_view url) {
  const std::optional<WebAddress> address = ReadRequestAddress(url);
  return address ? address->port : 0;
}

std::string NormaliseUrl(std::string_view url) {
  const std::optional<WebAddress> address = ReadRequestAddress(url);
  return address ? AddressText(*address) : std::string();
}

}  // namespace torvane
