// The manager end to end through the C interface, against a real local server, real files
// and an injected clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include "CorvaneSDK.h"
#include "CorvaneSDKManager.h"
#include "FakeClock.h"
#include "Json.h"
#include "LogCapture.h"
#include "QueueManager.h"
#include "TempDir.h"
#include "TestHttpServer.h"
#include "Version.h"

using CorvaneSDK::Json;
using CorvaneSDK::ParseJson;
using CorvaneSDK::kLogError;
using namespace CorvaneSDK::Test;

namespace {
std::atomic<int> g_ready{0};
void OnReady(int value) { g_ready = value; }

class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    g_ready = 0;
  }
  void TearDown() override { CorvaneSDKManager_Destroy(); }

  InitializationData* Data() {
    InitializationData* data = InitializationData_Create("app", "secret");
    InitializationData_SetHost(data, server_.Url("/v4/event").c_str());
    InitializationData_SetConfigUrl(data, server_.Url("/v1/public/config").c_str());
    InitializationData_SetSavePath(data, dir_.path().c_str());
    InitializationData_SetDisableOnlineSdkConfig(data, 1);
    InitializationData_SetQueueCheckInterval(data, 20);
    InitializationData_SetSendDelay(data, 0);
    return data;
  }

  CorvaneSDKManagerRef Init(InitializationData* data = nullptr) {
    if (data == nullptr) data = Data();
    CorvaneSDKManager_Initialize3(data, OnReady, 7);
    InitializationData_Destroy(data);  // the manager copied what it needs
    for (int i = 0; i < 2000 && g_ready != 7; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return CorvaneSDKManager_GetInstance();
  }

  // Every event and sub-event the server received, in order.
  std::vector<Json> Received() {
    std::vector<Json> out;
    for (const auto& r : server_.Requests("/v4/event")) {
      Json body;
      if (!ParseJson(r.body, body)) continue;
      for (const auto& e : body["subMessages"]) {
        out.push_back(e);
        if (e.contains("subEvents")) {
          for (const auto& s : e["subEvents"]) out.push_back(s);
        }
      }
    }
    return out;
  }

  bool WaitForEvent(const std::string& name, int timeoutMs = 10000) {
    for (int i = 0; i < timeoutMs / 5; ++i) {
      for (const auto& e : Received()) {
        if (e["eventName"] == name) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  TempDir dir_;
  TestHttpServer server_;
};
}  // namespace

TEST_F(ManagerTest, FirstRunSendsFirstOpenAndLaterRunsOpen) {
  ScopedFakeClock clock;  // sleeps move time, so the 5 s open-event hold passes at once
  CorvaneSDKManagerRef m = Init();
  ASSERT_EQ(CorvaneSDKManager_IsInitialized(m), 1);
  CorvaneSDKManager_LogLevelStart(m, 3, "cave");
  ASSERT_TRUE(WaitForEvent("qvsdk_level_attempt"));
  ASSERT_TRUE(WaitForEvent("qvsdk_first_open"));
  char* session = CorvaneSDKManager_GetSessionId(m);
  ASSERT_NE(session, nullptr);
  for (const auto& e : Received()) {
    if (e["eventName"] == "qvsdk_level_attempt") {
      EXPECT_EQ(e["value"], Json::parse(R"({"label":"cave","level":3})"));
      EXPECT_EQ(e["id"], session);
      EXPECT_EQ(e["cfgId"], "default");
    }
  }
  std::free(session);
  const auto requests = server_.Requests("/v4/event");
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0].Header("Authorization"), "Basic YXBwOnNlY3JldA==");

  CorvaneSDKManager_Destroy();
  server_.ClearRequests();
  g_ready = 0;
  m = Init();
  ASSERT_TRUE(WaitForEvent("qvsdk_open"));
  for (const auto& e : Received()) EXPECT_NE(e["eventName"], "qvsdk_first_open");
}

TEST_F(ManagerTest, SessionKeptAt30000AndRenewedAt30001) {
  ScopedFakeClock clock(false);
  CorvaneSDKManagerRef m = Init();
  auto session = [&]() {
    char* s = CorvaneSDKManager_GetSessionId(m);
    std::string out = s != nullptr ? s : "";
    std::free(s);
    return out;
  };
  const std::string first = session();
  ASSERT_EQ(first.size(), 36u);
  CorvaneSDKManager_OnPause(m);
  clock->Advance(30000);
  CorvaneSDKManager_OnResume(m);
  EXPECT_EQ(session(), first);
  CorvaneSDKManager_OnPause(m);
  clock->Advance(30001);
  CorvaneSDKManager_OnResume(m);
  const std::string second = session();
  EXPECT_NE(second, first);
  CorvaneSDKManager_Stop(m);
  CorvaneSDKManager_Start(m);
  EXPECT_NE(session(), second);  // Stop cleared the pause time
}

TEST_F(ManagerTest, CheckMessagesAndNeutralResults) {
  LogCapture capture(kLogError);
  EXPECT_EQ(CorvaneSDKManager_GetAppId(nullptr), nullptr);
  EXPECT_TRUE(capture.Contains("Error|"));
  // Each line names the call and what to do; none ends in a line break (a blank line).
  EXPECT_TRUE(capture.Contains("[AssertCorvaneSDKManager]|Corvane SDK Manager doesn't exist "
                               "(CorvaneSDKManager_GetAppId): call CorvaneSDKManager_Initialize "
                               "first"));
  for (const auto& line : capture.Lines()) EXPECT_NE(line.back(), '\n');
  EXPECT_EQ(CorvaneSDKManager_GetStoreType(nullptr), -1);
  // A garbage handle is compared, never dereferenced.
  EXPECT_EQ(CorvaneSDKManager_GetUserId(reinterpret_cast<CorvaneSDKManagerRef>(0x1234)), nullptr);
  CorvaneSDKManager_LogEvent(nullptr, CorvaneSDKEvent_Get("leak-check"));  // released
  char* version = CorvaneSDKManager_GetVersion();
  EXPECT_STREQ(version, CorvaneSDK::kSdkVersion);
  std::free(version);
}

TEST_F(ManagerTest, UninitializedManagerSaysSo) {
  // The SDK config request hangs, so initialization is still running.
  server_.SetDefault("/v1/public/config", ScriptedResponse{200, "{}", "application/json", 3000});
  InitializationData* data = Data();
  InitializationData_SetDisableOnlineSdkConfig(data, 0);
  CorvaneSDKManager_Initialize(data);
  InitializationData_Destroy(data);
  CorvaneSDKManagerRef m = CorvaneSDKManager_GetInstance();
  ASSERT_NE(m, nullptr);
  LogCapture capture(kLogError);
  CorvaneSDKManager_Start(m);
  EXPECT_TRUE(capture.Contains("Corvane SDK Manager isn't initialized (CorvaneSDKManager_Start): "
                               "wait for the completion callback"));
  // Destroy during initialization neither hangs nor frees the manager under its worker.
  const auto before = std::chrono::steady_clock::now();
  CorvaneSDKManager_Destroy();
  EXPECT_EQ(CorvaneSDKManager_GetInstance(), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(8));
}

TEST_F(ManagerTest, EventsQueuedWhileServerFailsSurviveRestartExactlyOnce) {
  ScopedFakeClock clock;
  server_.SetDefault("/v4/event", ScriptedResponse{503, "", "text/plain", 0});
  InitializationData* data = Data();
  InitializationData_SetMaxRetries(data, 0);
  CorvaneSDKManagerRef m = Init(data);
  for (int i = 0; i < 5; ++i) CorvaneSDKManager_LogWithIntValue(m, "kept", i);
  ASSERT_TRUE(server_.WaitForCount("/v4/event", 2));
  CorvaneSDKManager_Destroy();
  server_.SetDefault("/v4/event", ScriptedResponse{204, "", "text/plain", 0});
  server_.ClearRequests();
  g_ready = 0;
  Init();
  std::set<std::string> ids;
  int kept = 0;
  for (int i = 0; i < 2000 && kept < 5; ++i) {
    kept = 0;
    ids.clear();
    for (const auto& e : Received()) {
      if (e["eventName"] == "kept") {
        ++kept;
        ids.insert(e["eId"].get<std::string>());
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(kept, 5);
  EXPECT_EQ(ids.size(), 5u);
}

namespace {
std::atomic<int> g_destroyRefused{0};
void DestroyFromCallback(int) {
  CorvaneSDKManager_Destroy();
  if (CorvaneSDKManager_GetInstance() != nullptr) ++g_destroyRefused;
}
std::atomic<int> g_nestedOk{0};
void NestedCall(int) {
  char* user = CorvaneSDKManager_GetUserId(CorvaneSDKManager_GetInstance());
  if (user != nullptr) ++g_nestedOk;
  std::free(user);
}
}  // namespace

TEST_F(ManagerTest, CallbacksRegisteredEarlyRunAndMayCallBack) {
  ScopedFakeClock clock;
  CorvaneSDKManager_AddStartCallback(NestedCall, 1);
  CorvaneSDKManager_AddStartCallback(DestroyFromCallback, 2);
  g_nestedOk = 0;
  g_destroyRefused = 0;
  CorvaneSDKManagerRef m = Init();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(g_nestedOk, 1);
  EXPECT_EQ(g_destroyRefused, 1);
  CorvaneSDKManager_Destroy();
  // Destroy forgot the callbacks: a new manager runs none.
  g_ready = 0;
  Init();
  EXPECT_EQ(g_nestedOk, 1);
}

TEST_F(ManagerTest, CoppaEventSentOnceAndStored) {
  ScopedFakeClock clock;
  InitializationData* data = Data();
  InitializationData_SetEnableCoppa(data, 1);
  Init(data);
  ASSERT_TRUE(WaitForEvent("qvsdk_third_party_sharing"));
  for (const auto& e : Received()) {
    if (e["eventName"] == "qvsdk_third_party_sharing") {
      EXPECT_EQ(e["value"]["enable"], false);
    }
  }
  CorvaneSDKManager_Destroy();
  server_.ClearRequests();
  data = Data();
  InitializationData_SetEnableCoppa(data, 1);
  g_ready = 0;
  Init(data);
  ASSERT_TRUE(WaitForEvent("qvsdk_open"));
  for (const auto& e : Received()) EXPECT_NE(e["eventName"], "qvsdk_third_party_sharing");
}
