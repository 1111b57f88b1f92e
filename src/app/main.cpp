#include "app/cli.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  // A closed reader of our output (`torvane run | head -1`) must not end a delivery mid-way, and a
  // file opened later must not take the number of a closed standard stream.
  torvane::PrepareStandardStreams();
  return torvane::RunCommandLine(argc, argv);
}
