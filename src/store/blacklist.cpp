#include "store/blacklist.h"

#include <algorithm>
#include <charconv>
#include <mutex>
#include <utility>
#include <vector>

#include "base/files.h"
#include "base/text.h"

namespace torvane {

namespace {

// Appends are read-modify-write of whole files: two at once in this process would lose one.
std::mutex& AppendMutex() {
  static std::mutex mu;
  return mu;
}

struct HandledOrder {
  std::size_t offset = 0;  // blacklist length before the number was appended
  std::string number;
};

// Lines "offset number"; a line that does not parse is ignored (it accounts for nothing).
std::vector<HandledOrder> ParseHandled(std::string_view text) {
  std::vector<HandledOrder> out;
  for (const std::string& line : SplitText(text, kCrLf)) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos || space == 0 || space + 1 == line.size()) continue;
    HandledOrder h;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + space, h.offset);
    if (ec != std::errc() || end != line.data() + space) continue;
    h.number = line.substr(space + 1);
    out.push_back(std::move(h));
  }
  return out;
}

// True when the number occurs in a stretch of the blacklist that no whole record accounts for.
bool InUnaccountedStretch(std::string_view blacklist, const std::vector<HandledOrder>& handled,
                          std::string_view number) {
  std::vector<std::pair<std::size_t, std::size_t>> accounted;  // [begin, end)
  for (const HandledOrder& h : handled) {
    if (h.offset <= blacklist.size() && blacklist.size() - h.offset >= h.number.size() &&
        blacklist.substr(h.offset, h.number.size()) == h.number) {
      accounted.emplace_back(h.offset, h.offset + h.number.size());
    }
  }
  std::sort(accounted.begin(), accounted.end());
  std::size_t from = 0;
  for (const auto& [begin, end] : accounted) {
    if (begin > from && ContainsText(blacklist.substr(from, begin - from), number)) return true;
    from = std::max(from, end);
  }
  return from < blacklist.size() && ContainsText(blacklist.substr(from), number);
}

}  // namespace

std::filesystem::path BlacklistPath(const std::filesystem::path& dataDir) {
  return dataDir / std::filesystem::path(u8"临时黑名单.log");
}

std::filesystem::path HandledOrdersPath(const std::filesystem::path& dataDir) {
  return dataDir / std::filesystem::path(u8"已处理订单.log");
}

bool BlacklistContains(const std::filesystem::path& dataDir, std::string_view orderNumber, std::string* error) {
  std::string readError;
  const auto blacklist = ReadWholeFile(BlacklistPath(dataDir), &readError);
  if (!blacklist && !readError.empty()) {
    if (error) *error = readError;
    return true;
  }
  const auto handledText = ReadWholeFile(HandledOrdersPath(dataDir), &readError);
  if (!handledText && !readError.empty()) {
    if (error) *error = readError;
    return true;
  }
  if (error) error->clear();
  const std::string_view text = blacklist ? std::string_view(*blacklist) : std::string_view();
  if (orderNumber.empty()) return !text.empty();
  const std::vector<HandledOrder> handled = handledText ? ParseHandled(*handledText) : std::vector<HandledOrder>{};
  for (const HandledOrder& h : handled) {
    if (h.number == orderNumber) return true;
  }
  return InUnaccountedStretch(text, handled, orderNumber);
}

namespace {

// Both files as read for a change; ok false (with error) when either exists but cannot be read.
struct BlacklistFiles {
  bool ok = false;
  std::string error;
  std::string blacklist;
  std::string handled;
};

BlacklistFiles ReadForChange(const std::filesystem::path& dataDir) {
  BlacklistFiles files;
  std::string readError;
  auto blacklist = ReadWholeFile(BlacklistPath(dataDir), &readError);
  if (!blacklist && !readError.empty()) {
    files.error = readError;
    return files;
  }
  auto handled = ReadWholeFile(HandledOrdersPath(dataDir), &readError);
  if (!handled && !readError.empty()) {
    files.error = readError;
    return files;
  }
  files.ok = true;
  files.blacklist = blacklist.value_or("");
  files.handled = handled.value_or("");
  return files;
}

// The last recorded number, appended to the blacklist text when a stop left it out; true when it was.
bool CompleteInterrupted(BlacklistFiles& files) {
  const std::vector<HandledOrder> handled = ParseHandled(files.handled);
  if (handled.empty() || handled.back().offset != files.blacklist.size()) return false;
  files.blacklist += handled.back().number;
  return true;
}

}  // namespace

bool CompleteBlacklist(const std::filesystem::path& dataDir, std::string* error) {
  std::lock_guard lock(AppendMutex());
  BlacklistFiles files = ReadForChange(dataDir);
  if (!files.ok) {
    if (error) *error = files.error;
    return false;
  }
  if (!CompleteInterrupted(files)) return true;
  return WriteFileAtomic(BlacklistPath(dataDir), files.blacklist, error);
}

bool BlacklistAppend(const std::filesystem::path& dataDir, std::string_view orderNumber, std::string* error,
                     const std::function<void()>& afterSideRecord) {
  std::lock_guard lock(AppendMutex());
  BlacklistFiles files = ReadForChange(dataDir);
  if (!files.ok) {
    // Never replace a file that could not be read.
    if (error) *error = files.error;
    return false;
  }
  CompleteInterrupted(files);
  if (!orderNumber.empty() && orderNumber.find_first_of("\r\n") == std::string_view::npos) {
    if (!files.handled.empty() && files.handled.back() != '\n') files.handled += kCrLf;
    files.handled += std::to_string(files.blacklist.size()) + " " + std::string(orderNumber) + std::string(kCrLf);
    if (!WriteFileAtomic(HandledOrdersPath(dataDir), files.handled, error)) {
      // The blacklist alone still holds the number, for the substring search.
      files.blacklist.append(orderNumber);
      WriteFileAtomic(BlacklistPath(dataDir), files.blacklist);
      return false;
    }
    if (afterSideRecord) afterSideRecord();
  }
  files.blacklist.append(orderNumber);
  return WriteFileAtomic(BlacklistPath(dataDir), files.blacklist, error);
}

}  // namespace torvane
