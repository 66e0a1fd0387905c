// Wall time on POSIX, read as seconds and nanoseconds: system_clock counts nanoseconds in 64
// bits and wraps to negative values in 2262, which a milliseconds count does not need.
#include <time.h>

#include "Clock.h"

namespace CorvaneSDK {

bool LocalTime(time_t seconds, std::tm* out) {
  if (out == nullptr) return false;
  return localtime_r(&seconds, out) != nullptr;
}

int64_t SystemClock::WallMs() {
  struct timespec now;
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;
  return static_cast<int64_t>(now.tv_sec) * 1000 + static_cast<int64_t>(now.tv_nsec) / 1000000;
}

}  // namespace CorvaneSDK
