// Facts about this process and the programs around it.
#pragma once

#include <filesystem>
#include <string>

namespace torvane {

// The directory of the running program; the current directory when it cannot be told.
std::filesystem::path ProgramDirectory();

// The program of that name in a directory of PATH; empty when there is none.
std::filesystem::path FindProgramInPath(const std::string& name);

// A new directory, readable by this user only, under the system's temporary directory, named
// prefix followed by random characters; empty when it cannot be made.
std::filesystem::path MakePrivateTempDirectory(const std::string& prefix);

}  // namespace torvane
