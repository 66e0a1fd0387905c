// Every typed export produces its event name and payload.
#include <functional>

#include "FakeClock.h"
#include "manager_harness.h"

using CorvaneSDK::Json;
using namespace CorvaneSDK::Test;

namespace {
struct Case {
  std::function<void(CorvaneSDKManagerRef)> call;
  const char* name;
  const char* payload;  // JSON text of the expected value
};

class TypedEvents : public ManagerHarness {};
}  // namespace

TEST_F(TypedEvents, EveryExportSendsItsNameAndPayload) {
  ScopedFakeClock clock;
  ::InitializationData* data = Data();
  InitializationData_SetStoreType(data, 3);
  InitializationData_SetAppVersion(data, "2.0");
  InitializationData_SetAppleAppId(data, "apple-app");
  InitializationData_SetAppleDeveloperTeamId(data, "TEAM");
  InitializationData_SetGooglePlayGameServicesProjectId(data, "gp-proj");
  InitializationData_SetGooglePlayDeveloperAccountId(data, "gp-dev");
  InitializationData_SetWeChatAppId(data, "wx");
  CorvaneSDKManagerRef m = Init(data);
  ASSERT_NE(m, nullptr);

  const std::vector<Case> cases = {
      {[](auto m) { CorvaneSDKManager_LogBootStart(m); }, "qvsdk_boot_start", "{}"},
      {[](auto m) { CorvaneSDKManager_LogLevelStart(m, 4, "ice"); }, "qvsdk_level_attempt", R"({"label":"ice","level":4})"},
      {[](auto m) { CorvaneSDKManager_LogLevelEnd(m, 4, nullptr, 1); }, "qvsdk_level_complete", R"({"level":4})"},
      {[](auto m) { CorvaneSDKManager_LogLevelEnd(m, 5, "x", 0); }, "qvsdk_level_fail", R"({"label":"x","level":5})"},
      {[](auto m) { CorvaneSDKManager_LogUpdateApp(m, "3.0"); }, "qvsdk_update_click", R"({"current_version":"2.0","new_version":"3.0"})"},
      {[](auto m) { CorvaneSDKManager_LogRateApp(m); }, "qvsdk_store_rating_click", R"({"store_type":"microsoft_store"})"},
      {[](auto m) { CorvaneSDKManager_LogLocation(m, 1.5, -2.25); }, "qvsdk_location", R"({"latitude":1.5,"longitude":-2.25})"},
      {[](auto m) { CorvaneSDKManager_LogAdLoad(m, "u1", 0); }, "qvsdk_ad_load", R"({"ad_unit":"u1","placement":"bottom","placement_type":"banner"})"},
      {[](auto m) { CorvaneSDKManager_LogAdClose(m, "u2", 1); }, "qvsdk_ad_close", R"({"ad_unit":"u2","placement":"fullscreen","placement_type":"interstitial"})"},
      {[](auto m) { CorvaneSDKManager_LogAdClick2(m, "u3", 2, 1); }, "qvsdk_ad_click", R"({"ad_unit":"u3","placement":"top","placement_type":"rewarded_video"})"},
      {[](auto m) { CorvaneSDKManager_LogAdImpression2(m, "u4", 9, 9); }, "qvsdk_ad_impression", R"({"ad_unit":"u4"})"},
      {[](auto m) { CorvaneSDKManager_LogAdRevenue(m, "max", 0.5); }, "qvsdk_ad_revenue", R"({"currency":"USD","revenue":0.5,"source":"max"})"},
      {[](auto m) { CorvaneSDKManager_LogAdRevenue3(m, "s", 1.0, "EUR", "net", "{}"); }, "qvsdk_ad_revenue", R"({"currency":"EUR","network":"net","network_data":"{}","revenue":1.0,"source":"s"})"},
      {[](auto m) { CorvaneSDKManager_LogIAPInitialization(m, 0); }, "qvsdk_iap_initialization", R"({"status":"failed"})"},
      {[](auto m) { CorvaneSDKManager_LogIAPRestorePurchase(m); }, "qvsdk_iap_restore_purchase", R"({"store_type":"microsoft_store"})"},
      {[](auto m) { CorvaneSDKManager_LogIAPResult(m, "p", 0.99, 2, nullptr, 1); }, "qvsdk_iap_success_payment", R"({"amount":2,"currency":"USD","pack":"p","price":0.99,"store_type":"microsoft_store"})"},
      {[](auto m) { CorvaneSDKManager_LogIAPResult(m, "p", 1, 1, "EUR", 0); }, "qvsdk_iap_fail_payment", R"({"amount":1,"currency":"EUR","pack":"p","price":1.0,"store_type":"microsoft_store"})"},
      {[](auto m) { CorvaneSDKManager_LogIAPReceipt_Apple(m, "r"); }, "qvsdk_iap_receipt", R"({"receipt":"r","type":"apple"})"},
      {[](auto m) { CorvaneSDKManager_LogIAPReceipt_Google(m, "d", "s"); }, "qvsdk_iap_receipt", R"({"data":"d","signature":"s","type":"google"})"},
      {[](auto m) { CorvaneSDKManager_LogIAPReceipt_Amazon(m, "u", "r"); }, "qvsdk_iap_receipt", R"({"receiptId":"r","type":"amazon","userId":"u"})"},
      {[](auto m) { CorvaneSDKManager_LogIAPReceipt_GooglePlayProduct(m, "pk", "pid", "t"); }, "qvsdk_iap_receipt", R"({"packageName":"pk","productId":"pid","token":"t","type":"googlePlayProduct"})"},
      {[](auto m) { CorvaneSDKManager_LogIAPReceipt_GooglePlaySubscriptionv2(m, "pk", "t"); }, "qvsdk_iap_receipt", R"({"packageName":"pk","token":"t","type":"googlePlaySubscriptionv2"})"},
      {[](auto m) { CorvaneSDKManager_LogAccountLink3(m, "id", "custom", "sc", "st"); }, "qvsdk_account_link", R"({"id":"id","scope_id":"sc","scope_type":"st","type":"custom"})"},
      {[](auto m) { CorvaneSDKManager_LogAccountLink2(m, "id", "custom", nullptr); }, "qvsdk_account_link", R"({"id":"id","type":"custom"})"},
      {[](auto m) { CorvaneSDKManager_LogDiscordLink(m, "d1"); }, "qvsdk_account_link", R"({"id":"d1","type":"discord"})"},
      {[](auto m) { CorvaneSDKManager_LogGameCenterTeamLink(m, "g1"); }, "qvsdk_account_link", R"({"id":"g1","scope_id":"TEAM","scope_type":"developer","type":"game_center"})"},
      {[](auto m) { CorvaneSDKManager_LogGameCenterGameLink(m, "g2"); }, "qvsdk_account_link", R"({"id":"g2","scope_id":"apple-app","scope_type":"game","type":"game_center"})"},
      {[](auto m) { CorvaneSDKManager_LogPlayGameServicesDeveloperLink(m, "p1"); }, "qvsdk_account_link", R"({"id":"p1","scope_id":"gp-dev","scope_type":"developer","type":"play_game_services"})"},
      {[](auto m) { CorvaneSDKManager_LogWeChatUnionLink(m, "w1"); }, "qvsdk_account_link", R"({"id":"w1","scope_id":"wx","scope_type":"union","type":"wechat"})"},
      {[](auto m) { CorvaneSDKManager_LogVKUnlink(m); }, "qvsdk_account_unlink", R"({"type":"vk"})"},
      {[](auto m) { CorvaneSDKManager_AddUserPhoneNumber(m, 44, "7700"); }, "qvsdk_user_info_add", R"({"phone":{"country_code":44,"number":"7700"}})"},
      {[](auto m) { CorvaneSDKManager_RemoveUserEmail(m, "a@b.c"); }, "qvsdk_user_info_remove", R"({"email":"a@b.c"})"},
      {[](auto m) { CorvaneSDKManager_SetUserZipCode(m, "1000"); }, "qvsdk_user_info_set", R"({"zip":"1000"})"},
      {[](auto m) { CorvaneSDKManager_SetUserDateOfBirth(m, 1, 2, 1990); }, "qvsdk_user_info_set", R"({"dob":{"day":1,"month":2,"year":1990}})"},
      {[](auto m) { CorvaneSDKManager_SetUserGender(m, 1); }, "qvsdk_user_info_set", R"({"gender":"female"})"},
      {[](auto m) { CorvaneSDKManager_LogWalletLink(m, "0xabc"); }, "qvsdk_account_link_wallet", R"({"type":"ethereum","wallet":"0xabc"})"},
      {[](auto m) { CorvaneSDKManager_LogWalletUnlink2(m, "w", "solana"); }, "qvsdk_account_unlink_wallet", R"({"type":"solana","wallet":"w"})"},
      {[](auto m) { CorvaneSDKManager_LogCryptoPayment(m, "p", 0.1, 1); }, "qvsdk_crypto_payment", R"({"amount":1,"chain":"ethereum","currency":"ETH","pack":"p","price":0.1})"},
      {[](auto m) { CorvaneSDKManager_LogCryptoPayment3(m, "p", 2, 3, "SOL", "solana"); }, "qvsdk_crypto_payment", R"({"amount":3,"chain":"solana","currency":"SOL","pack":"p","price":2.0})"},
      {[](auto m) { CorvaneSDKManager_Log(m, "plain"); }, "plain", "null"},
      {[](auto m) { CorvaneSDKManager_LogWithIntValue(m, "int", 5); }, "int", R"({"value":5})"},
      {[](auto m) { CorvaneSDKManager_LogWithStringValue2(m, "str", "v", 0); }, "str", R"({"value":"v"})"},
      {[](auto m) { CorvaneSDKManager_LogWithJsonValue(m, "json", "[1,{\"b\":2,\"a\":1}]"); }, "json", R"([1,{"a":1,"b":2}])"},
      {[](auto m) { CorvaneSDKManager_LogWithMapValue(m, "map", "k:v%21"); }, "map", R"({"k":"v!"})"},
  };
  // Ignored calls: required texts missing, unknown gender.
  CorvaneSDKManager_LogGoogleLink(m, nullptr);
  CorvaneSDKManager_LogAccountLink(m, "id", nullptr);
  CorvaneSDKManager_LogIAPReceipt_Google(m, "d", nullptr);
  CorvaneSDKManager_SetUserGender(m, 5);
  CorvaneSDKManager_Log(m, nullptr);

  for (const auto& c : cases) c.call(m);
  ASSERT_TRUE(WaitForCount("map", 1));
  std::vector<Json> got = Received();
  // Drop what the manager sends by itself.
  got.erase(std::remove_if(got.begin(), got.end(),
                           [](const Json& e) {
                             const std::string n = e["eventName"];
                             return n == "qvsdk_first_open" || n == "qvsdk_open";
                           }),
            got.end());
  ASSERT_EQ(got.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(got[i]["eventName"], cases[i].name) << i;
    EXPECT_EQ(got[i]["value"], Json::parse(cases[i].payload)) << cases[i].name;
  }
}

TEST_F(TypedEvents, BootEndMeasuresFromBootStart) {
  ScopedFakeClock clock(false);
  CorvaneSDKManagerRef m = Init();
  CorvaneSDKManager_LogBootStart(m);
  clock->Advance(1234);
  CorvaneSDKManager_LogBootEnd(m);
  CorvaneSDKManager_Stop(m);  // sends the open event; the queue then holds all three
  clock->SetAutoAdvance(true);
  CorvaneSDKManager_Start(m);
  ASSERT_TRUE(WaitForCount("qvsdk_boot_end", 1));
  EXPECT_EQ(Named("qvsdk_boot_end")[0]["value"]["boot_time"], 1234);
}
