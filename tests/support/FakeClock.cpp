// Fake clock sleeps: instant in auto mode, driven by Advance otherwise.
#include "FakeClock.h"

#include <chrono>
#include <thread>

namespace CorvaneSDK {
namespace Test {

bool FakeClock::Sleep(int64_t ms, Interrupt* interrupt) {
  ++sleepCalls_;
  if (interrupt != nullptr && interrupt->IsSet()) return false;
  if (ms <= 0) return true;
  if (auto_.load()) {
    slept_ += ms;
    Advance(ms);
    // A short real pause keeps looping threads from spinning a core.
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    return !(interrupt != nullptr && interrupt->IsSet());
  }
  const int64_t target = mono_.load() + ms;
  while (mono_.load() < target) {
    if (interrupt != nullptr) {
      if (interrupt->WaitFor(1)) return false;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (auto_.load()) break;
  }
  slept_ += ms;
  return true;
}

}  // namespace Test
}  // namespace CorvaneSDK
