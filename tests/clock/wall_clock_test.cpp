// The wall clock far in the future. This program defines clock_gettime and syscall itself
// (the C++ library reads the time through the latter), so every caller in the process, the
// SDK and std::chrono alike, reads the shifted time. It is a program of its own so that no
// other test runs under a moved clock.
#include <dlfcn.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "Clock.h"
#include "Env.h"
#include "Event.h"

namespace {

// Seconds from 1970 to 2300-01-01, past the year (2262) where nanoseconds overflow 64 bits.
constexpr int64_t kYear2300 = 10413792000;
std::atomic<int64_t> g_realtimeShift{0};

using SyscallFn = long (*)(long, ...);
SyscallFn RealSyscall() {
  static SyscallFn real = reinterpret_cast<SyscallFn>(::dlsym(RTLD_NEXT, "syscall"));
  return real;
}

void Shift(long clock, struct timespec* ts) {
  if (clock == CLOCK_REALTIME && ts != nullptr) {
    ts->tv_sec += static_cast<time_t>(g_realtimeShift.load());
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) long syscall(long number, ...) {
  // The kernel takes at most six register arguments; reading six is what the C library does.
  va_list ap;
  va_start(ap, number);
  long a[6];
  for (long& arg : a) arg = va_arg(ap, long);
  va_end(ap);
  const long rc = RealSyscall()(number, a[0], a[1], a[2], a[3], a[4], a[5]);
  if (number == SYS_clock_gettime && rc == 0) Shift(a[0], reinterpret_cast<struct timespec*>(a[1]));
  return rc;
}

extern "C" __attribute__((visibility("default"))) int clock_gettime(clockid_t id,
                                                              struct timespec* ts) {
  const long rc = RealSyscall()(SYS_clock_gettime, static_cast<long>(id), ts);
  if (rc == 0) Shift(id, ts);
  return static_cast<int>(rc);
}

namespace {

using namespace CorvaneSDK;

TEST(WallClock, StaysPositiveAndExactAfterTheYear2262) {
  struct timespec now;
  ASSERT_EQ(RealSyscall()(SYS_clock_gettime, static_cast<long>(CLOCK_REALTIME), &now), 0);
  g_realtimeShift = kYear2300 - static_cast<int64_t>(now.tv_sec);
  const int64_t ms = GetClock().WallMs();
  EventPtr event = Event::Acquire("future");
  event->Stamp("session", "config", "", ::CorvaneSDK::Env::Default());
  const int64_t stamped = event->timeInMs;
  event.reset();
  g_realtimeShift = 0;
  // Within a minute of 2300-01-01 (the test runs in far less).
  EXPECT_GE(ms, kYear2300 * 1000);
  EXPECT_LT(ms, (kYear2300 + 60) * 1000);
  EXPECT_GE(stamped, kYear2300 * 1000);
}

}  // namespace
