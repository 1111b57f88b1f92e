// Facts about this process and the programs around it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace torvane {

// The directory of the running program; the current directory when it cannot be told.
std::filesystem::path ProgramDirectory();

// This machine's host name; "" when it cannot be told.
std::string HostName();

// Makes the process safe to run as a command: each closed standard stream (0, 1, 2) is opened on
// the null device, so that no file opened later takes its place and receives terminal output; and
// writing to a reader that went away fails quietly instead of ending the process.
void PrepareStandardStreams();

// The program of that name in a directory of PATH; empty when there is none.
std::filesystem::path FindProgramInPath(const std::string& name);

// A new directory, readable by this user only, under the system's temporary directory, named
// prefix followed by random characters; empty when it cannot be made.
std::filesystem::path MakePrivateTempDirectory(const std::string& prefix);

// Whether the process runs with the system administrator's rights (root).
bool RunningAsRoot();

// One line of standard input without its line end. At a terminal, prompt (UTF-8) goes to standard
// error and what is typed is not shown; the terminal is put back even when Ctrl-C or SIGTERM ends
// the program meanwhile. nullopt when nothing came (end of input before any character).
std::optional<std::string> ReadSecretLine(const std::string& prompt);

}  // namespace torvane
