// Wall time on Windows, from the system time's 100 ns ticks since 1601 (good to year 30828),
// not from system_clock, whose count may be finer and wrap sooner.
#include <windows.h>

#include "Clock.h"

namespace CorvaneSDK {

bool LocalTime(time_t seconds, std::tm* out) {
  if (out == nullptr) return false;
  return localtime_s(out, &seconds) == 0;
}

int64_t SystemClock::WallMs() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  constexpr int64_t kUnixEpochMs = 11644473600000;  // 1601-01-01 to 1970-01-01
  return static_cast<int64_t>(ticks / 10000) - kUnixEpochMs;
}

}  // namespace CorvaneSDK
