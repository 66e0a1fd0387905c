// System clock and the interruptible wait behind every sleep of the SDK.
#include "Clock.h"

#include <chrono>
#include <thread>


namespace CorvaneSDK {

void Interrupt::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    set_.store(true);
  }
  cv_.notify_all();
}

void Interrupt::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_.store(false);
}

bool Interrupt::WaitFor(int64_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (ms <= 0) return set_.load();
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_.load(); });
}

int64_t SystemClock::MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool SystemClock::Sleep(int64_t ms, Interrupt* interrupt) {
  if (interrupt != nullptr) return !interrupt->WaitFor(ms);
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return true;
}

}  // namespace CorvaneSDK
