#include "ThrottledCount.h"

#include "Env.h"

namespace CorvaneSDK {

uint64_t ThrottledCount::Add(uint64_t n) {
  const int64_t now = (env_ != nullptr ? env_->GetClock() : GetClock()).MonotonicMs();
  std::lock_guard<std::mutex> lock(mutex_);
  pending_ += n;
  if (reported_ && now - lastReportMs_ < intervalMs_) return 0;
  reported_ = true;
  lastReportMs_ = now;
  const uint64_t out = pending_;
  pending_ = 0;
  return out;
}

}  // namespace CorvaneSDK
