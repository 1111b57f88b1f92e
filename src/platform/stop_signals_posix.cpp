#include "platform/stop_signals.h"

#include <poll.h>
#include <signal.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace torvane {

struct StopSignals::Watching {
  sigset_t signals;
  sigset_t previousMask;
  int signalFd = -1;
  int wakeFd = -1;
};

StopSignals::StopSignals() : watching_(std::make_unique<Watching>()) {
  Watching& w = *watching_;
  sigemptyset(&w.signals);
  sigaddset(&w.signals, SIGINT);
  sigaddset(&w.signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &w.signals, &w.previousMask);
  w.signalFd = signalfd(-1, &w.signals, SFD_CLOEXEC);
  w.wakeFd = eventfd(0, EFD_CLOEXEC);
  // Without the descriptors the signals stay blocked and pending: nobody could tell the process to stop.
  if (w.signalFd < 0 || w.wakeFd < 0) {
    pthread_sigmask(SIG_SETMASK, &w.previousMask, nullptr);
    return;
  }
  watcher_ = std::thread([this] { Watch(); });
}

StopSignals::~StopSignals() {
  Stop();
  Watching& w = *watching_;
  if (w.signalFd >= 0) close(w.signalFd);
  if (w.wakeFd >= 0) close(w.wakeFd);
  pthread_sigmask(SIG_SETMASK, &w.previousMask, nullptr);
}

void StopSignals::Stop() {
  if (!watcher_.joinable()) return;
  const std::uint64_t one = 1;
  while (write(watching_->wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
  watcher_.join();
}

void StopSignals::OnFirst(std::function<void()> hook) {
  std::unique_lock<std::mutex> lock(mutex_);
  onFirst_ = std::move(hook);
  if (first_ && onFirst_) {
    std::function<void()> now = onFirst_;
    lock.unlock();
    now();
  }
}

void StopSignals::OnSecond(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  onSecond_ = std::move(hook);
}

void StopSignals::WaitFirst() {
  std::unique_lock<std::mutex> lock(mutex_);
  received_.wait(lock, [&] { return first_; });
}

bool StopSignals::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return first_;
}

void StopSignals::Watch() {
  pollfd fds[2] = {{watching_->signalFd, POLLIN, 0}, {watching_->wakeFd, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    signalfd_siginfo info{};
    if (read(watching_->signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
    Deliver(static_cast<int>(info.ssi_signo));
  }
}

void StopSignals::Deliver(int signalNumber) {
  std::function<void()> hook;
  bool second = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    second = first_;
    first_ = true;
    hook = second ? onSecond_ : onFirst_;
  }
  received_.notify_all();
  if (hook) hook();
  if (second) std::_Exit(128 + signalNumber);
}

}  // namespace torvane
