// The activity log: one time-stamped line per event, newest first, kept in 历史记录.log.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace torvane {

// Anything that reports progress writes through this.
class ActivityLogger {
 public:
  virtual ~ActivityLogger() = default;
  // Adds "[" + date-time text + "] " + message + CR LF on top of the log.
  virtual void LogActivity(std::string_view message) = 0;
};

// Receives each new line (with its CR LF) as it is logged, one line at a time and in the log's order;
// the window and the headless runner implement it. It may read the log but must not add to it.
class ActivitySink {
 public:
  virtual ~ActivitySink() = default;
  virtual void OnActivityLine(const std::string& line) = 0;
};

// Thread-safe activity log with its history file. Implemented in activity_log.cpp.
class ActivityLog : public ActivityLogger {
 public:
  explicit ActivityLog(std::filesystem::path historyFile);
  // Stops the autosave (without a last save: the exit path calls SaveHistory itself).
  ~ActivityLog() override;
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;

  void SetSink(ActivitySink* sink);
  void LogActivity(std::string_view message) override;
  // Replaces the log with the history file's content (missing file: empty). A file that
  // cannot be read leaves the log unchanged and gives false with the reason in error.
  bool LoadHistory(std::string* error = nullptr);
  // Writes the whole log to the history file atomically; refused (false) after a load that
  // could not read the file, so that an unreadable history is never replaced.
  bool SaveHistory(std::string* error = nullptr);
  // SaveHistory only when lines were added since the last save.
  bool SaveHistoryIfChanged(std::string* error = nullptr);
  // The whole log text, newest line first.
  std::string Text() const;

  // Saves the history every period (when lines were added) on a background thread, so a
  // crash loses at most one period of lines. Calling it again restarts with the new period;
  // periods under one second count as one second.
  void StartAutosave(std::chrono::seconds period);
  // Stops the background saver and waits for it; harmless when none runs.
  void StopAutosave();

 private:
  struct State;
  State* state_;
};

}  // namespace torvane
