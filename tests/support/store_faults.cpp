#include "support/store_faults.h"

#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

#include "support/deadline.h"
#include "support/temp_dir.h"

namespace torvane::test {

void DamagePage(const std::filesystem::path& file, std::size_t page, PageDamage damage) {
  std::string bytes = ReadBytes(file);
  std::size_t pageSize = (static_cast<unsigned char>(bytes.at(16)) << 8) | static_cast<unsigned char>(bytes.at(17));
  if (pageSize == 1) pageSize = 65536;
  const std::size_t end = page * pageSize;
  const std::size_t begin = damage == PageDamage::kTailFlipped ? end - 60 : end - pageSize;
  for (std::size_t i = begin; i < end; ++i) {
    bytes.at(i) = damage == PageDamage::kTailFlipped ? static_cast<char>(bytes.at(i) ^ 0xFF) : '\xFF';
  }
  bytes.at(27) = static_cast<char>(bytes.at(27) + 1);  // file change counter, low byte
  WriteBytes(file, bytes);
}

namespace {

// Forks; the child runs prepare and, when it succeeded (""), check, and writes the result to a pipe.
// A child that has not finished within kWaitLimit is killed and the result says so.
std::string InChild(const std::function<std::string()>& prepare, const std::function<std::string()>& check) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  pid_t child = ::fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    ::close(fds[0]);
    std::string result = prepare();
    if (result.empty()) result = check();
    ssize_t ignored = ::write(fds[1], result.data(), result.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string result;
  char buffer[4096];
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  bool timedOut = false;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fds[0], POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) == 0) {
      timedOut = true;
      break;
    }
    const ssize_t n = ::read(fds[0], buffer, sizeof(buffer));
    if (n <= 0) break;
    result.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (timedOut) ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (timedOut) return "child process did not finish within " + std::to_string(kWaitLimit.count()) + " ms";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child process failed: " + std::to_string(status) + " " + result;
  return result;
}

}  // namespace

std::string InChildBoundByFilePermissions(const std::function<std::string()>& check) {
  return InChild(
      [] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (::syscall(SYS_capget, &header, data) != 0) return std::string("capget failed");
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
          data[cap / 32].effective &= ~(1u << (cap % 32));
        }
        return ::syscall(SYS_capset, &header, data) == 0 ? std::string() : std::string("capset failed");
      },
      check);
}

std::string InChildWithFileSizeLimit(std::uint64_t limitBytes, const std::function<std::string()>& check) {
  return InChild(
      [limitBytes] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{limitBytes, limitBytes};
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? std::string() : std::string("setrlimit failed");
      },
      check);
}

}  // namespace torvane::test
