#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace torvane {

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::filesystem::path& program,
                                                  const std::vector<std::string>& args, std::string* error) {
  return Start(program, args, ChildOptions{}, error);
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::filesystem::path& program,
                                                  const std::vector<std::string>& args, const ChildOptions& options,
                                                  std::string* error) {
  int pipeFds[2] = {-1, -1};
  if (options.readOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
    if (error) *error = std::string("pipe: ") + std::strerror(errno);
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.readOutput) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  // Nothing but the three standard streams reaches the child: not the sockets of a connection in
  // hand (libcurl's), nor any other descriptor opened without close-on-exec.
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  // The child starts with default signal handling and nothing blocked, whatever this process does.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (options.ownProcessGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attr, 0);
  }
  posix_spawnattr_setflags(&attr, flags);

  std::vector<std::string> argvStore;
  argvStore.push_back(program.string());
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  // This process's environment with the given variables replaced or added.
  std::vector<std::string> envStore;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const bool replaced = std::any_of(options.environment.begin(), options.environment.end(),
                                      [&](const auto& v) { return entry.rfind(v.first + "=", 0) == 0; });
    if (!replaced) envStore.push_back(entry);
  }
  for (const auto& [name, value] : options.environment) envStore.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (pipeFds[1] >= 0) ::close(pipeFds[1]);
  if (rc != 0) {
    if (pipeFds[0] >= 0) ::close(pipeFds[0]);
    if (error) *error = program.string() + ": " + std::strerror(rc);
    return nullptr;
  }
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid, pipeFds[0]));
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (pid_ > 0) {
    int status = 0;
    const pid_t r = ::waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      status_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
      break;
    }
    if (r < 0 && errno != EINTR) {
      pid_ = -1;
      status_ = -1;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status_;
}

ChildProcess::~ChildProcess() { Stop(); }

bool ChildProcess::ReadLine(std::string* line, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    auto nl = pending_.find('\n');
    if (nl != std::string::npos) {
      *line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return true;
    }
    if (out_ < 0) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{static_cast<int>(out_), POLLIN, 0};
    int r = ::poll(&pfd, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char buffer[4096];
    ssize_t n = ::read(static_cast<int>(out_), buffer, sizeof(buffer));
    if (n <= 0) {
      ::close(static_cast<int>(out_));
      out_ = -1;
      if (pending_.empty()) return false;
      *line = pending_;
      pending_.clear();
      return true;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

void ChildProcess::Stop() {
  const auto pid = static_cast<pid_t>(pid_);
  if (pid > 0) {
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 30; ++i) {
      if (::waitpid(pid, nullptr, WNOHANG) == pid) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (pid_ > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      pid_ = -1;
    }
  }
  if (out_ >= 0) {
    ::close(static_cast<int>(out_));
    out_ = -1;
  }
}

}  // namespace torvane
