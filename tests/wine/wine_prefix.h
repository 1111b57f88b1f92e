// One wine prefix for the whole test program, made on first use inside a temporary directory:
// the null graphics driver (no display needed) and the stand-in chat client as the handler of
// aliim: addresses. Making a prefix takes seconds, so every test of the program shares it.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"

namespace torvane::test {

class WinePrefix {
 public:
  // The shared prefix; nullptr when it could not be made (Error() says why).
  static WinePrefix* Get();
  static const std::string& Error();

  const std::filesystem::path& dir() const { return dir_; }
  const std::filesystem::path& wine() const { return wine_; }
  // A scratch directory beside the prefix, emptied of nothing; files the tests write go here.
  const std::filesystem::path& work() const { return work_; }
  // How long making the prefix took.
  std::chrono::milliseconds setupTime() const { return setupTime_; }

  // Registers the stand-in client for aliim: addresses with these switches, recording into record.
  bool RegisterClient(const std::vector<std::string>& switches, const std::filesystem::path& record);
  // Runs a Windows program in the prefix.
  ProcessResult Run(const std::filesystem::path& program, const std::vector<std::string>& args,
                    std::chrono::milliseconds timeout) const;
  // The path under which Windows programs in the prefix see the file.
  std::string WindowsPath(const std::filesystem::path& file) const;

  ~WinePrefix();

 private:
  WinePrefix() = default;
  bool Make(std::string* error);

  std::filesystem::path root_, dir_, work_, wine_;
  std::chrono::milliseconds setupTime_{0};
  bool registeredOnce_ = false;
};

// The Windows programs of this build.
std::filesystem::path ChatProgram();
std::filesystem::path FakeChatClient();

// One line of the stand-in client's record, without the process id.
struct ClientEvent {
  std::string pid;
  std::string what;  // "address", "window", "settext", "keydown", "keyup", "closed"
  std::string rest;
};
std::vector<ClientEvent> ReadClientRecord(const std::filesystem::path& record);

// Waits until the record holds a line of the kind given; false at the deadline.
bool WaitForClientEvent(const std::filesystem::path& record, const std::string& what, std::chrono::milliseconds timeout);

}  // namespace torvane::test
