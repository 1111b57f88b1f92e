#include "app/cli.h"

int main(int argc, char** argv) { return torvane::RunCommandLine(argc, argv); }
