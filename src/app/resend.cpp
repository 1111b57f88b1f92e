#include "app/resend.h"

#include <cstdio>

#include "app/runner.h"
#include "base/activity_log.h"
#include "base/deployment.h"
#include "base/text.h"
#include "delivery/delivery_run.h"
#include "notify/mail.h"
#include "notify/notices.h"
#include "platform/instance_lock.h"
#include "platform/window_system.h"
#include "store/record_store.h"
#include "web/cookie_store.h"
#include "web/http.h"
#include "web/login_session.h"

namespace torvane {

namespace {

void PrintError(const std::string& gbk) {
  std::fprintf(stderr, "torvane: %s\n", EscapeTerminalControls(GbkToUtf8(gbk)).c_str());
}

// No window: balloons are already in the log, the request function's notices go to standard error.
class QuietUi : public NoticeUi {
 public:
  void ShowTrayBalloon(const std::string&, const std::string&, int, int) override {}
  int ShowNotice(const std::string& text, int, const std::string& title) override {
    PrintError("[" + title + "] " + text);
    return 0;
  }
};

}  // namespace

int ResendCommand(const ResendOptions& options) {
  std::string message;
  // A running copy may be resending the same codes: the seller stops it first.
  auto instance = InstanceLock::Acquire(options.dataDir, &message);
  if (!instance) {
    PrintError(message);
    return 1;
  }
  Deployment deployment = LoadDeployment(DeploymentPath(options.configDir));
  FileSettings settings(SettingsPath(options.configDir));
  QuietUi ui;
  WebConfig web;
  web.connectTimeoutSeconds = deployment.connectTimeoutSeconds;
  web.totalTimeoutSeconds = deployment.totalTimeoutSeconds;
  web.caFile = GbkToUtf8(deployment.webCaFile);
  web.notices = &ui;
  ConfigureWeb(web);

  ActivityLog log(options.dataDir / u8"历史记录.log");
  std::string error;
  const bool historyRead = log.LoadHistory(&error);
  if (!historyRead) PrintError("历史记录无法读取: " + error);
  const bool cookiesRead = LoadCookies(options.dataDir, &error);
  if (!cookiesRead) PrintError("登录信息无法读取: " + error);
  StoreError storeError;
  auto stores = CardStores::Open(options.dataDir, &storeError);
  if (!stores) {
    PrintError(storeError.message);
    return 1;
  }
  CheckLoginSession(deployment);

  SmtpMailSender mail(deployment.mail, deployment.connectTimeoutSeconds, deployment.totalTimeoutSeconds);
  Notices notices(settings, log, ui, mail, deployment);
  auto windows = MakeWindowSystem(deployment);
  DeliveryEngine engine(deployment, *stores, options.dataDir, settings, log, mail, notices, *windows);
  const ResendResult result = engine.ResendOrder(options.orderNumber, options.mailTo);
  for (const std::string& line : result.lines) {
    if (options.printLine) options.printLine(line);
  }
  stores->Close();
  if (historyRead && !log.SaveHistory(&error)) PrintError("历史记录无法保存: " + error);
  if (cookiesRead) SaveCookies(options.dataDir);
  return result.sent && (!result.listed || result.shipped) ? 0 : 1;
}

}  // namespace torvane
