// SIGINT and SIGTERM for a process that must wind down in order: the first asks it to stop (the
// work under way finishes its current step), a second ends the process at once.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace torvane {

class StopSignals {
 public:
  // Blocks SIGINT and SIGTERM in the calling thread, and so in every thread it starts later, and
  // watches for them on a thread of its own. Construct it before any other thread starts.
  StopSignals();
  // Stop(), then the calling thread's signal mask as it was.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Runs on the watcher when the first signal arrives (at once, when it already has).
  void OnFirst(std::function<void()> hook);
  // Runs on the watcher when the second signal arrives, just before the process ends with
  // status 128 + the signal's number. It must be quick.
  void OnSecond(std::function<void()> hook);
  // Blocks until the first signal.
  void WaitFirst();
  bool Received() const;
  // Ends the watching; signals arriving afterwards are left pending. Idempotent.
  void Stop();

 private:
  void Watch();
  // Runs the hook of the signal; a second one ends the process with 128 + its number.
  void Deliver(int signalNumber);

  struct Watching;  // what the operating system needs to watch for the signals
  std::unique_ptr<Watching> watching_;
  mutable std::mutex mutex_;
  std::condition_variable received_;
  bool first_ = false;
  std::function<void()> onFirst_;
  std::function<void()> onSecond_;
  std::thread watcher_;
};

}  // namespace torvane
