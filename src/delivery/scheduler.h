// The scan timer and the worker threads of automatic delivery, shared by the window and the
// headless runner.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "delivery/delivery_run.h"
#include "notify/notify_interfaces.h"
#include "base/activity_log.h"
#include "base/deployment.h"
#include "base/settings.h"

namespace torvane {

// Construction:
//
//   DeliveryScheduler scheduler(engine, deployment, liveSettings, activityLog, noticeUi);
//   scheduler.SetLoginRefresh([&] { CheckLoginSession(deployment); });   // optional
//   scheduler.SetAfterDeliveryRun([&] { activityLog.SaveHistoryIfChanged(); });  // optional
//   scheduler.SwitchDeliveryOn(ScanPeriodMs(settings.scanPeriod));   // after saving the settings
//   ...
//   scheduler.ScanTick(); scheduler.WaitIdle();   // one pass now (the runner's --once)
//   scheduler.Shutdown();                          // or let the destructor do it
//
// All referenced objects must outlive the scheduler. Hooks are set before switching on.
class DeliveryScheduler {
 public:
  DeliveryScheduler(DeliveryEngine& engine, const Deployment& deployment, const LiveSettings& settings,
                    ActivityLogger& log, NoticeUi& ui);
  ~DeliveryScheduler();
  DeliveryScheduler(const DeliveryScheduler&) = delete;
  DeliveryScheduler& operator=(const DeliveryScheduler&) = delete;

  // Runs on a worker at every switch-on (the login refresh); default: CheckLoginSession, logging a failure.
  void SetLoginRefresh(std::function<void()> refresh);
  // Runs on the delivery worker after each delivery pass, before the busy flag is lowered.
  void SetAfterDeliveryRun(std::function<void()> hook);
  // Replaces the rating pass (tests); default: AutoRateRun.
  void SetRatingPass(std::function<void()> pass);
  // Replaces how threads are made (tests stand in for a system out of threads); default: std::thread.
  // It may throw std::system_error as std::thread does.
  void SetThreadMaker(std::function<std::thread(std::function<void()>)> maker);

  // Arms the timer with the period (a period <= 0 keeps the current one), starts the login refresh
  // on a worker, shows the balloon and logs "自动发货已经开启". The first tick comes one full period later.
  // When the timer thread cannot be started, logs why and leaves delivery off.
  void SwitchDeliveryOn(int periodMs);
  // Stops the ticks; passes under way finish. Balloon and log "自动发货已经关闭".
  void SwitchDeliveryOff();
  // One tick: a rating pass when rating is on and none is running; a delivery pass when none is running.
  void ScanTick();

  bool DeliveryOn() const;
  bool DeliveryBusy() const { return deliveryBusy_.load(); }
  bool RatingBusy() const { return ratingBusy_.load(); }
  int PeriodMs() const;

  // Waits until no worker (delivery, rating, login refresh) is running.
  void WaitIdle();
  // Stops the timer and joins every worker. Idempotent.
  void Shutdown();

  // Starts entry on a new worker thread that Shutdown joins; false (nothing started) after Shutdown
  // or when the system cannot start a thread (logged).
  bool StartWorker(std::function<void()> entry);

 private:
  void TimerLoop();
  void ReapFinishedLocked();

  DeliveryEngine& engine_;
  const Deployment& deployment_;
  const LiveSettings& settings_;
  ActivityLogger& log_;
  NoticeUi& ui_;
  std::function<void()> loginRefresh_;
  std::function<void()> afterDeliveryRun_;
  std::function<void()> ratingPass_;
  std::function<std::thread(std::function<void()>)> makeThread_;

  std::atomic<bool> deliveryBusy_{false};
  std::atomic<bool> ratingBusy_{false};

  mutable std::mutex timerMutex_;
  std::condition_variable timerWake_;
  int periodMs_ = 0;      // 0: stopped
  std::uint64_t armed_ = 0;  // bumped at each switch-on/off so a waiting timer re-arms
  bool stopping_ = false;
  std::thread timer_;

  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex workersMutex_;
  std::condition_variable workersIdle_;
  std::vector<Worker> workers_;
  int running_ = 0;
  bool shutDown_ = false;
};

}  // namespace torvane
