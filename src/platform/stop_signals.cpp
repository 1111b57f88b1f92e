#include "platform/stop_signals.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace torvane {

StopSignals::StopSignals() {
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals_, &previousMask_);
  signalFd_ = signalfd(-1, &signals_, SFD_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_CLOEXEC);
  // Without the descriptors the signals stay blocked and pending: nobody could tell the process to stop.
  if (signalFd_ < 0 || wakeFd_ < 0) {
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    return;
  }
  watcher_ = std::thread([this] { Watch(); });
}

StopSignals::~StopSignals() {
  Stop();
  if (signalFd_ >= 0) close(signalFd_);
  if (wakeFd_ >= 0) close(wakeFd_);
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void StopSignals::Stop() {
  if (!watcher_.joinable()) return;
  const std::uint64_t one = 1;
  while (write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
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
  pollfd fds[2] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    signalfd_siginfo info{};
    if (read(signalFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
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
    if (second) std::_Exit(128 + static_cast<int>(info.ssi_signo));
  }
}

}  // namespace torvane
