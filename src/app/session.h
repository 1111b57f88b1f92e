// The start-up and exit steps that the window and the headless runner share on one data directory.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/paths.h"
#include "base/activity_log.h"
#include "base/deployment.h"
#include "notify/notify_interfaces.h"
#include "platform/instance_lock.h"
#include "store/record_store.h"

namespace torvane {

class Session {
 public:
  // In this order: takes the data directory's instance lock, removes stale temporaries of its files, reads
  // the deployment file, configures the web client (its notices go to webNotices), loads the history, loads
  // the cookies and opens the stores. nullptr with error (GBK) when another copy holds the data directory,
  // the deployment file is unusable or a store cannot be opened. problems receives what the seller must be
  // told but that does not stop the program (an unreadable history or cookie file, a deployment file
  // readable by others or holding a plain mail password).
  static std::unique_ptr<Session> Open(const SessionPaths& paths, NoticeUi* webNotices, std::string* error,
                                       std::vector<std::string>* problems);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const SessionPaths& Paths() const { return paths_; }
  const Deployment& GetDeployment() const { return deployment_; }
  ActivityLog& Log() { return log_; }
  CardStores& Stores() { return *stores_; }
  bool CookiesLoaded() const { return cookiesLoaded_; }

  // Logs what start-up found: store files created, stale temporaries removed, a converted deployment file,
  // the deployment file's warnings.
  void LogStartNotes();
  // After each delivery pass, on its worker: the history is saved when it changed, the cookies when they loaded.
  void AfterDeliveryRun();
  // The exit steps, once (later calls do nothing): "程序退出完成" (unless logExit is false: a command that
  // is no run of the program), stores closed, autosave stopped, history and cookies saved. Returns what
  // could not be saved (GBK), for the seller.
  std::vector<std::string> Close(bool logExit = true);

 private:
  explicit Session(const SessionPaths& paths);

  SessionPaths paths_;
  std::unique_ptr<InstanceLock> instance_;
  Deployment deployment_;
  std::string deploymentNote_;
  std::vector<std::string> warnings_;  // about the deployment file's mode and a plain mail password
  std::vector<std::string> staleTemporaries_;
  std::vector<std::string> createdStores_;
  ActivityLog log_;
  bool cookiesLoaded_ = false;
  std::unique_ptr<CardStores> stores_;
  bool closed_ = false;
};

}  // namespace torvane
