// The sales figures (the window's sales pane, torvane stats) over 1,000,000 sent records handed
// over in the last 30 days, 200 items, beside 1,000,000 cards in stock: the time from asking to having
// every item's counts per day and stock.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench.h"
#include "store/record_store.h"
#include "store/sales_stats.h"

namespace {

constexpr int kSentRecords = 1000000;
constexpr int kItems = 200;
constexpr int kCards = 1000000;

}  // namespace

TORVANE_BENCH("stats_1m_sent_s") {
  using namespace std::chrono;
  const std::filesystem::path dir = bench::ScratchDir("sales-1m");
  const year_month_day today{year{2026}, month{12}, day{8}};
  {
    torvane::StoreError error;
    auto stores = torvane::CardStores::Open(dir, &error);
    if (!stores) {
      std::fprintf(stderr, "stats_1m_sent_s: %s\n", error.message.c_str());
      return;
    }
    std::vector<std::vector<std::string>> cards;
    for (int i = 0; i < kCards; ++i) {
      cards.push_back({"游戏点卡-" + std::to_string(i % kItems), "CARD" + std::to_string(i),
                       "SECRET-" + std::to_string(i * 7), "充值地址见店铺首页"});
    }
    // Appended in batches, oldest first, as a shop's records grow day by day.
    std::vector<std::vector<std::string>> batch;
    const sys_days first = sys_days{today} - days{29};
    for (int i = 0; i < kSentRecords; ++i) {
      const int dayIndex = static_cast<int>(static_cast<long long>(i) * 30 / kSentRecords);
      const int second = (i * 37) % 86400;
      char time[32];
      std::snprintf(time, sizeof(time), " %02d:%02d:%02d", second / 3600, second / 60 % 60, second % 60);
      const std::string handedOver = torvane::DayText(year_month_day{first + days{dayIndex}}) + time;
      batch.push_back({"游戏点卡-" + std::to_string((i * 13) % kItems), std::to_string(3000000000000000LL + i),
                       "buyer" + std::to_string(i % 50000), "1", "CARD-S" + std::to_string(i),
                       "SECRET-S" + std::to_string(i * 3), "充值地址见店铺首页", "旺旺发送", handedOver, handedOver,
                       "旺旺"});
      if (batch.size() == 100000) {
        if (stores->Sent().AppendMany(batch) != batch.size()) {
          std::fprintf(stderr, "stats_1m_sent_s: fill failed (%s)\n", torvane::LastStoreError().c_str());
          return;
        }
        batch.clear();
      }
    }
    if (stores->Inventory().AppendMany(cards) != cards.size()) {
      std::fprintf(stderr, "stats_1m_sent_s: fill failed (%s)\n", torvane::LastStoreError().c_str());
      return;
    }
  }
  // Opened as the window opens the stores.
  torvane::StoreError error;
  auto stores = torvane::CardStores::Open(dir, &error);
  if (!stores) {
    std::fprintf(stderr, "stats_1m_sent_s: %s\n", error.message.c_str());
    return;
  }
  auto start = steady_clock::now();
  std::string why;
  auto stats = torvane::ReadSalesStats(*stores, dir, today, torvane::kSalesDefaultDays, &why);
  const double seconds = bench::SecondsSince(start);
  std::int64_t total = 0;
  if (stats) {
    for (const auto& item : stats->items) total += item.period;
  }
  if (!stats || total != kSentRecords || stats->items.size() != kItems) {
    std::fprintf(stderr, "stats_1m_sent_s: counted %lld (%s)\n", static_cast<long long>(total), why.c_str());
    return;
  }
  bench::Report("stats_1m_sent_s", seconds, "s");
}
