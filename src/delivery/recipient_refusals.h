// Orders whose buyer's address the mail server refused for now (a 4xx reply to RCPT), with the
// moment of the first refusal. The order keeps its codes at "发货中" and is tried again in later
// passes, after the other orders; 24 hours after the first refusal the next refusal gives up on it.
//
// The moments are kept in 邮件暂拒订单.log in the data directory, so that a restart does not start
// the 24 hours again: one line per order, the first refusal in seconds since 1970 (UTC), one space,
// the order number, CR LF; the file is replaced whole and atomically. A line that does not parse is
// ignored. An order number holding CR or LF is kept in memory only.
#pragma once

#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "delivery/order_scan.h"

namespace torvane {

// How long a buyer's address may be refused for now before the order's mail counts as failed.
inline constexpr std::time_t kRecipientRefusalLimitSeconds = 24 * 60 * 60;

// "邮件暂拒订单.log" in the data directory.
std::filesystem::path RecipientRefusalsPath(const std::filesystem::path& dataDir);

// The record of refused recipients. Not thread-safe: the delivery engine uses it under its run lock.
class RecipientRefusals {
 public:
  explicit RecipientRefusals(std::filesystem::path dataDir) : dataDir_(std::move(dataDir)) {}

  // Reads the file, once: later calls do nothing. A missing file holds nothing. While it cannot be
  // read, error says why (false), refusals are kept in memory only and the file is not written.
  bool Load(std::string* error);

  bool Contains(const std::string& orderNumber) const { return firstRefused_.count(orderNumber) != 0; }

  // Records now as the order's first refusal unless one is recorded, and returns the first refusal.
  // A failed write is reported in error; the moment is still kept in memory.
  std::time_t Note(const std::string& orderNumber, std::time_t now, std::string* error);

  // Forgets the order (its mail went out, or failed for good). False with error when the write failed.
  bool Forget(const std::string& orderNumber, std::string* error);

  // Forgets every order not among those listed (shipped or closed meanwhile). False with error when
  // the write failed.
  bool KeepOnly(const std::set<std::string>& listed, std::string* error);

  // The orders in list order, those with a recorded refusal moved behind the others.
  std::vector<PaidOrder> RefusedLast(const std::vector<PaidOrder>& orders) const;

 private:
  bool Save(std::string* error) const;

  std::filesystem::path dataDir_;
  bool loaded_ = false;
  std::string loadError_;
  std::map<std::string, std::time_t> firstRefused_;
};

}  // namespace torvane
