#include "base/settings.h"

#include <array>
#include <mutex>

#include "base/files.h"
#include "base/ini.h"
#include "base/text.h"

namespace torvane {

namespace {

struct PeriodChoice {
  const char* text;
  int ms;
};

// The scan-period choices in the order of the drop-down list.
const std::array<PeriodChoice, 4> kPeriods{{
    {"1分钟", 60000},
    {"2分钟", 120000},
    {"5分钟", 300000},
    {"30秒", 30000},
}};

enum class Form { Text, Flag };

struct Key {
  const char* section;
  const char* key;
  Form form;
  std::string Settings::*text;
  bool Settings::*flag;
};

Key TextKey(const char* section, const char* key, std::string Settings::*member) {
  return Key{section, key, Form::Text, member, nullptr};
}

Key FlagKey(const char* section, const char* key, bool Settings::*member) {
  return Key{section, key, Form::Flag, nullptr, member};
}

// Keys 2 to 17, in the order both routines process them (key 1, the period, is handled apart), then the
// group-chat robot's keys; a file written before them loads with no address and nothing ticked.
const std::array<Key, 19>& Keys() {
  static const std::array<Key, 19> keys{{
      TextKey("邮箱设置", "收信邮箱", &Settings::noticeMailbox),
      TextKey("手机设置", "飞信账号", &Settings::smsAccount),
      TextKey("手机设置", "飞信密码", &Settings::smsPassword),
      FlagKey("发货方式", "旺旺发货", &Settings::deliverByChat),
      FlagKey("发货方式", "邮箱发货", &Settings::deliverByMail),
      FlagKey("发货方式", "空发货", &Settings::deliverEmpty),
      FlagKey("无货通知自己", "软件提示", &Settings::outOfStockSoftware),
      FlagKey("无货通知自己", "短信提示", &Settings::outOfStockSms),
      FlagKey("无货通知自己", "邮件提示", &Settings::outOfStockMail),
      FlagKey("发货通知自己", "软件提示", &Settings::deliveredSoftware),
      FlagKey("发货通知自己", "短信提示", &Settings::deliveredSms),
      FlagKey("发货通知自己", "邮件提示", &Settings::deliveredMail),
      FlagKey("自动评价", "是否开启", &Settings::autoRate),
      TextKey("自动评价", "评价语", &Settings::rateText),
      FlagKey("发货签名", "是否开启", &Settings::signatureOn),
      TextKey("发货签名", "签名", &Settings::signature),
      TextKey("群机器人", "地址", &Settings::robotAddress),
      FlagKey("无货通知自己", "群机器人提示", &Settings::outOfStockRobot),
      FlagKey("发货通知自己", "群机器人提示", &Settings::deliveredRobot),
  }};
  return keys;
}

constexpr const char* kPeriodSection = "订单扫描";
constexpr const char* kPeriodKey = "周期";

}  // namespace

int ScanPeriodMs(const std::string& periodText) {
  for (const auto& p : kPeriods) {
    if (periodText == p.text) return p.ms;
  }
  return 0;
}

std::filesystem::path SettingsPath(const std::filesystem::path& configDir) {
  return configDir / std::filesystem::path(u8"配置文件.ini");
}

Settings LoadSettings(const std::filesystem::path& settingsFile, std::string* note) {
  Settings settings;
  IniFile ini;
  if (note) note->clear();
  // An unreadable file behaves like a missing one: every setting at its default.
  if (!ini.Load(settingsFile)) return settings;
  if (note) *note = ini.SourceForm().Describe(PathText(settingsFile.filename()));

  if (auto period = ini.Get(kPeriodSection, kPeriodKey); period && ScanPeriodMs(*period) != 0) {
    settings.scanPeriod = *period;
  }
  for (const auto& k : Keys()) {
    if (k.form == Form::Text) {
      settings.*k.text = ini.Get(k.section, k.key).value_or(std::string());
    } else {
      // Only the exact stored text "真" counts as true; "真 " or "真　" does not.
      auto raw = ini.GetRaw(k.section, k.key);
      settings.*k.flag = raw && ParseFlag(*raw);
    }
  }
  return settings;
}

bool SaveSettings(const std::filesystem::path& settingsFile, const Settings& settings, std::string* error,
                  std::string* note) {
  // Read, change, rewrite: two saves at once must not interleave.
  static std::mutex saving;
  std::lock_guard lock(saving);
  if (note) note->clear();
  IniFile ini;
  std::string loadError;
  if (!ini.Load(settingsFile, &loadError)) {
    // Rewriting a file we could not read would throw away whatever else it holds.
    if (error) *error = loadError;
    return false;
  }
  const IniSourceForm form = ini.SourceForm();
  const std::string name = PathText(settingsFile.filename());
  if (form.utf8 && !form.utf8Lossless) {
    if (error) *error = name + " 是UTF-8编码且含有GBK无法表示的字符 改存为GBK会丢失它们 未保存";
    return false;
  }
  ini.UseCrLfForLoneCr();
  ini.Set(kPeriodSection, kPeriodKey, settings.scanPeriod);
  for (const auto& k : Keys()) {
    if (k.form == Form::Text) {
      ini.Set(k.section, k.key, Trim(settings.*k.text));
    } else {
      ini.Set(k.section, k.key, FlagText(settings.*k.flag));
    }
  }
  // The file holds the IM password: owner only.
  if (!ini.Save(settingsFile, error, 0600)) return false;
  if (note && form.Converted()) {
    *note = name;
    if (form.utf8) *note += " 原为UTF-8编码 已改存为GBK编码";
    if (form.utf8 && form.loneCrLineEnds) *note += ";";
    if (form.loneCrLineEnds) *note += " 原为单独的CR换行 已改存为CR LF换行";
  }
  return true;
}

}  // namespace torvane
