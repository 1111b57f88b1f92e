// The low-stock warning after a delivery: an item whose threshold (库存预警 in 宝贝设置.ini) the
// stock has just reached or passed downwards gets one activity line and one notice through the
// channels ticked for out-of-stock notices. Nothing is remembered between orders or runs: the stock
// before the take is the stock after it plus the codes taken, so each crossing warns once, and a
// restock above the threshold arms the warning again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "base/activity_log.h"
#include "notify/notify_interfaces.h"
#include "store/record_store.h"

namespace torvane {

// "宝贝名称: " + item + " 库存预警 只剩[" + stock + "]个".
std::string LowStockText(const std::string& item, std::int64_t stock);

// Whether taking `taken` codes that left `stockAfter` in stock brought the stock from above the
// threshold to at or below it.
bool CrossesLowStock(std::int64_t stockAfter, std::int64_t taken, std::int64_t threshold);

// After `taken` codes of item left the inventory for one order: reads the item's settings afresh
// and warns on a crossing. A reusable item (its codes never leave) and an item without a threshold
// never warn; a store or settings file that cannot be read leaves one line saying so and no warning.
// Never fails the delivery: the notices' own failures stay theirs.
void WarnOnLowStock(CardStores& stores, const std::filesystem::path& dataDir, const std::string& item,
                    std::size_t taken, ActivityLogger& log, SellerNotices& notices);

}  // namespace torvane
