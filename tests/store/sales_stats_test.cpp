// The sales figures over real stores: which hand-over times fall on today, in the last 7 days and in
// the period (boundaries at midnight, across a month's end), and the rows' stock and thresholds.
#include "store/sales_stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "store/item_settings.h"
#include "support/temp_dir.h"

namespace torvane {
namespace {

using namespace std::chrono;

std::vector<std::string> Sent(const std::string& item, const std::string& order, const std::string& handedOver) {
  return {item, order, "buyer", "1", "card-" + order, "secret-" + order, "n", "旺旺发送", "2026-01-01 00:00:00",
          handedOver, handedOver.empty() ? "" : "旺旺"};
}

TEST(SalesStats, DaysEndAtMidnightAndOnlyHandedOverUnmarkedCodesCount) {
  test::TempDir dir;
  StoreError openError;
  auto stores = CardStores::Open(dir.path(), &openError);
  ASSERT_TRUE(stores) << openError.message;
  const year_month_day today{year{2026}, month{3}, day{1}};

  struct Row {
    std::string handedOver;
    std::int64_t today, week, month;  // what the one record counts for
  };
  const std::vector<Row> rows = {
      {"2026-03-01 00:00:00", 1, 1, 1},  {"2026-03-01 23:59:59", 1, 1, 1}, {"2026-02-28 23:59:59", 0, 1, 1},
      {"2026-02-23 00:00:00", 0, 1, 1},  {"2026-02-22 23:59:59", 0, 0, 1}, {"2026-01-31 00:00:00", 0, 0, 1},
      {"2026-01-30 23:59:59", 0, 0, 0},  {"2026-03-02 00:00:00", 0, 0, 0},  // after today: a clock set back
      {"", 0, 0, 0},                                                       // sent before the time was kept
      {"2026-02-3x 10:00:00", 0, 0, 0},                                    // not a day at all
  };
  std::vector<std::vector<std::string>> records;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    records.push_back(Sent("r" + std::to_string(i), std::to_string(100 + i), rows[i].handedOver));
  }
  // Marked for deletion: counts nowhere, neither its code sent nor its card in stock.
  records.push_back(Sent("r0", "999", "2026-03-01 12:00:00"));
  ASSERT_EQ(stores->Sent().AppendMany(records), records.size());
  ASSERT_TRUE(stores->Sent().GoToRecordNumber(static_cast<RecordNumber>(records.size())));
  ASSERT_TRUE(stores->Sent().MarkDeleted());
  ASSERT_EQ(stores->Inventory().AppendMany({{"r0", "c1", "s", "n"}, {"r0", "c2", "s", "n"}, {"r0", "c3", "s", "n"},
                                            {"仅库存", "c4", "s", "n"}}),
            4u);
  ASSERT_TRUE(stores->Inventory().GoToRecordNumber(3));
  ASSERT_TRUE(stores->Inventory().MarkDeleted());
  test::WriteBytes(ItemSettingsPath(dir.path()), "[仅设置]\r\n库存预警=5\r\n[r1]\r\n库存预警=0\r\n");

  for (int days : {30, 1}) {
    SCOPED_TRACE(days);
    std::string error;
    auto stats = ReadSalesStats(*stores, dir.path(), today, days, &error);
    ASSERT_TRUE(stats) << error;
    ASSERT_EQ(stats->days.size(), static_cast<std::size_t>(days));
    EXPECT_EQ(stats->days.back(), "2026-03-01");
    EXPECT_EQ(stats->days.front(), days == 30 ? "2026-01-31" : "2026-03-01");
    std::map<std::string, ItemSales> byName;
    for (const ItemSales& item : stats->items) byName[item.item] = item;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const Row& row = rows[i];
      SCOPED_TRACE(row.handedOver);
      const std::string name = "r" + std::to_string(i);
      const std::int64_t period = days == 30 ? row.month : row.today;
      const bool listed = row.week + period > 0 || i <= 1;  // r0 has stock, r1 settings
      ASSERT_EQ(byName.count(name), listed ? 1u : 0u);
      if (!listed) continue;
      const ItemSales& item = byName[name];
      EXPECT_EQ(item.today, row.today);
      EXPECT_EQ(item.week, row.week);
      EXPECT_EQ(item.period, period);
      std::int64_t perDay = 0;
      for (std::size_t d = 0; d < item.perDay.size(); ++d) {
        perDay += item.perDay[d];
        if (item.perDay[d] != 0) {
          EXPECT_EQ(stats->days[d] + row.handedOver.substr(10), row.handedOver);
        }
      }
      EXPECT_EQ(perDay, period);
    }
    EXPECT_EQ(byName["r0"].stock, 2);
    EXPECT_EQ(byName["r0"].lowStock, std::nullopt);
    EXPECT_EQ(byName["r1"].lowStock, 0);
    EXPECT_EQ(byName["仅库存"].stock, 1);
    EXPECT_EQ(byName["仅设置"].lowStock, 5);
    EXPECT_EQ(byName["仅设置"].stock + byName["仅设置"].period, 0);
    EXPECT_EQ(stats->items.size(), days == 30 ? 8u : 6u);
    EXPECT_TRUE(std::is_sorted(stats->items.begin(), stats->items.end(),
                               [](const ItemSales& a, const ItemSales& b) { return a.item < b.item; }));
  }

  // A settings file that cannot be read is a failure that names it, not a table without thresholds.
  std::filesystem::remove(ItemSettingsPath(dir.path()));
  std::filesystem::create_directory(ItemSettingsPath(dir.path()));
  std::string error;
  EXPECT_FALSE(ReadSalesStats(*stores, dir.path(), today, 30, &error));
  EXPECT_NE(error.find("宝贝设置.ini"), std::string::npos) << error;
}

}  // namespace
}  // namespace torvane
