// Activity log cost with a large history: adding a line must not grow with the history.
#include <chrono>
#include <cstdio>
#include <string>

#include "bench.h"
#include "base/activity_log.h"
#include "base/files.h"

namespace {

constexpr std::size_t kHistoryBytes = 100u * 1024 * 1024;

// A history file of about `bytes` bytes of ordinary log lines.
std::filesystem::path MakeHistory(const std::filesystem::path& dir, std::size_t bytes) {
  const std::string line = "[2012年3月5日9时7分30秒] 订单 123456789012 已发货 卡密 2 张, 旺旺发送\r\n";
  std::string text;
  text.reserve(bytes + line.size());
  while (text.size() < bytes) text += line;
  auto path = dir / std::filesystem::path(u8"历史记录.log");
  std::string error;
  if (!torvane::WriteFileAtomic(path, text, &error)) std::fprintf(stderr, "%s\n", error.c_str());
  return path;
}

double MeanLogMicros(torvane::ActivityLog& log, int count) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) log.LogActivity("订单 123456789012 已发货");
  return bench::SecondsSince(start) * 1e6 / count;
}

}  // namespace

TORVANE_BENCH("log_line_us_100mb") {
  auto dir = bench::ScratchDir("activity-log");
  torvane::ActivityLog empty(dir / "empty.log");
  bench::Report("log_line_us_empty", MeanLogMicros(empty, 200000), "us");

  torvane::ActivityLog log(MakeHistory(dir, kHistoryBytes));
  if (!log.LoadHistory()) return;
  bench::Report("log_line_us_100mb", MeanLogMicros(log, 200000), "us");
}

TORVANE_BENCH("history_load_100mb_s") {
  auto dir = bench::ScratchDir("activity-history");
  torvane::ActivityLog log(MakeHistory(dir, kHistoryBytes));
  auto start = std::chrono::steady_clock::now();
  if (!log.LoadHistory()) return;
  bench::Report("history_load_100mb_s", bench::SecondsSince(start), "s");

  log.LogActivity("程序退出完成");
  start = std::chrono::steady_clock::now();
  if (!log.SaveHistory()) return;
  bench::Report("history_save_100mb_s", bench::SecondsSince(start), "s");
}
