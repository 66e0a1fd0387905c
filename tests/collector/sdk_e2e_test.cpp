// The real SDK, driven through its C interface, against an in-process collector on
// 127.0.0.1: events stored once with the right columns, delivery after faults clear, the
// SDK configuration round trip with its hash, and the signed remote config round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "CollectorFixture.h"
#include "CorvaneSDK.h"
#include "Crypto.h"
#include "FakeClock.h"

using namespace CorvaneSDK::Collector;
using namespace CorvaneSDK::Collector::Test;
using CorvaneSDK::Json;
using CorvaneSDK::ParseJson;
using CorvaneSDK::Test::ScopedFakeClock;

namespace {

std::atomic<int> g_ready{0};
void OnReady(int value) {
  g_ready = value;
}

// What the SDK reports as sent: each event and sub-event with its value, once.
std::mutex g_sentMutex;
std::vector<std::pair<std::string, std::string>> g_sent;
std::atomic<int> g_dispatched{0};
void OnSendEvent(const char* name, const char* json, int) {
  std::lock_guard<std::mutex> lock(g_sentMutex);
  g_sent.emplace_back(name, json);
  ++g_dispatched;
}

std::mutex g_remoteMutex;
std::vector<std::string> g_remoteAnswers;
void OnRemoteConfig(const char* json, int) {
  std::lock_guard<std::mutex> lock(g_remoteMutex);
  g_remoteAnswers.push_back(json != nullptr ? json : "(null)");
}
size_t RemoteAnswerCount() {
  std::lock_guard<std::mutex> lock(g_remoteMutex);
  return g_remoteAnswers.size();
}

std::string Take(char* text) {
  std::string out = text != nullptr ? text : "";
  std::free(text);
  return out;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
  for (int i = 0; i < timeoutMs / 5; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

class SdkEndToEndTest : public CollectorFixture {
 protected:
  void SetUp() override {
    g_ready = 0;
    g_dispatched = 0;
    {
      std::lock_guard<std::mutex> lock(g_sentMutex);
      g_sent.clear();
    }
    std::lock_guard<std::mutex> lock(g_remoteMutex);
    g_remoteAnswers.clear();
  }
  void TearDown() override {
    CorvaneSDKManager_Destroy();
    CorvaneSDKManager_RemoveSendEventCallback(1);
  }

  InitializationData* Data(bool onlineSdkConfig) {
    const std::string base = collector_->BaseUrl();
    InitializationData* data = InitializationData_Create("app", "secret");
    InitializationData_SetHost(data, (base + "/v4/event").c_str());
    InitializationData_SetConfigUrl(data, (base + "/v1/public/config").c_str());
    InitializationData_SetSavePath(data, sdkDir_.path().c_str());
    InitializationData_SetDisableOnlineSdkConfig(data, onlineSdkConfig ? 0 : 1);
    InitializationData_SetQueueCheckInterval(data, 20);
    InitializationData_SetSendDelay(data, 0);
    InitializationData_SetInitialRetryInterval(data, 10);
    InitializationData_SetAppVersion(data, "2.5.0");
    InitializationData_SetBundleId(data, "com.example.game");
    InitializationData_SetCustomUserId(data, "player-42");
    InitializationData_SetWrapper(data, "test-engine");
    return data;
  }

  CorvaneSDKManagerRef Init(bool onlineSdkConfig = false) {
    g_ready = 0;
    InitializationData* data = Data(onlineSdkConfig);
    CorvaneSDKManager_Initialize3(data, OnReady, 5);
    InitializationData_Destroy(data);  // the manager copied what it needs
    EXPECT_TRUE(WaitUntil([] { return g_ready == 5; }));
    return CorvaneSDKManager_GetInstance();
  }

  Stats CurrentStats() {
    Stats stats;
    std::string error;
    EXPECT_TRUE(collector_->storage().GetStats("", stats, error)) << error;
    return stats;
  }

  bool HasNames(const std::set<std::string>& names) {
    std::set<std::string> stored;
    for (const auto& entry : CurrentStats().byName) stored.insert(entry.first);
    for (const auto& n : names) {
      if (stored.count(n) == 0) return false;
    }
    return true;
  }

  std::vector<RequestRecord> Requests(const std::string& method, const std::string& prefix) {
    std::vector<RequestRecord> out;
    for (const auto& r : collector_->RecentRequests(200)) {
      if (r.method == method && r.path.compare(0, prefix.size(), prefix) == 0) out.push_back(r);
    }
    return out;  // newest first
  }

  ScopedFakeClock clock_;  // sleeps move time: the 5 s hold of the open event passes at once
  TempDir sdkDir_;
};

}  // namespace

TEST_F(SdkEndToEndTest, EveryEventArrivesOnceWithTheRightColumns) {
  StartCollector();
  CorvaneSDKManager_AddSendEventCallback(OnSendEvent, 1);
  CorvaneSDKManager_OpenURL("demo://reward?item=sword");
  CorvaneSDKManagerRef m = Init();
  ASSERT_EQ(CorvaneSDKManager_IsInitialized(m), 1);
  CorvaneSDKManager_LogLevelStart(m, 3, "cave");
  CorvaneSDKManager_LogWithJsonValue(m, "custom_event", R"({"score":10,"tags":["a","b"]})");
  CorvaneSDKManager_LogAdRevenue2(m, "demo-mediation", 0.25, "USD");

  const std::set<std::string> names = {"qvsdk_first_open", "qvsdk_deep_link", "qvsdk_level_attempt",
                                       "custom_event", "qvsdk_ad_revenue"};
  ASSERT_TRUE(WaitUntil([&] { return HasNames(names); }));
  ASSERT_TRUE(WaitUntil([&] { return CurrentStats().events == g_dispatched.load(); }))
      << "stored " << CurrentStats().events << ", dispatched " << g_dispatched.load();

  const std::string user = Take(CorvaneSDKManager_GetUserId(m));
  const std::string session = Take(CorvaneSDKManager_GetSessionId(m));
  std::vector<StoredEvent> events;
  std::string error;
  ASSERT_TRUE(collector_->storage().GetEvents(EventQuery(), events, error)) << error;
  std::string openEId, linkParent;
  for (const StoredEvent& e : events) {
    EXPECT_EQ(e.userId, user);
    EXPECT_EQ(e.sdkVersion, CorvaneSDK::kSdkVersion);
    EXPECT_EQ(e.platform, "Linux");
    EXPECT_EQ(e.appVersion, "2.5.0");
    EXPECT_EQ(e.bundleId, "com.example.game");
    EXPECT_EQ(e.appId, "app");
    EXPECT_EQ(e.sessionId, session);
    EXPECT_EQ(e.cfgId, "default");
    EXPECT_EQ(e.customUid, "player-42");
    EXPECT_TRUE(IsEventId(e.eId)) << e.eId;
    if (e.name == "qvsdk_first_open") openEId = e.eId;
    if (e.name == "qvsdk_deep_link") linkParent = e.parentEId;
    if (e.name == "custom_event") {
      EXPECT_EQ(e.valueJson, R"({"score":10,"tags":["a","b"]})");
    }
  }
  // Names and values are stored exactly as the SDK reported sending them.
  std::vector<std::pair<std::string, std::string>> stored, sent;
  for (const StoredEvent& e : events) stored.emplace_back(e.name, e.valueJson);
  {
    std::lock_guard<std::mutex> lock(g_sentMutex);
    sent = g_sent;
  }
  std::sort(stored.begin(), stored.end());
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(stored, sent);
  // The deep link waited inside the open event and arrives as its sub-event.
  EXPECT_FALSE(openEId.empty());
  EXPECT_EQ(linkParent, openEId);
  EXPECT_EQ(CurrentStats().duplicates, 0);

  // Every upload was accepted.
  for (const auto& r : Requests("PUT", "/v4/event")) {
    EXPECT_EQ(r.status, 204) << r.note;
  }
}

TEST_F(SdkEndToEndTest, EventsHeldBackByFaultsArriveOnceWhenTheyClear) {
  CollectorOptions options = Options();
  options.faults.status = 503;
  StartCollector(options);
  CorvaneSDKManager_AddSendEventCallback(OnSendEvent, 1);
  CorvaneSDKManagerRef m = Init();
  for (int level = 1; level <= 5; ++level) CorvaneSDKManager_LogLevelStart(m, level, "forest");
  ASSERT_TRUE(WaitUntil([&] { return Requests("PUT", "/v4/event").size() >= 3; }));
  EXPECT_EQ(CurrentStats().events, 0);

  collector_->SetFaults(Faults{0, 0.5, 0, false});  // half the uploads still fail
  ASSERT_TRUE(WaitUntil([&] {
    const Stats s = CurrentStats();
    return s.events == g_dispatched.load() && HasNames({"qvsdk_first_open"}) &&
           s.byName.size() == 2;
  }));
  collector_->SetFaults(Faults());
  const Stats stats = CurrentStats();
  EXPECT_EQ(stats.duplicates, 0);
  EXPECT_EQ(stats.byName, (std::vector<std::pair<std::string, int64_t>>{
                              {"qvsdk_first_open", 1}, {"qvsdk_level_attempt", 5}}));
}

TEST_F(SdkEndToEndTest, SdkConfigRoundTripWithItsHash) {
  const std::string config =
      R"({"appId":"app","appSecret":"secret","thirdPartySettings":{"facebookAppId":"fb-123"}})";
  CollectorOptions options = Options();
  options.sdkConfigs["app"] = WriteFile("sdk.json", config);
  StartCollector(options);
  const std::string hash = CorvaneSDK::ToHex(CorvaneSDK::Sha256(config));

  CorvaneSDKManagerRef m = Init(true);
  Json stored;
  ASSERT_TRUE(ParseJson(Take(CorvaneSDKManager_GetSdkConfig(m)), stored));
  EXPECT_EQ(stored["hash"], hash);
  EXPECT_EQ(stored["thirdPartySettings"]["facebookAppId"], "fb-123");
  EXPECT_EQ(Take(CorvaneSDKManager_GetFacebookAppId(m)), "fb-123");
  auto first = Requests("GET", "/v1/public/config");
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].note, "configuration sent");
  EXPECT_EQ(first[0].query.find("sdk_config_hash"), std::string::npos);

  // The next start sends the stored hash and gets the configuration left out.
  CorvaneSDKManager_Destroy();
  m = Init(true);
  auto second = Requests("GET", "/v1/public/config");
  ASSERT_EQ(second.size(), 2u);
  EXPECT_NE(second[0].query.find("sdk_config_hash=" + hash), std::string::npos) << second[0].query;
  EXPECT_EQ(second[0].note, "configuration unchanged");
  ASSERT_TRUE(ParseJson(Take(CorvaneSDKManager_GetSdkConfig(m)), stored));
  EXPECT_EQ(stored["hash"], hash);
  EXPECT_EQ(Take(CorvaneSDKManager_GetFacebookAppId(m)), "fb-123");
}

TEST_F(SdkEndToEndTest, RemoteConfigRoundTripWithTheSignedRequest) {
  CollectorOptions options = Options();
  options.remoteConfigs["com.example.game"] =
      WriteFile("rc.json", R"({"difficulty":"hard","spawnRate":1.5})");
  StartCollector(options);
  CorvaneSDKManagerRef m = Init();

  CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
  ASSERT_TRUE(WaitUntil([] { return RemoteAnswerCount() == 1; }));
  Json answer;
  {
    std::lock_guard<std::mutex> lock(g_remoteMutex);
    ASSERT_TRUE(ParseJson(g_remoteAnswers[0], answer)) << g_remoteAnswers[0];
  }
  EXPECT_EQ(answer, Json::parse(R"({"difficulty":"hard","spawnRate":1.5})"));
  auto posts = Requests("POST", "/rc/fetch");
  ASSERT_EQ(posts.size(), 1u);
  EXPECT_EQ(posts[0].status, 200) << posts[0].note;  // the SDK's token passed verification
  EXPECT_EQ(Requests("GET", "/rc/doc/").size(), 1u);

  // Unchanged document: same location, so the SDK answers from what it stored.
  CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
  ASSERT_TRUE(WaitUntil([] { return RemoteAnswerCount() == 2; }));
  EXPECT_EQ(Requests("POST", "/rc/fetch").size(), 2u);
  EXPECT_EQ(Requests("GET", "/rc/doc/").size(), 1u);

  WriteFile("rc.json", R"({"difficulty":"easy"})");
  CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
  ASSERT_TRUE(WaitUntil([] { return RemoteAnswerCount() == 3; }));
  std::lock_guard<std::mutex> lock(g_remoteMutex);
  EXPECT_EQ(g_remoteAnswers[1], R"({"difficulty":"hard","spawnRate":1.5})");
  EXPECT_EQ(g_remoteAnswers[2], R"({"difficulty":"easy"})");
}
