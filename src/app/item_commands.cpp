#include "app/item_commands.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/terminal.h"
#include "base/ini.h"
#include "base/text.h"
#include "store/item_names.h"
#include "store/item_settings.h"
#include "store/item_stocks.h"
#include "store/record_store.h"

namespace torvane {

int ItemsList(const std::filesystem::path& dataDir) {
  StoreError storeError;
  std::unique_ptr<CardStores> stores = CardStores::Open(dataDir, &storeError, nullptr, StoreAccess::kReadOnly);
  if (!stores) {
    PrintError(storeError.message);
    return 1;
  }
  std::string error;
  const std::vector<ItemStock> items = ReadItemStocks(*stores, dataDir, &error);
  stores->Close();
  if (!error.empty()) {
    PrintError(error);
    return 1;
  }
  for (const ItemStock& row : items) {
    PrintLine(ListingField(row.item) + "\t" + std::to_string(row.stock) + "\t" +
              (row.setting.lowStock ? std::to_string(*row.setting.lowStock) : std::string()) + "\t" +
              (row.setting.reusable ? "是" : "否"));
  }
  std::fflush(stdout);
  return 0;
}

int ItemsSet(const Arguments& args, const std::filesystem::path& dataDir) {
  DecodedText name = DecodeToGbk(args.words.at(2), TextEncoding::kUtf8);
  if (!name.ok()) {
    PrintError("宝贝名称: " + name.fault);
    return 1;
  }
  const std::string& item = name.gbk;
  std::string error;
  ItemSettings settings;
  if (!settings.Load(dataDir, &error)) {
    PrintError(error);
    return 1;
  }
  ItemSetting setting = settings.Of(item);
  if (args.Has("low-stock")) {
    const std::string& value = args.options.at("low-stock");
    // The grammar allows only "none" (any letter case) or a threshold.
    setting.lowStock = EqualIgnoringAsciiCase(value, "none") ? std::nullopt : ParseLowStock(value);
  }
  if (args.Has("reusable")) setting.reusable = EqualIgnoringAsciiCase(args.options.at("reusable"), "yes");
  // Set refuses a name that cannot head a section, before anything is written.
  if (!settings.Set(item, setting, &error) || !settings.Save(dataDir, &error)) {
    PrintError(error);
    return 1;
  }
  PrintLine(ListingField(item) + " 循环=" + (setting.reusable ? "是" : "否") + " 库存预警=" +
            (setting.lowStock ? std::to_string(*setting.lowStock) : std::string("无")));
  return 0;
}

}  // namespace torvane
