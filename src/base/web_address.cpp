#include "base/web_address.h"

#include <array>
#include <cstdint>

namespace torvane {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '.' || c == '-' || c == '_';
}

// A decimal number of 1 to 5 digits from 1 to 65535; 0 otherwise.
int PortNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) return 0;
  int port = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return 0;
    port = port * 10 + (c - '0');
  }
  return port <= 65535 ? port : 0;
}

bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

int HexValue(char c) { return IsDigit(c) ? c - '0' : (LowerAscii(c) - 'a' + 10); }

// The value of an IPv4 address written as four decimal numbers up to 255, without leading zeros.
std::optional<std::uint32_t> Ipv4Value(std::string_view text) {
  std::uint32_t value = 0;
  int parts = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = text.find('.', start);
    const std::size_t length = dot == std::string_view::npos ? std::string_view::npos : dot - start;
    const std::string_view part = text.substr(start, length);
    if (part.empty() || part.size() > 3 || (part.size() > 1 && part.front() == '0')) return std::nullopt;
    int octet = 0;
    for (char c : part) {
      if (!IsDigit(c)) return std::nullopt;
      octet = octet * 10 + (c - '0');
    }
    if (octet > 255 || ++parts > 4) return std::nullopt;
    value = (value << 8) | static_cast<std::uint32_t>(octet);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (parts != 4) return std::nullopt;
  return value;
}

// The eight groups of an IPv6 address (without brackets); nullopt when the text is not one.
std::optional<std::array<std::uint16_t, 8>> Ipv6Groups(std::string_view text) {
  std::array<std::uint16_t, 8> groups{};
  int count = 0;
  int gap = -1;  // where "::" stands, in groups
  std::size_t i = 0;
  if (text.starts_with("::")) {
    gap = 0;
    i = 2;
  } else if (text.starts_with(":")) {
    return std::nullopt;
  }
  while (i < text.size()) {
    const std::size_t colon = text.find(':', i);
    const std::string_view piece = text.substr(i, colon == std::string_view::npos ? std::string_view::npos : colon - i);
    if (colon == std::string_view::npos && piece.find('.') != std::string_view::npos) {
      // An IPv4 address as the last two groups.
      const std::optional<std::uint32_t> v4 = Ipv4Value(piece);
      if (!v4 || count > 6) return std::nullopt;
      groups[count++] = static_cast<std::uint16_t>(*v4 >> 16);
      groups[count++] = static_cast<std::uint16_t>(*v4 & 0xFFFF);
      break;
    }
    if (piece.empty() || piece.size() > 4 || count == 8) return std::nullopt;
    std::uint16_t group = 0;
    for (char c : piece) {
      if (!IsHexDigit(c)) return std::nullopt;
      group = static_cast<std::uint16_t>(group * 16 + HexValue(c));
    }
    groups[count++] = group;
    if (colon == std::string_view::npos) break;
    i = colon + 1;
    if (i < text.size() && text[i] == ':') {
      if (gap >= 0) return std::nullopt;
      gap = count;
      ++i;
    } else if (i == text.size()) {
      return std::nullopt;  // a lone ":" at the end
    }
  }
  if (gap < 0) {
    if (count != 8) return std::nullopt;
    return groups;
  }
  if (count > 7) return std::nullopt;  // "::" stands for at least one group
  std::array<std::uint16_t, 8> out{};
  for (int k = 0; k < gap; ++k) out[k] = groups[k];
  const int tail = count - gap;
  for (int k = 0; k < tail; ++k) out[8 - tail + k] = groups[gap + k];
  return out;
}

// True when the name's last label (a final dot aside) is a number as URL readers take one: decimal
// digits, or "0x" and hexadecimal digits.
bool EndsInNumber(std::string_view name) {
  if (name.ends_with('.')) name.remove_suffix(1);
  const std::size_t dot = name.rfind('.');
  const std::string_view last = dot == std::string_view::npos ? name : name.substr(dot + 1);
  if (last.empty()) return false;
  if (last.size() >= 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X')) {
    for (char c : last.substr(2)) {
      if (!IsHexDigit(c)) return false;
    }
    return true;
  }
  for (char c : last) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// Host and port of the authority (user-info already removed); false when either is malformed.
bool ReadHostAndPort(std::string_view authority, WebAddress& out) {
  std::string_view host;
  std::string_view rest;
  if (!authority.empty() && authority.front() == '[') {
    std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = authority.substr(0, close + 1);
    rest = authority.substr(close + 1);
  } else {
    std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view{} : authority.substr(colon);
  }
  std::optional<std::string> normalised = NormaliseHost(host);
  if (!normalised) return false;
  out.host = std::move(*normalised);
  out.port = out.Secure() ? 443 : 80;
  if (rest.empty()) return true;
  if (rest.front() != ':') return false;
  if (rest.size() == 1) return true;  // "host:" means the scheme's own port
  int port = PortNumber(rest.substr(1));
  if (port == 0) return false;
  out.port = port;
  return true;
}

}  // namespace

std::string WebAddress::Origin() const { return scheme + "://" + host + ":" + std::to_string(port); }

std::optional<WebAddress> ParseWebAddress(std::string_view address) {
  for (char ch : address) {
    auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F || c == '\\') return std::nullopt;
  }
  WebAddress out;
  std::size_t schemeEnd = address.find("://");
  if (schemeEnd == std::string_view::npos) return std::nullopt;
  for (char c : address.substr(0, schemeEnd)) out.scheme.push_back(LowerAscii(c));
  if (out.scheme != "http" && out.scheme != "https") return std::nullopt;

  std::string_view rest = address.substr(schemeEnd + 3);
  std::size_t authorityEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authorityEnd);
  rest = authorityEnd == std::string_view::npos ? std::string_view{} : rest.substr(authorityEnd);
  for (char ch : authority) {
    if (static_cast<unsigned char>(ch) >= 0x80) return std::nullopt;
  }
  std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    out.hasUserInfo = true;
    authority.remove_prefix(at + 1);
  }
  if (!ReadHostAndPort(authority, out)) return std::nullopt;

  std::size_t hash = rest.find('#');
  if (hash != std::string_view::npos) {
    out.hasFragment = true;
    rest = rest.substr(0, hash);
  }
  std::size_t question = rest.find('?');
  out.path = std::string(rest.substr(0, question));
  if (question != std::string_view::npos) {
    out.hasQuery = true;
    out.query = std::string(rest.substr(question + 1));
  }
  return out;
}

std::optional<std::string> NormaliseHost(std::string_view host) {
  if (host.empty()) return std::nullopt;
  const bool bracketed = host.front() == '[';
  if (bracketed || host.find(':') != std::string_view::npos) {
    if (bracketed && (host.size() < 2 || host.back() != ']')) return std::nullopt;
    const std::string_view inner = bracketed ? host.substr(1, host.size() - 2) : host;
    if (!Ipv6Groups(inner)) return std::nullopt;
    std::string out = "[";
    for (char c : inner) out.push_back(LowerAscii(c));
    out.push_back(']');
    return out;
  }
  for (char c : host) {
    if (!IsHostByte(c)) return std::nullopt;
  }
  // Only separators, or a leading dot or hyphen, is no name.
  if (host.front() == '.' || host.front() == '-' || host.find("..") != std::string_view::npos) return std::nullopt;
  if (EndsInNumber(host) && !Ipv4Value(host)) return std::nullopt;
  std::string out;
  for (char c : host) out.push_back(LowerAscii(c));
  return out;
}

bool IsLoopbackHost(std::string_view host) {
  const std::optional<std::string> normalised = NormaliseHost(host);
  if (!normalised) return false;
  if (*normalised == "localhost") return true;
  if (normalised->front() == '[') {
    const auto groups = Ipv6Groups(std::string_view(*normalised).substr(1, normalised->size() - 2));
    return groups && *groups == std::array<std::uint16_t, 8>{0, 0, 0, 0, 0, 0, 0, 1};
  }
  const std::optional<std::uint32_t> v4 = Ipv4Value(*normalised);
  return v4 && (*v4 >> 24) == 127;
}

std::string FixedAddressesOf(std::string_view host) {
  const std::optional<std::string> normalised = NormaliseHost(host);
  return normalised && *normalised == "localhost" ? "127.0.0.1,[::1]" : "";
}

bool SameOrigin(const WebAddress& a, const WebAddress& b) {
  return a.scheme == b.scheme && a.host == b.host && a.port == b.port;
}

}  // namespace torvane
