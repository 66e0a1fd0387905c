// Counts repeated drops so that they are reported at most once per interval of the injected
// monotonic clock, with the number since the last report. Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>

namespace CorvaneSDK {

class Env;

class ThrottledCount {
 public:
  // Intervals count on the clock of `env`, or (null) of the default environment.
  explicit ThrottledCount(int64_t intervalMs = 10000, Env* env = nullptr)
      : intervalMs_(intervalMs), env_(env) {}

  // Adds `n`. Returns the count to report when a report is due (the first one at once),
  // else 0.
  uint64_t Add(uint64_t n = 1);

 private:
  std::mutex mutex_;
  const int64_t intervalMs_;
  Env* const env_;
  uint64_t pending_ = 0;
  bool reported_ = false;
  int64_t lastReportMs_ = 0;
};

}  // namespace CorvaneSDK
