// The items a seller has, as the inventory pane's overview and `items list` show them: first the names
// of 宝贝名称.txt in file order, then the other items that have a section in 宝贝设置.ini (file order),
// then the other items with cards in stock (byte order of the name); each once, empty names left out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "store/item_settings.h"

namespace torvane {

class CardStores;

struct ItemStock {
  std::string item;
  std::int64_t stock = 0;
  ItemSetting setting;

  // At or below its threshold; a reusable item's codes never run down, so it never is.
  bool Low() const { return !setting.reusable && setting.lowStock && stock <= *setting.lowStock; }
};

// The items with their stock and settings. error says what could not be read, naming the file; the
// rows are then as far as they could be read. Any thread.
std::vector<ItemStock> ReadItemStocks(CardStores& stores, const std::filesystem::path& dataDir, std::string* error);

}  // namespace torvane
