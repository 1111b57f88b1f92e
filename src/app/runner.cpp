#include "app/runner.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "app/session.h"
#include "app/terminal.h"
#include "base/activity_log.h"
#include "base/deployment.h"
#include "base/settings.h"
#include "base/text.h"
#include "delivery/scheduler.h"
#include "notify/mail.h"
#include "notify/notices.h"
#include "platform/window_system.h"
#include "platform/process.h"
#include "platform/stop_signals.h"
#include "store/record_store.h"

namespace torvane {

namespace {

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
    std::fprintf(stderr, "[%s] %s\n", EscapeTerminalControls(GbkToUtf8(title)).c_str(),
                 EscapeTerminalControls(GbkToUtf8(text)).c_str());
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

  ConsoleNoticeUi ui;
  LineSink sink(options.printLine);  // outlives the log that writes to it
  std::string message;
  std::vector<std::string> problems;
  auto session = Session::Open({options.configDir, options.dataDir}, &ui, &message, &problems);
  for (const auto& problem : problems) PrintError(problem);
  if (!session) {
    PrintError(message);
    return 1;
  }
  ActivityLog& log = session->Log();
  log.SetSink(&sink);
  const Deployment& deployment = session->GetDeployment();
  CardStores* stores = &session->Stores();
  FileSettings settings(SettingsPath(options.configDir), &log);
  session->LogStartNotes();
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
    session->AfterDeliveryRun();
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
  for (const auto& problem : session->Close()) PrintError(problem);
  stopSignals.Stop();  // before the engine and the log its hooks use go away
  log.SetSink(nullptr);
  return options.once && engine.LastSummary().listUnreadable ? 1 : 0;
}

}  // namespace torvane
