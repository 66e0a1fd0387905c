// The collector and the mobile framework: its config answer (currency, conversion schema,
// exchange rates next to the SDK configuration, each left out once the client has it), its
// uploads without "value" or "customUid", and mobile sessions told from desktop ones in the
// stats, the export and the session list.
#include <gtest/gtest.h>

#include <sstream>

#include "CollectorFixture.h"
#include "Commands.h"
#include "Crypto.h"
#include "MobileConfig.h"
#include "Report.h"

using namespace CorvaneSDK::Collector;
using namespace CorvaneSDK::Collector::Test;
using CorvaneSDK::DumpJson;
using CorvaneSDK::Json;
using CorvaneSDK::ParseJson;

namespace {

bool NoWait(int) { return false; }

const char kSdkConfig[] =
    R"({"appId":"app","appSecret":"secret","iosSettings":{"appName":"Demo"}})";
const char kMobile[] = R"({"currency":"EUR",
  "schema":{"version":2,"windows":[{"fine":[{"value":1,"events":["qvsdk_level"]}]}]},
  "exchange_rates":{"USD":1.1,"GBP":0.86},"exchange_rate_timestamp":1765000000,
  "crypto_exchange_rates":{"ETH":3100.5},"crypto_exchange_rate_timestamp":1765000100})";

Json MobileEvent(const std::string& name, const std::string& session) {
  // The mobile wire map: no "value" and no "customUid" when the event has none.
  return Json{{"eId", CorvaneSDK::NewUuid()}, {"id", session}, {"timeInMs", 1765000000000LL},
              {"cfgId", "default"},           {"eventName", name}};
}

Json MobileBatch(std::vector<Json> events) {
  Json batch = BatchObject(std::move(events), "user-m");
  batch["qvSdkVersion"] = "0.0.15-ios";
  batch["platform"] = "iOS";
  return batch;
}

class CollectorMobileTest : public CollectorFixture {
 protected:
  void StartWithMobile(const std::string& mobile = kMobile) {
    CollectorOptions options = Options();
    options.sdkConfigs["app"] = WriteFile("sdk.json", kSdkConfig);
    options.mobileConfigs["app"] = WriteFile("mobile.json", mobile);
    StartCollector(options);
  }
  Json Config(const std::string& query, int* status = nullptr) {
    return GetJson("/v1/public/config?app_id=app&version=1.0&" + query, status);
  }
};

TEST_F(CollectorMobileTest, FirstRequestGetsEverythingAndHashesTimestampsLeaveOutWhatTheClientHas) {
  StartWithMobile();
  int status = 0;
  const Json full = Config("platform=ios", &status);
  ASSERT_EQ(status, 200);
  EXPECT_EQ(full["sdk_config"]["iosSettings"]["appName"], "Demo");
  EXPECT_EQ(full["currency"], "EUR");
  EXPECT_EQ(full["schema"]["version"], 2);
  const std::string schemaHash = full["schema_hash"].get<std::string>();
  EXPECT_EQ(schemaHash, CorvaneSDK::ToHex(CorvaneSDK::Sha256(DumpJson(full["schema"]))));
  EXPECT_EQ(full["exchange_rates"]["GBP"], 0.86);
  EXPECT_EQ(full["exchange_rate_timestamp"], 1765000000);
  EXPECT_EQ(full["crypto_exchange_rates"]["ETH"], 3100.5);
  EXPECT_EQ(full["crypto_exchange_rate_timestamp"], 1765000100);

  // A client that has all of it gets only the configuration hash.
  const std::string all = "platform=ios&currency=EUR&sdk_config_hash=" + full["sdk_config_hash"].get<std::string>() +
                          "&schema_hash=" + schemaHash +
                          "&exchange_rate_timestamp=1765000000&crypto_exchange_rate_timestamp=1765000100";
  const Json none = Config(all, &status);
  ASSERT_EQ(status, 200);
  EXPECT_EQ(none, (Json{{"sdk_config_hash", full["sdk_config_hash"]}})) << none.dump();

  // Each stale member comes back alone, with its hash or timestamp.
  Json part = Config("platform=ios&currency=USD&schema_hash=" + schemaHash + "&exchange_rate_timestamp=1", &status);
  EXPECT_EQ(part["currency"], "EUR");
  EXPECT_FALSE(part.contains("schema"));
  EXPECT_FALSE(part.contains("schema_hash"));
  EXPECT_EQ(part["exchange_rate_timestamp"], 1765000000);
  EXPECT_TRUE(part.contains("crypto_exchange_rates"));
  EXPECT_TRUE(part.contains("sdk_config"));
  part = Config("platform=ios&currency=EUR&schema_hash=old&crypto_exchange_rate_timestamp=1765000100");
  EXPECT_FALSE(part.contains("currency"));
  EXPECT_EQ(part["schema_hash"], schemaHash);
  EXPECT_FALSE(part.contains("crypto_exchange_rates"));
  EXPECT_TRUE(part.contains("exchange_rates"));

  // The desktop library gets its answer as before, with no mobile members.
  const Json desktop = Config("platform=Windows");
  EXPECT_TRUE(desktop.contains("sdk_config"));
  EXPECT_FALSE(desktop.contains("currency"));
  EXPECT_FALSE(desktop.contains("exchange_rates"));
  bool noted = false;
  for (const RequestRecord& r : collector_->RecentRequests(20)) {
    noted = noted || r.note.find("mobile: currency, schema, exchange rates, crypto exchange rates") != std::string::npos;
  }
  EXPECT_TRUE(noted);
}

TEST_F(CollectorMobileTest, MobileMembersAloneServeAnAppWithoutSdkConfiguration) {
  CollectorOptions options = Options();
  options.mobileConfigs["app"] = WriteFile("mobile.json", R"({"currency":"JPY","schema":{"v":1},"schema_hash":"h1"})");
  StartCollector(options);
  int status = 0;
  const Json answer = Config("platform=ios", &status);
  ASSERT_EQ(status, 200);
  EXPECT_EQ(answer, (Json{{"currency", "JPY"}, {"schema", {{"v", 1}}}, {"schema_hash", "h1"}}));
  Config("platform=Windows", &status);
  EXPECT_EQ(status, 404);  // the desktop library has nothing here
}

TEST_F(CollectorMobileTest, BadMobileFilesAreRefusedAtStartWithTheirProblem) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"currency":""})", "\"currency\""},
      {R"({"schema":[1]})", "\"schema\""},
      {R"({"schema_hash":"x"})", "without \"schema\""},
      {R"({"exchange_rates":{"USD":1.0}})", "exchange_rate_timestamp"},
      {R"({"exchange_rates":{"USD":-1},"exchange_rate_timestamp":5})", "positive number"},
      {R"({"crypto_exchange_rates":{"BTC":1},"crypto_exchange_rate_timestamp":0})", "positive integer"},
      {R"({"crypto_exchange_rate_timestamp":7})", "without"},
      {R"({"exchange_rate":{}})", "unknown member"},
      {R"([1,2])", "not a JSON object"},
  };
  int index = 0;
  for (const auto& c : cases) {
    CollectorOptions options = Options();
    options.mobileConfigs["app"] = WriteFile("bad" + std::to_string(index++) + ".json", c.first);
    Collector collector(options);
    std::string error;
    EXPECT_FALSE(collector.Start(error)) << c.first;
    EXPECT_NE(error.find(c.second), std::string::npos) << c.first << " -> " << error;
  }
  // And through the command line.
  std::ostringstream out, err;
  const std::string bad = WriteFile("cli.json", R"({"schema":"no"})");
  EXPECT_NE(RunCommand({"serve", "--db", dir_.File("cli.db"), "--port", "0", "--mobile-config", "app=" + bad}, out,
                       err, NoWait),
            0);
  EXPECT_NE(err.str().find("\"schema\""), std::string::npos) << err.str();
}

TEST_F(CollectorMobileTest, MobileUploadsAreStoredAndToldFromDesktopSessions) {
  StartCollector();
  Json mobileEvent = MobileEvent("qvsdk_session_start", "m-session");
  Json withSub = MobileEvent("qvsdk_purchase", "m-session");
  withSub["value"] = Json{{"__revenue__", {{"revenue", 1.5}, {"currency", "USD"}}}};
  withSub["subEvents"] = Json::array({MobileEvent("qvsdk_sub", "m-session")});
  auto result = PutEvents(DumpJson(MobileBatch({mobileEvent, withSub})));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 204) << result->body;
  result = PutEvents(DumpJson(BatchObject({EventObject("level", "d-session")})));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 204) << result->body;

  // The desktop library must still send both members.
  Json desktopWithout = BatchObject({EventObject("x")});
  desktopWithout["subMessages"][0].erase("value");
  result = PutEvents(DumpJson(desktopWithout));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 400);
  EXPECT_NE(result->body.find("missing \\\"value\\\""), std::string::npos) << result->body;
  // A mobile member of the wrong type is still refused.
  Json badUid = MobileEvent("y", "m-session");
  badUid["customUid"] = 5;
  result = PutEvents(DumpJson(MobileBatch({badUid})));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 400);

  const Json stats = GetJson("/api/stats");
  ASSERT_EQ(stats["byClient"].size(), 2u) << stats.dump();
  const Json mobile = stats["byClient"][1]["client"] == "mobile" ? stats["byClient"][1] : stats["byClient"][0];
  const Json desktop = stats["byClient"][1]["client"] == "mobile" ? stats["byClient"][0] : stats["byClient"][1];
  EXPECT_EQ(mobile, (Json{{"client", "mobile"}, {"platform", "iOS"}, {"sdkVersion", "0.0.15-ios"}, {"sessions", 1},
                          {"events", 3}}));
  EXPECT_EQ(desktop["client"], "desktop");
  EXPECT_EQ(desktop["events"], 1);

  const Json sessions = GetJson("/api/sessions?limit=10&events=1");
  bool sawMobile = false;
  for (const Json& s : sessions["sessions"]) {
    if (s["id"] != "m-session") continue;
    sawMobile = true;
    EXPECT_EQ(s["client"], "mobile");
    EXPECT_EQ(s["sdkVersion"], "0.0.15-ios");
    EXPECT_EQ(s["events"], 3);
  }
  EXPECT_TRUE(sawMobile) << sessions.dump();

  // The export marks every event; an event without a value or uid reads back null and "".
  collector_->Stop();
  std::ostringstream out, err;
  ASSERT_EQ(RunCommand({"export", "--db", dir_.File("events.db"), "--session", "m-session"}, out, err, NoWait), 0)
      << err.str();
  Json exported;
  ASSERT_TRUE(ParseJson(out.str(), exported)) << out.str();
  ASSERT_EQ(exported.size(), 3u);
  for (const Json& e : exported) EXPECT_EQ(e["client"], "mobile");
  EXPECT_TRUE(exported[0]["value"].is_null());
  EXPECT_EQ(exported[0]["customUid"], "");
  EXPECT_EQ(exported[2]["parentEId"], withSub["eId"]);

  std::ostringstream stat;
  ASSERT_EQ(RunCommand({"stats", "--db", dir_.File("events.db")}, stat, err, NoWait), 0) << err.str();
  EXPECT_NE(stat.str().find("mobile"), std::string::npos) << stat.str();
  EXPECT_NE(stat.str().find("0.0.15-ios"), std::string::npos) << stat.str();
  EXPECT_NE(stat.str().find("desktop"), std::string::npos) << stat.str();
}

TEST(CollectorMobileClient, KindFollowsPlatformOrSdkVersion) {
  EXPECT_TRUE(IsMobileClient("ios", ""));
  EXPECT_TRUE(IsMobileClient("iOS", "1.0"));
  EXPECT_TRUE(IsMobileClient("Other", "0.0.15-ios"));
  EXPECT_FALSE(IsMobileClient("Windows", CorvaneSDK::kSdkVersion));
  EXPECT_FALSE(IsMobileClient("", ""));
  EXPECT_EQ(ClientKind("Linux", CorvaneSDK::kSdkVersion), "desktop");
}

}  // namespace
