// Remote config end to end through the C interface: the test server checks the signed token
// with the key like the backend; the document is stored and answered; an unchanged location
// makes no GET; a document that is not an object is refused; one fetch at a time; the
// callback is called exactly once per started fetch; enable save off keeps it in memory.
#include <gtest/gtest.h>

#include <mutex>

#include "ConfigDocuments.h"
#include "ConfigTestHarness.h"
#include "Crypto.h"
#include "FakeClock.h"
#include "LogCapture.h"
#include "RemoteConfigSender.h"
#include "Utils.h"

using namespace CorvaneSDK;
using namespace CorvaneSDK::Test;

namespace {

struct Answered {
  std::string config;
  int value;
  bool operator==(const Answered& o) const { return config == o.config && value == o.value; }
};

std::mutex g_mutex;
std::vector<Answered> g_answers;

void OnRemoteConfig(const char* config, int value) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_answers.push_back({config != nullptr ? config : "<null>", value});
}

// Asks for the next fetch from inside the callback of the first one.
void FetchAgainFromCallback(const char* config, int value) {
  OnRemoteConfig(config, value);
  if (value == 1) {
    CorvaneSDKManager_FetchRemoteConfig2(CorvaneSDKManager_GetInstance(), OnRemoteConfig, 2);
  }
}

std::vector<Answered> Answers() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_answers;
}

std::vector<std::string> Split(const std::string& token) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    const size_t dot = token.find('.', begin);
    parts.push_back(token.substr(begin, dot == std::string::npos ? dot : dot - begin));
    if (dot == std::string::npos) return parts;
    begin = dot + 1;
  }
}

class RemoteConfigTest : public ConfigHarness {
 protected:
  static constexpr const char* kFetchPath = "/rc/fetch";

  void SetUp() override {
    ConfigHarness::SetUp();
    std::lock_guard<std::mutex> lock(g_mutex);
    g_answers.clear();
  }

  // The backend's check of the POST: the signature with the key, the claims and the body.
  // Returns what is wrong, empty when the request is sound.
  std::string Verify(const RecordedRequest& request, const std::string& bundleId,
                     int buildNumber) {
    const auto parts = Split(request.Header("Quorvel-Token"));
    if (parts.size() != 3) return "token is not three parts";
    if (parts[2] != Base64UrlEncode(HmacSha256(TokenKey(), parts[0] + "." + parts[1]))) {
      return "signature does not verify";
    }
    std::string header, claimsText;
    if (!Base64UrlDecode(parts[0], header) || !Base64UrlDecode(parts[1], claimsText)) {
      return "not base64url";
    }
    if (header != R"({"alg":"HS256","typ":"JWT"})") return "header " + header;
    Json claims;
    if (!ParseJson(claimsText, claims) || !claims.is_object()) return "claims " + claimsText;
    const int64_t latest = (GetClock().WallMs() - 5000) / 1000;
    const int64_t iat = claims.value("iat", int64_t{0});
    if (iat > latest || iat < latest - 600) return "iat " + std::to_string(iat);
    if (claims.value("iss", "") != "Quorvel") return "iss";
    if (claims.value("sub", "") != bundleId) return "sub";
    if (claims.value("jti", "").size() != 36) return "jti";
    if (request.method != "POST") return "method " + request.method;
    if (request.Header("Content-Type") != "application/json") return "content type";
    Json body;
    if (!ParseJson(request.body, body)) return "body " + request.body;
    const Json expected = {{"buildNumber", buildNumber},
                           {"bundleId", bundleId},
                           {"platform", Utils::PlatformName()},
                           {"qvUid", Take(CorvaneSDKManager_GetUserId(CorvaneSDKManager_GetInstance()))}};
    if (body != expected) return "body " + request.body;
    return std::string();
  }

  // The POST answers with `location` (a path of this server) when the request verifies.
  void ServeLocation(const std::string& path, const std::string& bundleId = "com.example.game",
                     int buildNumber = 12) {
    server_.SetHandler(kFetchPath, [=](const RecordedRequest& request) {
      const std::string fault = Verify(request, bundleId, buildNumber);
      std::lock_guard<std::mutex> lock(faultsMutex_);
      if (!fault.empty()) {
        faults_.push_back(fault);
        return Reply(401);
      }
      return Reply(200, DumpJson(Json{{"message", server_.Url(path)}}));
    });
  }

  ::InitializationData* Data(bool enableSave = true) {
    ::InitializationData* data = ConfigHarness::Data();
    InitializationData_SetBundleId(data, "com.example.game");
    InitializationData_SetAppBuildNumber(data, "12b");
    InitializationData_SetEnableSave(data, enableSave ? 1 : 0);
    return data;
  }

  bool WaitForAnswers(size_t count) {
    for (int i = 0; i < 10000; ++i) {
      if (Answers().size() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  std::vector<std::string> Faults() {
    std::lock_guard<std::mutex> lock(faultsMutex_);
    return faults_;
  }

  Json StoredProperties() {
    Json properties;
    ParseJson(ReadFileBytes(dir_.File(".properties")), properties);
    return properties;
  }

  std::mutex faultsMutex_;
  std::vector<std::string> faults_;
};

const char kDocument[] = "{ \"feature\": true, \"n\": 3 }";

}  // namespace

TEST_F(RemoteConfigTest, SignedFetchStoresTheDocumentAndAnUnchangedLocationMakesNoGet) {
  ScopedFakeClock clock;
  ServeLocation("/rc/doc1");
  server_.SetDefault("/rc/doc1", Reply(200, kDocument));
  CorvaneSDKManagerRef m = Init(Data());
  ASSERT_NE(m, nullptr);

  CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Faults(), std::vector<std::string>());
  EXPECT_EQ(Answers()[0], (Answered{kDocument, 0}));  // the document as served
  EXPECT_EQ(server_.Count("/rc/doc1"), 1u);
  const Json stored = StoredProperties();
  EXPECT_EQ(stored.value("remoteConfig", ""), kDocument);
  EXPECT_EQ(stored.value("remoteConfigPath", ""), server_.Url("/rc/doc1"));

  CorvaneSDKManager_FetchRemoteConfig2(m, OnRemoteConfig, 42);
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[1], (Answered{R"({"feature":true,"n":3})", 42}));
  EXPECT_EQ(server_.Count(kFetchPath), 2u);
  EXPECT_EQ(server_.Count("/rc/doc1"), 1u);

  // After a restart the stored location still counts.
  CorvaneSDKManager_Destroy();
  m = Init(Data());
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
  ASSERT_TRUE(WaitForAnswers(3));
  EXPECT_EQ(Answers()[2], (Answered{R"({"feature":true,"n":3})", 0}));
  EXPECT_EQ(server_.Count("/rc/doc1"), 1u);
  EXPECT_EQ(Faults(), std::vector<std::string>());
}

TEST_F(RemoteConfigTest, DocumentThatIsNotAnObjectIsRefusedAndTheStoredOneAnswered) {
  ScopedFakeClock clock;
  ServeLocation("/rc/doc1");
  server_.SetDefault("/rc/doc1", Reply(200, R"({"a":1})"));
  server_.SetDefault("/rc/doc2", Reply(200, "[1,2]"));
  server_.SetDefault("/rc/doc3", Reply(200, ""));
  server_.SetDefault("/rc/doc4", Reply(200, std::string(100000, '{')));
  CorvaneSDKManagerRef m = Init(Data());
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
  ASSERT_TRUE(WaitForAnswers(1));

  LogCapture capture(kLogWarning);
  size_t answered = 1;
  for (const char* path : {"/rc/doc2", "/rc/doc3", "/rc/doc4"}) {
    ServeLocation(path);
    CorvaneSDKManager_FetchRemoteConfig2(m, OnRemoteConfig, 5);
    ASSERT_TRUE(WaitForAnswers(++answered));
    EXPECT_EQ(Answers().back(), (Answered{R"({"a":1})", 5})) << path;
    EXPECT_EQ(server_.Count(path), 1u);
  }
  EXPECT_EQ(capture.CountContaining("is not a JSON object; ignored"), 3);
  EXPECT_EQ(StoredProperties().value("remoteConfigPath", ""), server_.Url("/rc/doc1"));
}

TEST_F(RemoteConfigTest, TwoFetchesInARowStartOne) {
  ScopedFakeClock clock;
  server_.SetDefault(kFetchPath, ScriptedResponse{200, R"({"message":""})", "application/json", 300});
  CorvaneSDKManagerRef m = Init(Data());
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_FetchRemoteConfig2(m, OnRemoteConfig, 1);
  CorvaneSDKManager_FetchRemoteConfig2(m, OnRemoteConfig, 2);  // dropped: one is running
  ASSERT_TRUE(WaitForAnswers(1));
  // The next fetch starts only when the first has finished, so its answer comes second.
  CorvaneSDKManager_FetchRemoteConfig2(m, OnRemoteConfig, 3);
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers(), (std::vector<Answered>{{"", 1}, {"", 3}}));
  EXPECT_EQ(server_.Count(kFetchPath), 2u);
}

TEST_F(RemoteConfigTest, EveryFailureStillAnswersOnce) {
  ScopedFakeClock clock;
  CorvaneSDKManagerRef m = Init(Data());
  ASSERT_NE(m, nullptr);
  struct Case {
    ScriptedResponse post;
    size_t posts;
  };
  const Case cases[] = {
      {Reply(404), 1},                                       // refused at once
      {Reply(503), 4},                                       // four attempts, then failure
      {Reply(200, R"({"other":"x"})"), 1},                   // no location
      {Reply(200, R"({"message":7})"), 1},                   // location of the wrong type
      {Reply(200, "not json"), 1},
      {Reply(200, R"({"message":"file:///etc/passwd"})"), 1},  // never fetched
  };
  size_t answered = 0;
  for (const Case& c : cases) {
    server_.ClearRequests();
    server_.SetDefault(kFetchPath, c.post);
    CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
    ASSERT_TRUE(WaitForAnswers(++answered));
    EXPECT_EQ(Answers().back(), (Answered{"", 0})) << c.post.body;
    EXPECT_EQ(server_.Count(kFetchPath), c.posts) << c.post.body;
  }
  EXPECT_EQ(Answers().size(), answered);
}

TEST_F(RemoteConfigTest, CallbackMayStartTheNextFetch) {
  ScopedFakeClock clock;
  ServeLocation("/rc/doc1");
  server_.SetDefault("/rc/doc1", Reply(200, R"({"a":1})"));
  CorvaneSDKManagerRef m = Init(Data());
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_FetchRemoteConfig2(m, FetchAgainFromCallback, 1);
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers(), (std::vector<Answered>{{R"({"a":1})", 1}, {R"({"a":1})", 2}}));
  EXPECT_EQ(server_.Count("/rc/doc1"), 1u);
}

TEST_F(RemoteConfigTest, WithoutSavingTheConfigurationLivesInMemoryOnly) {
  ScopedFakeClock clock;
  ServeLocation("/rc/doc1");
  server_.SetDefault("/rc/doc1", Reply(200, kDocument));
  CorvaneSDKManagerRef m = Init(Data(false));
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Answers()[0].config, kDocument);
  CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
  ASSERT_TRUE(WaitForAnswers(2));
  EXPECT_EQ(Answers()[1].config, R"({"feature":true,"n":3})");
  EXPECT_EQ(server_.Count("/rc/doc1"), 1u);
  EXPECT_FALSE(FileExists(dir_.File(".properties")));

  CorvaneSDKManager_Destroy();
  server_.SetHandler(kFetchPath, [](const RecordedRequest&) { return Reply(404); });
  m = Init(Data(false));
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
  ASSERT_TRUE(WaitForAnswers(3));
  EXPECT_EQ(Answers()[2], (Answered{"", 0}));
}

TEST_F(RemoteConfigTest, BuildNumberWithoutDigitsIsLoggedAndSentAsOne) {
  ScopedFakeClock clock;
  ServeLocation("/rc/doc1", "com.example.game", 1);
  server_.SetDefault("/rc/doc1", Reply(200, R"({"a":1})"));
  ::InitializationData* data = Data();
  InitializationData_SetAppBuildNumber(data, "v2");
  CorvaneSDKManagerRef m = Init(data);
  ASSERT_NE(m, nullptr);
  LogCapture capture(kLogError);
  CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
  ASSERT_TRUE(WaitForAnswers(1));
  EXPECT_EQ(Faults(), std::vector<std::string>());
  EXPECT_TRUE(capture.Contains("Invalid build number: v2"));
}

TEST_F(RemoteConfigTest, NothingHappensBeforeInitializationOrAfterDestroy) {
  ScopedFakeClock clock;
  LogCapture capture(kLogError);
  CorvaneSDKManager_FetchRemoteConfig(nullptr, OnRemoteConfig);
  EXPECT_TRUE(capture.Contains("Corvane SDK Manager doesn't exist"));

  // Destroy during a fetch cancels it: no callback afterwards.
  server_.SetDefault(kFetchPath, ScriptedResponse{200, R"({"message":""})", "application/json", 500});
  CorvaneSDKManagerRef m = Init(Data());
  ASSERT_NE(m, nullptr);
  CorvaneSDKManager_FetchRemoteConfig(m, OnRemoteConfig);
  ASSERT_TRUE(server_.WaitForCount(kFetchPath, 1));
  CorvaneSDKManager_Destroy();
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_TRUE(Answers().empty());
}

TEST(RemoteConfigEndpoint, OriginOfTheConfigUrlFollowedByTheFetchPath) {
  EXPECT_EQ(RemoteConfigEndpoint("http://127.0.0.1:8080/v1/public/config?x=1"),
            "http://127.0.0.1:8080/rc/fetch");
  EXPECT_EQ(RemoteConfigEndpoint("https://config.corvane.io/v1/public/config"),
            "https://config.corvane.io/rc/fetch");
  EXPECT_EQ(RemoteConfigEndpoint("HTTPS://Config.Example:443"), "https://Config.Example:443/rc/fetch");
  EXPECT_EQ(RemoteConfigEndpoint("http://[::1]:9000#frag"), "http://[::1]:9000/rc/fetch");
  // Credentials are not part of the origin.
  EXPECT_EQ(RemoteConfigEndpoint("https://user:pw@host.example/cfg"), "https://host.example/rc/fetch");
  for (const char* bad : {"", "config.corvane.io/v1", "ftp://host/x", "http:///path", "http://:80/",
                          "http://ho st/", "file:///etc/passwd"}) {
    EXPECT_EQ(RemoteConfigEndpoint(bad), "") << bad;
  }
}
