#include "app/resend.h"

#include <cstdio>

#include "app/runner.h"
#include "app/session.h"
#include "base/activity_log.h"
#include "base/deployment.h"
#include "base/text.h"
#include "delivery/delivery_run.h"
#include "notify/mail.h"
#include "notify/notices.h"
#include "platform/window_system.h"
#include "store/record_store.h"
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
  QuietUi ui;
  std::string message;
  std::vector<std::string> problems;
  // The start-up checks of every command that talks to the marketplace: the data directory not held by a
  // running copy (it may be resending the same codes), a usable deployment file with safe addresses, the
  // stores opened.
  auto session = Session::Open({options.configDir, options.dataDir}, &ui, &message, &problems);
  for (const auto& problem : problems) PrintError(problem);
  if (!session) {
    PrintError(message);
    return 1;
  }
  const Deployment& deployment = session->GetDeployment();
  ActivityLog& log = session->Log();
  FileSettings settings(SettingsPath(options.configDir));
  std::string loginFailure;
  if (!CheckLoginSession(deployment, &loginFailure) && !loginFailure.empty()) {
    log.LogActivity("登录检查失败 请检查网络或重新登录淘宝: " + loginFailure);
  }

  SmtpMailSender mail(deployment.mail, deployment.connectTimeoutSeconds, deployment.totalTimeoutSeconds);
  Notices notices(settings, log, ui, mail, deployment);
  auto windows = MakeWindowSystem(deployment);
  DeliveryEngine engine(deployment, session->Stores(), options.dataDir, settings, log, mail, notices, *windows);
  const ResendResult result = engine.ResendOrder(options.orderNumber, options.mailTo);
  for (const std::string& line : result.lines) {
    if (options.printLine) options.printLine(line);
  }
  for (const auto& problem : session->Close(false)) PrintError(problem);
  return result.Done() ? 0 : 1;
}

}  // namespace torvane
