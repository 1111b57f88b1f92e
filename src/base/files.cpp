#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

}  // namespace

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

bool WriteFileAtomic(const std::filesystem::path& path, std::string_view data, std::string* error, mode_t mode) {
  if (error) error->clear();
  std::filesystem::path dir = path.parent_path();
  if (dir.empty()) dir = ".";
  std::random_device rd;
  std::filesystem::path temp = dir / (path.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    if (error) *error = ErrnoText("cannot create", temp);
    return false;
  }
  ::fchmod(fd, mode);
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

}  // namespace torvane
