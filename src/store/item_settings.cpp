#include "store/item_settings.h"

#include "base/text.h"

namespace torvane {

namespace {

constexpr std::string_view kYes = "是";
constexpr std::string_view kNo = "否";
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::filesystem::path ItemSettingsPath(const std::filesystem::path& dataDir) {
  return dataDir / std::filesystem::path(u8"宝贝设置.ini");
}

std::string ItemNameSettingsProblem(std::string_view item) {
  if (item.empty()) return "宝贝名称为空";
  if (IsBlank(item.front()) || IsBlank(item.back())) return "宝贝名称首尾有空格, 无法单独设置";
  if (item.find_first_of("\r\n") != std::string_view::npos) return "宝贝名称含有换行, 无法单独设置";
  // "]" closes a section header; it is never the trail byte of a character here, so search aligned.
  if (FindText(item, "]") != kNotFound) return "宝贝名称含有 ] , 无法单独设置";
  if (FirstInvalidGbk(item) != std::string_view::npos) return "宝贝名称不是有效的GBK文字";
  return {};
}

bool ItemSettings::Load(const std::filesystem::path& dataDir, std::string* error) {
  std::string readError;
  if (!ini_.Load(ItemSettingsPath(dataDir), &readError)) {
    ini_ = IniFile();
    if (error) *error = "宝贝设置.ini 无法读取: " + readError;
    return false;
  }
  if (error) error->clear();
  return true;
}

bool ItemSettings::HasExactSection(std::string_view item) const {
  // The first section of that name (ignoring case) is the one the INI file reads: it is this item's
  // only when spelled exactly so.
  for (const std::string& name : ini_.SectionNames()) {
    if (EqualIgnoringAsciiCase(name, item)) return name == item;
  }
  return false;
}

ItemSetting ItemSettings::Of(std::string_view item) const {
  ItemSetting setting;
  if (!HasExactSection(item)) return setting;
  const std::string reusable = ini_.Get(item, kItemReusableKey).value_or("");
  setting.reusable = reusable == kYes || reusable == "1" || EqualIgnoringAsciiCase(reusable, "yes") ||
                     EqualIgnoringAsciiCase(reusable, "true");
  if (auto threshold = ini_.Get(item, kItemLowStockKey)) setting.lowStock = ParseLowStock(*threshold);
  return setting;
}

std::vector<std::string> ItemSettings::Items() const {
  std::vector<std::string> items;
  for (const std::string& name : ini_.SectionNames()) {
    bool seen = false;
    for (const std::string& earlier : items) seen = seen || earlier == name;
    if (!seen) items.push_back(name);
  }
  return items;
}

bool ItemSettings::Set(std::string_view item, const ItemSetting& setting, std::string* error) {
  std::string problem = ItemNameSettingsProblem(item);
  if (problem.empty()) {
    for (const std::string& name : ini_.SectionNames()) {
      if (name != item && EqualIgnoringAsciiCase(name, item)) {
        problem = "宝贝设置.ini 中已有仅大小写不同的宝贝 " + name;
        break;
      }
    }
  }
  if (!problem.empty()) {
    if (error) *error = problem;
    return false;
  }
  ini_.Set(item, kItemReusableKey, setting.reusable ? kYes : kNo);
  ini_.Set(item, kItemLowStockKey, setting.lowStock ? std::to_string(*setting.lowStock) : std::string());
  if (error) error->clear();
  return true;
}

bool ItemSettings::Save(const std::filesystem::path& dataDir, std::string* error) const {
  std::string saveError;
  if (!ini_.Save(ItemSettingsPath(dataDir), &saveError, 0644)) {
    if (error) *error = "宝贝设置.ini 无法保存: " + saveError;
    return false;
  }
  if (error) error->clear();
  return true;
}

ItemSetting ReadItemSetting(const std::filesystem::path& dataDir, std::string_view item, std::string* error) {
  ItemSettings settings;
  settings.Load(dataDir, error);
  return settings.Of(item);
}

std::optional<std::int64_t> ParseLowStock(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace torvane
