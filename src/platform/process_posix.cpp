#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/process.h"

namespace torvane {

std::filesystem::path ProgramDirectory() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec);
  return exe.parent_path();
}

std::vector<std::filesystem::path> CompanionDirectories(const std::filesystem::path& programDir) {
  std::vector<std::filesystem::path> dirs{programDir};
  if (programDir.filename() == "bin") {
    dirs.push_back(programDir.parent_path() / "lib" / "torvane");
    dirs.push_back(programDir.parent_path() / "share" / "torvane");
  }
  return dirs;
}

std::filesystem::path FindCompanionFile(const std::filesystem::path& programDir, const std::vector<std::string>& names) {
  for (const auto& dir : CompanionDirectories(programDir)) {
    for (const auto& name : names) {
      std::error_code ec;
      if (std::filesystem::exists(dir / name, ec)) return dir / name;
    }
  }
  return {};
}

std::filesystem::path HomeDirectory() {
  if (const char* home = ::getenv("HOME"); home != nullptr && *home != '\0') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

bool IsWritableDirectory(const std::filesystem::path& dir) { return ::access(dir.c_str(), W_OK | X_OK) == 0; }

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

void PrepareStandardStreams() {
  ::signal(SIGPIPE, SIG_IGN);
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
      }
    }
  }
}

std::filesystem::path FindProgramInPath(const std::string& name) {
  const char* path = ::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty()) {
      const std::filesystem::path candidate = std::filesystem::path(dir) / name;
      std::error_code ec;
      if (std::filesystem::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return {};
}

std::filesystem::path MakePrivateTempDirectory(const std::string& prefix) {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / (prefix + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

bool RunningAsRoot() { return ::geteuid() == 0; }

namespace {

// The terminal's settings while a secret is typed unseen, put back if Ctrl-C ends the program.
termios g_savedTerminal{};

void RestoreTerminalAndStop(int signal) {
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  bool echoOff = false;
  if (::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0) {
    termios quiet = g_savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::signal(SIGINT, RestoreTerminalAndStop);
    ::signal(SIGTERM, RestoreTerminalAndStop);
    echoOff = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
  }
  std::string line;
  bool any = false;
  for (int c; (c = std::fgetc(stdin)) != EOF;) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (echoOff) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    std::fputc('\n', stderr);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!any) return std::nullopt;
  return line;
}

}  // namespace torvane
