// What the base layer needs of the operating system beyond the standard library. The platform
// layer provides it (platform/system_posix.cpp, platform/system_win32.cpp).
#pragma once

#include <cstdint>
#include <ctime>

namespace torvane {

// The moment as local time; utcOffsetSeconds (when given) gets how far local time is ahead of UTC.
// False when the moment cannot be converted (the tm is then zeroed).
bool LocalTime(std::time_t moment, std::tm* local, long* utcOffsetSeconds = nullptr);

// The id of this process.
std::uint64_t CurrentProcessId();

}  // namespace torvane
