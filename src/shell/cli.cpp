#include "shell/cli.h"

#include <cstdio>

namespace torvane {

int RunCommandLine(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fprintf(stderr, "usage: torvane run|cards|sent|demo|mail-password ...\n");
  return 2;
}

}  // namespace torvane
