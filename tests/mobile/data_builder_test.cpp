// Payload builders and string tables of the typed events, the open payload's rules and the
// deep-link query folding.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "CorvaneSDKDataBuilder.h"
#include "CorvaneSDKEvent.h"
#include "MobileTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using DB = CorvaneSDKDataBuilder;

class MobileDataBuilder : public ::testing::Test {
 protected:
  Testing::TestPorts ports_;
};

TEST_F(MobileDataBuilder, StringTablesMapEveryValueAndFallBack) {
  EXPECT_EQ(DB::getStoreTypeString(0), "app_store");
  EXPECT_EQ(DB::getStoreTypeString(1), "google_play");
  EXPECT_EQ(DB::getStoreTypeString(2), "amazon_store");
  EXPECT_EQ(DB::getStoreTypeString(3), "microsoft_store");
  EXPECT_EQ(DB::getStoreTypeString(7), "other");
  EXPECT_EQ(DB::getStoreTypeString(-1), "other");
  EXPECT_EQ(DB::getTrackingAuthorizationStatusString(0), "not_determined");
  EXPECT_EQ(DB::getTrackingAuthorizationStatusString(1), "restricted");
  EXPECT_EQ(DB::getTrackingAuthorizationStatusString(2), "denied");
  EXPECT_EQ(DB::getTrackingAuthorizationStatusString(3), "authorized");
  EXPECT_EQ(DB::getTrackingAuthorizationStatusString(4), "not_determined");
  EXPECT_EQ(DB::getAdPlacementTypeString(0), "banner");
  EXPECT_EQ(DB::getAdPlacementTypeString(1), "interstitial");
  EXPECT_EQ(DB::getAdPlacementTypeString(2), "rewarded_video");
  EXPECT_EQ(DB::getAdPlacementTypeString(3), "");
  const char* placements[] = {"bottom", "top", "left", "right", "fullscreen"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(DB::getAdPlacementString(i), placements[i]);
  EXPECT_EQ(DB::getAdPlacementString(5), "");
  EXPECT_EQ(DB::getAdPlacementString(-1), "");
  EXPECT_EQ(DB::getDefaultAdPlacement(0), 0);
  EXPECT_EQ(DB::getDefaultAdPlacement(1), 4);
  EXPECT_EQ(DB::getDefaultAdPlacement(2), 4);
  EXPECT_EQ(DB::getDefaultAdPlacement(99), 4);
  EXPECT_EQ(DB::getUserGenderString(0), "male");
  EXPECT_EQ(DB::getUserGenderString(1), "female");
  EXPECT_EQ(DB::getUserGenderString(2), "");
}

TEST_F(MobileDataBuilder, OpenPayloadFollowsTheContextRules) {
  Value context = {{"$device_model", "iPhone14,2"},
                   {"$os_name", ""},  // empty: left out
                   {"$os_version", 17},  // not a string: left out
                   {"$locale", "en_US"},
                   {"$display_width", 1170},
                   {"$display_height", 0.5},  // below 1
                   {"$app_install_time", 0},  // zero
                   {"$app_start_time", 1764990000250ull},
                   {"$developer_device_id", "dev"},
                   {"local_ip", "10.0.0.2"},
                   {"$local_ip", "ignored"},
                   {"network_type", "wifi"},
                   {"$advertisting_id", "ad-id"},
                   {"$limit_ad_tracking", 1}};
  auto getter = [&](const std::string& key) -> Value { return context.contains(key) ? context[key] : Value(); };
  Value data = DB::createLogOpenData(getter, 7, 0);
  EXPECT_EQ(data["device_model"], "iPhone14,2");
  EXPECT_FALSE(data.contains("os_name"));
  EXPECT_FALSE(data.contains("os_version"));
  EXPECT_EQ(data["locale"], "en_US");
  EXPECT_EQ(data["display_width"], 1170);
  EXPECT_FALSE(data.contains("display_height"));
  EXPECT_FALSE(data.contains("app_install_time"));
  EXPECT_EQ(data["app_start_time"], 1764990000250ull);
  EXPECT_EQ(data["developer_device_id"], "dev");
  EXPECT_EQ(data["local_ip"], "10.0.0.2");
  EXPECT_EQ(data["network_type"], "wifi");
  EXPECT_FALSE(data.contains("sim_operator"));
  EXPECT_EQ(data["advertising_id"], "ad-id");
  EXPECT_EQ(data["limit_ad_tracking"], 1);
  EXPECT_EQ(data["store_type"], "other");
  EXPECT_EQ(data["tracking_status"], "not_determined");

  // Booleans are no sizes; NaN is no time; a getter that throws is an absent value.
  context = {{"$display_width", true}, {"$app_install_time", std::nan("")}, {"$display_height", "2532"}};
  data = DB::createLogOpenData(
      [&](const std::string& key) -> Value {
        if (key == "$locale") throw std::runtime_error("boom");
        return context.contains(key) ? context[key] : Value();
      },
      3, 3);
  EXPECT_EQ(data, (Value{{"store_type", "microsoft_store"}, {"tracking_status", "authorized"}}));
  EXPECT_EQ(DB::createLogOpenData(nullptr, 0, 2).size(), 2u);
}

TEST_F(MobileDataBuilder, BuildersLeaveOutEmptyTextAndApplyDefaults) {
  EXPECT_EQ(DB::createLogAdData("unit", 0), (Value{{"ad_unit", "unit"}, {"placement_type", "banner"}, {"placement", "bottom"}}));
  EXPECT_EQ(DB::createLogAdData("", 2)["placement"], "fullscreen");
  EXPECT_EQ(DB::createLogAdData("u", 9, 9), (Value{{"ad_unit", "u"}}));
  EXPECT_EQ(DB::createLogPurchaseResultData("gems", 0.99, 3, "", 1),
            (Value{{"pack", "gems"}, {"price", 0.99}, {"amount", 3}, {"currency", "USD"}, {"store_type", "google_play"}}));
  EXPECT_EQ(DB::createLogCryptoPaymentData("p", 1.5, 2, "", "")["currency"], "ETH");
  EXPECT_EQ(DB::createLogCryptoPaymentData("p", 1.5, 2, "", "")["chain"], "ethereum");
  EXPECT_EQ(DB::createLogWalletData("0xabc", "")["type"], "ethereum");
  EXPECT_EQ(DB::createLogAdRevenueData("max", 0.01, "", "", Value())["currency"], "USD");
  EXPECT_FALSE(DB::createLogAdRevenueData("max", 0.01, "", "", Value()).contains("network_data"));
  EXPECT_EQ(DB::createLogAdRevenueData("max", 0.01, "", "", Value{{"k", 1}})["network_data"]["k"], 1);
  EXPECT_EQ(DB::createLogIAPInitializationData(false, 0), (Value{{"status", "failed"}, {"store_type", "app_store"}}));
  // Non-finite numbers cannot travel as JSON.
  EXPECT_EQ(DB::createLogLocationData(std::nan(""), 2.5), (Value{{"longitude", 2.5}}));
  EXPECT_TRUE(ports_.log->contains("non-finite"));
  EXPECT_EQ(DB::createLogAccountData("id", "google", "", "game"), (Value{{"id", "id"}, {"type", "google"}}));
  EXPECT_EQ(DB::createLogAccountData("id", "", "s", ""), (Value{{"id", "id"}, {"scopeId", "s"}}));
  EXPECT_EQ(DB::createLogUserInfoData("email", Value{{"email", "a@b"}, {"type", "spoof"}}),
            (Value{{"email", "a@b"}, {"type", "email"}}));
  EXPECT_EQ(DB::createLogUserInfoData("email", Value::array({1, 2})), (Value{{"type", "email"}}));
  EXPECT_EQ(DB::createLogThirdPartySharingData(false), (Value{{"enable", false}}));
  EXPECT_EQ(DB::createLogTrackingAuthorizationStatusData(0), (Value{{"status", "not_determined"}}));
}

TEST_F(MobileDataBuilder, JsonValuesOfEveryShapeAreMadeSendable) {
  Value map = DB::createLogBaseData();
  DB::updateLogData(map, "null", Value());
  DB::updateLogData(map, "empty", std::string());
  DB::updateLogData(map, "nullText", static_cast<const char*>(nullptr));
  DB::updateLogData(map, "none", std::optional<std::string>());
  EXPECT_TRUE(map.empty());

  DB::updateLogData(map, "text", std::string("a\xff") + "b");
  EXPECT_EQ(map["text"], "a\xEF\xBF\xBD" "b");
  EXPECT_TRUE(ports_.log->contains("invalid UTF-8"));

  Value shapes = {{"n", std::numeric_limits<double>::infinity()},
                  {"list", Value::array({1, "x", nullptr, true, std::nan("")})},
                  {"data", makeData("\x01\x02\x03\x04")},
                  {"date", makeDate(12.5)},
                  {std::string("k\xc0"), "v"}};
  DB::updateLogData(map, "shapes", shapes);
  EXPECT_TRUE(map["shapes"]["n"].is_null());
  EXPECT_EQ(map["shapes"]["list"], (Value::array({1, "x", nullptr, true, nullptr})));
  EXPECT_EQ(map["shapes"]["data"], "AQIDBA==");
  EXPECT_EQ(map["shapes"]["date"], 12.5);
  EXPECT_EQ(map["shapes"]["k\xEF\xBF\xBD"], "v");
  EXPECT_EQ(map["shapes"].dump().size(), dumpJson(map["shapes"]).size());

  Value deep = 1;
  for (int i = 0; i < 200; ++i) deep = Value::array({std::move(deep)});
  DB::updateLogData(map, "deep", deep);
  EXPECT_FALSE(map.contains("deep"));
  EXPECT_TRUE(ports_.log->contains("nested deeper"));

  // Something that is not a map is left alone.
  Value notMap = Value::array();
  DB::updateLogData(notMap, "k", std::string("v"));
  DB::updateLogData(notMap, "k", 1);
  EXPECT_TRUE(notMap.empty());
}

TEST_F(MobileDataBuilder, DeepLinkQueryFoldsDecodedPairsFirstValueWinning) {
  const std::string url =
      "corvane://open/path?a=1&b=%41%zz%4&c&=x&a=2&&d=%E2%82%AC&e=%FF&f=x=y&g=1+2&%75rl=evil#h=frag";
  Value data = DB::createLogDeepLinkData(url, 1764990000250ull);
  EXPECT_EQ(data["url"], url);
  EXPECT_EQ(data["click_time"], 1764990000250ull);
  EXPECT_EQ(data["a"], "1");
  EXPECT_EQ(data["b"], "A%zz%4");
  EXPECT_EQ(data["c"], "");
  EXPECT_EQ(data["d"], "\xE2\x82\xAC");
  EXPECT_EQ(data["e"], "\xEF\xBF\xBD");
  EXPECT_EQ(data["f"], "x=y");
  EXPECT_EQ(data["g"], "1+2");
  EXPECT_FALSE(data.contains("h"));
  EXPECT_FALSE(data.contains(""));
  EXPECT_EQ(data.size(), 9u);
  EXPECT_TRUE(ports_.log->contains("repeats the query key a"));

  EXPECT_EQ(DB::createLogDeepLinkData("", 0), (Value{{"click_time", 0}}));
  EXPECT_EQ(DB::createLogDeepLinkData("app://x", 5).size(), 2u);
  EXPECT_EQ(DB::decodeDeepLinkQuery("app://x?"), Value::object());
  EXPECT_EQ(DB::decodeDeepLinkQuery("app://x?%"), (Value{{"%", ""}}));

  std::string many = "app://x?";
  for (int i = 0; i < 200; ++i) many += "k" + std::to_string(i) + "=" + std::to_string(i) + "&";
  Value folded = DB::decodeDeepLinkQuery(many);
  EXPECT_EQ(folded.size(), DB::kMaxDeepLinkParameters);
  EXPECT_EQ(folded["k0"], "0");
  EXPECT_FALSE(folded.contains("k50"));

  std::string huge = "app://x?big=" + std::string(8 * 1024 * 1024, '%');
  EXPECT_EQ(DB::createLogDeepLinkData(huge, 1)["big"].get_ref<const std::string&>().size(), 8u * 1024 * 1024);
}

TEST_F(MobileDataBuilder, SubEventWithoutIdTakesItsParentsId) {
  CorvaneSDKLogOperation open("qvsdk_open", DB::createLogOpenData(nullptr, 0, 0), "session-1", "default", std::nullopt);
  auto held = std::make_shared<CorvaneSDKLogOperation>("qvsdk_level_attempt", DB::createLogLevelData(1, "a"), "",
                                                       "default", std::nullopt);
  auto own = std::make_shared<CorvaneSDKLogOperation>("qvsdk_level_attempt", DB::createLogLevelData(2, "b"),
                                                      "session-0", "default", std::nullopt);
  open.addSubEvent(held);
  open.addSubEvent(own);
  open.addSubEvent(nullptr);
  ASSERT_EQ(open.getNumSubEvents(), 2u);
  EXPECT_EQ(open.getSubEvent(0)->id, "session-1");
  EXPECT_EQ(open.getSubEvent(1)->id, "session-0");
  EXPECT_EQ(open.getSubEvent(0)->value, (Value{{"level", 1}, {"label", "a"}}));
  EXPECT_FALSE(open.getSubEvent(2));
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
