#include "web/cookie_store.h"

#include <curl/curl.h>
#include <libpsl.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <mutex>
#include <tuple>

#include "base/files.h"
#include "base/web_address.h"

namespace torvane {

namespace {

struct Entry {
  StoredCookie cookie;
  std::uint64_t sequence = 0;  // creation order; kept when a cookie is replaced
  std::uint64_t lastUse = 0;   // when last stored or sent; the least recent goes first when the store is full
  std::string group;           // registrable domain (or IP host) whose cookie count is bounded
};

using Key = std::tuple<std::string, std::string, std::string>;  // domain, path, name

struct Jar {
  std::mutex mutex;
  std::map<Key, Entry> entries;
  std::uint64_t nextSequence = 1;
  std::uint64_t useClock = 1;
};

Jar& TheJar() {
  static Jar jar;
  return jar;
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool IsExpired(const StoredCookie& c, std::int64_t now) { return c.expiry != 0 && c.expiry <= now; }

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool HasControlBytes(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char ch) {
    auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7F;
  });
}

bool DomainMatches(std::string_view host, std::string_view domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.ends_with(domain) && host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
  if (requestPath == cookiePath) return true;
  if (!requestPath.starts_with(cookiePath)) return false;
  return cookiePath.ends_with('/') || requestPath[cookiePath.size()] == '/';
}

// The public-suffix list of the system (newest of the built-in and the installed one); null when neither
// is there, and then every Domain attribute but the host's own is refused.
const psl_ctx_t* PublicSuffixes() {
  static const psl_ctx_t* const list = [] {
    const psl_ctx_t* latest = psl_latest(nullptr);  // kept for the life of the process
    return latest != nullptr ? latest : psl_builtin();
  }();
  return list;
}

// An IPv4 address (also in the short or hexadecimal forms a URL parser accepts) or an IPv6 literal:
// a host whose last label is a number.
bool IsIpHost(std::string_view host) {
  if (host.empty()) return false;
  if (host.front() == '[' || host.find(':') != std::string_view::npos) return true;
  std::string_view last = host.substr(host.rfind('.') == std::string_view::npos ? 0 : host.rfind('.') + 1);
  if (last.empty()) return false;
  if (last.size() > 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X')) return true;
  return std::all_of(last.begin(), last.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsPublicSuffix(const std::string& domain) {
  if (domain.find('.') == std::string::npos) return true;
  const psl_ctx_t* list = PublicSuffixes();
  return list == nullptr || psl_is_public_suffix2(list, domain.c_str(), PSL_TYPE_ANY) != 0;
}

std::string CountGroupOf(const std::string& domain) {
  if (IsIpHost(domain)) return domain;
  const psl_ctx_t* list = PublicSuffixes();
  const char* registrable = list == nullptr ? nullptr : psl_registrable_domain(list, domain.c_str());
  return registrable != nullptr ? std::string(registrable) : domain;
}

// Drops the least recently used entries (never `keep`) while more than `limit` satisfy `counts`.
template <typename Counts>
void EvictLocked(Jar& jar, std::size_t limit, const Key& keep, Counts counts) {
  std::vector<std::map<Key, Entry>::iterator> members;
  for (auto it = jar.entries.begin(); it != jar.entries.end(); ++it) {
    if (counts(it->second)) members.push_back(it);
  }
  if (members.size() <= limit) return;
  std::sort(members.begin(), members.end(), [](auto a, auto b) { return a->second.lastUse < b->second.lastUse; });
  std::size_t excess = members.size() - limit;
  for (auto it : members) {
    if (excess == 0) break;
    if (it->first == keep) continue;
    jar.entries.erase(it);
    --excess;
  }
}

// Stores or, when expired, removes; the store stays within its bounds. The caller holds the lock.
void PutLocked(Jar& jar, StoredCookie cookie) {
  Key key{cookie.domain, cookie.path, cookie.name};
  if (IsExpired(cookie, Now())) {
    jar.entries.erase(key);
    return;
  }
  auto it = jar.entries.find(key);
  if (it != jar.entries.end()) {
    it->second.cookie = std::move(cookie);
    it->second.lastUse = jar.useClock++;
    return;
  }
  std::string group = CountGroupOf(cookie.domain);
  jar.entries.emplace(key, Entry{std::move(cookie), jar.nextSequence++, jar.useClock++, group});
  EvictLocked(jar, kMaxCookiesPerDomain, key, [&](const Entry& e) { return e.group == group; });
  if (jar.entries.size() > kMaxCookies) EvictLocked(jar, kMaxCookies, key, [](const Entry&) { return true; });
}

// The path a cookie gets without a usable Path attribute: the request path up to its last "/".
std::string DefaultPath(std::string_view requestPath) {
  requestPath = requestPath.substr(0, requestPath.find_first_of("?#"));
  if (requestPath.empty() || requestPath.front() != '/') return "/";
  std::size_t last = requestPath.rfind('/');
  if (last == 0) return "/";
  return std::string(requestPath.substr(0, last));
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && LowerAscii(text.substr(0, prefix.size())) == LowerAscii(prefix);
}

// An insecure origin may not set a cookie that a Secure one of the same name already covers.
bool ShadowsSecureCookieLocked(const Jar& jar, const StoredCookie& cookie) {
  for (const auto& [key, entry] : jar.entries) {
    const StoredCookie& old = entry.cookie;
    if (!old.secure || old.name != cookie.name) continue;
    bool domainsMeet = DomainMatches(old.domain, cookie.domain) || DomainMatches(cookie.domain, old.domain);
    if (domainsMeet && PathMatches(cookie.path, old.path)) return true;
  }
  return false;
}

// True when a cookie that did not come as a Set-Cookie (a cookie file, the browser) could not have been
// stored by one: a domain that is no host, a domain cookie of an IP host or a public suffix, a name or
// value with control bytes or ";" (it would add cookies of its own to the Cookie line), a name with "=",
// nothing at all, name and value over kMaxCookieBytes, a path that is not one, the __Secure- and __Host-
// prefixes without what they promise.
bool BreaksSetCookieRules(const StoredCookie& c) {
  if (!NormaliseHost(c.domain) || (!c.hostOnly && (IsIpHost(c.domain) || IsPublicSuffix(c.domain)))) return true;
  if (HasControlBytes(c.name) || HasControlBytes(c.value) || c.name.find_first_of(";=") != std::string::npos ||
      c.value.find(';') != std::string::npos) {
    return true;
  }
  if ((c.name.empty() && c.value.empty()) || c.name.size() + c.value.size() > kMaxCookieBytes) return true;
  if (c.path.empty() || c.path.front() != '/' || c.path.size() > kMaxCookieAttributeBytes || HasControlBytes(c.path)) {
    return true;
  }
  const bool hostPrefix = StartsWithIgnoreCase(c.name, "__Host-");
  if ((hostPrefix || StartsWithIgnoreCase(c.name, "__Secure-")) && !c.secure) return true;
  return hostPrefix && (!c.hostOnly || c.path != "/");
}

// Expiry times past this (about the year 36800) are held as this, so that every expiry written to the
// cookie file reads back as the same number.
constexpr std::int64_t kLatestExpiry = std::int64_t{1} << 40;

// Parses a signed decimal number, its size capped at kLatestExpiry; false when the text is not one.
bool ParseSeconds(std::string_view text, std::int64_t* out) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = std::min(kLatestExpiry, value * 10 + (c - '0'));
  }
  *out = negative ? -value : value;
  return true;
}

const char kFileHeader[] = "# Netscape HTTP Cookie File\n";
const char kHttpOnlyPrefix[] = "#HttpOnly_";

// Cookie files whose last load failed, with the reason: they are kept as they are.
struct KeptFiles {
  std::mutex mutex;
  std::map<std::filesystem::path, std::string> reasons;
};

KeptFiles& TheKeptFiles() {
  static KeptFiles kept;
  return kept;
}

void SetKept(const std::filesystem::path& file, const std::string& reason) {
  KeptFiles& kept = TheKeptFiles();
  std::lock_guard<std::mutex> lock(kept.mutex);
  if (reason.empty()) {
    kept.reasons.erase(file);
  } else {
    kept.reasons[file] = reason;
  }
}

}  // namespace

std::filesystem::path CookieFilePath(const std::filesystem::path& dataDir) { return dataDir / "cookies.txt"; }

bool StoreSetCookie(std::string_view host, std::string_view setCookieValue, bool secureOrigin,
                    std::string_view requestPath) {
  StoredCookie cookie;
  std::string lowerHost = LowerAscii(host);
  cookie.domain = lowerHost;
  cookie.path = DefaultPath(requestPath);

  std::size_t semi = setCookieValue.find(';');
  std::string_view pair = setCookieValue.substr(0, semi);
  std::string_view attributes = semi == std::string_view::npos ? std::string_view{} : setCookieValue.substr(semi + 1);
  std::size_t eq = pair.find('=');
  if (eq == std::string_view::npos) {
    cookie.value = std::string(TrimBlanks(pair));
  } else {
    cookie.name = std::string(TrimBlanks(pair.substr(0, eq)));
    cookie.value = std::string(TrimBlanks(pair.substr(eq + 1)));
  }
  if (HasControlBytes(cookie.name) || HasControlBytes(cookie.value)) return false;
  if (cookie.name.empty() && cookie.value.empty()) return false;
  if (cookie.name.size() + cookie.value.size() > kMaxCookieBytes) return false;

  bool haveMaxAge = false;
  bool haveDomain = false;
  while (!attributes.empty()) {
    std::size_t next = attributes.find(';');
    std::string_view attribute = attributes.substr(0, next);
    attributes = next == std::string_view::npos ? std::string_view{} : attributes.substr(next + 1);
    std::size_t aeq = attribute.find('=');
    std::string key = LowerAscii(TrimBlanks(attribute.substr(0, aeq)));
    std::string_view value = aeq == std::string_view::npos ? std::string_view{} : TrimBlanks(attribute.substr(aeq + 1));
    if (value.size() > kMaxCookieAttributeBytes) continue;
    if (key == "domain") {
      std::string domain = LowerAscii(value);
      while (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
      if (domain.empty()) continue;
      haveDomain = true;
      // An IP host's cookie stays with that host: "Domain=0.1" from 127.0.0.1 would reach every x.y.0.1.
      if (IsIpHost(lowerHost)) {
        if (domain != lowerHost) return false;
        continue;
      }
      if (!DomainMatches(lowerHost, domain)) return false;
      if (IsPublicSuffix(domain)) {
        // A public suffix (com.cn, co.uk) is only ever the host's own name, and then the cookie is host-only.
        if (domain != lowerHost) return false;
        continue;
      }
      cookie.domain = domain;
      cookie.hostOnly = false;
    } else if (key == "path") {
      if (!value.empty() && value.front() == '/') cookie.path = std::string(value);
    } else if (key == "max-age") {
      std::int64_t seconds = 0;
      if (ParseSeconds(value, &seconds)) {
        haveMaxAge = true;
        cookie.expiry = seconds <= 0 ? 1 : std::min(kLatestExpiry, Now() + seconds);
      }
    } else if (key == "expires") {
      if (haveMaxAge) continue;
      std::string text(value);
      time_t when = curl_getdate(text.c_str(), nullptr);
      if (when != static_cast<time_t>(-1)) cookie.expiry = when <= 0 ? 1 : std::min<std::int64_t>(kLatestExpiry, when);
    } else if (key == "secure") {
      cookie.secure = true;
    } else if (key == "httponly") {
      cookie.httpOnly = true;
    }
  }
  if (HasControlBytes(cookie.path) || cookie.path.find('\t') != std::string::npos) return false;
  if (cookie.secure && !secureOrigin) return false;
  const bool securePrefix = StartsWithIgnoreCase(cookie.name, "__Secure-");
  const bool hostPrefix = StartsWithIgnoreCase(cookie.name, "__Host-");
  if ((securePrefix || hostPrefix) && !(cookie.secure && secureOrigin)) return false;
  if (hostPrefix && (haveDomain || cookie.path != "/")) return false;

  Jar& jar = TheJar();
  std::lock_guard<std::mutex> lock(jar.mutex);
  if (!secureOrigin && ShadowsSecureCookieLocked(jar, cookie)) return false;
  PutLocked(jar, std::move(cookie));
  return true;
}

void ImportCookie(std::string_view domain, std::string_view name, std::string_view value, std::string_view path,
                  bool secure, std::int64_t expiry) {
  StoredCookie cookie;
  cookie.domain = LowerAscii(domain);
  if (!cookie.domain.empty() && cookie.domain.front() == '.') {
    cookie.hostOnly = false;
    while (!cookie.domain.empty() && cookie.domain.front() == '.') cookie.domain.erase(0, 1);
  }
  cookie.name = std::string(name);
  cookie.value = std::string(value);
  cookie.path = (!path.empty() && path.front() == '/') ? std::string(path) : std::string("/");
  cookie.secure = secure;
  cookie.expiry = expiry < 0 ? 1 : std::min(kLatestExpiry, expiry);
  if (!IsExpired(cookie, Now()) && BreaksSetCookieRules(cookie)) return;  // a removal needs no checking
  Jar& jar = TheJar();
  std::lock_guard<std::mutex> lock(jar.mutex);
  PutLocked(jar, std::move(cookie));
}

std::string CookieHeaderFor(std::string_view host, std::string_view path, bool secureChannel) {
  std::string lowerHost = LowerAscii(host);
  std::string_view requestPath = path.substr(0, path.find_first_of("?#"));
  if (requestPath.empty()) requestPath = "/";
  std::int64_t now = Now();
  std::vector<Entry*> chosen;
  Jar& jar = TheJar();
  std::lock_guard<std::mutex> lock(jar.mutex);
  for (auto it = jar.entries.begin(); it != jar.entries.end();) {
    const StoredCookie& c = it->second.cookie;
    if (IsExpired(c, now)) {
      it = jar.entries.erase(it);
      continue;
    }
    bool domainOk = c.hostOnly ? lowerHost == c.domain : DomainMatches(lowerHost, c.domain);
    if (domainOk && PathMatches(requestPath, c.path) && (!c.secure || secureChannel)) chosen.push_back(&it->second);
    ++it;
  }
  for (Entry* e : chosen) e->lastUse = jar.useClock++;
  std::sort(chosen.begin(), chosen.end(), [](const Entry* a, const Entry* b) {
    if (a->cookie.path.size() != b->cookie.path.size()) return a->cookie.path.size() > b->cookie.path.size();
    return a->sequence < b->sequence;
  });
  std::string header;
  for (const Entry* e : chosen) {
    if (!header.empty()) header += "; ";
    if (!e->cookie.name.empty()) {
      header += e->cookie.name;
      header += '=';
    }
    header += e->cookie.value;
  }
  return header;
}

std::vector<StoredCookie> AllCookies() {
  std::int64_t now = Now();
  std::vector<const Entry*> live;
  Jar& jar = TheJar();
  std::lock_guard<std::mutex> lock(jar.mutex);
  for (const auto& [key, entry] : jar.entries) {
    if (!IsExpired(entry.cookie, now)) live.push_back(&entry);
  }
  std::sort(live.begin(), live.end(), [](const Entry* a, const Entry* b) { return a->sequence < b->sequence; });
  std::vector<StoredCookie> out;
  out.reserve(live.size());
  for (const Entry* e : live) out.push_back(e->cookie);
  return out;
}

std::size_t CookieCount() {
  Jar& jar = TheJar();
  std::lock_guard<std::mutex> lock(jar.mutex);
  return jar.entries.size();
}

void ClearCookies() {
  Jar& jar = TheJar();
  std::lock_guard<std::mutex> lock(jar.mutex);
  jar.entries.clear();
}

bool SaveCookies(const std::filesystem::path& dataDir, std::string* error) {
  // Saves from several threads must not let an older snapshot land after a newer one.
  static std::mutex saveMutex;
  std::lock_guard<std::mutex> saveLock(saveMutex);
  const std::filesystem::path file = CookieFilePath(dataDir);
  {
    KeptFiles& kept = TheKeptFiles();
    std::lock_guard<std::mutex> lock(kept.mutex);
    if (auto it = kept.reasons.find(file); it != kept.reasons.end()) {
      if (error) *error = it->second + "; 原文件保留不覆盖";
      return false;
    }
  }
  std::string text = kFileHeader;
  for (const StoredCookie& c : AllCookies()) {
    if (c.httpOnly) text += kHttpOnlyPrefix;
    if (!c.hostOnly) text += '.';
    text += c.domain;
    text += c.hostOnly ? "\tFALSE\t" : "\tTRUE\t";
    text += c.path;
    text += c.secure ? "\tTRUE\t" : "\tFALSE\t";
    text += std::to_string(c.expiry);
    text += '\t';
    text += c.name;
    text += '\t';
    text += c.value;
    text += '\n';
  }
  return WriteFileAtomic(file, text, error, 0600);
}

bool LoadCookies(const std::filesystem::path& dataDir, std::string* error) {
  const std::filesystem::path file = CookieFilePath(dataDir);
  std::string readError;
  std::optional<std::string> text = ReadWholeFile(file, &readError);
  if (!text) {
    if (!readError.empty()) {
      SetKept(file, readError);
      if (error) *error = readError;
      return false;
    }
    SetKept(file, "");
    ClearCookies();
    return true;
  }
  // A file of another kind (or damaged beyond any cookie line) is not ours to replace with an empty one.
  const bool hasHeader = text->starts_with("# Netscape HTTP Cookie File") || text->starts_with("# HTTP Cookie File");
  bool hasCookieLine = false;
  std::vector<StoredCookie> loaded;
  std::int64_t now = Now();
  std::string_view rest = *text;
  while (!rest.empty()) {
    std::size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    StoredCookie c;
    if (line.starts_with(kHttpOnlyPrefix)) {
      c.httpOnly = true;
      line.remove_prefix(sizeof(kHttpOnlyPrefix) - 1);
    } else if (line.empty() || line.front() == '#') {
      continue;
    }
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
      std::size_t tab = line.find('\t', start);
      fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
      if (tab == std::string_view::npos) break;
      start = tab + 1;
    }
    if (fields.size() != 7) continue;  // not a cookie line: skipped, the others still count
    std::string_view domain = fields[0];
    c.hostOnly = fields[1] != "TRUE";
    while (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
    // ".#x" would be written back as "#x", a comment line: no host has such a name anyway.
    if (domain.empty() || domain.front() == '#') continue;
    c.domain = LowerAscii(domain);
    c.path = fields[2].empty() ? std::string("/") : std::string(fields[2]);
    c.secure = fields[3] == "TRUE";
    if (!ParseSeconds(fields[4], &c.expiry) || c.expiry < 0) continue;
    hasCookieLine = true;
    c.name = std::string(fields[5]);
    c.value = std::string(fields[6]);
    // A hand-written line is held to the rules a Set-Cookie must pass.
    if (IsExpired(c, now) || BreaksSetCookieRules(c)) continue;
    loaded.push_back(std::move(c));
  }
  if (!hasHeader && !hasCookieLine && text->find_first_not_of(" \t\r\n") != std::string::npos) {
    const std::string reason = PathText(file) + " 不是cookie文件 无法读取";
    SetKept(file, reason);
    if (error) *error = reason;
    return false;
  }
  SetKept(file, "");
  Jar& jar = TheJar();
  std::lock_guard<std::mutex> lock(jar.mutex);
  jar.entries.clear();
  for (StoredCookie& c : loaded) PutLocked(jar, std::move(c));
  return true;
}

}  // namespace torvane
