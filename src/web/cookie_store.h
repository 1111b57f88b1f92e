// The process-wide cookie store shared by every request on every thread and by the
// login window. It keeps the seller's marketplace session; SaveCookies/LoadCookies
// carry it across a restart.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// One stored cookie.
struct StoredCookie {
  std::string domain;       // lower-case host or domain, no leading dot
  bool hostOnly = true;     // true: sent to exactly that host; false: also to its sub-domains
  std::string path = "/";
  std::string name;         // may be empty (a Set-Cookie line without "=")
  std::string value;
  bool secure = false;      // sent over https only
  bool httpOnly = false;
  std::int64_t expiry = 0;  // seconds since the epoch; 0: a session cookie (kept until cleared)
};

// "cookies.txt" in the data directory.
std::filesystem::path CookieFilePath(const std::filesystem::path& dataDir);

// Replaces the store's contents with the cookie file of the data directory; a missing file gives an empty store
// and counts as success. Expired cookies, malformed lines and lines no Set-Cookie could have stored (a
// domain cookie of an IP host or a public suffix, ";" in a name or value, name and value over
// kMaxCookieBytes, the cookie prefixes without their conditions) are dropped. A file that cannot be read, or holds
// neither the cookie-file header nor a single cookie line, is a failure: the store is left as it was, and the
// file is kept as it is (SaveCookies refuses to replace it) until a later load of it succeeds.
bool LoadCookies(const std::filesystem::path& dataDir, std::string* error = nullptr);

// Writes every unexpired cookie to the cookie file atomically, readable by the owner only. Refused (false,
// error says why) for a file whose last load failed, so a saved login that could not be read is never lost.
bool SaveCookies(const std::filesystem::path& dataDir, std::string* error = nullptr);

// Stores a cookie handed over by the login browser. A domain written with a leading dot also matches its
// sub-domains. An expiry in the past removes a stored cookie of that domain, path and name. A cookie no
// Set-Cookie could have stored is dropped, as by LoadCookies.
void ImportCookie(std::string_view domain, std::string_view name, std::string_view value, std::string_view path = "/",
                  bool secure = false, std::int64_t expiry = 0);

// At most this many cookies per registrable domain (or IP host), and in all; the least recently used go first.
inline constexpr std::size_t kMaxCookiesPerDomain = 180;
inline constexpr std::size_t kMaxCookies = 3000;
// Longest name plus value accepted; longer attribute values than kMaxCookieAttributeBytes are ignored.
inline constexpr std::size_t kMaxCookieBytes = 4096;
inline constexpr std::size_t kMaxCookieAttributeBytes = 1024;

// Stores the cookie of one Set-Cookie header value (the text after "Set-Cookie: ") received from host over
// https (secureOrigin) or http, in answer to a request for requestPath (its query is ignored).
// The name is the text before the first "=" of the first ";"-separated part; without "=" the name is empty
// and the whole part is the value. Without a Path attribute (or with one not starting with "/") the path is
// the request path up to its last "/". Returns false, storing nothing, for:
//   a name or value holding control bytes, or longer than kMaxCookieBytes together;
//   a Domain attribute the host does not belong to, one naming a public suffix other than the host itself,
//   or one other than the host itself when the host is an IP address (an IP host's cookies are host-only);
//   Secure, or a __Secure-/__Host- name, from an insecure origin, and a __Host- cookie with a Domain or a
//   path other than "/";
//   a cookie from an insecure origin that would shadow a Secure cookie of the same name (RFC 6265bis).
// Returns true when it was stored (or removed when expired).
bool StoreSetCookie(std::string_view host, std::string_view setCookieValue, bool secureOrigin = false,
                    std::string_view requestPath = "/");

// The value of the Cookie request header for a request to host and path ("" when no cookie applies):
// longer paths first, then older cookies first; a cookie with an empty name is sent as its value alone.
std::string CookieHeaderFor(std::string_view host, std::string_view path, bool secureChannel);

// Every unexpired cookie, oldest first.
std::vector<StoredCookie> AllCookies();

// Number of cookies held (expired ones not yet purged included).
std::size_t CookieCount();

// Empties the store.
void ClearCookies();

}  // namespace torvane
