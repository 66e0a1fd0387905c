// The SDK configuration and remote configuration endpoints over real HTTP: hashes, the
// left-out configuration, signed requests, document locations and their lookup rules.
#include <gtest/gtest.h>

#include "CollectorFixture.h"
#include "Crypto.h"
#include "RemoteConfigSender.h"

using namespace CorvaneSDK::Collector;
using namespace CorvaneSDK::Collector::Test;
using CorvaneSDK::DumpJson;
using CorvaneSDK::Json;
using CorvaneSDK::ParseJson;
using CorvaneSDK::RemoteConfigSender;

namespace {

const char kSdkConfig[] =
    R"({"appId":"app","appSecret":"secret","modules":[{"type":"demo","platforms":["Linux"]}]})";

std::string HexSha256(const std::string& text) {
  return CorvaneSDK::ToHex(CorvaneSDK::Sha256(text));
}

class ConfigEndpointsTest : public CollectorFixture {
 protected:
  Json GetConfig(const std::string& query, int* status) {
    return GetJson("/v1/public/config?" + query, status);
  }

  httplib::Result PostFetch(const std::string& bundleId, const std::string& body = std::string(),
                            const std::string& token = std::string()) {
    httplib::Headers headers = {
        {"Quorvel-Token", token.empty() ? RemoteConfigSender::BuildToken(bundleId) : token}};
    const std::string text =
        body.empty() ? RemoteConfigSender::BuildRequestBody(bundleId, 7, "Linux", "user-1") : body;
    return Client()->Post("/rc/fetch", headers, text, "application/json");
  }

  // The location named by a successful fetch, as a path on the collector.
  std::string FetchLocationPath(const std::string& bundleId) {
    auto result = PostFetch(bundleId);
    EXPECT_TRUE(result);
    if (!result) return std::string();
    EXPECT_EQ(result->status, 200) << result->body;
    Json answer;
    EXPECT_TRUE(ParseJson(result->body, answer));
    const std::string location = CorvaneSDK::JsonString(answer, "message");
    const std::string origin = "http://127.0.0.1:" + std::to_string(collector_->port());
    EXPECT_EQ(location.compare(0, origin.size(), origin), 0) << location;
    return location.size() > origin.size() ? location.substr(origin.size()) : std::string();
  }

  std::string GetDocument(const std::string& path, int* status) {
    auto result = Client()->Get(path.c_str());
    *status = result ? result->status : -1;
    return result ? result->body : std::string();
  }
};

}  // namespace

TEST_F(ConfigEndpointsTest, SdkConfigComesWithTheFileHashAndIsLeftOutWhenTheHashMatches) {
  CollectorOptions options = Options();
  options.sdkConfigs["app"] = WriteFile("sdk.json", kSdkConfig);
  StartCollector(options);

  int status = 0;
  Json first = GetConfig("app_id=app&platform=Linux&version=1.0", &status);
  ASSERT_EQ(status, 200);
  EXPECT_EQ(first["sdk_config_hash"], HexSha256(kSdkConfig));
  EXPECT_EQ(first["sdk_config"], Json::parse(kSdkConfig));

  Json same =
      GetConfig("app_id=app&platform=Linux&sdk_config_hash=" + HexSha256(kSdkConfig), &status);
  ASSERT_EQ(status, 200);
  EXPECT_FALSE(same.contains("sdk_config"));
  EXPECT_EQ(same["sdk_config_hash"], HexSha256(kSdkConfig));

  Json stale = GetConfig("app_id=app&platform=Linux&sdk_config_hash=0123", &status);
  EXPECT_TRUE(stale.contains("sdk_config"));

  // An edited file is served with its new hash without a restart.
  const std::string edited = R"({"appId":"app","appSecret":"secret"})";
  WriteFile("sdk.json", edited);
  Json next =
      GetConfig("app_id=app&platform=Linux&sdk_config_hash=" + HexSha256(kSdkConfig), &status);
  EXPECT_EQ(next["sdk_config_hash"], HexSha256(edited));
  EXPECT_EQ(next["sdk_config"], Json::parse(edited));
}

TEST_F(ConfigEndpointsTest, SdkConfigRequestsWithoutAConfiguredAppAreRefused) {
  CollectorOptions options = Options();
  options.sdkConfigs["app"] = WriteFile("sdk.json", kSdkConfig);
  StartCollector(options);
  int status = 0;
  Json missing = GetConfig("platform=Linux", &status);
  EXPECT_EQ(status, 400);
  EXPECT_EQ(missing["error"], "missing query member app_id");
  Json unknown = GetConfig("app_id=other&platform=Linux", &status);
  EXPECT_EQ(status, 404);
  EXPECT_EQ(
      unknown["error"],
      "no SDK configuration for app \"other\" (start the collector with --sdk-config APP=FILE)");
}

TEST_F(ConfigEndpointsTest, SdkConfigFileThatBreaksWhileRunningGives500) {
  CollectorOptions options = Options();
  const std::string path = WriteFile("sdk.json", kSdkConfig);
  options.sdkConfigs["app"] = path;
  StartCollector(options);
  WriteFile("sdk.json", "{not json");
  int status = 0;
  Json answer = GetConfig("app_id=app&platform=Linux", &status);
  EXPECT_EQ(status, 500);
  EXPECT_EQ(answer["error"], path + " is not a JSON object");
}

TEST(CollectorStart, RefusesConfigurationFilesThatAreMissingOrNotObjects) {
  CorvaneSDK::Test::TempDir dir;
  CollectorOptions options;
  options.dbPath = dir.File("events.db");
  options.sdkConfigs["app"] = dir.File("missing.json");
  std::string error;
  {
    Collector collector(options);
    EXPECT_FALSE(collector.Start(error));
    EXPECT_EQ(error, "cannot read " + dir.File("missing.json"));
  }
  ASSERT_TRUE(CorvaneSDK::Test::WriteFileBytes(dir.File("array.json"), "[1]"));
  options.sdkConfigs.clear();
  options.remoteConfigs["*"] = dir.File("array.json");
  Collector collector(options);
  EXPECT_FALSE(collector.Start(error));
  EXPECT_EQ(error, dir.File("array.json") + " is not a JSON object");
}

TEST_F(ConfigEndpointsTest, RemoteConfigFetchNamesALocationThatServesTheDocument) {
  CollectorOptions options = Options();
  options.remoteConfigs["com.example.game"] = WriteFile("rc.json", R"({"difficulty":"hard"})");
  StartCollector(options);

  const std::string path = FetchLocationPath("com.example.game");
  int status = 0;
  EXPECT_EQ(GetDocument(path, &status), R"({"difficulty":"hard"})");
  EXPECT_EQ(status, 200);

  // Same content, same location: this is how the SDK knows it has the current version.
  EXPECT_EQ(FetchLocationPath("com.example.game"), path);

  WriteFile("rc.json", R"({"difficulty":"easy"})");
  const std::string next = FetchLocationPath("com.example.game");
  EXPECT_NE(next, path);
  EXPECT_EQ(GetDocument(next, &status), R"({"difficulty":"easy"})");
  // The earlier version stays readable at its own location.
  EXPECT_EQ(GetDocument(path, &status), R"({"difficulty":"hard"})");

  GetDocument("/rc/doc/com.example.game/0000000000000000.json", &status);
  EXPECT_EQ(status, 404);
}

TEST_F(ConfigEndpointsTest, RemoteConfigFetchVerifiesTheToken) {
  CollectorOptions options = Options();
  options.remoteConfigs["*"] = WriteFile("rc.json", "{}");
  StartCollector(options);

  auto noToken = Client()->Post(
      "/rc/fetch", RemoteConfigSender::BuildRequestBody("b", 1, "Linux", "u"), "application/json");
  ASSERT_TRUE(noToken);
  EXPECT_EQ(noToken->status, 401);
  EXPECT_EQ(Json::parse(noToken->body)["error"], "missing Quorvel-Token header");

  std::string forged = RemoteConfigSender::BuildToken("b");
  forged.back() = forged.back() == 'A' ? 'B' : 'A';
  auto bad = PostFetch("b", std::string(), forged);
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 401);

  // A token for another bundle does not open this one's configuration.
  auto other = PostFetch("b", std::string(), RemoteConfigSender::BuildToken("someone.else"));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 401);
  EXPECT_EQ(Json::parse(other->body)["error"], "token subject does not match the body's bundleId");
}

TEST_F(ConfigEndpointsTest, RemoteConfigFetchChecksItsBody) {
  CollectorOptions options = Options();
  options.remoteConfigs["*"] = WriteFile("rc.json", "{}");
  StartCollector(options);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"[1]", "body is not a JSON object"},
      {R"({"bundleId":"b","platform":"Linux","qvUid":"u"})", "body: missing \"buildNumber\""},
      {R"({"bundleId":"b","buildNumber":"7","platform":"Linux","qvUid":"u"})",
       "buildNumber: expected an integer"},
      {R"({"bundleId":"b","buildNumber":7,"platform":"Linux","qvUid":1})",
       "qvUid: expected a string"},
      {R"({"bundleId":"b","buildNumber":7,"platform":"Linux","qvUid":"u","x":1})",
       "body: unexpected key \"x\""},
  };
  for (const auto& c : cases) {
    auto result = PostFetch("b", c.first);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 400) << c.first;
    EXPECT_EQ(Json::parse(result->body)["error"], c.second) << c.first;
  }
}

TEST_F(ConfigEndpointsTest, RemoteConfigIsFoundByBundleThenByTheAppOfItsUploadsThenByStar) {
  CollectorOptions options = Options();
  options.remoteConfigs["com.example.game"] = WriteFile("bundle.json", R"({"from":"bundle"})");
  options.remoteConfigs["app"] = WriteFile("app.json", R"({"from":"app"})");
  StartCollector(options);
  int status = 0;
  EXPECT_EQ(GetDocument(FetchLocationPath("com.example.game"), &status), R"({"from":"bundle"})");

  // Unknown bundle: nothing yet, until an upload of app "app" carries that bundle id.
  auto unknown = PostFetch("com.other");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
  Json batch = BatchObject({EventObject("a")});
  batch["bundleId"] = "com.other";
  ASSERT_EQ(PutEvents(DumpJson(batch))->status, 204);
  EXPECT_EQ(GetDocument(FetchLocationPath("com.other"), &status), R"({"from":"app"})");
}

TEST_F(ConfigEndpointsTest, ASingleRemoteConfigServesEveryBundle) {
  CollectorOptions options = Options();
  options.remoteConfigs["anything"] = WriteFile("rc.json", R"({"x":1})");
  StartCollector(options);
  int status = 0;
  EXPECT_EQ(GetDocument(FetchLocationPath(""), &status), R"({"x":1})");
}
