// The clock port: wall time in milliseconds and Unix seconds, and a monotonic clock for
// deadlines. SystemClock is the real one; ManualClock moves only when a test says so.
#pragma once

#include <atomic>
#include <cstdint>

namespace CorvaneSDK {
namespace Mobile {

// Thread-safe.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t wallMs() const = 0;
  virtual int64_t monotonicMs() const = 0;
  double unixSeconds() const { return static_cast<double>(wallMs()) / 1000.0; }
  // False for a clock that moves by hand: waits for its deadlines must re-read it.
  virtual bool isReal() const { return true; }
};

class SystemClock : public Clock {
 public:
  int64_t wallMs() const override;
  int64_t monotonicMs() const override;
};

// Thread-safe; both clocks start where the constructor says and move with advance().
class ManualClock : public Clock {
 public:
  explicit ManualClock(int64_t wallMs = 1765000000000LL, int64_t monotonicMs = 1000000)
      : wall_(wallMs), mono_(monotonicMs) {}
  int64_t wallMs() const override { return wall_.load(); }
  int64_t monotonicMs() const override { return mono_.load(); }
  bool isReal() const override { return false; }
  void advance(int64_t ms) {
    wall_ += ms;
    mono_ += ms;
  }
  // Moves only the wall clock, as a user changing the system time does.
  void setWallMs(int64_t ms) { wall_ = ms; }

 private:
  std::atomic<int64_t> wall_;
  std::atomic<int64_t> mono_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
