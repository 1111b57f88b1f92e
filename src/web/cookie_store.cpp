#include "web/cookie_store.h"

#include <curl/curl.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <mutex>
#include <tuple>

#include "base/files.h"

namespace torvane {

namespace {

struct Entry {
  StoredCookie cookie;
  std::uint64_t sequence = 0;  // creation order; kept when a cookie is replaced
};

using Key = std::tuple<std::string, std::string, std::string>;  // domain, path, name

struct Jar {
  std::mutex mutex;
  std::map<Key, Entry> entries;
  std::uint64_t nextSequence = 1;
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

// Stores or, when expired, removes; the caller holds the lock.
void PutLocked(Jar& jar, StoredCookie cookie) {
  Key key{cookie.domain, cookie.path, cookie.name};
  if (IsExpired(cookie, Now())) {
    jar.entries.erase(key);
    return;
  }
  auto it = jar.entries.find(key);
  if (it != jar.entries.end()) {
    it->second.cookie = std::move(cookie);
    return;
  }
  jar.entries.emplace(std::move(key), Entry{std::move(cookie), jar.nextSequence++});
}

// Parses a signed decimal number; false when the text is not one.
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
    if (value < (std::int64_t{1} << 40)) value = value * 10 + (c - '0');
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

bool StoreSetCookie(std::string_view host, std::string_view setCookieValue) {
  StoredCookie cookie;
  std::string lowerHost = LowerAscii(host);
  cookie.domain = lowerHost;

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

  bool haveMaxAge = false;
  while (!attributes.empty()) {
    std::size_t next = attributes.find(';');
    std::string_view attribute = attributes.substr(0, next);
    attributes = next == std::string_view::npos ? std::string_view{} : attributes.substr(next + 1);
    std::size_t aeq = attribute.find('=');
    std::string key = LowerAscii(TrimBlanks(attribute.substr(0, aeq)));
    std::string_view value = aeq == std::string_view::npos ? std::string_view{} : TrimBlanks(attribute.substr(aeq + 1));
    if (key == "domain") {
      std::string domain = LowerAscii(value);
      while (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
      if (domain.empty()) continue;
      if (!DomainMatches(lowerHost, domain)) return false;
      // A bare top-level name may only be set by that very host.
      if (domain.find('.') == std::string::npos && domain != lowerHost) return false;
      cookie.domain = domain;
      cookie.hostOnly = false;
    } else if (key == "path") {
      cookie.path = (!value.empty() && value.front() == '/') ? std::string(value) : std::string("/");
    } else if (key == "max-age") {
      std::int64_t seconds = 0;
      if (ParseSeconds(value, &seconds)) {
        haveMaxAge = true;
        cookie.expiry = seconds <= 0 ? 1 : Now() + seconds;
      }
    } else if (key == "expires") {
      if (haveMaxAge) continue;
      std::string text(value);
      time_t when = curl_getdate(text.c_str(), nullptr);
      if (when != static_cast<time_t>(-1)) cookie.expiry = when <= 0 ? 1 : static_cast<std::int64_t>(when);
    } else if (key == "secure") {
      cookie.secure = true;
    } else if (key == "httponly") {
      cookie.httpOnly = true;
    }
  }
  if (HasControlBytes(cookie.path) || cookie.path.find('\t') != std::string::npos) return false;

  Jar& jar = TheJar();
  std::lock_guard<std::mutex> lock(jar.mutex);
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
  if (cookie.domain.empty() || HasControlBytes(name) || HasControlBytes(value) || HasControlBytes(path)) return;
  cookie.name = std::string(name);
  cookie.value = std::string(value);
  cookie.path = (!path.empty() && path.front() == '/') ? std::string(path) : std::string("/");
  cookie.secure = secure;
  cookie.expiry = expiry < 0 ? 1 : expiry;
  Jar& jar = TheJar();
  std::lock_guard<std::mutex> lock(jar.mutex);
  PutLocked(jar, std::move(cookie));
}

std::string CookieHeaderFor(std::string_view host, std::string_view path, bool secureChannel) {
  std::string lowerHost = LowerAscii(host);
  std::string_view requestPath = path.substr(0, path.find_first_of("?#"));
  if (requestPath.empty()) requestPath = "/";
  std::int64_t now = Now();
  std::vector<const Entry*> chosen;
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
    if (domain.empty()) continue;
    c.domain = LowerAscii(domain);
    c.path = fields[2].empty() ? std::string("/") : std::string(fields[2]);
    c.secure = fields[3] == "TRUE";
    if (!ParseSeconds(fields[4], &c.expiry) || c.expiry < 0) continue;
    hasCookieLine = true;
    c.name = std::string(fields[5]);
    c.value = std::string(fields[6]);
    if (IsExpired(c, now) || HasControlBytes(c.name) || HasControlBytes(c.value)) continue;
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
