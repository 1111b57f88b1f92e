// `torvane stats`: the sales figures of the window's sales pane as a table on the terminal.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace torvane {

// The value of --days: a whole number from 1 to kSalesMaxDays; nullopt otherwise.
std::optional<int> ParseStatsDays(const std::string& text);

// Opens the stores of dataDir read-only and prints, tab-separated under a header line, each item's
// 宝贝名称, 库存, 库存预警 (empty when not set), 今日, 7日 and the codes sent in the `days` days ending
// today (the column "30日", or "N日"). Exit status: 0, or 1 when a store or 宝贝设置.ini cannot be read
// (said on standard error).
int StatsCommand(const std::filesystem::path& dataDir, int days);

}  // namespace torvane
