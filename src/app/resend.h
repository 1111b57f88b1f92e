// `torvane sent resend`: one order's recorded codes sent again, for the seller to finish by hand
// what a mail server or a chat window left undone.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace torvane {

struct ResendOptions {
  std::filesystem::path configDir;  // holds 配置文件.ini and 部署配置.ini
  std::filesystem::path dataDir;    // holds the stores, the blacklist, history and cookies
  std::string orderNumber;          // GBK
  std::string mailTo;               // GBK; empty: the order's own channel and address
  std::function<void(const std::string&)> printLine;  // each line of the outcome (GBK)
};

// The start-up checks of `run` (Session::Open), the login check with the saved cookies, then
// DeliveryEngine::ResendOrder; the lines also go to 历史记录.log. Exit status: 0 when the codes went out
// and the order was marked shipped or is off the to-ship list; 1 when anything failed, the to-ship list
// could not be read, the data directory is in use by a running copy, the deployment file is unusable or
// a store cannot be opened.
int ResendCommand(const ResendOptions& options);

}  // namespace torvane
