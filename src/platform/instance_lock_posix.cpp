#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/files.h"

namespace torvane {

std::filesystem::path InstanceLockPath(const std::filesystem::path& dataDir) { return dataDir / ".torvane.lock"; }

std::unique_ptr<InstanceLock> InstanceLock::Acquire(const std::filesystem::path& dataDir, std::string* message) {
  // The kernel drops the lock when the process ends, however it ends.
  const std::filesystem::path lockFile = InstanceLockPath(dataDir);
  // A symbolic link in its place is not followed: the write below would go to whatever it points at.
  int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) {
    if (message) {
      *message = "无法打开锁文件 " + PathText(lockFile) + ": " +
                 (errno == ELOOP ? std::string("它是符号链接") : std::string(std::strerror(errno)));
    }
    return nullptr;
  }
  // Only a regular file of this user with no other name is ours to truncate and write.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid()) {
    ::close(fd);
    if (message) *message = "锁文件 " + PathText(lockFile) + " 不是本程序的普通文件 (链接、特殊文件或他人的文件), 本次不运行";
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    ::close(fd);
    if (message) {
      if (err == EWOULDBLOCK) {
        *message = "另一个Torvane正在使用数据目录 " + PathText(dataDir) +
                   "，同时运行两份可能把同一张卡密发出两次，本次不运行";
      } else {
        *message = "无法锁定数据目录 " + PathText(dataDir) + ": " + std::strerror(err);
      }
    }
    return nullptr;
  }
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

}  // namespace torvane
