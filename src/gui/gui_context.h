// What every pane and window of the desktop application works with. Created once at start-up, before
// the first widget, and destroyed after the last one.
#pragma once

#include <QObject>
#include <atomic>
#include <filesystem>
#include <mutex>

#include "base/activity_log.h"
#include "base/deployment.h"
#include "base/settings.h"
#include "notify/notify_interfaces.h"
#include "store/record_store.h"

namespace torvane {

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
  NoticeUi* noticeUi = nullptr;             // balloons and the web client's notices, any thread
  MailSender* mail = nullptr;               // the built-in sender account (test mail, resending)
  SellerNotices* notices = nullptr;

  // Any thread: asks for storeViewsRefresh on the UI thread. Requests made while one is still
  // pending are folded into it, so a run that delivers many orders refills the lists once.
  void RequestStoreViewsRefresh();

 signals:
  // On the UI thread, after every delivery run and whenever the stores were changed behind the
  // panes' backs: the store panes refill their lists (RefreshStoreViews).
  void storeViewsRefresh();

 private:
  std::atomic<bool> refreshPending_{false};
};

}  // namespace torvane
