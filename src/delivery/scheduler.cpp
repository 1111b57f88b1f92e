#include "delivery/scheduler.h"

#include <system_error>

#include "delivery/rating.h"
#include "web/login_session.h"

namespace torvane {

DeliveryScheduler::DeliveryScheduler(DeliveryEngine& engine, const Deployment& deployment,
                                     const LiveSettings& settings, ActivityLogger& log, NoticeUi& ui)
    : engine_(engine), deployment_(deployment), settings_(settings), log_(log), ui_(ui) {
  loginRefresh_ = [this] {
    std::string failure;
    if (CheckLoginSession(deployment_, &failure)) return;
    // Without a token the consign forms are refused; without the user id the rating finds nothing.
    // A failed check keeps the token an earlier one read.
    log_.LogActivity(!failure.empty() ? "登录检查失败 请检查网络或重新登录淘宝: " + failure
                                      : std::string("登录检查未读取到卖家编号 自动评价暂不可用"));
  };
  ratingPass_ = [this] { AutoRateRun(deployment_, settings_, log_); };
  makeThread_ = [](std::function<void()> entry) { return std::thread(std::move(entry)); };
}

DeliveryScheduler::~DeliveryScheduler() { Shutdown(); }

void DeliveryScheduler::SetLoginRefresh(std::function<void()> refresh) { loginRefresh_ = std::move(refresh); }
void DeliveryScheduler::SetAfterDeliveryRun(std::function<void()> hook) { afterDeliveryRun_ = std::move(hook); }
void DeliveryScheduler::SetRatingPass(std::function<void()> pass) { ratingPass_ = std::move(pass); }
void DeliveryScheduler::SetThreadMaker(std::function<std::thread(std::function<void()>)> maker) {
  makeThread_ = std::move(maker);
}

bool DeliveryScheduler::DeliveryOn() const {
  std::lock_guard<std::mutex> lock(timerMutex_);
  return periodMs_ > 0;
}

int DeliveryScheduler::PeriodMs() const {
  std::lock_guard<std::mutex> lock(timerMutex_);
  return periodMs_;
}

void DeliveryScheduler::SwitchDeliveryOn(int periodMs) {
  std::string failure;
  {
    std::lock_guard<std::mutex> lock(timerMutex_);
    if (stopping_) return;
    if (!timer_.joinable()) {
      try {
        timer_ = makeThread_([this] { TimerLoop(); });
      } catch (const std::system_error& e) {
        failure = e.what();
      }
    }
    if (failure.empty()) {
      if (periodMs > 0) periodMs_ = periodMs;
      ++armed_;
    }
  }
  if (!failure.empty()) {
    log_.LogActivity("定时器线程无法启动 自动发货未开启: " + failure);
    return;
  }
  timerWake_.notify_all();
  if (loginRefresh_) StartWorker(loginRefresh_);
  ui_.ShowTrayBalloon("提示", "自动发货已经开启", 1, 2000);
  log_.LogActivity("自动发货已经开启");
}

void DeliveryScheduler::SwitchDeliveryOff() {
  {
    std::lock_guard<std::mutex> lock(timerMutex_);
    periodMs_ = 0;
    ++armed_;
  }
  timerWake_.notify_all();
  ui_.ShowTrayBalloon("提示", "自动发货已经关闭", 1, 2000);
  log_.LogActivity("自动发货已经关闭");
}

void DeliveryScheduler::TimerLoop() {
  std::unique_lock<std::mutex> lock(timerMutex_);
  while (!stopping_) {
    if (periodMs_ <= 0) {
      timerWake_.wait(lock, [&] { return stopping_ || periodMs_ > 0; });
      continue;
    }
    const std::uint64_t armedAt = armed_;
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs_);
    const bool rearmed = timerWake_.wait_until(lock, due, [&] { return stopping_ || armed_ != armedAt; });
    if (rearmed) continue;  // stopped, switched off, or switched on again: count the period afresh
    lock.unlock();
    ScanTick();
    lock.lock();
  }
}

void DeliveryScheduler::ScanTick() {
  if (settings_.Current().autoRate && ratingPass_) {
    bool idle = false;
    if (ratingBusy_.compare_exchange_strong(idle, true)) {
      const bool started = StartWorker([this] {
        ratingPass_();
        ratingBusy_ = false;
      });
      if (!started) ratingBusy_ = false;
    }
  }
  bool idle = false;
  if (deliveryBusy_.compare_exchange_strong(idle, true)) {
    // Raised here, lowered when the pass ends, in both modes: passes never overlap.
    const bool started = StartWorker([this] {
      engine_.DeliveryRun();
      if (afterDeliveryRun_) afterDeliveryRun_();
      deliveryBusy_ = false;
    });
    if (!started) deliveryBusy_ = false;
  }
}

void DeliveryScheduler::ReapFinishedLocked() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (it->done->load()) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

bool DeliveryScheduler::StartWorker(std::function<void()> entry) {
  std::string failure;
  {
    std::lock_guard<std::mutex> lock(workersMutex_);
    if (shutDown_) return false;
    ReapFinishedLocked();
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.reserve(workers_.size() + 1);  // the push below must not throw with a running thread in hand
    try {
      std::thread thread = makeThread_([this, entry = std::move(entry), done] {
        entry();
        std::lock_guard<std::mutex> inner(workersMutex_);
        done->store(true);
        --running_;
        workersIdle_.notify_all();
      });
      ++running_;  // before the lock is released, so the worker's decrement comes after it
      workers_.push_back(Worker{std::move(thread), done});
      return true;
    } catch (const std::system_error& e) {
      failure = e.what();
    }
  }
  // The tick goes on without this work; the next tick tries again.
  log_.LogActivity("工作线程无法启动: " + failure);
  return false;
}

void DeliveryScheduler::WaitIdle() {
  std::unique_lock<std::mutex> lock(workersMutex_);
  workersIdle_.wait(lock, [&] { return running_ == 0; });
}

void DeliveryScheduler::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(timerMutex_);
    stopping_ = true;
    periodMs_ = 0;
  }
  timerWake_.notify_all();
  if (timer_.joinable()) timer_.join();
  std::vector<Worker> workers;
  {
    std::lock_guard<std::mutex> lock(workersMutex_);
    shutDown_ = true;
    workers.swap(workers_);
  }
  for (Worker& w : workers) w.thread.join();
}

}  // namespace torvane
