// The torvane command line: run, cards, sent, demo, mail-password.
#pragma once

#include <filesystem>

namespace torvane {

// The directory that holds the running program (the current directory when it cannot be told).
std::filesystem::path ProgramDirectory();

// Parses the arguments (UTF-8) and runs the command; returns the exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace torvane
