// Fake clock sleeps: instant in auto mode, driven by Advance otherwise.
#include "FakeClock.h"

#include "TestEnv.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>
#include <thread>

namespace CorvaneSDK {
namespace Test {

void FakeClock::Retire() {
  retired_ = true;
  while (sleepers_.load() > 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

ScopedFakeClock::ScopedFakeClock(bool autoAdvance) : clock_(new FakeClock(autoAdvance)) {
  ProcessEnv().SetClock(clock_);
}

ScopedFakeClock::~ScopedFakeClock() {
  ProcessEnv().SetClock(nullptr);
  clock_->Retire();
  static std::mutex mutex;
  static std::vector<std::unique_ptr<FakeClock>>* retired = new std::vector<std::unique_ptr<FakeClock>>();
  std::lock_guard<std::mutex> lock(mutex);
  retired->emplace_back(clock_);
}

namespace {
struct Counted {
  std::atomic<int>& n;
  explicit Counted(std::atomic<int>& c) : n(c) { ++n; }
  ~Counted() { --n; }
};
}  // namespace

bool FakeClock::Sleep(int64_t ms, Interrupt* interrupt) {
  Counted counted(sleepers_);
  ++sleepCalls_;
  if (retired_) return true;
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
  while (mono_.load() < target && !retired_) {
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
