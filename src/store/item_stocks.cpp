#include "store/item_stocks.h"

#include <map>
#include <optional>
#include <set>

#include "store/item_names.h"
#include "store/record_store.h"

namespace torvane {

std::vector<ItemStock> ReadItemStocks(CardStores& stores, const std::filesystem::path& dataDir, std::string* error) {
  std::vector<std::string> problems;
  std::string namesError;
  const std::vector<std::string> names = ReadItemNames(dataDir, &namesError);
  if (!namesError.empty()) problems.push_back("宝贝名称.txt 无法读取: " + namesError);
  ItemSettings settings;
  std::string settingsError;
  if (!settings.Load(dataDir, &settingsError)) problems.push_back(settingsError);
  std::map<std::string, std::int64_t> stock;
  if (auto counts = stores.CardCountsByItem()) {
    stock.insert(counts->begin(), counts->end());
  } else {
    problems.push_back("卡密库读取失败: " + LastStoreError());
  }

  std::vector<ItemStock> rows;
  std::set<std::string> seen;
  auto add = [&](const std::string& item) {
    if (item.empty() || !seen.insert(item).second) return;
    const auto count = stock.find(item);
    rows.push_back({item, count == stock.end() ? 0 : count->second, settings.Of(item)});
  };
  for (const std::string& name : names) add(name);
  for (const std::string& name : settings.Items()) add(name);
  for (const auto& entry : stock) add(entry.first);

  if (error) {
    error->clear();
    for (const std::string& problem : problems) *error += (error->empty() ? "" : "; ") + problem;
  }
  return rows;
}

}  // namespace torvane
