// The torvane command line: run, cards, sent, demo, mail-password.
#pragma once

#include <filesystem>
#include <string>

#include "app/cli_grammar.h"  // ParseCommandLine, UsageError
#include "platform/process.h"  // ProgramDirectory

namespace torvane {

// Runs a command that ParseCommandLine gave (any but the window); returns the exit status.
int RunCommand(const CommandLine& line);

}  // namespace torvane
