// The real clocks.
#include "Clock.h"

#include <chrono>

namespace CorvaneSDK {
namespace Mobile {

int64_t SystemClock::wallMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t SystemClock::monotonicMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace Mobile
}  // namespace CorvaneSDK
