// Facts about this process and the programs around it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace torvane {

// The directory of the running program; the current directory when it cannot be told.
std::filesystem::path ProgramDirectory();

// The directories where the companion files of the program in programDir lie (market-sim, the demo's mail
// server, torvane-chat.exe): programDir itself (a build or an unpacked copy) and, when it is PREFIX/bin,
// PREFIX/lib/torvane and PREFIX/share/torvane (an installed copy).
std::vector<std::filesystem::path> CompanionDirectories(const std::filesystem::path& programDir);

// The first of the relative names that exists in one of the companion directories (each directory tried
// with every name before the next); empty when none does.
std::filesystem::path FindCompanionFile(const std::filesystem::path& programDir, const std::vector<std::string>& names);

// The user's home directory: $HOME, else the account's entry; empty when neither tells.
std::filesystem::path HomeDirectory();

// Whether this user may create files in the directory (false also when it cannot be told).
bool IsWritableDirectory(const std::filesystem::path& dir);

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
