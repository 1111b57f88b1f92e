// The headless runner: automatic delivery without windows, every activity line printed.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

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
class FileSettings : public LiveSettings {
 public:
  explicit FileSettings(std::filesystem::path file) : file_(std::move(file)) {}
  Settings Current() const override;

 private:
  std::filesystem::path file_;
};

// Runs until SIGINT/SIGTERM (or one tick with once). The first signal stops the pass under way
// before its next order; a second ends the process at once with status 128 + its number. Exit
// status: 0 done; 1 when the data directory is in use by another copy or a store cannot be opened
// (message on standard error), or with once when the order list could not be read.
int RunHeadless(const RunOptions& options);

}  // namespace torvane
