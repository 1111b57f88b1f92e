#include "base/web_address.h"

namespace torvane {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '.' || c == '-' || c == '_';
}

bool IsIpv6Byte(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.'; }

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

// Host and port of the authority (user-info already removed); false when either is malformed.
bool ReadHostAndPort(std::string_view authority, WebAddress& out) {
  std::string_view host;
  std::string_view rest;
  if (!authority.empty() && authority.front() == '[') {
    std::size_t close = authority.find(']');
    if (close == std::string_view::npos || close < 3) return false;
    for (char c : authority.substr(1, close - 1)) {
      if (!IsIpv6Byte(c)) return false;
    }
    host = authority.substr(0, close + 1);
    rest = authority.substr(close + 1);
  } else {
    std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view{} : authority.substr(colon);
    if (host.empty()) return false;
    for (char c : host) {
      if (!IsHostByte(c)) return false;
    }
    // Only separators, or a leading dot or hyphen, is no name.
    if (host.front() == '.' || host.front() == '-' || host.find("..") != std::string_view::npos) return false;
  }
  out.host.clear();
  for (char c : host) out.host.push_back(LowerAscii(c));
  out.port = out.Secure() ? 443 : 80;
  if (rest.empty()) return true;
  if (rest.front() != ':') return false;
  if (rest.size() == 1) return true;  // "host:" means the scheme's own port
  int port = PortNumber(rest.substr(1));
  if (port == 0) return false;
  out.port = port;
  return true;
}

// One decimal IPv4 part of 1 to 3 digits up to 255; -1 otherwise.
int Octet(std::string_view digits) {
  if (digits.empty() || digits.size() > 3) return -1;
  int value = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return -1;
    value = value * 10 + (c - '0');
  }
  return value <= 255 ? value : -1;
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

bool IsLoopbackHost(std::string_view host) {
  if (host.size() == 9) {
    std::string lower;
    for (char c : host) lower.push_back(LowerAscii(c));
    if (lower == "localhost") return true;
  }
  if (host == "[::1]") return true;
  int parts = 0;
  int first = -1;
  std::size_t start = 0;
  while (true) {
    std::size_t dot = host.find('.', start);
    int value = Octet(host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (value < 0) return false;
    if (parts == 0) first = value;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4 && first == 127;
}

bool SameOrigin(const WebAddress& a, const WebAddress& b) {
  return a.scheme == b.scheme && a.host == b.host && a.port == b.port;
}

}  // namespace torvane
