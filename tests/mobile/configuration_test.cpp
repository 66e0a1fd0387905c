// The configuration record, the init-parameter string with its printed lines and hostile
// input, and the module-parameter getters.
#include <gtest/gtest.h>

#include <limits>

#include "CorvaneSDKConfiguration.h"
#include "MobileTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

class MobileConfiguration : public ::testing::Test {
 protected:
  // Init-parameter lines print whether or not debug output is on.
  Testing::TestPorts ports_{Testing::TestPortsOptions{false, false, false, false}};
};

TEST_F(MobileConfiguration, DefaultsOfEveryField) {
  auto c = CorvaneSDKConfiguration::configurationWithAppId("app", "secret");
  EXPECT_EQ(c->appId, "app");
  EXPECT_EQ(c->appSecret, "secret");
  EXPECT_EQ(c->appSwizzleFlag, 0);
  EXPECT_EQ(c->flushAt, 20u);
  EXPECT_EQ(c->flushInterval, 30.0);
  EXPECT_EQ(c->maxQueueSize, 5000u);
  EXPECT_FALSE(c->customUserId || c->configId || c->host || c->configUrl || c->wrapper || c->wrapperVersion);
  EXPECT_FALSE(c->waitConfigId || c->debug || c->captureInAppPurchases || c->useSkanConversionSchema ||
               c->disableOnlineSdkConfig || c->offline || c->enableCoppa);
  EXPECT_TRUE(c->autoStart);
  EXPECT_TRUE(c->sendInBackground);
  EXPECT_EQ(c->storeType, 0);
  EXPECT_FALSE(c->facebookAppId || c->snapAppId || c->tikTokAppId);
  EXPECT_FALSE(c->excludedModuleNames || c->initializationActionList || c->moduleDataList);
  EXPECT_EQ(c->libraryName, "corvane");
  EXPECT_EQ(c->libraryVersion, "0.0.15-ios");
  ASSERT_EQ(c->payloadFilters.size(), 1u);
  EXPECT_EQ(c->payloadFilters[0].first, "(fb\\d+://authorize#access_token=)([^ ]+)");
  EXPECT_EQ(c->payloadFilters[0].second, "$1((redacted/fb-auth-token))");
  EXPECT_FALSE(c->crypto || c->launchOptions || c->requestFactory);
  EXPECT_TRUE(c->middlewares.empty());
  CorvaneSDKConfiguration bare;
  EXPECT_EQ(bare.appId, "");
  EXPECT_EQ(bare.flushAt, 20u);
}

TEST_F(MobileConfiguration, EveryInitParameterKey) {
  auto c = CorvaneSDKConfiguration::createConfigurationFromJson(R"({
    "appId": "a", "appSecret": "s", "appSwizzleFlag": 3, "facebookAppId": "fb", "instagramAppId": "ig",
    "appleAppId": "apple", "appleSignInClientId": "sic", "appleDeveloperTeamId": "team",
    "googlePlayGameServicesProjectId": "gpg", "googlePlayDeveloperAccountId": "gpd", "linkedInAppId": "li",
    "qqAppId": "qq", "weChatAppId": "wc", "tikTokAppId": "tt", "snapAppId": "snap",
    "flushInterval": 15.7, "flushQueueSize": 5, "customUserId": "cu", "waitConfigId": true,
    "host": "https://h/v4/event", "configUrl": "https://h/v1/public/config", "wrapper": "unity",
    "wrapperVersion": "1.0", "debug": true, "captureInAppPurchases": true, "useSkanConversionSchema": true,
    "disableOnlineSdkConfig": true, "autoStart": false, "offline": true, "sendInBackground": false,
    "enableCoppa": true, "storeType": 2, "excludedModuleNames": ["Adjust", "", 5, "Tenjin"],
    "initializationActions": [{"type": 0}, {"type": 1, "data": "{\"authorizationOptions\": 7, \"registerRemote\": true}"},
                              {"type": 1, "data": {"registerRemote": false}}, {"type": 1, "data": "[1]"}, 7, {"data": {}}],
    "modules": [{"classPath": "AppsFlyer", "data": {"devKey": "k"}}, {"classPath": "Adjust"}, {"data": {}}, "x"]
  })");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->appSwizzleFlag, 3);
  EXPECT_EQ(*c->facebookAppId, "fb");
  EXPECT_EQ(*c->instagramAppId, "ig");
  EXPECT_EQ(*c->appleAppId, "apple");
  EXPECT_EQ(*c->appleSignInClientId, "sic");
  EXPECT_EQ(*c->appleDeveloperTeamId, "team");
  EXPECT_EQ(*c->googlePlayGameServicesProjectId, "gpg");
  EXPECT_EQ(*c->googlePlayDeveloperAccountId, "gpd");
  EXPECT_EQ(*c->linkedInAppId, "li");
  EXPECT_EQ(*c->qqAppId, "qq");
  EXPECT_EQ(*c->weChatAppId, "wc");
  EXPECT_EQ(*c->tikTokAppId, "tt");
  EXPECT_EQ(*c->snapAppId, "snap");
  EXPECT_EQ(c->flushInterval, 15.0);
  EXPECT_EQ(c->flushAt, 5u);
  EXPECT_EQ(*c->customUserId, "cu");
  EXPECT_TRUE(c->waitConfigId);
  EXPECT_EQ(*c->host, "https://h/v4/event");
  EXPECT_EQ(*c->configUrl, "https://h/v1/public/config");
  EXPECT_EQ(*c->wrapper, "unity");
  EXPECT_EQ(*c->wrapperVersion, "1.0");
  EXPECT_TRUE(c->debug && c->captureInAppPurchases && c->useSkanConversionSchema && c->disableOnlineSdkConfig &&
              c->offline && c->enableCoppa);
  EXPECT_FALSE(c->autoStart || c->sendInBackground);
  EXPECT_EQ(c->storeType, 2);
  EXPECT_EQ(*c->excludedModuleNames, (std::vector<std::string>{"Adjust", "Tenjin"}));
  const auto& actions = *c->initializationActionList;
  ASSERT_EQ(actions.size(), 4u);
  EXPECT_EQ(actions[0].type, 0);
  EXPECT_FALSE(actions[0].data);
  EXPECT_EQ(*actions[1].data, (Value{{"authorizationOptions", 7}, {"registerRemote", true}}));
  EXPECT_EQ(*actions[2].data, (Value{{"registerRemote", false}}));
  EXPECT_FALSE(actions[3].data) << "a JSON text that is not a map is dropped";
  const auto& modules = *c->moduleDataList;
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[0].className, "AppsFlyer");
  EXPECT_EQ(*modules[0].data, (Value{{"devKey", "k"}}));
  EXPECT_EQ(modules[1].className, "Adjust");
  EXPECT_FALSE(modules[1].data);
}

TEST_F(MobileConfiguration, MalformedJsonPrintsItsLineAndGivesNone) {
  EXPECT_FALSE(CorvaneSDKConfiguration::createConfigurationFromJson("{\"appId\": "));
  EXPECT_TRUE(ports_.log->contains("Error while parsing init parameters: "));
  ports_.log->clear();
  EXPECT_FALSE(CorvaneSDKConfiguration::createConfigurationFromJson(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(CorvaneSDKConfiguration::createConfigurationFromJson(""));
  EXPECT_FALSE(CorvaneSDKConfiguration::createConfigurationFromJson("[1, 2]"));
  EXPECT_FALSE(CorvaneSDKConfiguration::createConfigurationFromJson("{\"appId\":\"a\xff\",\"appSecret\":\"s\"}"));
  EXPECT_EQ(ports_.log->count("Error while parsing init parameters: "), 4);
}

TEST_F(MobileConfiguration, MissingIdOrSecretPrintsWhichOne) {
  EXPECT_FALSE(CorvaneSDKConfiguration::createConfigurationFromJson(R"({"appSecret": "s"})"));
  EXPECT_TRUE(ports_.log->contains("Missing appId when initializing"));
  EXPECT_FALSE(CorvaneSDKConfiguration::createConfigurationFromJson(R"({"appId": "a"})"));
  EXPECT_TRUE(ports_.log->contains("Missing appSecret when initializing"));
  EXPECT_FALSE(CorvaneSDKConfiguration::createConfigurationFromJson(R"({"appId": 5, "appSecret": "s"})"));
  EXPECT_EQ(ports_.log->count("Missing appId when initializing"), 2);
}

TEST_F(MobileConfiguration, WrongTypesForEveryKeyAreIgnoredWithALine) {
  const char* keys[] = {"appSwizzleFlag", "facebookAppId", "instagramAppId", "appleAppId", "appleSignInClientId",
                        "appleDeveloperTeamId", "googlePlayGameServicesProjectId", "googlePlayDeveloperAccountId",
                        "linkedInAppId", "qqAppId", "weChatAppId", "tikTokAppId", "snapAppId", "flushInterval",
                        "flushQueueSize", "customUserId", "waitConfigId", "host", "configUrl", "wrapper",
                        "wrapperVersion", "debug", "captureInAppPurchases", "useSkanConversionSchema",
                        "disableOnlineSdkConfig", "autoStart", "offline", "sendInBackground", "enableCoppa",
                        "storeType", "excludedModuleNames", "initializationActions", "modules"};
  const CorvaneSDKConfiguration defaults("a", "s");
  for (const Value& wrong : {Value("20"), Value(true), Value(nullptr), Value::object({{"x", 1}}), Value::array({1}), Value(7)}) {
    Value root{{"appId", "a"}, {"appSecret", "s"}};
    for (const char* key : keys) root[key] = wrong;
    ports_.log->clear();
    auto c = CorvaneSDKConfiguration::createConfigurationFromJson(root.dump());
    ASSERT_TRUE(c) << root.dump();
    if (!wrong.is_number()) {
      EXPECT_EQ(c->flushAt, defaults.flushAt) << wrong.dump();
      EXPECT_EQ(c->flushInterval, defaults.flushInterval);
      EXPECT_EQ(c->storeType, 0);
      EXPECT_EQ(c->appSwizzleFlag, 0);
    }
    if (!wrong.is_string()) {
      EXPECT_FALSE(c->host || c->customUserId || c->facebookAppId || c->wrapper) << wrong.dump();
    }
    if (!wrong.is_boolean()) {
      EXPECT_TRUE(c->autoStart && c->sendInBackground) << wrong.dump();
      EXPECT_FALSE(c->debug || c->offline || c->enableCoppa) << wrong.dump();
    }
    EXPECT_FALSE(c->initializationActionList) << wrong.dump();
    EXPECT_FALSE(c->moduleDataList) << wrong.dump();
    EXPECT_TRUE(ports_.log->contains("Ignoring init parameter")) << wrong.dump();
  }
}

TEST_F(MobileConfiguration, NumbersAreReadByTheirWholePartWithinRange) {
  auto parse = [](const std::string& extra) {
    return CorvaneSDKConfiguration::createConfigurationFromJson("{\"appId\":\"a\",\"appSecret\":\"s\"," + extra + "}");
  };
  EXPECT_EQ(parse("\"flushQueueSize\": \"20\"")->flushAt, 20u);
  EXPECT_EQ(parse("\"flushQueueSize\": 5")->flushAt, 5u);
  EXPECT_EQ(parse("\"flushQueueSize\": 7.9")->flushAt, 7u);
  EXPECT_EQ(parse("\"flushQueueSize\": -5")->flushAt, 20u) << "a negative count must not wrap";
  EXPECT_EQ(parse("\"flushQueueSize\": 1e300")->flushAt, 20u);
  EXPECT_EQ(parse("\"flushInterval\": 15.7")->flushInterval, 15.0);
  EXPECT_EQ(parse("\"flushInterval\": 0.5")->flushInterval, 30.0) << "a zero interval would spin the timer";
  EXPECT_EQ(parse("\"flushInterval\": -3")->flushInterval, 30.0);
  EXPECT_EQ(parse("\"storeType\": 99999999999")->storeType, 0);
  EXPECT_EQ(parse("\"storeType\": 1.5")->storeType, 1);
  EXPECT_EQ(parse("\"appSwizzleFlag\": 18446744073709551615")->appSwizzleFlag, 0);
}

TEST_F(MobileConfiguration, HugeDeepAndBrokenTextsNeverCrash) {
  std::string deep = "{\"appId\":\"a\",\"appSecret\":\"s\",\"modules\":";
  for (int i = 0; i < 100000; ++i) deep += "[";
  EXPECT_FALSE(CorvaneSDKConfiguration::createConfigurationFromJson(deep));
  EXPECT_TRUE(ports_.log->contains("nesting deeper than 64 levels"));
  const std::string big(10u << 20, 'x');
  auto c = CorvaneSDKConfiguration::createConfigurationFromJson("{\"appId\":\"a\",\"appSecret\":\"s\",\"host\":\"" + big + "\"}");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->host->size(), big.size());
  EXPECT_FALSE(CorvaneSDKConfiguration::createConfigurationFromJson(std::string("{\"appId\":\0}", 11)));
  // Deep data inside an action is dropped, the action kept.
  std::string deepData = "{\"appId\":\"a\",\"appSecret\":\"s\",\"initializationActions\":[{\"type\":0,\"data\":\"";
  for (int i = 0; i < 70; ++i) deepData += "{\\\"a\\\":";
  deepData += "1";
  for (int i = 0; i < 70; ++i) deepData += "}";
  deepData += "\"}]}";
  auto withDeepData = CorvaneSDKConfiguration::createConfigurationFromJson(deepData);
  ASSERT_TRUE(withDeepData);
  ASSERT_EQ(withDeepData->initializationActionList->size(), 1u);
  EXPECT_FALSE((*withDeepData->initializationActionList)[0].data);
}

TEST_F(MobileConfiguration, AddFunctionsAndDescription) {
  CorvaneSDKConfiguration c("app-1", "s");
  c.addModule("A");
  c.addModule("B", std::string("{\"k\": 1}"));
  c.addModule("C", std::string("not json"));
  c.addModule("D", Value{{"x", true}});
  c.addModule("E", Value::array());
  ASSERT_EQ(c.getModuleDataList()->size(), 5u);
  EXPECT_EQ(*(*c.getModuleDataList())[1].data, (Value{{"k", 1}}));
  EXPECT_FALSE((*c.getModuleDataList())[2].data);
  EXPECT_EQ(*(*c.getModuleDataList())[3].data, (Value{{"x", true}}));
  EXPECT_FALSE((*c.getModuleDataList())[4].data);
  c.addInitializationAction(0);
  c.addInitializationAction(1, std::string("{\"authorizationOptions\": 6}"));
  c.addInitializationAction(1, Value{{"registerRemote", true}});
  ASSERT_EQ(c.getInitializationActionList()->size(), 3u);
  EXPECT_EQ((*c.getInitializationActionList())[1].data->at("authorizationOptions"), 6);
  c.addExcludedModuleName("");
  EXPECT_FALSE(c.getExcludedModuleNames());
  c.addExcludedModuleNames({"X", "", "Y"});
  EXPECT_EQ(*c.getExcludedModuleNames(), (std::vector<std::string>{"X", "Y"}));
  c.flushAt = 7;
  const std::string d = c.description();
  EXPECT_EQ(d.rfind("<CorvaneSDKConfiguration:0x", 0), 0u) << d;
  EXPECT_NE(d.find("{\"appId\":\"app-1\",\"shouldUseLocationServices\":false,\"flushAt\":7}>"), std::string::npos) << d;
}

TEST(MobileModuleParameters, GettersAnswerOnlyTheirKind) {
  auto p = CorvaneSDKModuleInitializationParameters::initWithString(
      R"({"s": "text", "i": 42, "f": 2.9, "neg": -3.7, "huge": 1e300, "b": true, "zero": 0,
          "list": [1], "empty": [], "map": {"a": 1}, "emptyMap": {}})");
  EXPECT_TRUE(p.hasKey("s"));
  EXPECT_FALSE(p.hasKey("missing"));
  EXPECT_EQ(*p.getString("s"), "text");
  EXPECT_FALSE(p.getString("i"));
  EXPECT_EQ(p.getString("i", "fb"), "fb");
  EXPECT_EQ(p.getInt("i", -1), 42);
  EXPECT_EQ(p.getInt("f", -1), 2);
  EXPECT_EQ(p.getInt("neg", 0), -3);
  EXPECT_EQ(p.getInt("huge", 0), std::numeric_limits<int>::max());
  EXPECT_EQ(p.getInt("s", 9), 9);
  EXPECT_EQ(p.getLong("i", 0), 42);
  EXPECT_EQ(p.getLongLong("huge", 0), std::numeric_limits<long long>::max());
  EXPECT_DOUBLE_EQ(p.getDouble("f", 0), 2.9);
  EXPECT_DOUBLE_EQ(p.getDouble("s", 1.5), 1.5);
  EXPECT_TRUE(p.getBool("b", false));
  EXPECT_TRUE(p.getBool("i", false));
  EXPECT_FALSE(p.getBool("zero", true));
  EXPECT_TRUE(p.getBool("s", true));
  EXPECT_EQ(*p.getArray("list"), Value::array({1}));
  EXPECT_FALSE(p.getArray("empty"));
  EXPECT_FALSE(p.getArray("map"));
  EXPECT_EQ(*p.getDictionary("map"), (Value{{"a", 1}}));
  EXPECT_FALSE(p.getDictionary("emptyMap"));
  EXPECT_FALSE(p.getDictionary("list"));
}

TEST(MobileModuleParameters, BadInputGivesAnEmptyMap) {
  Testing::TestPorts ports;
  EXPECT_TRUE(CorvaneSDKModuleInitializationParameters::initWithString("{broken").getData().empty());
  EXPECT_TRUE(CorvaneSDKModuleInitializationParameters::initWithString(static_cast<const char*>(nullptr)).getData().empty());
  EXPECT_TRUE(CorvaneSDKModuleInitializationParameters::initWithString("[1,2]").getData().empty());
  EXPECT_TRUE(CorvaneSDKModuleInitializationParameters::initWithString(std::string(100000, '{')).getData().empty());
  EXPECT_TRUE(CorvaneSDKModuleInitializationParameters::initWithDictionary(Value::array()).getData().is_object());
  EXPECT_TRUE(CorvaneSDKModuleInitializationParameters().getData().empty());
  auto p = CorvaneSDKModuleInitializationParameters::initWithDictionary(Value{{"k", "v"}});
  EXPECT_EQ(p.getString("k", ""), "v");
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
