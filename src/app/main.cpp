#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "app/cli.h"

int main(int argc, char** argv) {
  // A closed reader of our output (`torvane run | head -1`) must not end a delivery mid-way.
  ::signal(SIGPIPE, SIG_IGN);
  // Started with a standard descriptor closed, the next file opened would take its number and
  // receive the terminal lines: give each closed one /dev/null.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
      }
    }
  }
  return torvane::RunCommandLine(argc, argv);
}
