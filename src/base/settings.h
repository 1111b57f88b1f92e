// The seller's settings and the settings file 配置文件.ini.
#pragma once

#include <filesystem>
#include <string>

namespace torvane {

// The seventeen settings of the file's first version in its order, then the group-chat robot's three.
// Texts are GBK.
struct Settings {
  std::string scanPeriod = "1分钟";  // one of "1分钟", "2分钟", "5分钟", "30秒"
  std::string noticeMailbox;         // 邮箱设置/收信邮箱
  std::string smsAccount;            // 手机设置/飞信账号
  std::string smsPassword;           // 手机设置/飞信密码
  bool deliverByChat = false;        // 发货方式/旺旺发货
  bool deliverByMail = false;        // 发货方式/邮箱发货
  bool deliverEmpty = false;         // 发货方式/空发货
  bool outOfStockSoftware = false;   // 无货通知自己/软件提示
  bool outOfStockSms = false;        // 无货通知自己/短信提示
  bool outOfStockMail = false;       // 无货通知自己/邮件提示
  bool deliveredSoftware = false;    // 发货通知自己/软件提示
  bool deliveredSms = false;         // 发货通知自己/短信提示
  bool deliveredMail = false;        // 发货通知自己/邮件提示
  bool autoRate = false;             // 自动评价/是否开启
  std::string rateText;              // 自动评价/评价语
  bool signatureOn = false;          // 发货签名/是否开启
  std::string signature;             // 发货签名/签名
  std::string robotAddress;          // 群机器人/地址: the robot's webhook address (it carries the group's key)
  bool outOfStockRobot = false;      // 无货通知自己/群机器人提示
  bool deliveredRobot = false;       // 发货通知自己/群机器人提示
};

// Settings as they stand at the moment of use: the window gives its controls' values, the runner the file's.
class LiveSettings {
 public:
  virtual ~LiveSettings() = default;
  virtual Settings Current() const = 0;
};

// Fixed settings, for the headless runner and tests.
class FixedSettings : public LiveSettings {
 public:
  explicit FixedSettings(Settings s) : settings_(std::move(s)) {}
  Settings Current() const override { return settings_; }
  void Set(Settings s) { settings_ = std::move(s); }

 private:
  Settings settings_;
};

// Scan period in milliseconds for a period text; 0 when the text is not one of the four choices.
int ScanPeriodMs(const std::string& periodText);

// "配置文件.ini" in the given configuration directory.
std::filesystem::path SettingsPath(const std::filesystem::path& configDir);

// Reads the settings file; a missing key gives the value the table says (a missing or unreadable
// file: all defaults). A file saved as UTF-8 or with lone CR line ends is read converted, and note
// then says so in one line for the seller (otherwise it is emptied).
Settings LoadSettings(const std::filesystem::path& settingsFile, std::string* note = nullptr);

// Writes every key in order, keeping every other line of the file; file mode 0600. The file is
// written GBK without byte-order mark, line ends CR LF or LF: one read converted is written in this
// form and note says so. False, the file untouched, when it cannot be read or holds UTF-8 characters
// GBK cannot hold (rewriting it would lose them); error then says why.
bool SaveSettings(const std::filesystem::path& settingsFile, const Settings& settings, std::string* error = nullptr,
                  std::string* note = nullptr);

}  // namespace torvane
