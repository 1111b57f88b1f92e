// A seller's installation for end-to-end runs of the torvane program: configuration and data
// directories pointing at a market-sim and a local mail server, logged in.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/settings.h"
#include "support/market_sim.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"

namespace torvane::test {

class Shop {
 public:
  // Starts market-sim and (withMail) the mail server; writes both configuration files with the
  // given settings; false in ok() when something did not come up.
  explicit Shop(Settings settings, bool withMail = true);

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  MarketSim& sim() { return *sim_; }
  SmtpTestServer* mail() { return mail_.get(); }
  std::filesystem::path configDir() const { return dir_ / "config"; }
  std::filesystem::path dataDir() const { return dir_ / "data"; }

  // Logs in at the simulator through the request function and saves the cookies to the data directory.
  bool LogIn();
  // Adds cards (one transaction) and the item name.
  bool AddCards(const std::string& item, const std::vector<std::pair<std::string, std::string>>& cards,
                const std::string& note = "备注");
  // `torvane ARGS` in the data directory with --config-dir where it applies.
  std::vector<std::string> RunArgs(bool once) const;

 private:
  TempDir dir_;
  std::unique_ptr<MarketSim> sim_;
  std::unique_ptr<SmtpTestServer> mail_;
  bool ok_ = false;
  std::string error_;
};

}  // namespace torvane::test
