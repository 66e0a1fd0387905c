// The SDK configuration end to end: the request (query members, hash on later runs), the
// attempt rule (404 once, 429/503 four attempts 5000 ms apart), the answer (accepted only
// for this app, stored with its hash, the stored one applied when nothing new arrives), and
// members of the wrong type ignored with a Warning instead of ending the process.
#include <gtest/gtest.h>

#include <mutex>

#include "Clock.h"
#include "Env.h"
#include "ConfigDocuments.h"
#include "ConfigTestHarness.h"
#include "FakeClock.h"
#include "LogCapture.h"
#include "Sender.h"
#include "Utils.h"
#include "Version.h"

using namespace CorvaneSDK;
using namespace CorvaneSDK::Test;

namespace {

Json Config(const Json& extra = Json::object()) {
  Json config = {{"appId", "app"}, {"appSecret", "secret"}};
  for (auto it = extra.begin(); it != extra.end(); ++it) config[it.key()] = it.value();
  return config;
}

std::string Answer(const Json& config, const std::string& hash) {
  return DumpJson(Json{{"sdk_config", config}, {"sdk_config_hash", hash}});
}

class SdkConfigTest : public ConfigHarness {
 protected:
  std::string Platform() const { return Utils::PlatformName(); }
  std::string StoredConfigText(CorvaneSDKManagerRef m) {
    return Take(CorvaneSDKManager_GetSdkConfig(m));
  }
  // Restarts the manager with the same save folder.
  CorvaneSDKManagerRef Restart(::InitializationData* data) {
    CorvaneSDKManager_Destroy();
    server_.ClearRequests();
    return Init(data);
  }
};

}  // namespace

TEST_F(SdkConfigTest, QueryKeysInOrderAndTheHashOnLaterRuns) {
  ScopedFakeClock clock;
  server_.SetDefault(kConfigPath,
                     Reply(200, Answer(Config({{"thirdPartySettings", {{"facebookAppId", "fb-1"}}}}),
                                       "h1")));
  CorvaneSDKManagerRef m = Init(Data(true));
  ASSERT_NE(m, nullptr);
  auto requests = server_.Requests(kConfigPath);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  // First run: nothing stored, so no hash member.
  EXPECT_EQ(requests[0].query, "app_id=app&platform=" + Platform() + "&version=0.0.1");
  EXPECT_EQ(requests[0].Header("User-Agent"), std::string(CorvaneSDK::kUserAgent));
  EXPECT_EQ(requests[0].Header("Accept"), "*/*");
  EXPECT_EQ(Take(CorvaneSDKManager_GetFacebookAppId(m)), "fb-1");
  Json stored;
  ASSERT_TRUE(ParseJson(StoredConfigText(m), stored));
  EXPECT_EQ(stored.value("hash", ""), "h1");
  EXPECT_EQ(stored.value("appId", ""), "app");

  // Later run: the stored hash goes last; values are percent-encoded; an answer with only
  // the hash keeps and applies the stored configuration.
  server_.SetDefault(kConfigPath, Reply(200, R"({"sdk_config_hash":"h1"})"));
  ::InitializationData* data = Data(true);
  InitializationData_SetAppVersion(data, "2.0 beta&x=1");
  m = Restart(data);
  ASSERT_NE(m, nullptr);
  requests = server_.Requests(kConfigPath);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].query,
            "app_id=app&platform=" + Platform() + "&version=2.0%20beta%26x%3D1&sdk_config_hash=h1");
  EXPECT_EQ(Take(CorvaneSDKManager_GetFacebookAppId(m)), "fb-1");
  ASSERT_TRUE(ParseJson(StoredConfigText(m), stored));
  EXPECT_EQ(stored.value("hash", ""), "h1");
}

TEST_F(SdkConfigTest, NotFoundEndsTheRequestAtOnce) {
  ScopedFakeClock clock;
  server_.SetDefault(kConfigPath, Reply(404));
  CorvaneSDKManagerRef m = Init(Data(true));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(server_.Count(kConfigPath), 1u);
  EXPECT_EQ(StoredConfigText(m), "");
}

TEST_F(SdkConfigTest, TooManyRequestsAndUnavailableMakeFourAttemptsFiveSecondsApart) {
  ScopedFakeClock clock;
  std::mutex mutex;
  std::vector<int64_t> times;
  const int statuses[] = {429, 503, 503, 503};
  server_.SetHandler(kConfigPath, [&](const RecordedRequest&) {
    std::lock_guard<std::mutex> lock(mutex);
    times.push_back(GetClock().MonotonicMs());
    if (times.size() <= 4) return Reply(statuses[times.size() - 1]);
    return Reply(200, Answer(Config(), "late"));  // never reached
  });
  CorvaneSDKManagerRef m = Init(Data(true));
  ASSERT_NE(m, nullptr);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(times.size(), 4u);
  for (size_t i = 1; i < times.size(); ++i) EXPECT_GE(times[i] - times[i - 1], 5000);
  EXPECT_EQ(StoredConfigText(m), "");
}

TEST_F(SdkConfigTest, RetriedRequestThatSucceedsIsApplied) {
  ScopedFakeClock clock;
  server_.Script(kConfigPath, {Reply(503), Reply(429)});
  server_.SetDefault(kConfigPath,
                     Reply(200, Answer(Config({{"thirdPartySettings", {{"snapAppId", "snap-3"}}}}),
                                       "h3")));
  CorvaneSDKManagerRef m = Init(Data(true));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(server_.Count(kConfigPath), 3u);
  EXPECT_EQ(Take(CorvaneSDKManager_GetSnapAppId(m)), "snap-3");
}

TEST_F(SdkConfigTest, ConfigurationForAnotherAppIsIgnoredAndTheStoredOneApplied) {
  ScopedFakeClock clock;
  server_.SetDefault(kConfigPath,
                     Reply(200, Answer(Config({{"thirdPartySettings", {{"facebookAppId", "fb-1"}}}}),
                                       "h1")));
  ASSERT_NE(Init(Data(true)), nullptr);

  LogCapture capture(kLogWarning);
  const Json foreign[] = {
      {{"appId", "other-app"}, {"appSecret", "secret"}},
      {{"appId", "app"}, {"appSecret", "other-secret"}},
      {{"appId", "app"}},  // no secret
  };
  for (const Json& identity : foreign) {
    Json config = identity;
    config["thirdPartySettings"] = {{"facebookAppId", "fb-2"}};
    server_.SetDefault(kConfigPath, Reply(200, Answer(config, "h2")));
    CorvaneSDKManagerRef m = Restart(Data(true));
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(Take(CorvaneSDKManager_GetFacebookAppId(m)), "fb-1") << identity.dump();
    Json stored;
    ASSERT_TRUE(ParseJson(StoredConfigText(m), stored));
    EXPECT_EQ(stored.value("hash", ""), "h1");
  }
  EXPECT_EQ(capture.CountContaining("SDK configuration is for another app"), 2);
  EXPECT_TRUE(capture.Contains("SDK configuration has no string \"appSecret\""));
}

TEST_F(SdkConfigTest, StoredConfigurationAppliedWhenTheRequestFails) {
  ScopedFakeClock clock;
  const std::string settings = PlatformSettingsMember(Platform());
  server_.SetDefault(
      kConfigPath,
      Reply(200, Answer(Config({{"thirdPartySettings", {{"facebookAppId", "fb-1"}}},
                                {settings, {{"bundleId", "com.cfg.game"}, {"appVersion", "9.9"}}}}),
                        "h1")));
  ASSERT_NE(Init(Data(true)), nullptr);

  server_.SetDefault(kConfigPath, Reply(500));
  ::InitializationData* data = Data(true);
  InitializationData_SetBundleId(data, "com.host.game");
  CorvaneSDKManagerRef m = Restart(data);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(server_.Count(kConfigPath), 4u);
  EXPECT_EQ(Take(CorvaneSDKManager_GetFacebookAppId(m)), "fb-1");
  // The platform's app values replace the host's in what is sent.
  ASSERT_TRUE(WaitForEvent("qvsdk_open"));
  const Json batch = BatchWith("qvsdk_open");
  EXPECT_EQ(batch.value("bundleId", ""), "com.cfg.game");
  EXPECT_EQ(batch.value("appVersion", ""), "9.9");

  // Without the online request the stored configuration applies as well.
  m = Restart(Data(false));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(server_.Count(kConfigPath), 0u);
  EXPECT_EQ(Take(CorvaneSDKManager_GetFacebookAppId(m)), "fb-1");
}

TEST_F(SdkConfigTest, OversizedAnswerIsAFailedAttempt) {
  ScopedFakeClock clock;
  server_.SetDefault(kConfigPath,
                     Reply(200, Answer(Config({{"thirdPartySettings", {{"qqAppId", "qq-1"}}}}), "h1")));
  ASSERT_NE(Init(Data(true)), nullptr);

  // Valid JSON, one byte over the bound.
  const std::string prefix = R"({"sdk_config_hash":"h9","pad":")";
  std::string huge = prefix + std::string(kMaxResponseBytes + 1 - prefix.size() - 2, 'x') + "\"}";
  ASSERT_EQ(huge.size(), kMaxResponseBytes + 1);
  server_.SetDefault(kConfigPath, Reply(200, huge));
  CorvaneSDKManagerRef m = Restart(Data(true));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(server_.Count(kConfigPath), 4u);
  EXPECT_EQ(Take(CorvaneSDKManager_GetQQAppId(m)), "qq-1");
}

TEST_F(SdkConfigTest, MembersOfTheWrongTypeAreIgnoredWithAWarning) {
  ScopedFakeClock clock;
  LogCapture capture(kLogWarning);
  // A configuration whose app id is a number is rejected whole.
  server_.SetDefault(kConfigPath,
                     Reply(200, Answer(Json{{"appId", 5}, {"appSecret", "secret"}}, "h0")));
  CorvaneSDKManagerRef m = Init(Data(true));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(StoredConfigText(m), "");
  EXPECT_TRUE(capture.Contains("SDK configuration has no string \"appId\""));

  // Members of the wrong type cost only themselves.
  const std::string settings = PlatformSettingsMember(Platform());
  Json config = Config({{"thirdPartySettings", {{"facebookAppId", 3}, {"snapAppId", "snap-1"}}},
                        {settings, {{"bundleId", Json::array({"x"})}, {"appBuildNumber", "77"}}},
                        {"modules", "not-an-array"}});
  server_.SetDefault(kConfigPath,
                     Reply(200, DumpJson(Json{{"sdk_config", config}, {"sdk_config_hash", 12}})));
  ::InitializationData* data = Data(true);
  InitializationData_SetFacebookAppId(data, "fb-host");
  InitializationData_SetBundleId(data, "com.host.game");
  m = Restart(data);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(Take(CorvaneSDKManager_GetSnapAppId(m)), "snap-1");
  EXPECT_EQ(Take(CorvaneSDKManager_GetFacebookAppId(m)), "fb-host");
  Json stored;
  ASSERT_TRUE(ParseJson(StoredConfigText(m), stored));
  EXPECT_FALSE(stored.contains("hash"));  // the hash was a number
  EXPECT_TRUE(capture.Contains("\"facebookAppId\" is not a string; ignored"));
  EXPECT_TRUE(capture.Contains("\"" + settings + ".bundleId\" is not a string; ignored"));
  EXPECT_TRUE(capture.Contains("\"modules\" is not an array; ignored"));
  EXPECT_TRUE(capture.Contains("\"sdk_config_hash\" is not a string"));
  ASSERT_TRUE(WaitForEvent("qvsdk_open"));
  const Json batch = BatchWith("qvsdk_open");
  EXPECT_EQ(batch.value("bundleId", ""), "com.host.game");
  EXPECT_EQ(batch.value("buildNumber", ""), "77");
}

TEST_F(SdkConfigTest, MalformedAnswersLeaveTheStoredConfiguration) {
  ScopedFakeClock clock;
  server_.SetDefault(kConfigPath,
                     Reply(200, Answer(Config({{"thirdPartySettings", {{"tikTokAppId", "tt-1"}}}}), "h1")));
  ASSERT_NE(Init(Data(true)), nullptr);
  const std::string answers[] = {
      "not json",
      "[1,2,3]",
      R"({"sdk_config":[1]})",
      R"({"sdk_config":"text","sdk_config_hash":"h2"})",
      std::string(100000, '[') + std::string(100000, ']'),
      R"({"sdk_config":)" + std::string(70, '{'),
      std::string("{\"sdk_config\":{\"appId\":\"app\xff\"}}"),
  };
  for (const std::string& answer : answers) {
    server_.SetDefault(kConfigPath, Reply(200, answer));
    CorvaneSDKManagerRef m = Restart(Data(true));
    ASSERT_NE(m, nullptr) << answer.substr(0, 40);
    EXPECT_EQ(Take(CorvaneSDKManager_GetTikTokAppId(m)), "tt-1") << answer.substr(0, 40);
  }
}

TEST_F(SdkConfigTest, StoredConfigurationOfAnotherAppIsNotApplied) {
  ScopedFakeClock clock;
  server_.SetDefault(kConfigPath,
                     Reply(200, Answer(Config({{"thirdPartySettings", {{"weChatAppId", "wc-1"}}}}), "h1")));
  ASSERT_NE(Init(Data(true)), nullptr);
  CorvaneSDKManager_Destroy();
  server_.ClearRequests();
  server_.SetDefault(kConfigPath, Reply(500));
  // Same save folder, another app id: neither applied nor named by its hash.
  LogCapture capture(kLogWarning);
  ::InitializationData* other = InitializationData_Create("other-app", "secret");
  InitializationData_SetHost(other, server_.Url(kEventPath).c_str());
  InitializationData_SetConfigUrl(other, server_.Url(kConfigPath).c_str());
  InitializationData_SetSavePath(other, dir_.path().c_str());
  CorvaneSDKManagerRef m = Init(other);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(Take(CorvaneSDKManager_GetWeChatAppId(m)), "");
  const auto requests = server_.Requests(kConfigPath);
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests[0].query.find("sdk_config_hash"), std::string::npos);
  EXPECT_TRUE(capture.Contains("Stored SDK configuration is for another app"));
}
