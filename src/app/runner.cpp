#include "app/runner.h"

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
#include "platform/process.h"
#include "platform/stop_signals.h"
#include "base/settings.h"
#include "store/record_store.h"
#include "web/cookie_store.h"
#include "web/http.h"
#include "web/login_session.h"
#include "base/files.h"
#include "base/text.h"
#include "store/blacklist.h"
#include "store/item_names.h"

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

Settings FileSettings::Current() const {
  std::string note;
  Settings settings = LoadSettings(file_, &note);
  if (log_) {
    std::unique_lock<std::mutex> lock(noteMutex_);
    if (note != saidNote_) {
      saidNote_ = note;
      lock.unlock();
      if (!note.empty()) log_->LogActivity(note);
    }
  }
  return settings;
}

int RunHeadless(const RunOptions& options) {
  // Terminal writes to a reader that went away fail quietly instead of killing the process.
  PrepareStandardStreams();
  // Before any thread starts, so that only its watcher receives SIGINT and SIGTERM.
  StopSignals stopSignals;

  std::string message;
  auto instance = InstanceLock::Acquire(options.dataDir, &message);
  if (!instance) {
    PrintError(message);
    return 1;
  }

  // Temporaries of whole-file writes that a kill interrupted in an earlier run.
  const std::vector<std::string> staleTemporaries = RemoveStaleTemporaries(
      {BlacklistPath(options.dataDir), ItemNamesPath(options.dataDir), options.dataDir / u8"历史记录.log",
       CookieFilePath(options.dataDir), SettingsPath(options.configDir), DeploymentPath(options.configDir)});

  std::string deploymentNote;
  Deployment deployment = LoadDeployment(DeploymentPath(options.configDir), &message, &deploymentNote);
  if (!message.empty() || !CheckDeploymentAddresses(deployment, &message)) {
    PrintError(message);
    return 1;
  }
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
  FileSettings settings(SettingsPath(options.configDir), &log);
  // Said once here; the file is then kept as it is and this run's login is not saved.
  const bool cookiesLoaded = LoadCookies(options.dataDir, &error);
  if (!cookiesLoaded) PrintError("登录信息无法读取: " + error + "; 该文件保留不动 本次登录不会保存");

  StoreError storeError;
  std::vector<std::string> created;
  auto stores = CardStores::Open(options.dataDir, &storeError, &created);
  if (!stores) {
    PrintError(storeError.message);
    return 1;
  }
  for (const auto& name : created) log.LogActivity(name + " 不存在 已新建空的卡密库");
  for (const auto& name : staleTemporaries) log.LogActivity("已删除中断的写入留下的临时文件 " + name);
  if (!deploymentNote.empty()) log.LogActivity(deploymentNote);
  settings.Current();  // says now when the settings file was read converted
  log.LogActivity("程序启动完成");
  log.StartAutosave(std::chrono::seconds(60));

  SmtpMailSender mail(deployment.mail, deployment.connectTimeoutSeconds, deployment.totalTimeoutSeconds);
  Notices notices(settings, log, ui, mail, deployment);
  auto windows = MakeWindowSystem(deployment);
  // Said once: every chat order then waits with its own short line.
  if (const std::string why = windows->UnavailableReason(); !why.empty()) log.LogActivity(why);
  DeliveryEngine engine(deployment, *stores, options.dataDir, settings, log, mail, notices, *windows);
  // The first signal lets the pass finish the order in hand; a second ends at once (the stores'
  // transactions keep them sound, the history is saved first).
  stopSignals.OnFirst([&] { engine.RequestStop(); });
  stopSignals.OnSecond([&] {
    log.LogActivity("再次收到退出信号 立即退出");
    log.SaveHistory();
  });
  DeliveryScheduler scheduler(engine, deployment, settings, log, ui);
  scheduler.SetAfterDeliveryRun([&] {
    log.SaveHistoryIfChanged();
    if (cookiesLoaded) SaveCookies(options.dataDir);
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
    stopSignals.WaitFirst();
  }

  scheduler.Shutdown();
  log.LogActivity("程序退出完成");
  stores->Close();
  log.StopAutosave();
  if (!log.SaveHistory(&error)) PrintError("历史记录无法保存: " + error);
  if (cookiesLoaded && !SaveCookies(options.dataDir, &error)) PrintError("登录信息无法保存: " + error);
  stopSignals.Stop();  // before the engine and the log its hooks use go away
  return options.once && engine.LastSummary().listUnreadable ? 1 : 0;
}

}  // namespace torvane
