// A helper program started by this one: the demo's marketplace simulator and mail server, the
// chat sender run by wine.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace torvane {

struct ChildOptions {
  // Variables set for the child on top of this process's environment (name, value).
  std::vector<std::pair<std::string, std::string>> environment;
  // Standard output read through a pipe (ReadLine); false: standard output and error go nowhere.
  bool readOutput = true;
  // A process group of its own, so that a Ctrl-C in the terminal, meant for this program, does not reach it.
  bool ownProcessGroup = false;
};

class ChildProcess {
 public:
  // Starts program with args; by default its standard output is read through a pipe and standard
  // error is inherited. No other descriptor of this process is open in the child. nullptr and error
  // when it cannot be started.
  static std::unique_ptr<ChildProcess> Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                                             std::string* error);
  static std::unique_ptr<ChildProcess> Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                                             const ChildOptions& options, std::string* error);
  ~ChildProcess();  // Stop()
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line of its standard output (without the line break); false at end of output or time-out.
  bool ReadLine(std::string* line, std::chrono::milliseconds timeout);
  // Waits at most timeout for the process to end: its exit status, or 128 + the number of the signal
  // that ended it (-1 when it could not be waited for); nullopt while it still runs.
  std::optional<int> Wait(std::chrono::milliseconds timeout);
  // Asks it to end, a short wait, then ends it by force; always reaps. Idempotent.
  void Stop();
  long long Pid() const { return pid_; }

 private:
  ChildProcess(long long pid, std::intptr_t out) : pid_(pid), out_(out) {}
  long long pid_;
  std::intptr_t out_;  // the read end of its output pipe
  std::optional<int> status_;
  std::string pending_;
};

}  // namespace torvane
