// The session tracker's answer to the sending thread, which asks before every upload.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <vector>

#include "DeviceContext.h"
#include "FakeClock.h"
#include "Identity.h"
#include "InitializationData.h"
#include "PendingOpenStore.h"
#include "SessionTracker.h"
#include "TestEnv.h"

using namespace CorvaneSDK;
using namespace CorvaneSDK::Test;

namespace {

struct Tracker {
  InitializationData data{"app", "secret"};
  Identity identity{data, "Linux"};
  DeviceContext context{false, ProcessEnv()};
  std::mutex mutex;
  std::vector<std::string> sent;
  SessionTracker session{identity, context,
                         [this](EventPtr e) {
                           std::lock_guard<std::mutex> lock(mutex);
                           sent.push_back(e->eventName);
                         },
                         Json::object(), nullptr, ProcessEnv()};
};

// Outside a hold the sending thread goes on even while a host call holds the session lock:
// it must neither wait for that call nor make the call wake it on the way out.
TEST(SessionTrackerTest, ReadinessOutsideAHoldDoesNotWaitForTheSessionLock) {
  ScopedFakeClock clock(false);
  Tracker t;
  std::unique_lock<std::recursive_mutex> hostCall = t.session.Lock();
  auto ready = std::async(std::launch::async, [&] { return t.session.ReadyToSend(); });
  const bool answeredDuringTheCall =
      ready.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  hostCall.unlock();  // a check that waited for it finishes now
  EXPECT_TRUE(answeredDuringTheCall);
  EXPECT_TRUE(ready.get());
}

// A hold keeps uploads back until its deadline; the first check after it sends the open
// event, and the check then blocks no more.
TEST(SessionTrackerTest, AHoldKeepsUploadsBackUntilItsDeadline) {
  ScopedFakeClock clock(false);
  Tracker t;
  t.session.Check();
  ASSERT_TRUE(t.session.HasOpenEvent());
  EXPECT_FALSE(t.session.ReadyToSend());
  clock->Advance(SessionTracker::kOpenEventHoldMs - 1);
  EXPECT_FALSE(t.session.ReadyToSend());
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    EXPECT_TRUE(t.sent.empty());
  }
  clock->Advance(1);
  EXPECT_TRUE(t.session.ReadyToSend());
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    ASSERT_EQ(t.sent.size(), 1u);
    EXPECT_EQ(t.sent[0], "qvsdk_open");
  }
  EXPECT_TRUE(t.session.ReadyToSend());
}

}  // namespace
