#include "app/stats.h"

#include <cstdio>
#include <ctime>

#include "app/terminal.h"
#include "store/record_store.h"
#include "store/sales_stats.h"

namespace torvane {

std::optional<int> ParseStatsDays(const std::string& text) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  int days = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    days = days * 10 + (c - '0');
  }
  if (days < 1 || days > kSalesMaxDays) return std::nullopt;
  return days;
}

int StatsCommand(const std::filesystem::path& dataDir, int days) {
  StoreError openError;
  auto stores = CardStores::Open(dataDir, &openError, nullptr, StoreAccess::kReadOnly);
  if (!stores) {
    PrintError(openError.message);
    return 1;
  }
  std::string error;
  std::optional<SalesStats> stats = ReadSalesStats(*stores, dataDir, LocalDay(std::time(nullptr)), days, &error);
  stores->Close();
  if (!stats) {
    PrintError("销售统计失败: " + error);
    return 1;
  }
  PrintLine("宝贝名称\t库存\t库存预警\t今日\t7日\t" + std::to_string(days) + "日");
  for (const ItemSales& item : stats->items) {
    PrintLine(ListingField(item.item) + "\t" + std::to_string(item.stock) + "\t" +
              (item.lowStock ? std::to_string(*item.lowStock) : std::string()) + "\t" + std::to_string(item.today) +
              "\t" + std::to_string(item.week) + "\t" + std::to_string(item.period));
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace torvane
