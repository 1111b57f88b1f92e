// Faults a seller's card stores meet: damaged pages, files the process may not write, a full disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace torvane::test {

enum class PageDamage {
  kTailFlipped,  // the last 60 bytes of the page XORed with 0xFF
  kOverwritten,  // every byte of the page set to 0xFF
};

// Damages one page (1-based) of a SQLite file and counts the file as changed, so a connection
// already open reads the damaged page instead of a cached copy.
void DamagePage(const std::filesystem::path& file, std::size_t page, PageDamage damage);

// Runs check in a child process that file permissions bind even when the tests run as root
// (the file-access capabilities are dropped). Returns what check returned ("" for success), or
// why the child could not run it (also when it had not finished within kWaitLimit: it is killed).
std::string InChildBoundByFilePermissions(const std::function<std::string()>& check);

// Runs check in a child process whose files cannot grow beyond limitBytes: a write past it fails
// as on a full disk (RLIMIT_FSIZE, with SIGXFSZ ignored). Returns as above.
std::string InChildWithFileSizeLimit(std::uint64_t limitBytes, const std::function<std::string()>& check);

}  // namespace torvane::test
