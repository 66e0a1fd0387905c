// Sessions, the open event hold, held events, sending switches and privacy flags, end to
// end through the C interface.
#include "CorvaneSDKManager.h"
#include "EnvVars.h"
#include "FakeClock.h"
#include "FileIO.h"
#include "TestEnv.h"
#include "Utils.h"
#include "manager_harness.h"

using CorvaneSDK::Json;
using namespace CorvaneSDK::Test;

namespace {
class ManagerSession : public ManagerHarness {
 protected:
  // Lets the sending thread run a few cycles without moving the manual clock.
  void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(80)); }
  CorvaneSDK::CorvaneSDKManager* Manager() {
    return reinterpret_cast<CorvaneSDK::CorvaneSDKManager*>(CorvaneSDKManager_GetInstance());
  }
};
}  // namespace

TEST_F(ManagerSession, OpenEventHoldsCacheableEventsAsSubEventsAndBlocksTheQueue) {
  ScopedFakeClock clock(false);
  CorvaneSDKManagerRef m = Init();
  const int64_t initWall = clock->WallMs();
  CorvaneSDKManager_OpenURL("game://x");       // cacheable: held under the open event
  CorvaneSDKManager_Log(m, "ordinary");        // queued at once, stamped with the session
  Settle();
  EXPECT_EQ(server_.Count("/v4/event"), 0u);   // nothing leaves before the open event
  clock->Advance(5000);
  ASSERT_TRUE(WaitForCountAdvancing(clock, "ordinary", 1));
  const std::string session = Take(CorvaneSDKManager_GetSessionId(m));
  auto opens = Named("qvsdk_first_open");
  ASSERT_EQ(opens.size(), 1u);
  ASSERT_EQ(opens[0]["subEvents"].size(), 1u);
  EXPECT_EQ(opens[0]["subEvents"][0]["eventName"], "qvsdk_deep_link");
  EXPECT_EQ(opens[0]["subEvents"][0]["id"], session);
  EXPECT_EQ(Named("ordinary")[0]["id"], session);
  // The click time is Unix-epoch milliseconds, like every other time we send.
  EXPECT_EQ(opens[0]["subEvents"][0]["value"]["click_time"].get<int64_t>(), initWall);
}

TEST_F(ManagerSession, The101stHeldEventGoesOnItsOwn) {
  ScopedFakeClock clock(false);
  CorvaneSDKManagerRef m = Init();
  for (int i = 0; i < 101; ++i) CorvaneSDKManager_Log2(m, "held", CORVANE_EVENT_FLAG_CACHEABLE);
  EXPECT_EQ(Manager()->HeldEventCount(), 100u);
  clock->Advance(5000);
  ASSERT_TRUE(WaitForCountAdvancing(clock, "held", 101));
  int asSub = 0;
  for (const auto& e : Named("held")) asSub += e.contains("parent") ? 1 : 0;
  EXPECT_EQ(asSub, 100);
}

TEST_F(ManagerSession, CustomConfigIdKeepsEventsQueuedUntilOneIsSet) {
  ScopedFakeClock clock;
  ::InitializationData* data = Data();
  InitializationData_SetCustomConfigId(data, 1);
  CorvaneSDKManagerRef m = Init(data);
  CorvaneSDKManager_Log(m, "waiting");
  Settle();
  EXPECT_EQ(server_.Count("/v4/event"), 0u);
  CorvaneSDKManager_SetConfigId(m, "cfg-7");
  ASSERT_TRUE(WaitForCount("waiting", 1));
  // Stamped when it was queued, before a config id existed.
  EXPECT_EQ(Named("waiting")[0]["cfgId"], "");
  CorvaneSDKManager_Log(m, "later");
  ASSERT_TRUE(WaitForCount("later", 1));
  EXPECT_EQ(Named("later")[0]["cfgId"], "cfg-7");
}

TEST_F(ManagerSession, OfflineAndBackgroundSwitchesPauseSendingWithoutDroppingEvents) {
  ScopedFakeClock clock;
  ::InitializationData* data = Data();
  InitializationData_SetSendInBackground(data, 0);
  // The switches go through the executor that also runs the queue's syncs; a slow disk sync
  // there would outlast the fixed settling times below.
  InitializationData_SetQueueSyncInterval(data, 0);
  CorvaneSDKManagerRef m = Init(data);
  CorvaneSDKManager_Log(m, "background");
  Settle();
  EXPECT_EQ(server_.Count("/v4/event"), 0u);  // not in the foreground yet
  CorvaneSDKManager_OnResume(m);
  ASSERT_TRUE(WaitForCount("background", 1));
  CorvaneSDKManager_SetOffline(m, 1);
  Settle();  // switches reach the sending thread through the command worker
  CorvaneSDKManager_Log(m, "offline");
  Settle();
  EXPECT_TRUE(Named("offline").empty());
  CorvaneSDKManager_SetOffline(m, 0);
  ASSERT_TRUE(WaitForCount("offline", 1));
  CorvaneSDKManager_OnPause(m);
  Settle();
  CorvaneSDKManager_Log(m, "paused");
  Settle();
  EXPECT_TRUE(Named("paused").empty());
  CorvaneSDKManager_OnResume(m);
  ASSERT_TRUE(WaitForCount("paused", 1));
}

TEST_F(ManagerSession, StoredForgetMeNeverStartsAndDropsEvents) {
  ASSERT_TRUE(WriteFileBytes(dir_.File(".properties"), R"({"gdprForgetMe":true,"userId":"u-1"})"));
  ScopedFakeClock clock;
  CorvaneSDKManagerRef m = Init();
  ASSERT_EQ(CorvaneSDKManager_IsInitialized(m), 1);
  EXPECT_EQ(Take(CorvaneSDKManager_GetUserId(m)), "u-1");
  EXPECT_TRUE(Take(CorvaneSDKManager_GetSessionId(m)).empty());
  CorvaneSDKManager_Log(m, "dropped");
  CorvaneSDKManager_GdprForgetMe(m);  // unsupported: logged only
  Settle();
  EXPECT_EQ(server_.Count("/v4/event"), 0u);
}

TEST_F(ManagerSession, PropertiesOfTheWrongShapeAreTreatedAsEmpty) {
  for (const char* text : {"[1,2]", R"({"userId":5,"gdprForgetMe":"yes"})", "{bad", ""}) {
    ASSERT_TRUE(WriteFileBytes(dir_.File(".properties"), text));
    ScopedFakeClock clock;
    CorvaneSDKManagerRef m = Init();
    ASSERT_EQ(CorvaneSDKManager_IsInitialized(m), 1) << text;
    EXPECT_EQ(Take(CorvaneSDKManager_GetUserId(m)).size(), 36u) << text;
    ASSERT_TRUE(WaitForCount("qvsdk_first_open", 1)) << text;
    CorvaneSDKManager_Destroy();
    server_.ClearRequests();
    // The file was rewritten as an object holding the new user id.
    Json stored;
    ASSERT_TRUE(CorvaneSDK::ParseJson(ReadFileBytes(dir_.File(".properties")), stored));
    EXPECT_TRUE(stored["userId"].is_string());
  }
}

TEST_F(ManagerSession, SaveOffWritesNothingAndSendsOpen) {
  ScopedFakeClock clock;
  ::InitializationData* data = Data();
  InitializationData_SetEnableSave(data, 0);
  Init(data);
  ASSERT_TRUE(WaitForCount("qvsdk_open", 1));
  EXPECT_FALSE(CorvaneSDK::FileExists(dir_.File(".properties")));
  EXPECT_FALSE(CorvaneSDK::FileExists(dir_.File(".event_queue")));
}

TEST_F(ManagerSession, NewSessionSendsAStillPendingOpenEventFirst) {
  ScopedFakeClock clock(false);
  ::InitializationData* data = Data();
  InitializationData_SetOffline(data, 1);
  CorvaneSDKManagerRef m = Init(data);
  CorvaneSDKManager_OnPause(m);
  clock->Advance(40000);
  CorvaneSDKManager_OnResume(m);  // a new session while the first open event still waits
  CorvaneSDKManager_SetOffline(m, 0);
  clock->Advance(5000);
  ASSERT_TRUE(WaitForCountAdvancing(clock, "qvsdk_open", 1));
  ASSERT_TRUE(WaitForCount("qvsdk_first_open", 1));  // not discarded
}

TEST_F(ManagerSession, TheNextSessionCarriesTheNewNetworkAddress) {
  std::atomic<int> which{0};
  ::CorvaneSDK::Test::ProcessEnv().SetNetworkQuery([&]() {
    return CorvaneSDK::Utils::NetworkAddress{which == 0 ? "10.0.0.1" : "10.0.0.2", "aa:bb"};
  });
  ScopedFakeClock clock(false);
  CorvaneSDKManagerRef m = Init();
  which = 1;
  CorvaneSDKManager_OnPause(m);
  clock->Advance(30001);
  CorvaneSDKManager_OnResume(m);
  clock->Advance(5000);
  ASSERT_TRUE(WaitForCountAdvancing(clock, "qvsdk_open", 1));
  ASSERT_TRUE(WaitForCount("qvsdk_first_open", 1));
  EXPECT_EQ(Named("qvsdk_first_open")[0]["value"]["local_ip"], "10.0.0.1");
  EXPECT_EQ(Named("qvsdk_open")[0]["value"]["local_ip"], "10.0.0.2");
  ::CorvaneSDK::Test::ProcessEnv().SetNetworkQuery(nullptr);
}

TEST_F(ManagerSession, CachedEventsWaitForTheFirstStart) {
  ScopedFakeClock clock;
  CorvaneSDKManager_LogEventCache(CorvaneSDKEvent_Get("cached-early"));
  ::InitializationData* data = Data();
  InitializationData_SetAutoStart(data, 0);
  CorvaneSDKManagerRef m = Init(data);
  CorvaneSDKManager_LogEventCache(CorvaneSDKEvent_Get("cached-late"));
  Settle();
  EXPECT_EQ(server_.Count("/v4/event"), 0u);
  CorvaneSDKManager_Start(m);
  ASSERT_TRUE(WaitForCount("cached-late", 1));
  ASSERT_TRUE(WaitForCount("cached-early", 1));
}

namespace {
std::atomic<int> g_selfRemoving{0};
std::atomic<int> g_addedLater{0};
void AddedLater(int) { ++g_addedLater; }
void RemovesItself(int id) {
  ++g_selfRemoving;
  CorvaneSDKManager_RemoveStartCallback(id);
  CorvaneSDKManager_AddStartCallback(AddedLater, 50);
}
}  // namespace

TEST_F(ManagerSession, CallbacksMayRemoveThemselvesAndAddOthers) {
  ScopedFakeClock clock;
  g_selfRemoving = 0;
  g_addedLater = 0;
  CorvaneSDKManager_AddStartCallback(RemovesItself, 10);
  CorvaneSDKManagerRef m = Init();
  EXPECT_EQ(g_selfRemoving, 1);
  EXPECT_EQ(g_addedLater, 0);  // added during the walk: runs from the next Start on
  CorvaneSDKManager_Stop(m);
  CorvaneSDKManager_Start(m);
  EXPECT_EQ(g_selfRemoving, 1);
  EXPECT_EQ(g_addedLater, 1);
}

TEST_F(ManagerSession, AWallClockSetBackDoesNotStallUploads) {
  ScopedFakeClock clock;
  CorvaneSDKManagerRef m = Init();
  ASSERT_TRUE(WaitForCount("qvsdk_first_open", 1));
  clock->SetWall(clock->WallMs() - 24LL * 3600 * 1000);  // the user turns the clock back a day
  CorvaneSDKManager_Log(m, "after-clock-change");
  ASSERT_TRUE(WaitForCount("after-clock-change", 1));
}

namespace {
std::atomic<int> g_linkCallbacks{0};
void CountLink(const char*, int) { ++g_linkCallbacks; }
std::atomic<bool> g_linkReady{false};
void OpenUrlWhenReady(int) {
  CorvaneSDKManager_OpenURL("game://from-completion");
  g_linkReady = true;
}
}  // namespace

TEST_F(ManagerSession, ADeepLinkOpenedFromTheCompletionCallbackIsReportedOnce) {
  ScopedFakeClock clock;
  g_linkCallbacks = 0;
  g_linkReady = false;
  CorvaneSDKManager_AddDeepLinkCallback(CountLink, 1);
  ::InitializationData* data = Data();
  CorvaneSDKManager_Initialize2(data, OpenUrlWhenReady);
  InitializationData_Destroy(data);
  for (int i = 0; i < 5000 && !g_linkReady; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(WaitForCount("qvsdk_deep_link", 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(Named("qvsdk_deep_link").size(), 1u);
  EXPECT_EQ(g_linkCallbacks, 1);
}

TEST_F(ManagerSession, WithoutASavePathBothFilesLiveInTheDefaultFolder) {
  ScopedFakeClock clock;
  const char* previous = std::getenv("XDG_DATA_HOME");
  const std::string saved = previous != nullptr ? previous : "";
  const std::string xdg = dir_.File("xdg");
  SetEnv("XDG_DATA_HOME", xdg.c_str());
  ::InitializationData* data = InitializationData_Create("app", "secret");
  InitializationData_SetHost(data, server_.Url("/v4/event").c_str());
  InitializationData_SetDisableOnlineSdkConfig(data, 1);
  CorvaneSDKManagerRef m = Init(data);
  CorvaneSDKManager_Log(m, "x");
  const std::string folder = xdg + "/CorvaneSDK/app";
  EXPECT_TRUE(CorvaneSDK::FileExists(folder + "/.properties"));
  EXPECT_TRUE(CorvaneSDK::FileExists(folder + "/.event_queue"));
  CorvaneSDKManager_Destroy();
  if (previous != nullptr) {
    SetEnv("XDG_DATA_HOME", saved.c_str());
  } else {
    UnsetEnv("XDG_DATA_HOME");
  }
}
