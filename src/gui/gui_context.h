// What every pane and window of the desktop application works with. Created once at start-up, before
// the first widget, and destroyed after the last one.
#pragma once

#include <QObject>
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>

#include "base/activity_log.h"
#include "base/deployment.h"
#include "base/settings.h"
#include "notify/notify_interfaces.h"
#include "store/record_store.h"

namespace torvane {

class DeliveryEngine;
class DeliveryScheduler;

// The settings controls' values as they stand: the settings pane replaces the snapshot on every
// change of a control, and workers read it at the moment of use. Safe on any thread.
class SettingsSnapshot : public LiveSettings {
 public:
  Settings Current() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
  }
  void Replace(Settings settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = std::move(settings);
  }

 private:
  mutable std::mutex mutex_;
  Settings settings_;
};

class GuiContext : public QObject {
  Q_OBJECT

 public:
  GuiContext() = default;

  std::filesystem::path configDir;  // holds 配置文件.ini and 部署配置.ini
  std::filesystem::path dataDir;    // holds the stores, item names, blacklist, history, cookies
  Deployment deployment;
  ActivityLog* log = nullptr;
  CardStores* stores = nullptr;
  SettingsSnapshot settings;
  DeliveryScheduler* scheduler = nullptr;  // null until the window's life cycle has made it
  DeliveryEngine* engine = nullptr;        // the same (resending from the records pane)
  NoticeUi* noticeUi = nullptr;             // balloons and the web client's notices, any thread
  MailSender* mail = nullptr;               // the built-in sender account (test mail, resending)
  SellerNotices* notices = nullptr;

  // Any thread: asks for storeViewsRefresh on the UI thread. Requests made while one is still
  // pending are folded into it, so a run that delivers many orders refills the lists once.
  void RequestStoreViewsRefresh();

  // UI thread: runs work on a worker that the exit steps wait for (the scheduler's, or the thread
  // pool's when there is no scheduler). False when none could be started (the program is ending).
  bool RunOnWorker(std::function<void()> work);

  // UI thread: a long store write runs on a worker (it holds the stores): the lists read nothing
  // meanwhile, and a refresh asked for in between runs when it ends (EndStoreWork).
  void BeginStoreWork();
  void EndStoreWork();
  bool StoreWorkRunning() const { return storeWork_ > 0; }
  // Called by RefreshStoreViews while store work runs: the refresh runs after it.
  void DeferRefresh() { refreshDeferred_ = true; }

 signals:
  // On the UI thread, after every delivery run and whenever the stores were changed behind the
  // panes' backs: the store panes refill their lists (RefreshStoreViews).
  void storeViewsRefresh();
  // On the UI thread, when a long store write begins (true) and ends (false).
  void storeWorkChanged(bool running);

 private:
  std::atomic<bool> refreshPending_{false};
  int storeWork_ = 0;
  bool refreshDeferred_ = false;
};

}  // namespace torvane
