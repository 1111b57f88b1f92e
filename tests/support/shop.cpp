#include "support/shop.h"

#include <algorithm>

#include "notify/password.h"
#include "base/deployment.h"
#include "base/ini.h"
#include "base/files.h"
#include "store/record_store.h"
#include "web/cookie_store.h"
#include "web/http.h"
#include "base/text.h"

namespace torvane::test {

Shop::Shop(Settings settings, bool withMail) {
  std::filesystem::create_directories(configDir());
  std::filesystem::create_directories(dataDir());
  sim_ = MarketSim::Start();
  if (!sim_) {
    error_ = "market-sim did not start";
    return;
  }
  if (!sim_->WriteDeployment(configDir())) {
    error_ = "cannot write the deployment file";
    return;
  }
  if (withMail) {
    mail_ = std::make_unique<SmtpTestServer>();
    if (!mail_->running()) {
      error_ = "mail server did not start: " + mail_->error();
      return;
    }
    IniFile deployment;
    deployment.Load(DeploymentPath(configDir()));
    deployment.Set("邮件", "服务器", "127.0.0.1");
    deployment.Set("邮件", "端口", std::to_string(mail_->port()));
    deployment.Set("邮件", "加密", "无");
    deployment.Set("邮件", "发信地址", "shop@torvane.test");
    deployment.Set("邮件", "用户名", mail_->options().user);
    deployment.Set("邮件", "密码", ObfuscateMailPassword(mail_->options().password));
    deployment.Set("网络", "连接超时秒", "5");
    deployment.Set("网络", "总超时秒", "20");
    if (!deployment.Save(DeploymentPath(configDir()))) {
      error_ = "cannot write the mail account";
      return;
    }
  }
  if (!SaveSettings(SettingsPath(configDir()), settings, &error_)) return;
  ok_ = true;
}

bool Shop::LogIn() {
  ClearCookies();
  网页_访问(sim_->BaseUrl() + "/member/login.jhtml", 1, {}, {}, "TPL_username=seller&TPL_password=secret");
  bool saved = SaveCookies(dataDir());
  ClearCookies();
  return saved && std::filesystem::exists(CookieFilePath(dataDir()));
}

bool Shop::AddCards(const std::string& item, const std::vector<std::pair<std::string, std::string>>& cards,
                    const std::string& note) {
  StoreError error;
  auto stores = CardStores::Open(dataDir(), &error);
  if (!stores) return false;
  std::vector<std::vector<std::string>> records;
  for (const auto& [number, secret] : cards) records.push_back({item, number, secret, note});
  bool ok = stores->Inventory().AppendMany(records) == records.size();
  stores->Close();
  auto names = ReadWholeFile(dataDir() / u8"宝贝名称.txt").value_or("");
  auto listed = SplitText(names, "\r\n");
  if (std::find(listed.begin(), listed.end(), item) == listed.end()) {
    ok = ok && WriteFileAtomic(dataDir() / u8"宝贝名称.txt", names + item + "\r\n");
  }
  return ok;
}

std::vector<std::string> Shop::RunArgs(bool once) const {
  std::vector<std::string> args{"run", "--config-dir", configDir().string()};
  if (once) args.push_back("--once");
  return args;
}

}  // namespace torvane::test
