#include "delivery/recipient_refusals.h"

#include <charconv>

#include "base/files.h"
#include "base/text.h"

namespace torvane {

namespace {

bool Storable(const std::string& orderNumber) {
  return !orderNumber.empty() && orderNumber.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

std::filesystem::path RecipientRefusalsPath(const std::filesystem::path& dataDir) {
  return dataDir / std::filesystem::path(u8"邮件暂拒订单.log");
}

bool RecipientRefusals::Load(std::string* error) {
  if (loaded_) return true;
  std::string readError;
  const std::optional<std::string> text = ReadWholeFile(RecipientRefusalsPath(dataDir_), &readError);
  if (!text && !readError.empty()) {
    loadError_ = PathText(RecipientRefusalsPath(dataDir_)) + ": " + readError;
    if (error) *error = loadError_;
    return false;
  }
  for (const std::string& line : SplitText(text.value_or(std::string()), kCrLf)) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos || space == 0 || space + 1 == line.size()) continue;
    long long seconds = 0;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + space, seconds);
    if (ec != std::errc() || end != line.data() + space) continue;
    // A refusal noted in memory before the file could be read keeps the earlier moment.
    auto [it, added] = firstRefused_.emplace(line.substr(space + 1), static_cast<std::time_t>(seconds));
    if (!added && seconds < it->second) it->second = static_cast<std::time_t>(seconds);
  }
  loaded_ = true;
  loadError_.clear();
  return true;
}

std::time_t RecipientRefusals::Note(const std::string& orderNumber, std::time_t now, std::string* error) {
  const auto [it, added] = firstRefused_.emplace(orderNumber, now);
  if (added && Storable(orderNumber)) Save(error);
  return it->second;
}

bool RecipientRefusals::Forget(const std::string& orderNumber, std::string* error) {
  if (firstRefused_.erase(orderNumber) == 0 || !Storable(orderNumber)) return true;
  return Save(error);
}

bool RecipientRefusals::KeepOnly(const std::set<std::string>& listed, std::string* error) {
  bool changed = false;
  for (auto it = firstRefused_.begin(); it != firstRefused_.end();) {
    if (listed.count(it->first) != 0) {
      ++it;
      continue;
    }
    changed = changed || Storable(it->first);
    it = firstRefused_.erase(it);
  }
  return !changed || Save(error);
}

std::vector<PaidOrder> RecipientRefusals::RefusedLast(const std::vector<PaidOrder>& orders) const {
  std::vector<PaidOrder> first, last;
  for (const PaidOrder& order : orders) (Contains(order.orderNumber) ? last : first).push_back(order);
  first.insert(first.end(), last.begin(), last.end());
  return first;
}

bool RecipientRefusals::Save(std::string* error) const {
  if (!loaded_) {
    // Never written over a file that could not be read.
    if (error) *error = loadError_;
    return false;
  }
  std::string text;
  for (const auto& [number, moment] : firstRefused_) {
    if (Storable(number)) text += std::to_string(static_cast<long long>(moment)) + " " + number + std::string(kCrLf);
  }
  const std::filesystem::path path = RecipientRefusalsPath(dataDir_);
  std::string writeError;
  if (WriteFileAtomic(path, text, &writeError)) return true;
  if (error) *error = PathText(path) + ": " + writeError;
  return false;
}

}  // namespace torvane
