// Running the torvane program from a test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace torvane::test {

struct ProcessResult {
  int exitCode = -1;    // -1 when it did not end by itself in time (it is then killed)
  int signal = 0;       // the signal that ended it, 0 when it exited
  std::string out;      // standard output
  std::string err;      // standard error
};

// Runs program with args in workDir and waits at most timeout; standard input is inputFile, else empty.
ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workDir, std::chrono::milliseconds timeout,
                         const std::filesystem::path& inputFile = {});

// Like RunProcess, with standard output a pipe whose reader has already gone (`torvane ... | head -0`).
ProcessResult RunProcessWithClosedOutput(const std::filesystem::path& program, const std::vector<std::string>& args,
                                         const std::filesystem::path& workDir, std::chrono::milliseconds timeout);

// Starts program with args in workDir, output to files outFile/errFile; returns its pid (or -1).
pid_t SpawnProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                   const std::filesystem::path& workDir, const std::filesystem::path& outFile,
                   const std::filesystem::path& errFile);

// Waits for pid at most timeout; the exit code, or -1 (killed) / -(signal+100) when a signal ended it.
int WaitProcess(pid_t pid, std::chrono::milliseconds timeout);

// The torvane program of this build.
std::filesystem::path TorvaneBinary();

}  // namespace torvane::test
