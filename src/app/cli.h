// The torvane command line: run, cards, sent, demo, mail-password.
#pragma once

#include <filesystem>
#include <string>

#include "platform/process.h"  // ProgramDirectory

namespace torvane {

// Prints the problem (when given) and the usage on standard error; returns the exit status 2.
int UsageError(const std::string& problem);

// Parses the arguments (UTF-8) and runs the command; returns the exit status.
int RunCommandLine(int argc, char** argv);

}  // namespace torvane
