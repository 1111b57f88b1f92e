#include <windows.h>
#include <time.h>

#include "base/system.h"

namespace torvane {

bool LocalTime(std::time_t moment, std::tm* local, long* utcOffsetSeconds) {
  *local = std::tm{};
  if (utcOffsetSeconds) *utcOffsetSeconds = 0;
  if (localtime_s(local, &moment) != 0) return false;
  if (utcOffsetSeconds) {
    std::tm utc{};
    if (gmtime_s(&utc, &moment) != 0) return false;
    // The same wall-clock fields read as UTC on both sides give the offset.
    utc.tm_isdst = local->tm_isdst;
    *utcOffsetSeconds = static_cast<long>(_mkgmtime(local) - _mkgmtime(&utc));
  }
  return true;
}

std::uint64_t CurrentProcessId() { return GetCurrentProcessId(); }

}  // namespace torvane
