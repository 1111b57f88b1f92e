#include "delivery/low_stock.h"

#include "store/item_settings.h"

namespace torvane {

std::string LowStockText(const std::string& item, std::int64_t stock) {
  return "宝贝名称: " + item + " 库存预警 只剩[" + std::to_string(stock) + "]个";
}

bool CrossesLowStock(std::int64_t stockAfter, std::int64_t taken, std::int64_t threshold) {
  return taken > 0 && stockAfter <= threshold && stockAfter + taken > threshold;
}

void WarnOnLowStock(CardStores& stores, const std::filesystem::path& dataDir, const std::string& item,
                    std::size_t taken, ActivityLogger& log, SellerNotices& notices) {
  if (taken == 0) return;
  std::string error;
  const ItemSetting setting = ReadItemSetting(dataDir, item, &error);
  if (!error.empty()) {
    log.LogActivity("宝贝名称: " + item + " 未检查库存预警: " + error);
    return;
  }
  if (setting.reusable || !setting.lowStock) return;
  // Above the threshold only that matters: the count stops there, so a large stock costs nothing.
  const std::int64_t stock = stores.CountCardsUpTo(item, *setting.lowStock + 1);
  const std::string storeError = LastStoreError();
  if (!storeError.empty()) {
    log.LogActivity("宝贝名称: " + item + " 未检查库存预警: " + storeError);
    return;
  }
  if (!CrossesLowStock(stock, static_cast<std::int64_t>(taken), *setting.lowStock)) return;
  const std::string text = LowStockText(item, stock);
  log.LogActivity(text);
  notices.NotifyLowStock(text);
}

}  // namespace torvane
