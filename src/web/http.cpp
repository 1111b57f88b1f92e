#include "web/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <mutex>
#include <vector>

#include "notify/notify_interfaces.h"
#include "web/cookie_store.h"
#include "base/text.h"
#include "base/web_address.h"
#include "web/request_address.h"

namespace torvane {

namespace {

constexpr std::string_view kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr std::string_view kAcceptLine =
    "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";
constexpr int kMaxRedirects = 20;

std::mutex& ConfigMutex() {
  static std::mutex mutex;
  return mutex;
}

WebConfig& ConfigSlot() {
  static WebConfig config;
  return config;
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Name lookups and TLS sessions are shared by every handle of the process; cookies live in the cookie store.
class SharedState {
 public:
  SharedState() {
    share_ = curl_share_init();
    if (share_ == nullptr) return;
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &SharedState::Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &SharedState::Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  }
  SharedState(const SharedState&) = delete;
  SharedState& operator=(const SharedState&) = delete;
  // Never cleaned up: handles of other threads may still point at it when the process ends.
  CURLSH* get() const { return share_; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<SharedState*>(self)->locks_[Index(data)].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<SharedState*>(self)->locks_[Index(data)].unlock();
  }
  static std::size_t Index(curl_lock_data data) {
    auto i = static_cast<std::size_t>(data);
    return i < CURL_LOCK_DATA_LAST ? i : 0;
  }

  CURLSH* share_ = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
};

CURLSH* Share() {
  static SharedState* state = new SharedState();  // intentionally never destroyed
  return state->get();
}

// One easy handle per thread, reused (with its open connections) by the calls of that thread.
struct ThreadHandle {
  CURL* handle = nullptr;
  ~ThreadHandle() {
    if (handle != nullptr) curl_easy_cleanup(handle);
  }
};

CURL* HandleForThisThread() {
  thread_local ThreadHandle holder;
  if (holder.handle == nullptr) {
    holder.handle = curl_easy_init();
  } else {
    curl_easy_reset(holder.handle);
  }
  return holder.handle;
}

struct HeaderList {
  curl_slist* list = nullptr;
  ~HeaderList() { curl_slist_free_all(list); }
  void Add(const std::string& line) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown != nullptr) list = grown;
  }
};

struct Transfer {
  std::string body;
  std::string headers;
  std::size_t maxBody = 0;
  std::size_t maxHeaders = 0;
  bool bodyTooLarge = false;
  bool headersTooLarge = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  std::size_t n = size * count;
  if (t->body.size() + n > t->maxBody) {
    t->bodyTooLarge = true;
    return 0;  // aborts the transfer
  }
  t->body.append(data, n);
  return n;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  std::size_t n = size * count;
  if (t->headers.size() + n > t->maxHeaders) {
    t->headersTooLarge = true;
    return 0;
  }
  t->headers.append(data, n);
  return n;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  return FindTextIgnoreAsciiCase(text.substr(0, prefix.size()), prefix) == 0;
}

}  // namespace

void StoreResponseCookies(std::string_view headers, const std::string& host, bool secure, std::string_view path) {
  std::size_t pos = 0;
  while (pos < headers.size()) {
    std::size_t nl = headers.find('\n', pos);
    std::string_view line = headers.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? headers.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    constexpr std::string_view kName = "set-cookie:";
    if (!StartsWithIgnoreCase(line, kName)) continue;
    std::string_view value = line.substr(kName.size());
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    StoreSetCookie(host, value, secure, path);
  }
}

namespace {

// Where one hop goes: the address read once, the address given to curl, and the path with query the
// cookie store matches.
struct Target {
  WebAddress address;
  std::string curlUrl;
  std::string path;
};

Target TargetOf(WebAddress address) {
  Target target;
  target.curlUrl = ConnectionAddressOf(address);
  target.path = RequestPathOf(address);
  target.address = std::move(address);
  return target;
}

std::string CurlErrorText(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      return "无法解析主机";
    case CURLE_COULDNT_CONNECT:
      return "无法连接服务器";
    case CURLE_OPERATION_TIMEDOUT:
      return "访问超时";
    case CURLE_PEER_FAILED_VERIFICATION:
      return "服务器证书无效";
    default:
      return std::string("访问失败: ") + curl_easy_strerror(code);
  }
}

// The header block of one request: caller lines, the missing defaults, then the form lines of a POST.
// An empty defaultReferer sends no default Referer line.
std::string BuildHeaderBlock(std::string_view extraHeaders, std::string_view defaultReferer, bool postWithBody,
                             std::size_t bodyLength) {
  std::string block(extraHeaders);
  if (FindTextIgnoreAsciiCase(block, "Accept: ") == kNotFound) block += kAcceptLine;
  if (FindTextIgnoreAsciiCase(block, "Referer: ") == kNotFound && !defaultReferer.empty()) {
    block += "Referer: ";
    block += defaultReferer;
    block += "\r\n";
  }
  if (FindTextIgnoreAsciiCase(block, "Accept-Language: ") == kNotFound) block += "Accept-Language: zh-cn\r\n";
  if (postWithBody) {
    // A caller that posts something else than a form (JSON) says so; a second Content-Type would
    // leave the server to guess which one holds.
    if (FindTextIgnoreAsciiCase(block, "Content-Type: ") == kNotFound) {
      block += "Content-Type: application/x-www-form-urlencoded\r\n";
    }
    block += "Content-Length: " + std::to_string(bodyLength) + "\r\n";
  }
  return block;
}

// Header lines of the block; a line break of any kind ends a line, empty lines are dropped.
std::vector<std::string> HeaderLines(std::string_view block) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= block.size(); ++i) {
    if (i == block.size() || block[i] == '\r' || block[i] == '\n') {
      if (i > start) lines.emplace_back(block.substr(start, i - start));
      start = i + 1;
    }
  }
  return lines;
}

bool HasHeaderNamed(const std::vector<std::string>& lines, std::string_view nameWithColon) {
  for (const std::string& line : lines) {
    if (StartsWithIgnoreCase(line, nameWithColon)) return true;
  }
  return false;
}

}  // namespace

std::string CallerHeadersForHop(std::string_view extraHeaders, const WebAddress& first, const WebAddress& hop) {
  if (SameOrigin(first, hop)) return std::string(extraHeaders);
  std::string kept;
  for (const std::string& line : HeaderLines(extraHeaders)) {
    if (StartsWithIgnoreCase(line, "Cookie:") || StartsWithIgnoreCase(line, "Authorization:")) continue;
    if (StartsWithIgnoreCase(line, "Referer:")) {
      // Only a Referer that names the hop's own origin goes along; an unreadable one names none.
      const std::optional<WebAddress> referer = ParseWebAddress(Trim(std::string_view(line).substr(8)));
      if (!referer || !SameOrigin(*referer, hop)) continue;
    }
    kept += line;
    kept += "\r\n";
  }
  return kept;
}

void ConfigureWeb(const WebConfig& config) {
  std::lock_guard<std::mutex> lock(ConfigMutex());
  ConfigSlot() = config;
}

WebConfig CurrentWebConfig() {
  std::lock_guard<std::mutex> lock(ConfigMutex());
  return ConfigSlot();
}

HttpResult WebRequest(const HttpRequest& request) {
  HttpResult result;
  WebConfig config = CurrentWebConfig();

  if (request.method != 0 && request.method != 1) {
    if (config.notices != nullptr) {
      config.notices->ShowNotice("【网页_访问】命令的第二个【访问方式】参数有误,请返回修改", 0, "友情提醒");
    }
    result.error = "访问方式参数有误";
    return result;
  }

  // The one reading of the address, used for everything below; user-info would name another host.
  std::optional<WebAddress> address = ReadRequestAddress(request.url);
  if (!address || address->hasUserInfo) {
    result.error = "网址有误";
    return result;
  }
  const std::string url = AddressText(*address);
  Target target = TargetOf(std::move(*address));
  const Target first = target;

  GlobalInit();
  CURL* curl = HandleForThisThread();
  if (curl == nullptr) {
    result.error = "无法初始化网络";
    return result;
  }

  std::string proxy;
  for (char c : request.proxy) {
    if (c != ' ') proxy.push_back(c);
  }

  // Unset or nonsensical limits fall back to the defaults rather than to no limit at all.
  const WebConfig defaults;
  if (config.connectTimeoutSeconds <= 0) config.connectTimeoutSeconds = defaults.connectTimeoutSeconds;
  if (config.totalTimeoutSeconds <= 0) config.totalTimeoutSeconds = defaults.totalTimeoutSeconds;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(config.totalTimeoutSeconds);
  bool post = request.method == 1;
  for (int hop = 0;; ++hop) {
    if (hop > kMaxRedirects) {
      result.ok = false;
      result.error = "重定向次数过多";
      return result;
    }
    auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (remaining <= 0) {
      result.timedOut = true;
      result.error = "访问超时";
      return result;
    }

    bool sendBody = post && !request.postData.empty();
    // The address goes along as Referer only to its own origin.
    const bool firstOrigin = SameOrigin(first.address, target.address);
    const std::string callerLines = CallerHeadersForHop(request.extraHeaders, first.address, target.address);
    std::vector<std::string> lines = HeaderLines(BuildHeaderBlock(
        callerLines, firstOrigin ? std::string_view(url) : std::string_view(), sendBody, request.postData.size()));
    const std::string& host = target.address.host;
    const bool secure = target.address.Secure();
    std::string cookies = CookieHeaderFor(host, target.path, secure);
    HeaderList headers;
    for (const std::string& line : lines) headers.Add(line);
    if (!cookies.empty()) headers.Add("Cookie: " + cookies);
    // Keep curl from adding lines of its own that the fixed header set does not have.
    if (!HasHeaderNamed(lines, "Expect:")) headers.Add("Expect:");
    if (!HasHeaderNamed(lines, "Accept:")) headers.Add("Accept:");
    if (post && !sendBody) {
      if (!HasHeaderNamed(lines, "Content-Type:")) headers.Add("Content-Type:");
      if (!HasHeaderNamed(lines, "Content-Length:")) headers.Add("Content-Length:");
    }

    Transfer transfer;
    transfer.maxBody = config.maxBodyBytes;
    transfer.maxHeaders = std::max<std::size_t>(config.maxBodyBytes, 1u << 20);

    // A name of this machine goes to its fixed addresses, never to the name resolver.
    HeaderList fixedAddresses;
    if (const std::string fixed = FixedAddressesOf(host); !fixed.empty()) {
      fixedAddresses.Add(host + ":" + std::to_string(target.address.port) + ":" + fixed);
    }
    curl_easy_setopt(curl, CURLOPT_RESOLVE, fixedAddresses.list);
    curl_easy_setopt(curl, CURLOPT_URL, target.curlUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_SHARE, Share());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, std::string(kUserAgent).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(config.connectTimeoutSeconds) * 1000L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(remaining));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(config.maxBodyBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    // The proxy serves plain http addresses only, as an "http=" proxy list does; secure ones go direct,
    // and so do those of this machine (through a proxy they would reach the proxy's own).
    curl_easy_setopt(curl, CURLOPT_PROXY, secure || IsLoopbackHost(host) ? "" : proxy.c_str());
    if (!config.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, config.caFile.c_str());
    if (post) {
      curl_easy_setopt(curl, CURLOPT_POST, 1L);
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.postData.size()));
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.postData.data());
    } else {
      curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }

    CURLcode code = curl_easy_perform(curl);
    // The headers that did arrive leave their cookies even when the transfer failed later.
    StoreResponseCookies(transfer.headers, host, secure, target.path);
    result.rawHeaders += transfer.headers;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    result.status = static_cast<int>(status);
    result.body = std::move(transfer.body);
    result.finalUrl = target.curlUrl;

    if (code != CURLE_OK) {
      if (transfer.bodyTooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        result.bodyTooLarge = true;
        result.error = "页面过大";
        result.body.clear();
      } else if (transfer.headersTooLarge) {
        result.error = "响应头过大";
      } else if (code == CURLE_OPERATION_TIMEDOUT) {
        result.timedOut = true;
        result.error = "访问超时";
      } else {
        result.error = CurlErrorText(code);
      }
      return result;
    }

    char* location = nullptr;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
    if (status >= 300 && status < 400 && location != nullptr && *location != '\0') {
      std::optional<WebAddress> nextAddress = ReadAbsoluteAddress(location);
      if (!nextAddress || nextAddress->hasUserInfo) {
        result.error = "重定向地址有误";
        return result;
      }
      Target next = TargetOf(std::move(*nextAddress));
      if (status == 303 || ((status == 301 || status == 302) && post)) post = false;
      if (std::string refusal = RedirectRefusal(target.curlUrl, next.curlUrl, post); !refusal.empty()) {
        result.error = std::move(refusal);
        return result;
      }
      target = std::move(next);
      result.body.clear();
      continue;
    }
    break;
  }

  result.ok = true;
  if (request.pageEncoding == 1) {
    result.body = Utf8ToGbk(UpToFirstZero(result.body));
  } else if (request.pageEncoding == 2) {
    result.body = Big5ToGbkSimplified(UpToFirstZero(result.body));
  }
  return result;
}

std::string RedirectRefusal(std::string_view from, std::string_view to, bool keepsForm) {
  const std::optional<WebAddress> source = ParseWebAddress(from);
  const std::optional<WebAddress> destination = ParseWebAddress(to);
  if (!source || !destination) return "重定向地址有误";
  if (source->Secure() && !destination->Secure()) return "拒绝从 https 重定向到 http";
  if (keepsForm && !SameOrigin(*source, *destination)) return "拒绝把表单重定向到其他站点";
  return {};
}

std::string 网页_访问(std::string_view url, int 访问方式, std::string_view proxy, std::string_view extraHeaders,
                      std::string_view postData, int pageEncoding, std::string* responseHeaders) {
  HttpRequest request;
  request.url = std::string(url);
  request.method = 访问方式;
  request.proxy = std::string(proxy);
  request.extraHeaders = std::string(extraHeaders);
  request.postData = std::string(postData);
  request.pageEncoding = pageEncoding;
  HttpResult result = WebRequest(request);
  if (responseHeaders != nullptr) *responseHeaders = result.rawHeaders;
  if (!result.ok) return {};
  return std::move(result.body);
}

std::string FetchPageText(std::string_view url) { return std::string(UpToFirstZero(网页_访问(url))); }

}  // namespace torvane
