#include "app/session.h"

#include <cstdio>

#include "base/files.h"
#include "base/settings.h"
#include "base/text.h"
#include "delivery/recipient_refusals.h"
#include "notify/password.h"
#include "store/blacklist.h"
#include "store/item_names.h"
#include "web/cookie_store.h"
#include "web/http.h"

namespace torvane {
namespace {

// What the seller should hear about how the deployment file keeps the mail account: a mode that lets
// other local users read it, and a password written in plain text.
std::vector<std::string> DeploymentFileWarnings(const std::filesystem::path& file, const Deployment& deployment) {
  std::vector<std::string> warnings;
  const std::optional<unsigned> permissions = FilePermissions(file);
  if (permissions && (*permissions & 077) != 0) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", *permissions);
    warnings.push_back(PathText(file.filename()) + " 的权限是 " + mode +
                       " 本机其他用户也能读取其中的邮件账号: 请执行 chmod 600 " + PathText(file));
  }
  const std::string& password = deployment.mail.passwordObfuscated;
  if (!password.empty() && !IsObfuscatedMailPassword(password)) {
    warnings.push_back(PathText(file.filename()) +
                       " 中 [邮件] 密码 是明文: 请用 torvane mail-password 生成它的存放形式替换");
  }
  return warnings;
}

}  // namespace

Session::Session(const SessionPaths& paths) : paths_(paths), log_(paths.dataDir / u8"历史记录.log") {}

Session::~Session() = default;

std::unique_ptr<Session> Session::Open(const SessionPaths& paths, NoticeUi* webNotices, std::string* error,
                                       std::vector<std::string>* problems) {
  std::string message;
  auto instance = InstanceLock::Acquire(paths.dataDir, &message);
  if (!instance) {
    if (error) *error = message;
    return nullptr;
  }
  std::unique_ptr<Session> session(new Session(paths));
  session->instance_ = std::move(instance);

  // Temporaries of whole-file writes that a kill interrupted in an earlier run.
  session->staleTemporaries_ = RemoveStaleTemporaries(
      {BlacklistPath(paths.dataDir), HandledOrdersPath(paths.dataDir), RecipientRefusalsPath(paths.dataDir),
       ItemNamesPath(paths.dataDir),
       paths.dataDir / u8"历史记录.log", CookieFilePath(paths.dataDir), SettingsPath(paths.configDir),
       DeploymentPath(paths.configDir)});

  session->deployment_ = LoadDeployment(DeploymentPath(paths.configDir), &message, &session->deploymentNote_);
  if (!message.empty() || !CheckDeploymentAddresses(session->deployment_, &message)) {
    if (error) *error = message;
    return nullptr;
  }
  // A loose mode or a plain password: said on standard error or in a box, and in the log.
  session->warnings_ = DeploymentFileWarnings(DeploymentPath(paths.configDir), session->deployment_);
  if (problems) problems->insert(problems->end(), session->warnings_.begin(), session->warnings_.end());
  WebConfig web;
  web.connectTimeoutSeconds = session->deployment_.connectTimeoutSeconds;
  web.totalTimeoutSeconds = session->deployment_.totalTimeoutSeconds;
  web.caFile = GbkToUtf8(session->deployment_.webCaFile);
  web.notices = webNotices;
  ConfigureWeb(web);

  std::string problem;
  if (!session->log_.LoadHistory(&problem) && problems) problems->push_back("历史记录无法读取: " + problem);
  // Said once here; the file is then kept as it is and this run's login is not saved.
  session->cookiesLoaded_ = LoadCookies(paths.dataDir, &problem);
  if (!session->cookiesLoaded_ && problems) {
    problems->push_back("登录信息无法读取: " + problem + "; 该文件保留不动 本次登录不会保存");
  }

  StoreError storeError;
  session->stores_ = CardStores::Open(paths.dataDir, &storeError, &session->createdStores_);
  if (!session->stores_) {
    if (error) *error = storeError.message;
    return nullptr;
  }
  return session;
}

void Session::LogStartNotes() {
  for (const auto& name : createdStores_) log_.LogActivity(name + " 不存在 已新建空的卡密库");
  if (stores_) {
    for (const auto& note : stores_->OpenNotes()) log_.LogActivity(note);
  }
  for (const auto& name : staleTemporaries_) log_.LogActivity("已删除中断的写入留下的临时文件 " + name);
  if (!deploymentNote_.empty()) log_.LogActivity(deploymentNote_);
  for (const auto& warning : warnings_) log_.LogActivity(warning);
}

void Session::AfterDeliveryRun() {
  log_.SaveHistoryIfChanged();
  if (cookiesLoaded_) SaveCookies(paths_.dataDir);
}

std::vector<std::string> Session::Close(bool logExit) {
  std::vector<std::string> problems;
  if (closed_) return problems;
  closed_ = true;
  if (logExit) log_.LogActivity("程序退出完成");
  stores_->Close();
  log_.StopAutosave();
  std::string error;
  if (!log_.SaveHistory(&error)) problems.push_back("历史记录无法保存: " + error);
  if (cookiesLoaded_ && !SaveCookies(paths_.dataDir, &error)) problems.push_back("登录信息无法保存: " + error);
  return problems;
}

}  // namespace torvane
