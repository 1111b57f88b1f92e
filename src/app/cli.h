// The torvane command line: run, cards, sent, demo, mail-password.
#pragma once

#include <filesystem>
#include <string>

namespace torvane {

// The directory that holds the running program (the current directory when it cannot be told).
std::filesystem::path ProgramDirectory();

// Prints the problem (when given) and the usage on standard error; returns the exit status 2.
int UsageError(const std::string& problem);

// Parses the arguments (UTF-8) and runs the command; returns the exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace torvane
