// A clock for tests: time moves only when the test says so, or, in auto mode, when a
// thread sleeps (the sleep then returns almost at once). Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>

#include "Clock.h"

namespace CorvaneSDK {
namespace Test {

class FakeClock : public Clock {
 public:
  // autoAdvance: a sleep moves the clock forward by its length and returns after a short
  // real pause; otherwise a sleep waits (polling) until Advance has moved the clock far enough.
  explicit FakeClock(bool autoAdvance = true, int64_t startWallMs = 1765000000000LL)
      : auto_(autoAdvance), wall_(startWallMs), mono_(1000000) {}
  // Ends every current and later sleep at once (the clock is being retired).
  void Retire();

  int64_t WallMs() override { return wall_.load(); }
  int64_t MonotonicMs() override { return mono_.load(); }
  bool Sleep(int64_t ms, Interrupt* interrupt) override;

  void Advance(int64_t ms) {
    wall_ += ms;
    mono_ += ms;
  }
  // Moves only the wall clock (a user changing the system time).
  void SetWall(int64_t wallMs) { wall_ = wallMs; }
  void SetAutoAdvance(bool on) { auto_ = on; }
  // Total milliseconds slept through this clock (all threads).
  int64_t TotalSleptMs() const { return slept_.load(); }
  int SleepCalls() const { return sleepCalls_.load(); }

 private:
  std::atomic<bool> auto_;
  std::atomic<int64_t> wall_;
  std::atomic<int64_t> mono_;
  std::atomic<int64_t> slept_{0};
  std::atomic<int> sleepCalls_{0};
  std::atomic<int> sleepers_{0};
  std::atomic<bool> retired_{false};
};

// Installs a fake clock for the lifetime of the object. SDK threads of a test may outlive the
// scope by a moment (the manager is destroyed in TearDown), so the clock is retired rather
// than freed: its sleepers are released and it stays valid until the process ends.
class ScopedFakeClock {
 public:
  explicit ScopedFakeClock(bool autoAdvance = true);
  ~ScopedFakeClock();
  FakeClock& operator*() { return *clock_; }
  FakeClock* operator->() { return clock_; }

 private:
  FakeClock* clock_;
};

}  // namespace Test
}  // namespace CorvaneSDK
