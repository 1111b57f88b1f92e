#include "delivery/scheduler.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <system_error>

#include "support/deadline.h"
#include "support/market_sim.h"
#include "support/temp_dir.h"

namespace torvane {
namespace {

class CountingLog : public ActivityLogger {
 public:
  void LogActivity(std::string_view message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(message);
  }
  int Count(const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(lines_.begin(), lines_.end(), message));
  }
  int CountStartingWith(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(
        std::count_if(lines_.begin(), lines_.end(), [&](const std::string& l) { return l.starts_with(prefix); }));
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

class RecordingUi : public NoticeUi {
 public:
  void ShowTrayBalloon(const std::string& title, const std::string& text, int iconKind, int timeoutMs) override {
    std::lock_guard<std::mutex> lock(mutex);
    balloons.push_back(title + "|" + text + "|" + std::to_string(iconKind) + "|" + std::to_string(timeoutMs));
  }
  int ShowNotice(const std::string&, int, const std::string&) override { return 0; }
  std::mutex mutex;
  std::vector<std::string> balloons;
};

class NoMail : public MailSender {
 public:
  MailResult SendMail(const std::string&, const std::string&, const std::string&) override { return {}; }
};
class NoNotices : public SellerNotices {
 public:
  void NotifyDelivered(const std::string&) override {}
  void NotifyOutOfStock(const std::string&) override {}
  void NotifyLowStock(const std::string&) override {}
  void NotifyProblem(const std::string&) override {}
};

// A gate the test opens; passes that reach it wait there (a gate never opened fails the test and
// lets them go on after kWaitLimit).
class Gate {
 public:
  void Pass() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++arrived_;
    changed_.notify_all();
    if (!changed_.wait_for(lock, test::kWaitLimit, [&] { return open_; })) ADD_FAILURE() << "the gate was never opened";
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void WaitArrivals(int n) {
    test::WithinDeadline("passes at the gate", [&] {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return arrived_ >= n; });
    });
  }
  int Arrived() {
    std::lock_guard<std::mutex> lock(mutex_);
    return arrived_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int arrived_ = 0;
  bool open_ = false;
};

// The scheduler over a real engine whose order list is the simulator's (logged out: its login page).
class SchedulerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sharedSim_ = test::MarketSim::Start().release(); }
  static void TearDownTestSuite() {
    delete sharedSim_;
    sharedSim_ = nullptr;
  }

  void SetUp() override {
    sim_ = sharedSim_;
    ASSERT_TRUE(sim_);
    ASSERT_TRUE(sim_->WriteDeployment(dir_.path()));
    deployment_ = LoadDeployment(DeploymentPath(dir_.path()));
    StoreError error;
    stores_ = CardStores::Open(dir_.path(), &error);
    ASSERT_TRUE(stores_) << error.message;
    windows_ = MakeWindowSystem(deployment_);
    engine_ = std::make_unique<DeliveryEngine>(deployment_, *stores_, dir_.path(), settings_, log_, mail_, notices_,
                                               *windows_);
    scheduler_ = std::make_unique<DeliveryScheduler>(*engine_, deployment_, settings_, log_, ui_);
    scheduler_->SetLoginRefresh([this] { ++loginRefreshes_; });
  }
  void TearDown() override {
    if (scheduler_) Shutdown();
  }
  void WaitIdle() {
    test::WithinDeadline("the workers to finish", [&] { scheduler_->WaitIdle(); });
  }
  void Shutdown() {
    test::WithinDeadline("the shutdown", [&] { scheduler_->Shutdown(); });
  }
  void WaitUntil(const std::string& what, const std::function<bool()>& done) {
    test::WithinDeadline(what, [&] {
      while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  }

  static inline test::MarketSim* sharedSim_ = nullptr;
  test::TempDir dir_;
  test::MarketSim* sim_ = nullptr;
  Deployment deployment_;
  std::unique_ptr<CardStores> stores_;
  std::unique_ptr<WindowSystem> windows_;
  FixedSettings settings_{Settings{}};
  CountingLog log_;
  RecordingUi ui_;
  NoMail mail_;
  NoNotices notices_;
  std::unique_ptr<DeliveryEngine> engine_;
  std::unique_ptr<DeliveryScheduler> scheduler_;
  std::atomic<int> loginRefreshes_{0};
};

TEST_F(SchedulerTest, ATickDuringADeliveryPassStartsNoSecondPassButStillRates) {
  Settings s;
  s.autoRate = true;
  settings_.Set(s);
  Gate delivery;
  std::atomic<int> ratings{0};
  scheduler_->SetAfterDeliveryRun([&] { delivery.Pass(); });
  scheduler_->SetRatingPass([&] { ++ratings; });

  scheduler_->ScanTick();
  delivery.WaitArrivals(1);
  EXPECT_TRUE(scheduler_->DeliveryBusy());
  // The first rating pass may still be running; wait for it so the next tick may start another.
  WaitUntil("the first rating pass", [&] { return !scheduler_->RatingBusy(); });
  scheduler_->ScanTick();
  scheduler_->ScanTick();
  delivery.Open();
  WaitIdle();
  EXPECT_EQ(delivery.Arrived(), 1);
  EXPECT_EQ(log_.Count("登录已失效 请重新登录淘宝"), 1);
  EXPECT_GE(ratings.load(), 2);
  EXPECT_FALSE(scheduler_->DeliveryBusy());

  // Lowered again: the next tick runs a pass.
  scheduler_->ScanTick();
  WaitIdle();
  EXPECT_EQ(delivery.Arrived(), 2);
}

TEST_F(SchedulerTest, RatingPassesNeverOverlapAndOnlyRunWhenSwitchedOn) {
  Gate rating;
  scheduler_->SetRatingPass([&] { rating.Pass(); });
  scheduler_->ScanTick();
  WaitIdle();
  EXPECT_EQ(rating.Arrived(), 0);  // rating is off

  Settings s;
  s.autoRate = true;
  settings_.Set(s);
  scheduler_->ScanTick();
  rating.WaitArrivals(1);
  scheduler_->ScanTick();
  scheduler_->ScanTick();
  rating.Open();
  WaitIdle();
  EXPECT_EQ(rating.Arrived(), 1);
}

// However long a pass takes to begin its work or to end it, in either mode, ticks meanwhile start
// no other pass: the tick itself raises the busy flag.
TEST_F(SchedulerTest, TicksDuringAPassStartNoOtherInEitherMode) {
  const struct {
    const char* name;
    bool emptyShipment;
    bool heldBeforeItsWork;
  } rows[] = {
      {"delivery, held before its work", false, true},
      {"delivery, held after its work", false, false},
      {"empty shipment, held before its work", true, true},
      {"empty shipment, held after its work", true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Settings s;
    s.deliverEmpty = row.emptyShipment;
    settings_.Set(s);
    Gate gate;
    std::atomic<int> passes{0};
    if (row.heldBeforeItsWork) {
      // Each worker waits at the gate before it does anything.
      scheduler_->SetThreadMaker([&gate](std::function<void()> entry) {
        return std::thread([&gate, entry = std::move(entry)] {
          gate.Pass();
          entry();
        });
      });
      scheduler_->SetAfterDeliveryRun([&] { ++passes; });
    } else {
      scheduler_->SetThreadMaker([](std::function<void()> entry) { return std::thread(std::move(entry)); });
      scheduler_->SetAfterDeliveryRun([&] {
        ++passes;
        gate.Pass();
      });
    }
    scheduler_->ScanTick();
    scheduler_->ScanTick();
    gate.WaitArrivals(1);
    EXPECT_TRUE(scheduler_->DeliveryBusy());
    scheduler_->ScanTick();
    gate.Open();
    WaitIdle();
    EXPECT_EQ(passes.load(), 1);
    EXPECT_EQ(gate.Arrived(), 1);
    EXPECT_FALSE(scheduler_->DeliveryBusy());
  }
}

TEST_F(SchedulerTest, SwitchingOnTicksAtThePeriodAndSwitchingOffStops) {
  std::mutex m;
  std::condition_variable cv;
  int passes = 0;
  scheduler_->SetAfterDeliveryRun([&] {
    std::lock_guard<std::mutex> lock(m);
    ++passes;
    cv.notify_all();
  });
  scheduler_->SwitchDeliveryOn(20);
  EXPECT_TRUE(scheduler_->DeliveryOn());
  EXPECT_EQ(scheduler_->PeriodMs(), 20);
  test::WithinDeadline("three ticks", [&] {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return passes >= 3; });
  });
  scheduler_->SwitchDeliveryOff();
  EXPECT_FALSE(scheduler_->DeliveryOn());
  WaitIdle();
  int settled;
  {
    std::lock_guard<std::mutex> lock(m);
    settled = passes;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  {
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(passes, settled);
  }
  EXPECT_EQ(loginRefreshes_.load(), 1);
  EXPECT_EQ(log_.Count("自动发货已经开启"), 1);
  EXPECT_EQ(log_.Count("自动发货已经关闭"), 1);
  std::lock_guard<std::mutex> lock(ui_.mutex);
  EXPECT_EQ(ui_.balloons, (std::vector<std::string>{"提示|自动发货已经开启|1|2000", "提示|自动发货已经关闭|1|2000"}));
}

TEST_F(SchedulerTest, SwitchingOnAgainRearmsAndShutdownJoinsARunningPass) {
  scheduler_->SwitchDeliveryOn(3600000);
  scheduler_->SwitchDeliveryOn(0);  // no choice: the period stays
  EXPECT_EQ(scheduler_->PeriodMs(), 3600000);
  scheduler_->SwitchDeliveryOn(300000);
  EXPECT_EQ(scheduler_->PeriodMs(), 300000);
  WaitIdle();
  EXPECT_EQ(loginRefreshes_.load(), 3);

  Gate pass;
  std::atomic<bool> finished{false};
  scheduler_->SetAfterDeliveryRun([&] {
    pass.Pass();
    finished = true;
  });
  scheduler_->ScanTick();
  pass.WaitArrivals(1);
  std::vector<std::thread> opener;
  opener.emplace_back([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pass.Open();
  });
  Shutdown();
  EXPECT_TRUE(finished.load());
  test::JoinWithin(opener, "the gate opener");
  // No work after shutdown.
  scheduler_->ScanTick();
  EXPECT_FALSE(scheduler_->DeliveryBusy());
}

TEST_F(SchedulerTest, ThreadsThatCannotStartAreLoggedAndTheTimerKeepsTicking) {
  // Refused: the first timer, the login refresh, then both workers of the first tick.
  std::atomic<int> calls{0};
  scheduler_->SetThreadMaker([&](std::function<void()> entry) {
    const int call = ++calls;
    if (call == 1 || (call >= 3 && call <= 5)) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    return std::thread(std::move(entry));
  });
  Settings s;
  s.autoRate = true;
  settings_.Set(s);
  std::atomic<int> ratings{0};
  std::atomic<int> passes{0};
  scheduler_->SetRatingPass([&] { ++ratings; });
  scheduler_->SetAfterDeliveryRun([&] { ++passes; });

  // No timer thread: delivery stays off and says why.
  EXPECT_NO_THROW(scheduler_->SwitchDeliveryOn(20));
  EXPECT_FALSE(scheduler_->DeliveryOn());
  EXPECT_EQ(log_.Count("自动发货已经开启"), 0);
  EXPECT_EQ(log_.CountStartingWith("定时器线程无法启动"), 1);

  scheduler_->SwitchDeliveryOn(20);
  EXPECT_TRUE(scheduler_->DeliveryOn());
  EXPECT_TRUE(test::PollUntil([&] { return passes >= 2 && ratings >= 2; }))
      << "the timer stopped ticking after a worker could not start";
  EXPECT_GE(passes.load(), 2);
  EXPECT_GE(ratings.load(), 2);
  EXPECT_EQ(log_.CountStartingWith("工作线程无法启动"), 3);
  scheduler_->SwitchDeliveryOff();
  WaitIdle();
  EXPECT_FALSE(scheduler_->DeliveryBusy());
  EXPECT_FALSE(scheduler_->RatingBusy());
}

}  // namespace
}  // namespace torvane
