// The one internal source of time: wall clock, monotonic clock and interruptible sleep.
// Thread-safe. The clock in use is the environment's (Env.h, GetClock); tests hand in a
// fake one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace CorvaneSDK {

// A wake-up flag that ends a sleep early. Set() wakes every sleeper at once; the flag
// stays set until Clear(). Thread-safe.
class Interrupt {
 public:
  void Set();
  void Clear();
  bool IsSet() const { return set_.load(); }
  // Waits up to `ms` real milliseconds or until set. Returns true when set.
  bool WaitFor(int64_t ms);

 private:
  std::atomic<bool> set_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since 1970-01-01 UTC.
  virtual int64_t WallMs() = 0;
  // Milliseconds of a clock that never goes back; only differences mean anything.
  virtual int64_t MonotonicMs() = 0;
  // Sleeps `ms` milliseconds, or less when `interrupt` (may be null) is set.
  // Returns false when the sleep was interrupted.
  virtual bool Sleep(int64_t ms, Interrupt* interrupt) = 0;
};

class SystemClock : public Clock {
 public:
  int64_t WallMs() override;
  int64_t MonotonicMs() override;
  bool Sleep(int64_t ms, Interrupt* interrupt) override;
};

// Broken-down local time of `seconds` since 1970 (thread-safe); false when the system
// cannot give it.
bool LocalTime(time_t seconds, std::tm* out);

}  // namespace CorvaneSDK
