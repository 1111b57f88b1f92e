// Deadlines for the waits of a test: a wait that never ends fails the test with a message
// instead of stalling the suite.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace torvane::test {

// How long a test waits for work that takes well under a second when all is well.
inline constexpr std::chrono::milliseconds kWaitLimit{30000};

// Runs wait() on this thread. When it has not returned within limit, the test program writes
// "<what>: still waiting after N ms" to standard error and ends at once with exit code 1: a
// blocked thread cannot be given up any other way, and the test must fail rather than hang.
void WithinDeadline(const std::string& what, const std::function<void()>& wait,
                    std::chrono::milliseconds limit = kWaitLimit);

// Joins every joinable thread, within the limit as above.
void JoinWithin(std::vector<std::thread>& threads, const std::string& what,
                std::chrono::milliseconds limit = kWaitLimit);

// Calls done() every few milliseconds until it is true; false when the limit passed first.
bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kWaitLimit);

}  // namespace torvane::test
