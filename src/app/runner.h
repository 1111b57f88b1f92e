// The headless runner: automatic delivery without windows, every activity line printed.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "base/activity_log.h"
#include "delivery/delivery_run.h"

namespace torvane {

struct RunOptions {
  std::filesystem::path configDir;  // holds 配置文件.ini and 部署配置.ini
  std::filesystem::path dataDir;    // holds the stores, item names, blacklist, history, cookies
  bool once = false;                // switch on, one tick, exit
  // Called with every activity line as logged (GBK, CR LF included).
  std::function<void(const std::string&)> printLine;
  // Called after each delivery pass (the demo prints its summary line here).
  std::function<void(const DeliverySummary&, CardStores&)> afterRun;
};

// The settings file read afresh at each use, so edits reach a running delivery without a restart.
// A file read converted (UTF-8, lone CR line ends) is said once in the log given, not at every read.
class FileSettings : public LiveSettings {
 public:
  explicit FileSettings(std::filesystem::path file, ActivityLogger* log = nullptr)
      : file_(std::move(file)), log_(log) {}
  Settings Current() const override;

 private:
  std::filesystem::path file_;
  ActivityLogger* log_;
  mutable std::mutex noteMutex_;
  mutable std::string saidNote_;
};

// Runs until SIGINT/SIGTERM (or one tick with once). The first signal stops the pass under way
// before its next order; a second ends the process at once with status 128 + its number. Exit
// status: 0 done; 1 when the data directory is in use by another copy, the deployment file is
// unusable or a store cannot be opened (message on standard error), or with once when the order
// list could not be read. A closed standard output never stops it (SIGPIPE is ignored).
int RunHeadless(const RunOptions& options);

}  // namespace torvane
