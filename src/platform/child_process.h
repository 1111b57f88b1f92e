// A helper program started by the demo (the marketplace simulator, the local mail server).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace torvane {

class ChildProcess {
 public:
  // Starts program with args; its standard output is read through a pipe, standard error is inherited.
  static std::unique_ptr<ChildProcess> Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                                             std::string* error);
  ~ChildProcess();  // Stop()
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line of its standard output (without the line break); false at end of output or time-out.
  bool ReadLine(std::string* line, std::chrono::milliseconds timeout);
  // SIGTERM, a short wait, then SIGKILL; always reaps. Idempotent.
  void Stop();
  pid_t Pid() const { return pid_; }

 private:
  ChildProcess(pid_t pid, int out) : pid_(pid), out_(out) {}
  pid_t pid_;
  int out_;
  std::string pending_;
};

}  // namespace torvane
