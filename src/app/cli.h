// The torvane command line: run, cards, sent, demo, mail-password.
#pragma once

namespace torvane {

// Parses the arguments (UTF-8) and runs the command; returns the exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace torvane
