// A response header block as the request function reads it: its Set-Cookie lines into the cookie
// store (StoreResponseCookies), the Cookie header sent back, the cookie file written and read again,
// and its Location lines as redirect targets (ParseWebAddress, RedirectRefusal).
#include <fuzzer/FuzzedDataProvider.h>
#include <libpsl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/web_address.h"
#include "fuzz_check.h"
#include "web/cookie_store.h"
#include "web/http.h"

using namespace torvane;

namespace {

const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/torvane-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDir(), ignored);
    });
    return std::filesystem::path(pattern);
  }();
  return dir;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool DomainMatches(std::string_view host, std::string_view domain) {
  return host == domain ||
         (host.size() > domain.size() && host.ends_with(domain) && host[host.size() - domain.size() - 1] == '.');
}

bool IsPublicSuffix(const std::string& domain) {
  static const psl_ctx_t* const list = [] {
    const psl_ctx_t* latest = psl_latest(nullptr);
    return latest != nullptr ? latest : psl_builtin();
  }();
  return domain.find('.') == std::string::npos || list == nullptr ||
         psl_is_public_suffix2(list, domain.c_str(), PSL_TYPE_ANY) != 0;
}

bool SameCookie(const StoredCookie& a, const StoredCookie& b) {
  return a.domain == b.domain && a.hostOnly == b.hostOnly && a.path == b.path && a.name == b.name &&
         a.value == b.value && a.secure == b.secure && a.httpOnly == b.httpOnly && a.expiry == b.expiry;
}

// Header lines as the request function splits them: at LF, a CR before it dropped.
std::vector<std::string_view> HeaderLinesOf(std::string_view block) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < block.size()) {
    const std::size_t nl = block.find('\n', pos);
    std::string_view line = block.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? block.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
  }
  return lines;
}

void CheckStoredCookie(const StoredCookie& c, std::string_view block, const std::string& host, bool secure) {
  FUZZ_CHECK(fuzz::NoControlBytes(c.name) && fuzz::NoControlBytes(c.value));
  FUZZ_CHECK(fuzz::NoControlBytes(c.path) && fuzz::NoControlBytes(c.domain));
  FUZZ_CHECK(c.name.size() + c.value.size() <= kMaxCookieBytes);
  // Name and value are cut from the header block.
  FUZZ_CHECK(block.find(c.name) != std::string_view::npos && block.find(c.value) != std::string_view::npos);
  FUZZ_CHECK(!c.path.empty() && c.path.front() == '/');
  // A cookie belongs to the host that set it, or to a domain of it that is not a public suffix.
  FUZZ_CHECK(DomainMatches(host, c.domain));
  if (c.hostOnly) FUZZ_CHECK(c.domain == host);
  if (!c.hostOnly) FUZZ_CHECK(c.domain != host || !IsPublicSuffix(c.domain));
  if (!c.hostOnly && c.domain != host) FUZZ_CHECK(!IsPublicSuffix(c.domain));
  if (c.secure) FUZZ_CHECK(secure);
  if (host == "127.0.0.1" || host == "10.0.0.1") FUZZ_CHECK(c.hostOnly);
  if (Lower(c.name).starts_with("__secure-")) FUZZ_CHECK(c.secure && secure);
  if (Lower(c.name).starts_with("__host-")) FUZZ_CHECK(c.secure && c.hostOnly && c.path == "/");
  FUZZ_CHECK(c.expiry >= 0);
}

void CheckLocation(std::string_view value) {
  const std::optional<WebAddress> address = ParseWebAddress(value);
  const std::string from = "https://trade.example.com/list";
  if (!address) {
    FUZZ_CHECK(!RedirectRefusal(from, value, false).empty());
    return;
  }
  FUZZ_CHECK(address->scheme == "http" || address->scheme == "https");
  FUZZ_CHECK(!address->host.empty());
  for (char ch : address->host) {
    const bool ok = (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '.' || ch == '-' || ch == '_' ||
                    ch == '[' || ch == ']' || ch == ':';
    FUZZ_CHECK(ok);
  }
  FUZZ_CHECK(address->port >= 1 && address->port <= 65535);
  FUZZ_CHECK(address->path.empty() || address->path.front() == '/');
  FUZZ_CHECK(fuzz::NoControlBytes(address->path) && fuzz::NoControlBytes(address->query));
  // Never from https down to http; a form repeated only at its own origin.
  if (!address->Secure()) FUZZ_CHECK(!RedirectRefusal(from, value, false).empty());
  if (address->Origin() != "https://trade.example.com:443") FUZZ_CHECK(!RedirectRefusal(from, value, true).empty());
  if (address->Origin() == "https://trade.example.com:443") FUZZ_CHECK(RedirectRefusal(from, value, true).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string kHosts[] = {"trade.taobao.com", "127.0.0.1", "wuliu.taobao.com", "localhost",
                                       "a.b.example.co.uk", "www.example.com.cn", "taobao.com", "10.0.0.1"};
  FuzzedDataProvider input(data, size);
  const std::string host = input.PickValueInArray(kHosts);
  const bool secure = input.ConsumeBool();
  const std::string requestPath = input.ConsumeRandomLengthString(24);
  const std::string block = input.ConsumeRemainingBytesAsString();

  ClearCookies();
  StoreResponseCookies(block, host, secure, requestPath);
  const std::vector<StoredCookie> cookies = AllCookies();
  // Cookies that expire while the checks run are left out of the checks that read the store again.
  const std::int64_t soon = static_cast<std::int64_t>(std::time(nullptr)) + 60;
  auto lasting = [&](const std::vector<StoredCookie>& all) {
    std::vector<StoredCookie> kept;
    for (const StoredCookie& c : all) {
      if (c.expiry == 0 || c.expiry > soon) kept.push_back(c);
    }
    return kept;
  };

  std::size_t setCookieLines = 0;
  for (std::string_view line : HeaderLinesOf(block)) {
    if (Lower(line.substr(0, 11)) == "set-cookie:") ++setCookieLines;
    if (Lower(line.substr(0, 9)) == "location:") {
      std::string_view value = line.substr(9);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      CheckLocation(value);
    }
  }
  FUZZ_CHECK(cookies.size() <= setCookieLines);

  for (const StoredCookie& c : cookies) {
    CheckStoredCookie(c, block, host, secure);
    // Sent back to the host that set it, at its own path, as one well-formed header value.
    // (A Path holding "?" or "#" names no request path: such a cookie is kept but never sent.)
    if ((c.secure && !secure) || (c.expiry != 0 && c.expiry <= soon)) continue;
    if (c.path.find_first_of("?#") != std::string::npos) continue;
    const std::string header = CookieHeaderFor(host, c.path, secure);
    FUZZ_CHECK(fuzz::NoControlBytes(header));
    FUZZ_CHECK(header.find(c.name.empty() ? c.value : c.name + "=" + c.value) != std::string::npos);
  }
  // Never to another site.
  FUZZ_CHECK(CookieHeaderFor("other.invalid", "/", true).empty());

  // The cookie file keeps every cookie as it was.
  std::string error;
  FUZZ_CHECK(SaveCookies(ScratchDir(), &error));
  ClearCookies();
  FUZZ_CHECK(LoadCookies(ScratchDir(), &error));
  const std::vector<StoredCookie> saved = lasting(cookies);
  const std::vector<StoredCookie> reloaded = lasting(AllCookies());
  FUZZ_CHECK(reloaded.size() == saved.size());
  for (std::size_t i = 0; i < saved.size() && i < reloaded.size(); ++i) FUZZ_CHECK(SameCookie(saved[i], reloaded[i]));
  return 0;
}
