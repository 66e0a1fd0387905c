// Bad input through the C interface on a live manager: nulls, empty and 1 MB texts, invalid
// UTF-8, wrong-order calls and many threads. Nothing crashes or leaks (the sanitizer run
// checks that) and every call gives its neutral result.
#include <thread>

#include "Event.h"
#include "FakeClock.h"
#include "InterfaceState.h"
#include "LogCapture.h"
#include "manager_harness.h"

using CorvaneSDK::Json;
using namespace CorvaneSDK::Test;

namespace {
class HostileInput : public ManagerHarness {};

const std::string& Huge() {
  static const std::string text(1024 * 1024, 'h');
  return text;
}
const char* kBadUtf8 = "bad\xff\xfe\xc3(";
}  // namespace

TEST_F(HostileInput, EveryTextArgumentNullEmptyHugeOrInvalid) {
  ScopedFakeClock clock;
  ::InitializationData* data = Data();
  // Setters with odd values never fail and Initialize copies them.
  for (const char* v : {static_cast<const char*>(nullptr), "", Huge().c_str(), kBadUtf8}) {
    InitializationData_SetCustomUserId(data, v);
    InitializationData_SetWrapper(data, v);
    InitializationData_AddModule(data, v, v);
    InitializationData_AddInitializationAction(data, 1, v);
    InitializationData_AddURIScheme(data, v);
  }
  InitializationData_SetCustomUserId(data, "cu");
  InitializationData_SetWrapper(data, "");
  CorvaneSDKManagerRef m = Init(data);
  ASSERT_EQ(CorvaneSDKManager_IsInitialized(m), 1);

  CorvaneSDK::Test::LogCapture capture(CorvaneSDK::kLogError);
  for (const char* v : {static_cast<const char*>(nullptr), "", Huge().c_str(), kBadUtf8}) {
    CorvaneSDKManager_Log(m, v);
    CorvaneSDKManager_LogWithStringValue(m, "s", v);
    CorvaneSDKManager_LogWithJsonValue(m, "j", v);
    CorvaneSDKManager_LogWithMapValue(m, "mp", v);
    CorvaneSDKManager_LogLevelStart(m, 1, v);
    CorvaneSDKManager_LogAdRevenue3(m, v, 1.0, v, v, v);
    CorvaneSDKManager_LogIAPReceipt_GooglePlayProduct(m, v, v, v);
    CorvaneSDKManager_LogAccountLink3(m, v, v, v, v);
    CorvaneSDKManager_SetUserName(m, v);
    CorvaneSDKManager_SetCustomUserId(m, v);
    CorvaneSDKManager_SetAdvertisingId(m, v);
    CorvaneSDKManager_OpenURL(v);
    CorvaneSDKManager_SetPushToken(v);
    CorvaneSDKManager_RegisterModuleFactory(v, nullptr);
    CorvaneSDKManager_UnregisterModuleFactory(v, 1);
    EXPECT_EQ(CorvaneSDKManager_GetModule(m, v), nullptr);
    CorvaneSDKEvent event = CorvaneSDKEvent_Get(v);
    CorvaneSDKEvent_SetMapValue(event, v);
    CorvaneSDKEvent_SetJsonValue(event, v);
    CorvaneSDKEvent_AddRevenueData(event, 2.0, v);
    CorvaneSDKManager_LogEvent(m, event);
    // A megabyte custom user id would make every later event too big to upload.
    CorvaneSDKManager_SetCustomUserId(m, "cu");
  }
  CorvaneSDKManager_SetCustomUserId(m, "cu");
  CorvaneSDKManager_Log(m, "done");
  ASSERT_TRUE(WaitForCount("done", 1));
  // Megabyte events cannot be uploaded: refused at enqueue with a clear line.
  EXPECT_TRUE(capture.Contains("exceed the upload limit"));
  // Invalid UTF-8 arrives replaced, not lost.
  bool sawBad = false;
  for (const auto& e : Named("s")) {
    if (!e["value"].is_object()) continue;  // a null text sends no value
    const std::string value = e["value"]["value"];
    if (value.rfind("bad", 0) == 0) sawBad = value.find("\xEF\xBF\xBD") != std::string::npos;
  }
  EXPECT_TRUE(sawBad);
  // Deeply nested JSON is refused, not parsed into a stack overflow.
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  CorvaneSDKManager_LogWithJsonValue(m, "deep", deep.c_str());
  ASSERT_TRUE(WaitForCount("deep", 1));
  EXPECT_TRUE(Named("deep")[0]["value"].is_null());
}

TEST_F(HostileInput, ManyThreadsCallingWhileTheManagerComesAndGoes) {
  ScopedFakeClock clock;
  CorvaneSDK::Test::LogCapture quiet(CorvaneSDK::kLogError);  // "doesn't exist" lines, many
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      while (!stop) {
        CorvaneSDKManagerRef m = CorvaneSDKManager_GetInstance();
        CorvaneSDKManager_LogLevelStart(m, t, "race");
        CorvaneSDKManager_OnPause(m);
        CorvaneSDKManager_OnResume(m);
        std::free(CorvaneSDKManager_GetSessionId(m));
        CorvaneSDKManager_AddStartCallback(nullptr, t);
        CorvaneSDKManager_RemoveStartCallback(t);
        CorvaneSDKManager_LogEventCache(CorvaneSDKEvent_Get("cached"));
      }
    });
  }
  for (int round = 0; round < 5; ++round) {
    Init();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CorvaneSDKManager_Destroy();
  }
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(CorvaneSDKManager_GetInstance(), nullptr);
  // Events the threads cached after the last Destroy would otherwise wait for the next
  // test's manager (thousands of them on a slow machine).
  CorvaneSDK::TakeCachedEvents();
}
