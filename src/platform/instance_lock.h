// Keeps a second copy of the program off the same data directory: two copies on the
// same files could hand out one card code twice.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace torvane {

// The lock file of a data directory (".torvane.lock").
std::filesystem::path InstanceLockPath(const std::filesystem::path& dataDir);

class InstanceLock {
 public:
  // Takes the lock of dataDir without waiting; nullptr and a message (GBK) when another copy holds it.
  static std::unique_ptr<InstanceLock> Acquire(const std::filesystem::path& dataDir, std::string* message);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  explicit InstanceLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;  // the open lock file
};

}  // namespace torvane
