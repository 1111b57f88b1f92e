// Per-item settings: 宝贝设置.ini beside 宝贝名称.txt (which keeps its own format), GBK INI with a
// section per item name:
//
//   [QQ会员月卡]
//   循环=是        reusable: the item's codes go to every order in turn and never leave the inventory
//   库存预警=10    low-stock threshold: a delivery that brings the stock to or below it warns once
//
// Item names are matched byte for byte, as everywhere else: a section whose name differs from an
// item's only in letter case is not that item's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ini.h"

namespace torvane {

inline constexpr std::string_view kItemReusableKey = "循环";
inline constexpr std::string_view kItemLowStockKey = "库存预警";

struct ItemSetting {
  bool reusable = false;
  std::optional<std::int64_t> lowStock;  // none: no warning

  bool operator==(const ItemSetting&) const = default;
};

// "宝贝设置.ini" in the data directory.
std::filesystem::path ItemSettingsPath(const std::filesystem::path& dataDir);

// Why a name cannot carry settings ("" when it can): an INI section header cannot hold it.
std::string ItemNameSettingsProblem(std::string_view item);

class ItemSettings {
 public:
  // Reads the file; a missing file gives no settings and true. A file that cannot be read gives
  // false with the reason (naming the file) and no settings.
  bool Load(const std::filesystem::path& dataDir, std::string* error = nullptr);

  // The item's settings; defaults (ordinary item, no threshold) when it has none. A threshold that
  // is not a whole number of 0 or more counts as none.
  ItemSetting Of(std::string_view item) const;
  // The items that have a section, in file order.
  std::vector<std::string> Items() const;

  // Sets one item's settings in memory; false (nothing changed) with the reason when the name cannot
  // be a section, or another section differs from it only in letter case.
  bool Set(std::string_view item, const ItemSetting& setting, std::string* error = nullptr);

  // Writes the whole file atomically (other sections, comments and unknown keys kept).
  bool Save(const std::filesystem::path& dataDir, std::string* error = nullptr) const;

 private:
  bool HasExactSection(std::string_view item) const;
  IniFile ini_;
};

// One item's settings read afresh from the file; defaults when the file is missing or unreadable
// (error then says why).
ItemSetting ReadItemSetting(const std::filesystem::path& dataDir, std::string_view item, std::string* error = nullptr);

// Parses a threshold as written by a seller: digits only, at most 9 of them; nullopt otherwise.
std::optional<std::int64_t> ParseLowStock(std::string_view text);

}  // namespace torvane
