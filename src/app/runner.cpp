#include "app/runner.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <mutex>

#include "delivery/scheduler.h"
#include "notify/mail.h"
#include "notify/notices.h"
#include "platform/window_system.h"
#include "base/activity_log.h"
#include "base/deployment.h"
#include "platform/instance_lock.h"
#include "base/settings.h"
#include "store/record_store.h"
#include "web/cookie_store.h"
#include "web/http.h"
#include "web/login_session.h"
#include "base/text.h"

namespace torvane {

namespace {

void PrintError(const std::string& gbk) { std::fprintf(stderr, "torvane: %s\n", GbkToUtf8(gbk).c_str()); }

class LineSink : public ActivitySink {
 public:
  explicit LineSink(std::function<void(const std::string&)> print) : print_(std::move(print)) {}
  void OnActivityLine(const std::string& line) override {
    if (print_) print_(line);
  }

 private:
  std::function<void(const std::string&)> print_;
};

// Without a window there is no tray: balloons are already in the activity log, notices go to standard error.
class ConsoleNoticeUi : public NoticeUi {
 public:
  void ShowTrayBalloon(const std::string&, const std::string&, int, int) override {}
  int ShowNotice(const std::string& text, int, const std::string& title) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(stderr, "[%s] %s\n", GbkToUtf8(title).c_str(), GbkToUtf8(text).c_str());
    return 0;
  }

 private:
  std::mutex mutex_;
};

}  // namespace

Settings FileSettings::Current() const { return LoadSettings(file_); }

int RunHeadless(const RunOptions& options) {
  // Blocked before any thread starts, so that only sigwait below receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  if (!options.once) pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  std::string message;
  auto instance = InstanceLock::Acquire(options.dataDir, &message);
  if (!instance) {
    PrintError(message);
    return 1;
  }

  Deployment deployment = LoadDeployment(DeploymentPath(options.configDir));
  if (!CheckDeploymentAddresses(deployment, &message)) {
    PrintError(message);
    return 1;
  }
  FileSettings settings(SettingsPath(options.configDir));
  ConsoleNoticeUi ui;

  WebConfig web;
  web.connectTimeoutSeconds = deployment.connectTimeoutSeconds;
  web.totalTimeoutSeconds = deployment.totalTimeoutSeconds;
  web.notices = &ui;
  ConfigureWeb(web);

  LineSink sink(options.printLine);  // outlives the log that writes to it
  ActivityLog log(options.dataDir / u8"历史记录.log");
  log.SetSink(&sink);
  std::string error;
  if (!log.LoadHistory(&error)) PrintError("历史记录无法读取: " + error);
  if (!LoadCookies(options.dataDir, &error)) PrintError("登录信息无法读取: " + error);

  StoreError storeError;
  std::vector<std::string> created;
  auto stores = CardStores::Open(options.dataDir, &storeError, &created);
  if (!stores) {
    PrintError(storeError.message);
    return 1;
  }
  for (const auto& name : created) log.LogActivity(name + " 不存在 已新建空的卡密库");
  log.LogActivity("程序启动完成");
  log.StartAutosave(std::chrono::seconds(60));

  SmtpMailSender mail(deployment.mail, deployment.connectTimeoutSeconds, deployment.totalTimeoutSeconds);
  Notices notices(settings, log, ui, mail, deployment);
  auto windows = MakeWindowSystem(deployment);
  DeliveryEngine engine(deployment, *stores, options.dataDir, settings, log, mail, notices, *windows);
  DeliveryScheduler scheduler(engine, deployment, settings, log, ui);
  scheduler.SetAfterDeliveryRun([&] {
    log.SaveHistoryIfChanged();
    SaveCookies(options.dataDir);
    if (options.afterRun) options.afterRun(engine.LastSummary(), *stores);
  });

  if (options.once) {
    scheduler.SwitchDeliveryOn(0);
    scheduler.WaitIdle();  // the login check completes before the tick
    scheduler.ScanTick();
    scheduler.WaitIdle();
  } else {
    int period = ScanPeriodMs(settings.Current().scanPeriod);
    if (period == 0) period = ScanPeriodMs("1分钟");
    scheduler.SwitchDeliveryOn(period);
    int received = 0;
    sigwait(&stopSignals, &received);
  }

  scheduler.Shutdown();
  log.LogActivity("程序退出完成");
  stores->Close();
  log.StopAutosave();
  if (!log.SaveHistory(&error)) PrintError("历史记录无法保存: " + error);
  if (!SaveCookies(options.dataDir, &error)) PrintError("登录信息无法保存: " + error);
  return 0;
}

}  // namespace torvane
