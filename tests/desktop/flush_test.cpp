// CorvaneSDKManager_Flush and the device identifier switch, end to end through the C
// interface against a local server.
#include "CorvaneSDKManager.h"
#include "FakeClock.h"
#include "LogCapture.h"
#include "QueueManager.h"
#include "TestEnv.h"
#include "Utils.h"
#include "manager_harness.h"

using CorvaneSDK::Json;
using namespace CorvaneSDK::Test;

namespace {
class Flush : public ManagerHarness {
 protected:
  CorvaneSDK::CorvaneSDKManager* Manager() {
    return reinterpret_cast<CorvaneSDK::CorvaneSDKManager*>(CorvaneSDKManager_GetInstance());
  }
};

TEST_F(Flush, EndsTheOpenEventHoldAtOnce) {
  ScopedFakeClock clock(false);  // time moves only here: the 5 s hold never ends by itself
  CorvaneSDKManagerRef m = Init();
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_OpenURL("game://held");  // held under the open event
  CorvaneSDKManager_Log(m, "ordinary");
  ASSERT_TRUE(Manager()->HasPendingOpenEvent());
  CorvaneSDKManager_Flush(m, 0);
  EXPECT_FALSE(Manager()->HasPendingOpenEvent());
  // The upload thread needs some of the manual clock for its checks, never the hold's 5 s.
  int64_t advanced = 0;
  for (int i = 0; i < 5000 && Named("ordinary").empty(); ++i) {
    if (i % 5 == 0 && advanced < 1000) {
      clock->Advance(10);
      advanced += 10;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(Named("ordinary").size(), 1u);
  auto opens = Named("qvsdk_first_open");
  ASSERT_EQ(opens.size(), 1u);
  ASSERT_EQ(opens[0]["subEvents"].size(), 1u);
  EXPECT_EQ(opens[0]["subEvents"][0]["eventName"], "qvsdk_deep_link");
  EXPECT_LT(advanced, CorvaneSDK::CorvaneSDKManager::kOpenEventHoldMs);
}

TEST_F(Flush, WaitsUntilTheQueueIsEmptyAndSaysSo) {
  ::InitializationData* data = Data();
  InitializationData_SetFlushQueueSize(data, 1000);  // nothing would leave on its own soon
  InitializationData_SetSendDelay(data, 600000);
  CorvaneSDKManagerRef m = Init(data);
  ASSERT_NE(m, nullptr);
  for (int i = 0; i < 5; ++i) CorvaneSDKManager_Log(m, "before_exit");
  EXPECT_EQ(CorvaneSDKManager_Flush(m, 60000), 1);
  EXPECT_EQ(Manager()->Queue()->Count(), 0u);
  EXPECT_EQ(Named("before_exit").size(), 5u);
  EXPECT_EQ(Named("qvsdk_first_open").size(), 1u);
  // Nothing queued: true at once.
  EXPECT_EQ(CorvaneSDKManager_Flush(m, 0), 1);
}

TEST_F(Flush, GivesUpAtTheTimeoutAndKeepsTheEvents) {
  server_.SetDefault("/v4/event", ScriptedResponse(503));
  ::InitializationData* data = Data();
  InitializationData_SetMaxRetries(data, 0);
  CorvaneSDKManagerRef m = Init(data);
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_Log(m, "kept");
  LogCapture logs(CorvaneSDK::kLogWarning);
  EXPECT_EQ(CorvaneSDKManager_Flush(m, 300), 0);
  EXPECT_GE(Manager()->Queue()->Count(), 2u);  // the open event and "kept"
  EXPECT_TRUE(logs.Contains("still queued after"));
}

TEST_F(Flush, ReturnsAtOnceWhenNothingCanBeUploaded) {
  LogCapture logs(CorvaneSDK::kLogWarning);
  EXPECT_EQ(CorvaneSDKManager_Flush(nullptr, 1000), 0);
  EXPECT_TRUE(logs.Contains("doesn't exist (CorvaneSDKManager_Flush): call "
                            "CorvaneSDKManager_Initialize first"));
  ::InitializationData* data = Data();
  InitializationData_SetOffline(data, 1);
  CorvaneSDKManagerRef m = Init(data);
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_Log(m, "offline");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CorvaneSDKManager_Flush(m, 60000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_TRUE(logs.Contains("stay queued because sending is off"));
  EXPECT_EQ(server_.Count("/v4/event"), 0u);
}

// ---------------------------------------------------------------- device identifiers

class DeviceIdentifiers : public ManagerHarness {
 protected:
  void SetUp() override {
    ManagerHarness::SetUp();
    ::CorvaneSDK::Test::ProcessEnv().SetNetworkQuery([] {
      CorvaneSDK::Utils::NetworkAddress address;
      address.ip = "203.0.113.7";
      address.mac = "02:00:5e:10:00:01";
      return address;
    });
  }
  void TearDown() override {
    ManagerHarness::TearDown();
    ::CorvaneSDK::Test::ProcessEnv().SetNetworkQuery(nullptr);
  }
  Json OpenValue(::InitializationData* data) {
    ScopedFakeClock clock;  // the hold passes at once
    CorvaneSDKManagerRef m = Init(data);
    EXPECT_NE(m, nullptr);
    EXPECT_TRUE(WaitForCount("qvsdk_first_open", 1));
    auto opens = Named("qvsdk_first_open");
    return opens.empty() ? Json() : opens[0]["value"];
  }
};

TEST_F(DeviceIdentifiers, CollectedByDefault) {
  const Json value = OpenValue(Data());
  EXPECT_EQ(value.value("local_ip", ""), "203.0.113.7");
  EXPECT_EQ(value.value("mac_address", ""), "02:00:5e:10:00:01");
  const std::string machine = CorvaneSDK::Utils::GetDeviceId();
  if (!machine.empty()) {
    EXPECT_EQ(value.value("developer_device_id", ""), machine);
  }
  EXPECT_TRUE(value.contains("os_name"));
}

TEST_F(DeviceIdentifiers, SwitchedOffLeavesThemOut) {
  ::InitializationData* data = Data();
  InitializationData_SetCollectDeviceIdentifiers(data, 0);
  const Json value = OpenValue(data);
  ASSERT_TRUE(value.is_object());
  EXPECT_FALSE(value.contains("local_ip"));
  EXPECT_FALSE(value.contains("mac_address"));
  EXPECT_FALSE(value.contains("developer_device_id"));
  EXPECT_TRUE(value.contains("os_name"));  // the rest of the context stays
  EXPECT_EQ(Take(CorvaneSDKManager_GetSessionId(CorvaneSDKManager_GetInstance())).size(), 36u);
}

TEST_F(DeviceIdentifiers, CoppaImpliesOff) {
  ::InitializationData* data = Data();
  InitializationData_SetEnableCoppa(data, 1);
  const Json value = OpenValue(data);
  ASSERT_TRUE(value.is_object());
  EXPECT_FALSE(value.contains("local_ip"));
  EXPECT_FALSE(value.contains("mac_address"));
  EXPECT_FALSE(value.contains("developer_device_id"));
}

}  // namespace
