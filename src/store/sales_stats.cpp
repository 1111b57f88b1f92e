// The sales figures: the two grouped reads on the stores' connection, and the days and rows made of
// their counts.
#include "store/sales_stats.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "base/system.h"
#include "store/card_stores_impl.h"
#include "store/item_settings.h"

namespace torvane {

namespace store_sqlite {

std::optional<std::vector<std::pair<std::string, std::int64_t>>> CardStoresImpl::CardCountsByItem() {
  auto lock = Lock(kInventorySchema);
  // Every card of an item less its marked ones: both counts read an index alone (FiguresIndexSql).
  Query q(db_.Prepare("SELECT f1, sum(n) FROM (SELECT f1, count(*) AS n FROM main.cards GROUP BY f1 UNION ALL "
                      "SELECT f1, -count(*) FROM main.cards WHERE marked <> 0 GROUP BY f1) GROUP BY f1"));
  if (!q.ok()) return std::nullopt;
  std::vector<std::pair<std::string, std::int64_t>> counts;
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) counts.emplace_back(q.Text(0), q.Int(1));
  if (rc != SQLITE_DONE) {
    SetError(StepError(db_));
    return std::nullopt;
  }
  return counts;
}

std::optional<std::vector<ItemDayCount>> CardStoresImpl::SentCountsByItemAndDay(const std::string& from,
                                                                                const std::string& to) {
  auto lock = Lock(kSentSchema);
  // Written as the day index is (FiguresIndexSql), so that the count reads the index alone. A file of the
  // first layout read as it is has no 交付时间: nothing of it counts.
  const std::string day = "substr(" + sent_.Column(10) + ", 1, 10)";
  Query q(db_.Prepare("SELECT f1, " + day + ", count(*) FROM sent.sent_cards WHERE " + day + " >= ?1 AND " + day +
                      " < ?2 AND marked = 0 GROUP BY " + day + ", f1"));
  if (!q.ok()) return std::nullopt;
  q.Bind(1, from);
  q.Bind(2, to);
  std::vector<ItemDayCount> counts;
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) counts.push_back({q.Text(0), q.Text(1), q.Int(2)});
  if (rc != SQLITE_DONE) {
    SetError(StepError(db_));
    return std::nullopt;
  }
  return counts;
}

}  // namespace store_sqlite

std::chrono::year_month_day LocalDay(std::time_t moment) {
  std::tm local{};
  LocalTime(moment, &local);
  return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                     std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                     std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

std::string DayText(std::chrono::year_month_day day) {
  char text[32];
  std::snprintf(text, sizeof(text), "%04d-%02u-%02u", static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
  return text;
}

std::optional<SalesStats> ReadSalesStats(CardStores& stores, const std::filesystem::path& dataDir,
                                         std::chrono::year_month_day today, int days, std::string* error) {
  auto fail = [&](std::string why) -> std::optional<SalesStats> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  if (days < 1 || days > kSalesMaxDays || !today.ok()) return fail("统计天数无效");
  ItemSettings settings;
  std::string settingsError;
  if (!settings.Load(dataDir, &settingsError)) return fail(settingsError);

  // The counts cover the period and the last 7 days, whichever is longer, up to the day after today.
  const int counted = std::max(days, kSalesWeekDays);
  const std::chrono::sys_days last{today};
  std::vector<std::string> countedDays;  // oldest first
  std::unordered_map<std::string, int> back;  // day text -> days before today
  for (int i = counted - 1; i >= 0; --i) {
    countedDays.push_back(DayText(std::chrono::year_month_day{last - std::chrono::days{i}}));
    back.emplace(countedDays.back(), i);
  }
  const std::string to = DayText(std::chrono::year_month_day{last + std::chrono::days{1}});
  auto sent = stores.SentCountsByItemAndDay(countedDays.front(), to);
  if (!sent) return fail(LastStoreError());
  auto stock = stores.CardCountsByItem();
  if (!stock) return fail(LastStoreError());

  std::map<std::string, ItemSales> items;
  auto row = [&](const std::string& item) -> ItemSales& {
    ItemSales& r = items[item];
    if (r.perDay.empty()) {
      r.item = item;
      r.perDay.assign(static_cast<std::size_t>(days), 0);
    }
    return r;
  };
  for (const auto& [item, count] : *stock) {
    if (count > 0) row(item).stock = count;
  }
  for (const std::string& item : settings.Items()) row(item);
  for (const ItemDayCount& c : *sent) {
    auto at = back.find(c.day);
    if (at == back.end()) continue;  // not a day of the period: a time written otherwise
    ItemSales& r = row(c.item);
    const int before = at->second;
    if (before == 0) r.today += c.count;
    if (before < kSalesWeekDays) r.week += c.count;
    if (before < days) {
      r.period += c.count;
      r.perDay[static_cast<std::size_t>(days - 1 - before)] += c.count;
    }
  }
  SalesStats stats;
  stats.days.assign(countedDays.end() - days, countedDays.end());
  for (auto& [item, r] : items) {
    r.lowStock = settings.Of(item).lowStock;
    stats.items.push_back(std::move(r));
  }
  return stats;
}

}  // namespace torvane
