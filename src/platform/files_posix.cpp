#include "base/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <random>

#include "base/text.h"

namespace torvane {

namespace {

std::string ErrnoText(const char* what, const std::filesystem::path& path) {
  return std::string(what) + " " + PathText(path) + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view data) {
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// The writer's pid of a temporary named "<file name>.tmp<pid>-<number>"; 0 when the name is not one.
pid_t TemporaryWriter(const std::string& name, const std::string& fileName) {
  const std::string prefix = fileName + ".tmp";
  if (!name.starts_with(prefix)) return 0;
  std::string_view rest = std::string_view(name).substr(prefix.size());
  std::size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9 || dash + 1 == rest.size()) return 0;
  auto digits = [](std::string_view s) { return s.find_first_not_of("0123456789") == std::string_view::npos; };
  if (!digits(rest.substr(0, dash)) || !digits(rest.substr(dash + 1))) return 0;
  return static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash))));
}

bool ProcessGone(pid_t pid) { return pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace

std::vector<std::string> RemoveStaleTemporaries(const std::vector<std::filesystem::path>& files) {
  constexpr std::time_t kQuietSeconds = 60;
  std::vector<std::string> removed;
  for (const auto& file : files) {
    std::filesystem::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    const std::string fileName = file.filename().string();
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      pid_t writer = TemporaryWriter(name, fileName);
      if (writer <= 0) continue;
      struct stat st {};
      if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      if (std::time(nullptr) - st.st_mtime <= kQuietSeconds || !ProcessGone(writer)) continue;
      if (::unlink(it->path().c_str()) == 0) removed.push_back(PathText(it->path().filename()));
    }
  }
  return removed;
}

std::string PathText(const std::filesystem::path& path) {
  auto u8 = path.u8string();
  return Utf8ToGbk(std::string_view(reinterpret_cast<const char*>(u8.data()), u8.size()));
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::string* error) {
  if (error) error->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT && error) *error = ErrnoText("cannot open", path);
    return std::nullopt;
  }
  std::string data;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) data.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[1 << 16];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n < 0) {
      if (errno == EINTR) continue;
      if (error) *error = ErrnoText("cannot read", path);
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return data;
}

bool WriteFileAtomic(const std::filesystem::path& path, std::string_view data, std::string* error, unsigned mode) {
  if (error) error->clear();
  std::filesystem::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  std::random_device rd;
  std::filesystem::path temp = dir / (path.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) {
    if (error) *error = ErrnoText("cannot create", temp);
    return false;
  }
  // The umask may have taken bits from the mode at creation; a failed change keeps the stricter one.
  ::fchmod(fd, static_cast<mode_t>(mode));
  bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
  if (!ok && error) *error = ErrnoText("cannot write", temp);
  if (::close(fd) != 0 && ok) {
    ok = false;
    if (error) *error = ErrnoText("cannot write", temp);
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    if (error) *error = ErrnoText("cannot replace", path);
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

bool CreatePrivateDirectory(const std::filesystem::path& dir, std::string* error) {
  if (error) error->clear();
  if (::mkdir(dir.c_str(), 0700) != 0) {
    const int err = errno;
    struct stat st {};
    if (err == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    errno = err;
    if (error) *error = ErrnoText("cannot create", dir);
    return false;
  }
  if (::chmod(dir.c_str(), 0700) != 0) {
    if (error) *error = ErrnoText("cannot protect", dir);
    return false;
  }
  return true;
}

std::optional<unsigned> FilePermissions(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<unsigned>(st.st_mode & 07777);
}

bool CreatePrivateFile(const std::filesystem::path& path, std::string* error) {
  if (error) error->clear();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (error) *error = ErrnoText("cannot create", path);
    return false;
  }
  // The umask may have taken bits at creation; this sets exactly owner read and write.
  const bool ok = ::fchmod(fd, 0600) == 0;
  if (!ok && error) *error = ErrnoText("cannot protect", path);
  ::close(fd);
  if (!ok) ::unlink(path.c_str());
  return ok;
}

}  // namespace torvane

namespace torvane {

std::optional<std::string> ReadRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes,
                                           ReadRefusal* refusal, std::string* error) {
  *refusal = ReadRefusal::kNone;
  if (error) error->clear();
  auto refuse = [&](ReadRefusal why, int err) -> std::optional<std::string> {
    *refusal = why;
    if (error && err != 0) *error = std::strerror(err);
    return std::nullopt;
  };
  struct stat before {};
  if (::stat(path.c_str(), &before) != 0) return refuse(errno == ENOENT ? ReadRefusal::kMissing : ReadRefusal::kFailed, errno);
  if (!S_ISREG(before.st_mode)) return refuse(ReadRefusal::kNotRegular, 0);
  if (static_cast<std::uint64_t>(before.st_size) > maxBytes) return refuse(ReadRefusal::kTooLarge, 0);
  // Opened without waiting, then checked to be the file just looked at: nothing swapped in meanwhile.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return refuse(ReadRefusal::kFailed, errno);
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || opened.st_dev != before.st_dev || opened.st_ino != before.st_ino) {
    ::close(fd);
    return refuse(ReadRefusal::kReplaced, 0);
  }
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(opened.st_size));
  char buffer[1 << 16];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      return refuse(ReadRefusal::kFailed, err);
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > maxBytes) {
      ::close(fd);
      return refuse(ReadRefusal::kTooLarge, 0);
    }
  }
  ::close(fd);
  return bytes;
}

bool SyncToDisk(const std::filesystem::path& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = fd >= 0 && ::fsync(fd) == 0;
  if (!ok && error) *error = std::strerror(errno);
  if (fd >= 0) ::close(fd);
  return ok;
}

}  // namespace torvane
