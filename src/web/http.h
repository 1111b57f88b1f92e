// The one request function every marketplace exchange goes through, with the
// process-wide cookie store it shares across threads.
#pragma once

#include <string>
#include <string_view>

namespace torvane {

class NoticeUi;

// Process-wide settings of the request function; set once at start.
struct WebConfig {
  int connectTimeoutSeconds = 15;
  int totalTimeoutSeconds = 60;
  std::size_t maxBodyBytes = 64u << 20;
  NoticeUi* notices = nullptr;  // where "友情提醒" goes; none: dropped
};
void ConfigureWeb(const WebConfig& config);

// One HTTP exchange; returns the body (re-encoded to GBK when pageEncoding is 1 or 2), empty when the request could not be made.
std::string 网页_访问(std::string_view url, int 访问方式 = 0, std::string_view proxy = {},
                      std::string_view extraHeaders = {}, std::string_view postData = {}, int pageEncoding = 0,
                      std::string* responseHeaders = nullptr);

// GET of the address; the body up to its first zero byte.
std::string FetchPageText(std::string_view url);

// Lower-cased host of an address.
std::string HostOfUrl(std::string_view url);
// Path with query of an address, "/" when it has none.
std::string PathOfUrl(std::string_view url);
// Port of an address: the number after ":" in the host part, 80 without one, 0 when not a number.
int PortOfUrl(std::string_view url);

}  // namespace torvane
