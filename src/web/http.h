// The one request function every marketplace exchange goes through, with the
// process-wide cookie store it shares across threads.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "web/request_address.h"

namespace torvane {

class NoticeUi;

// Process-wide settings of the request function; set once at start.
struct WebConfig {
  int connectTimeoutSeconds = 15;
  int totalTimeoutSeconds = 60;
  std::size_t maxBodyBytes = 64u << 20;
  std::string caFile;           // certificates an https server's must chain to (UTF-8 path); "": the system's
  NoticeUi* notices = nullptr;  // where "友情提醒" goes; none: dropped
};
void ConfigureWeb(const WebConfig& config);
// The settings in force.
WebConfig CurrentWebConfig();

// One request with every option of 网页_访问.
struct HttpRequest {
  std::string url;
  int method = 0;  // 0 GET, 1 POST; anything else is refused
  std::string proxy;         // host or host:port; blank: direct
  std::string extraHeaders;  // header lines, each ended by CR LF
  std::string postData;      // form body of a POST, already encoded
  int pageEncoding = 0;      // 1: UTF-8 page returned as GBK; 2: Big5 page returned as GBK simplified
};

// What came of one request.
struct HttpResult {
  bool ok = false;         // the exchange completed (whatever the status code)
  int status = 0;          // status code of the final response, 0 when none arrived
  std::string body;        // final response body (re-encoded as asked); what arrived so far when !ok
  std::string rawHeaders;  // every response header block as received, redirects included, CR LF separated
  std::string finalUrl;    // address of the final response
  std::string error;       // why !ok, GBK text for the seller ("访问超时", "页面过大", ...)
  bool timedOut = false;
  bool bodyTooLarge = false;
};

// Performs the request with the fixed headers, the shared cookie store and redirects followed; never throws.
// The address is read once (ReadRequestAddress) and the request built from that reading: "HTTPS://host"
// is https to host:443; an address that cannot be read or has user-info fails with "网址有误" and no
// traffic. "localhost" is connected to at 127.0.0.1 or ::1 without asking the name resolver, and an
// address of this machine never goes through the proxy.
// Redirects: the body and the caller's Cookie and Authorization lines never go to another origin (scheme,
// host, port), nor does the Referer; a 307 or 308 that would repeat a POST at another origin is refused
// (the form would carry the token and the seller's details there), as is any redirect from https to http
// or to anything but http(s). A refused redirect ends the request with !ok and the reason in error.
HttpResult WebRequest(const HttpRequest& request);

// Why a redirect from one absolute address to another is not followed; "" when it is. keepsForm: a POST
// answered by 307 or 308, which repeats the form at the new address.
std::string RedirectRefusal(std::string_view from, std::string_view to, bool keepsForm);

// One HTTP exchange; returns the body (re-encoded to GBK when pageEncoding is 1 or 2), empty when the request could
// not be made or did not complete (time-out, broken connection, body over the size limit).
std::string 网页_访问(std::string_view url, int 访问方式 = 0, std::string_view proxy = {},
                      std::string_view extraHeaders = {}, std::string_view postData = {}, int pageEncoding = 0,
                      std::string* responseHeaders = nullptr);

// GET of the address; the body up to its first zero byte.
std::string FetchPageText(std::string_view url);

// The caller's header lines for one hop of a request that began at first: as given on first's origin;
// on any other (another scheme, host or port) without Cookie and Authorization lines, and with a
// Referer line only when it names the hop's own origin.
std::string CallerHeadersForHop(std::string_view extraHeaders, const WebAddress& first, const WebAddress& hop);

// Stores every Set-Cookie header of one response header block in the cookie store, in the order received
// (StoreSetCookie with the host, the channel and the request path); other lines are skipped.
void StoreResponseCookies(std::string_view headers, const std::string& host, bool secure, std::string_view path);

}  // namespace torvane
