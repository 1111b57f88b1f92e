#include <time.h>
#include <unistd.h>

#include "base/system.h"

namespace torvane {

bool LocalTime(std::time_t moment, std::tm* local, long* utcOffsetSeconds) {
  *local = std::tm{};
  if (utcOffsetSeconds) *utcOffsetSeconds = 0;
  if (localtime_r(&moment, local) == nullptr) return false;
  if (utcOffsetSeconds) *utcOffsetSeconds = local->tm_gmtoff;
  return true;
}

std::uint64_t CurrentProcessId() { return static_cast<std::uint64_t>(::getpid()); }

}  // namespace torvane
