#include "base/activity_log.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "base/files.h"
#include "base/text.h"

namespace torvane {

// The log is the saved history text (newest first) plus the lines added since, oldest first.
// Adding a line never touches the history text, so it costs the same at any history size;
// a save folds the new lines into the history once.
struct ActivityLog::State {
  std::filesystem::path path;

  mutable std::mutex mu;           // guards everything below up to the save lock
  std::string history;             // replaced only while saveMu is held as well
  std::vector<std::string> fresh;  // lines added since the last fold, oldest first
  std::uint64_t version = 0;       // number of lines added since construction
  std::uint64_t savedVersion = 0;  // version the history file holds
  std::string unreadable;          // why the history file could not be read; it is then never overwritten
  ActivitySink* sink = nullptr;

  // Held from adding a line until the sink has it, so the sink sees the lines in the log's order.
  // Taken before mu, never under it.
  std::mutex orderMu;

  std::mutex saveMu;  // one save or load at a time; history changes only under it

  std::mutex autosaveControl;  // start and stop of the saver
  std::mutex waitMu;
  std::condition_variable wake;
  bool stopRequested = false;
  std::thread saver;
};

ActivityLog::ActivityLog(std::filesystem::path historyFile) : state_(new State) {
  state_->path = std::move(historyFile);
}

ActivityLog::~ActivityLog() {
  StopAutosave();
  delete state_;
}

void ActivityLog::SetSink(ActivitySink* sink) {
  std::lock_guard order(state_->orderMu);
  std::lock_guard lock(state_->mu);
  state_->sink = sink;
}

void ActivityLog::LogActivity(std::string_view message) {
  std::lock_guard order(state_->orderMu);
  std::string line;
  std::string stamp = NowDateTimeText();  // taken in order too, so the stamps never go back in time
  line.reserve(stamp.size() + message.size() + 5);
  line += "[";
  line += stamp;
  line += "] ";
  line += message;
  line += kCrLf;
  ActivitySink* sink;
  {
    std::lock_guard lock(state_->mu);
    state_->fresh.push_back(line);
    ++state_->version;
    sink = state_->sink;
  }
  if (sink) sink->OnActivityLine(line);
}

std::string ActivityLog::Text() const {
  std::lock_guard lock(state_->mu);
  std::size_t total = state_->history.size();
  for (const auto& l : state_->fresh) total += l.size();
  std::string out;
  out.reserve(total);
  for (auto it = state_->fresh.rbegin(); it != state_->fresh.rend(); ++it) out += *it;
  out += state_->history;
  return out;
}

bool ActivityLog::LoadHistory(std::string* error) {
  std::string readError;
  auto data = ReadWholeFile(state_->path, &readError);
  if (!data && !readError.empty()) {
    std::lock_guard lock(state_->mu);
    state_->unreadable = readError;
    if (error) *error = readError;
    return false;
  }
  std::string loaded = data ? std::move(*data) : std::string();
  std::lock_guard saveLock(state_->saveMu);
  std::lock_guard lock(state_->mu);
  state_->history.swap(loaded);
  state_->fresh.clear();
  state_->savedVersion = state_->version;
  state_->unreadable.clear();
  if (error) error->clear();
  return true;  // the previous text in `loaded` is freed here, outside the locks' hot path
}

bool ActivityLog::SaveHistory(std::string* error) {
  State& s = *state_;
  std::lock_guard saveLock(s.saveMu);
  {
    // A history that could not be read is kept as it is rather than replaced by today's lines.
    std::lock_guard lock(s.mu);
    if (!s.unreadable.empty()) {
      if (error) *error = s.unreadable;
      return false;
    }
  }

  // Take a copy of the new lines; they stay visible to Text() until the fold below.
  std::vector<std::string> lines;
  std::uint64_t version;
  {
    std::lock_guard lock(s.mu);
    lines = s.fresh;
    version = s.version;
  }
  if (!lines.empty()) {
    // history is only replaced under saveMu, which this thread holds: reading it unlocked is safe.
    std::size_t total = s.history.size();
    for (const auto& l : lines) total += l.size();
    std::string folded;
    folded.reserve(total);
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) folded += *it;
    folded += s.history;
    {
      std::lock_guard lock(s.mu);
      s.history.swap(folded);
      s.fresh.erase(s.fresh.begin(), s.fresh.begin() + static_cast<std::ptrdiff_t>(lines.size()));
    }
  }

  if (!WriteFileAtomic(s.path, s.history, error)) return false;
  std::lock_guard lock(s.mu);
  s.savedVersion = version;
  return true;
}

bool ActivityLog::SaveHistoryIfChanged(std::string* error) {
  {
    std::lock_guard lock(state_->mu);
    if (state_->version == state_->savedVersion) {
      if (error) error->clear();
      return true;
    }
  }
  return SaveHistory(error);
}

void ActivityLog::StartAutosave(std::chrono::seconds period) {
  if (period < std::chrono::seconds(1)) period = std::chrono::seconds(1);
  std::lock_guard control(state_->autosaveControl);
  State& s = *state_;
  if (s.saver.joinable()) {
    {
      std::lock_guard lock(s.waitMu);
      s.stopRequested = true;
    }
    s.wake.notify_all();
    s.saver.join();
  }
  {
    std::lock_guard lock(s.waitMu);
    s.stopRequested = false;
  }
  s.saver = std::thread([this, period] {
    State& st = *state_;
    std::unique_lock lock(st.waitMu);
    while (true) {
      if (st.wake.wait_for(lock, period, [&st] { return st.stopRequested; })) return;
      lock.unlock();
      SaveHistoryIfChanged();  // a failed save is retried at the next period
      lock.lock();
    }
  });
}

void ActivityLog::StopAutosave() {
  std::lock_guard control(state_->autosaveControl);
  State& s = *state_;
  if (!s.saver.joinable()) return;
  {
    std::lock_guard lock(s.waitMu);
    s.stopRequested = true;
  }
  s.wake.notify_all();
  s.saver.join();
}

}  // namespace torvane
