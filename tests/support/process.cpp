#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace torvane::test {

std::filesystem::path TorvaneBinary() { return TORVANE_BINARY_PATH; }

namespace {

// outFd >= 0: standard output is that descriptor instead of outFile. Standard input: inFile, else /dev/null.
pid_t Spawn(const std::filesystem::path& program, const std::vector<std::string>& args,
            const std::filesystem::path& workDir, const std::filesystem::path& outFile, int outFd,
            const std::filesystem::path& errFile, const std::filesystem::path& inFile = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::filesystem::path input = inFile.empty() ? std::filesystem::path("/dev/null") : std::filesystem::absolute(inFile);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
  if (outFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
  std::vector<std::string> store{program.string()};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

}  // namespace

pid_t SpawnProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                   const std::filesystem::path& workDir, const std::filesystem::path& outFile,
                   const std::filesystem::path& errFile) {
  return Spawn(program, args, workDir, outFile, -1, errFile);
}

int WaitProcess(pid_t pid, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (true) {
    pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -(WTERMSIG(status) + 100);
}

namespace {

ProcessResult Run(const std::filesystem::path& program, const std::vector<std::string>& args,
                  const std::filesystem::path& workDir, std::chrono::milliseconds timeout, bool closedOutput,
                  const std::filesystem::path& inputFile = {}) {
  TempDir out;
  ProcessResult result;
  pid_t pid = -1;
  if (closedOutput) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return result;
    ::close(fds[0]);  // the reader is gone before the first line
    pid = Spawn(program, args, workDir, {}, fds[1], out / "err");
    ::close(fds[1]);
  } else {
    pid = Spawn(program, args, workDir, out / "out", -1, out / "err", inputFile);
  }
  if (pid < 0) return result;
  int code = WaitProcess(pid, timeout);
  if (code <= -100) {
    result.signal = -code - 100;
  } else {
    result.exitCode = code;
  }
  result.out = ReadBytes(out / "out");
  result.err = ReadBytes(out / "err");
  return result;
}

}  // namespace

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workDir, std::chrono::milliseconds timeout,
                         const std::filesystem::path& inputFile) {
  return Run(program, args, workDir, timeout, false, inputFile);
}

ProcessResult RunProcessWithClosedOutput(const std::filesystem::path& program, const std::vector<std::string>& args,
                                         const std::filesystem::path& workDir, std::chrono::milliseconds timeout) {
  return Run(program, args, workDir, timeout, true);
}

}  // namespace torvane::test
