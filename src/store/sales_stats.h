// The sales figures: how many codes of each item were handed over per day over the last days (by
// 交付时间, field 10 of the sent records), and for each item its stock, its low-stock threshold and the
// codes sent today, in 7 days and in the whole period. The counting is SQLite's (grouped queries on
// the stores' connection); this room turns the counts into days and rows. The window's sales pane and
// `torvane stats` show them.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "store/record_store.h"

namespace torvane {

inline constexpr int kSalesDefaultDays = 30;
inline constexpr int kSalesMaxDays = 366;
// "今日" and "7日": today, and today with the 6 days before it.
inline constexpr int kSalesWeekDays = 7;

struct ItemSales {
  std::string item;
  std::int64_t stock = 0;                // cards in the inventory
  std::optional<std::int64_t> lowStock;  // 库存预警 of 宝贝设置.ini; none when not set
  std::int64_t today = 0;
  std::int64_t week = 0;    // today and the 6 days before
  std::int64_t period = 0;  // the days of the period, today included
  std::vector<std::int64_t> perDay;  // one count per day of the period, oldest first
};

struct SalesStats {
  std::vector<std::string> days;  // "YYYY-MM-DD", oldest first; the last one is today
  // Every item with cards in stock, settings in 宝贝设置.ini or codes sent in the period or the last
  // 7 days, by name (byte order).
  std::vector<ItemSales> items;
};

// The local calendar day of a moment.
std::chrono::year_month_day LocalDay(std::time_t moment);

// "YYYY-MM-DD".
std::string DayText(std::chrono::year_month_day day);

// The figures of the `days` days that end with today (1..kSalesMaxDays), a day being a local calendar
// day as 交付时间 is written. Records without a 交付时间 (sent before the program recorded it) and
// marked records do not count. nullopt when a store or 宝贝设置.ini cannot be read; error then says
// why (GBK, naming the file).
std::optional<SalesStats> ReadSalesStats(CardStores& stores, const std::filesystem::path& dataDir,
                                         std::chrono::year_month_day today, int days, std::string* error);

}  // namespace torvane
