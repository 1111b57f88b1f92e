#include "support/deadline.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace torvane::test {

void WithinDeadline(const std::string& what, const std::function<void()>& wait, std::chrono::milliseconds limit) {
  struct Watch {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
  };
  auto watch = std::make_shared<Watch>();
  std::thread watchdog([watch, what, limit] {
    std::unique_lock<std::mutex> lock(watch->mutex);
    if (watch->changed.wait_for(lock, limit, [&] { return watch->done; })) return;
    std::fflush(stdout);
    std::fprintf(stderr, "%s: still waiting after %lld ms\n", what.c_str(), static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::_Exit(1);
  });
  wait();
  {
    std::lock_guard<std::mutex> lock(watch->mutex);
    watch->done = true;
  }
  watch->changed.notify_all();
  watchdog.join();
}

void JoinWithin(std::vector<std::thread>& threads, const std::string& what, std::chrono::milliseconds limit) {
  WithinDeadline(
      what,
      [&] {
        for (std::thread& t : threads) {
          if (t.joinable()) t.join();
        }
      },
      limit);
}

bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace torvane::test
