#include "base/deployment.h"

#include <climits>

#include "base/ini.h"
#include "base/files.h"
#include "base/text.h"
#include "base/web_address.h"

namespace torvane {

namespace {

// The file's keys, counting those present so that a file without a single known key is noticed.
class KeyLookup {
 public:
  explicit KeyLookup(IniFile ini) : ini_(std::move(ini)) {}
  std::optional<std::string> Get(std::string_view section, std::string_view key) const {
    auto v = ini_.Get(section, key);
    if (v) ++found_;
    return v;
  }
  int Found() const { return found_; }

 private:
  IniFile ini_;
  mutable int found_ = 0;
};

// A present, non-empty value replaces the default.
void ReadText(const KeyLookup& ini, const char* section, const char* key, std::string& target) {
  if (auto v = ini.Get(section, key); v && !v->empty()) target = *v;
}

// Like ReadText, but a present empty value is kept as empty (an optional item switched off).
void ReadOptionalText(const KeyLookup& ini, const char* section, const char* key, std::string& target) {
  if (auto v = ini.Get(section, key)) target = *v;
}

// A base address: trailing "/" dropped, so that callers append "/path".
void ReadBase(const KeyLookup& ini, const char* section, const char* key, std::string& target) {
  auto v = ini.Get(section, key);
  if (!v) return;
  std::string base = *v;
  while (!base.empty() && base.back() == '/') base.pop_back();
  if (!base.empty()) target = base;
}

// Only a whole positive decimal number up to maxValue replaces the default.
void ReadNumber(const KeyLookup& ini, const char* section, const char* key, int& target, long long maxValue = INT_MAX) {
  auto v = ini.Get(section, key);
  if (!v || v->empty() || v->size() > 10) return;
  long long n = 0;
  for (char c : *v) {
    if (c < '0' || c > '9') return;
    n = n * 10 + (c - '0');
  }
  if (n <= 0 || n > maxValue) return;
  target = static_cast<int>(n);
}

}  // namespace

std::filesystem::path DeploymentPath(const std::filesystem::path& configDir) {
  return configDir / std::filesystem::path(u8"部署配置.ini");
}

Deployment LoadDeployment(const std::filesystem::path& deploymentFile, std::string* error, std::string* note) {
  Deployment d;
  if (error) error->clear();
  if (note) note->clear();
  std::string readError;
  auto bytes = ReadWholeFile(deploymentFile, &readError);
  if (!bytes) {
    // Missing: every default. Present but unreadable: the defaults would point at the real marketplace.
    if (!readError.empty() && error) *error = "部署配置无法读取: " + readError;
    return d;
  }
  // An editor may have saved it as UTF-8 or with lone CR line ends: read converted, and say so.
  IniFile file = IniFile::FromFileBytes(*bytes);
  if (note) *note = file.SourceForm().Describe(PathText(deploymentFile.filename()));
  const KeyLookup ini(std::move(file));

  ReadBase(ini, "市场", "登录主机", d.loginHost);
  ReadBase(ini, "市场", "个人主页主机", d.personalHost);
  ReadBase(ini, "市场", "会员主机", d.memberHost);
  ReadBase(ini, "市场", "物流主机", d.logisticsHost);
  ReadBase(ini, "市场", "交易主机", d.tradeHost);
  ReadBase(ini, "市场", "评价主机", d.rateHost);

  ReadText(ini, "更新", "公告页面", d.updateNoticePage);
  ReadBase(ini, "短信", "服务地址", d.smsServiceAddress);

  ReadNumber(ini, "网络", "连接超时秒", d.connectTimeoutSeconds);
  ReadNumber(ini, "网络", "总超时秒", d.totalTimeoutSeconds);
  ReadOptionalText(ini, "网络", "CA证书", d.webCaFile);

  ReadNumber(ini, "聊天", "聊天窗口等待秒", d.chatWaitSeconds);
  ReadOptionalText(ini, "聊天", "WINEPREFIX", d.chatWinePrefix);

  ReadOptionalText(ini, "邮件", "服务器", d.mail.server);
  std::string encryptionProblem;
  if (auto v = ini.Get("邮件", "加密"); v && !v->empty()) {
    std::string upper = *v;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (upper == "STARTTLS") {
      d.mail.encryption = MailEncryption::kStartTls;
    } else if (upper == "SSL") {
      d.mail.encryption = MailEncryption::kImplicitTls;
      d.mail.port = 465;
    } else if (*v == "无") {
      d.mail.encryption = MailEncryption::kNone;
    } else {
      encryptionProblem = "部署配置.ini 中 [邮件] 加密 只能是 STARTTLS、SSL 或 无: " + *v;
    }
  }
  ReadNumber(ini, "邮件", "端口", d.mail.port, 65535);
  ReadOptionalText(ini, "邮件", "发信地址", d.mail.fromAddress);
  ReadOptionalText(ini, "邮件", "用户名", d.mail.userName);
  ReadOptionalText(ini, "邮件", "密码", d.mail.passwordObfuscated);
  ReadOptionalText(ini, "邮件", "CA证书", d.mail.caFile);

  ReadText(ini, "发货人", "地区码一", d.shipper.regionCode1);
  ReadText(ini, "发货人", "地区码二", d.shipper.regionCode2);
  ReadText(ini, "发货人", "姓名", d.shipper.name);
  ReadText(ini, "发货人", "街道", d.shipper.street);
  ReadText(ini, "发货人", "详细地址", d.shipper.fullAddress);
  ReadText(ini, "发货人", "分段地址", d.shipper.joinedAddress);
  ReadText(ini, "发货人", "邮编", d.shipper.postcode);
  ReadText(ini, "发货人", "手机", d.shipper.mobile);

  ReadText(ini, "页面", "订单列表容器", d.pages.listContainer);
  ReadText(ini, "页面", "订单列表标题", d.pages.listTitle);
  ReadText(ini, "页面", "订单列表表头", d.pages.listTableHead);
  ReadText(ini, "页面", "登录地址", d.pages.loginPath);
  ReadText(ini, "页面", "登录页标记", d.pages.loginField);

  ReadText(ini, "帮助", "官网", d.websiteHome);
  ReadText(ini, "帮助", "帮助中心", d.helpCentre);
  ReadText(ini, "帮助", "飞信注册", d.imRegistrationPage);
  ReadText(ini, "帮助", "简单发货", d.helpSimpleDelivery);
  ReadText(ini, "帮助", "手机修改", d.helpChatSetup);
  ReadText(ini, "帮助", "邮箱设置", d.helpMailSetup);
  ReadText(ini, "帮助", "添加卡密", d.helpAddCards);
  ReadText(ini, "帮助", "修改卡密", d.helpEditCards);
  ReadText(ini, "帮助", "删除卡密", d.helpDeleteCards);

  if (ini.Found() == 0) {
    // Not one known key: every address would silently be the real marketplace's.
    if (error) *error = PathText(deploymentFile) + " 中没有可用的部署配置项";
    return Deployment{};
  }
  if (!encryptionProblem.empty() && error) *error = encryptionProblem;
  return d;
}

bool CheckDeploymentAddresses(const Deployment& d, std::string* error) {
  struct Role {
    const char* section;
    const char* key;
    const std::string& address;
  };
  const Role roles[] = {
      {"市场", "登录主机", d.loginHost},     {"市场", "个人主页主机", d.personalHost},
      {"市场", "会员主机", d.memberHost},    {"市场", "物流主机", d.logisticsHost},
      {"市场", "交易主机", d.tradeHost},     {"市场", "评价主机", d.rateHost},
      {"更新", "公告页面", d.updateNoticePage}, {"短信", "服务地址", d.smsServiceAddress},
  };
  for (const Role& role : roles) {
    const std::string where = std::string("部署配置.ini 中 [") + role.section + "] " + role.key + " ";
    std::optional<WebAddress> address = ParseWebAddress(role.address);
    std::string problem;
    if (!address) {
      problem = where + "不是有效的 http 或 https 地址: " + role.address;
    } else if (address->hasUserInfo) {
      problem = where + "的地址不能含有用户名或密码";
    } else if (!address->Secure() && !IsLoopbackHost(address->host)) {
      problem = where + "必须使用 https (只有本机地址 127.0.0.1、::1、localhost 可以用 http): " + role.address;
    }
    if (!problem.empty()) {
      if (error != nullptr) *error = problem;
      return false;
    }
  }
  if (!d.mail.server.empty() && !NormaliseHost(d.mail.server)) {
    if (error != nullptr) *error = "部署配置.ini 中 [邮件] 服务器 不是有效的主机名或地址: " + d.mail.server;
    return false;
  }
  // Without encryption the login and the codes would cross the network in clear.
  if (d.mail.encryption == MailEncryption::kNone && !d.mail.server.empty() && !IsLoopbackMailServer(d.mail.server)) {
    if (error != nullptr) {
      *error = "部署配置.ini 中 [邮件] 加密=无 只能用于本机的邮件服务器 (127.0.0.1、::1、localhost): " + d.mail.server;
    }
    return false;
  }
  return true;
}

bool IsLoopbackMailServer(const std::string& server) { return IsLoopbackHost(server); }

}  // namespace torvane
