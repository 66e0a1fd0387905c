// Event texts written directly are byte for byte the dump of the tree they stand for.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>

#include "CorvaneSDKManager.h"
#include "Event.h"
#include "EventWriter.h"
#include "FakeClock.h"
#include "manager_harness.h"

using namespace CorvaneSDK;
using namespace CorvaneSDK::Test;

namespace {

// Escapes, every kind of invalid UTF-8 the dump replaces, and valid multi-byte text.
const std::vector<std::string>& AwkwardStrings() {
  static const std::vector<std::string> strings = {
      "", "plain", "q\"uote\\back/slash", std::string("nul\0byte", 8),
      "\x01\x1f\x7f\b\f\n\r\t", "bad\xff\xfe tail\xc3", "\xc0\xaf overlong", "\xed\xa0\x80 surrogate",
      "\xf4\x90\x80\x80 past max", "\xf8\x88\x80\x80\x80", "trunc\xe2\x82", "\xe2\x28\xa1",
      "\xc3\xa9\xe6\xbc\xa2\xf0\x9f\x8e\x89", "\xef\xbf\xbd\xf4\x8f\xbf\xbf\xee\x80\x80"};
  return strings;
}

const std::vector<double>& AwkwardDoubles() {
  static const std::vector<double> doubles = {
      0.1, 1e300, -0.0, 0.0, std::nan(""), std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(), 5e-324, 2.2250738585072014e-308, 123456789.125,
      1e15, 1e16, 1e17, -2.5e-5, 1e-4, 0.3, 1.0 / 3.0, 9007199254740993.0, -1.7976931348623157e308};
  return doubles;
}

std::string Literal(const std::string& s) {
  std::string out;
  AppendJsonString(out, s);
  return out;
}

std::string Number(double d) {
  std::string out;
  AppendJsonDouble(out, d);
  return out;
}

struct Owned {
  EventPtr e;
  explicit Owned(const std::string& name) : e(Event::Acquire(name)) {}
};

}  // namespace

TEST(EventWriter, StringsAndNumbersMatchTheDump) {
  for (const std::string& s : AwkwardStrings()) EXPECT_EQ(Literal(s), DumpJson(Json(s))) << s;
  std::mt19937_64 random(20261208);
  for (int n = 0; n < 20000; ++n) {
    // Mostly high and control bytes, where escaping and replacement differ.
    std::string s(random() % 12, '\0');
    for (char& c : s) {
      const uint64_t r = random();
      c = static_cast<char>(r % 4 == 0 ? r % 0x20 : r % 4 == 1 ? 0x20 + r % 0x60 : 0x80 + r % 0x80);
    }
    ASSERT_EQ(Literal(s), DumpJson(Json(s)));
  }
  for (double d : AwkwardDoubles()) EXPECT_EQ(Number(d), DumpJson(Json(d))) << d;
  for (int n = 0; n < 20000; ++n) {
    const uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    ASSERT_EQ(Number(d), DumpJson(Json(d))) << bits;
  }
  for (int64_t v : {int64_t{0}, int64_t{-1}, int64_t{INT_MIN}, int64_t{INT_MAX},
                    std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()}) {
    std::string out;
    AppendJsonInt(out, v);
    EXPECT_EQ(out, DumpJson(Json(v)));
  }
}

TEST(EventWriter, EventTextIsTheDumpOfItsTree) {
  const auto& strings = AwkwardStrings();
  for (size_t k = 0; k < strings.size(); ++k) {
    const std::string& s = strings[k];
    Owned parent(s);
    Event& e = *parent.e;
    e.eId = strings[(k + 1) % strings.size()];
    e.id = strings[(k + 2) % strings.size()];
    e.cfgId = strings[(k + 3) % strings.size()];
    e.customUid = s;
    e.timeInMs = k % 2 == 0 ? std::numeric_limits<int64_t>::min() : 1765000000000 + k;
    // A host value with a revenue block, a direct payload, and no value at all.
    e.SetJsonValue(R"({"z":[1,2.5,null],"a":{"b":"c"}})");
    e.SetMapValue(s + ":" + strings[(k + 4) % strings.size()]);
    e.AddRevenueData(AwkwardDoubles()[k % AwkwardDoubles().size()], s.empty() ? "USD" : s);
    EventPtr directOwned = Event::Acquire("direct" + s);
    Event* direct = directOwned.get();
    JsonObjectWriter w(direct->valueText);
    w.Double("d", AwkwardDoubles()[k]).Int("i", -7).Text("s", s);
    w.Object("t").TextIfAny("u", s).End();
    w.End();
    direct->timeInMs = 5;
    e.subEvents.push_back(std::move(directOwned));
    e.subEvents.push_back(nullptr);
    EventPtr bareOwned = Event::Acquire(s);
    Event* bare = bareOwned.get();
    bare->subEvents.push_back(Event::Acquire("not sent: two levels down"));
    e.subEvents.push_back(std::move(bareOwned));
    EXPECT_EQ(e.ToJsonText(), DumpJson(e.ToJson())) << k;
    EXPECT_EQ(direct->ToJsonText(), DumpJson(direct->ToJson())) << k;
    EXPECT_EQ(bare->ToJsonText(), DumpJson(bare->ToJson())) << k;
  }
  Owned empty("");
  EXPECT_EQ(empty.e->ToJsonText(), DumpJson(empty.e->ToJson()));
  EXPECT_EQ(empty.e->ToJsonText(),
            R"({"cfgId":"","customUid":"","eId":"","eventName":"","id":"","timeInMs":0,"value":null})");
}

namespace {

// The texts the queue holds for every typed export of the C interface, compared with the
// dump of the tree each export used to build.
class TypedEventText : public ManagerHarness {};

const char* Nullable(size_t k) {
  static const std::vector<const char*> texts = [] {
    std::vector<const char*> out = {nullptr};
    for (const std::string& s : AwkwardStrings()) out.push_back(s.c_str());
    return out;
  }();
  return texts[k % texts.size()];
}

std::string Txt(const char* s) { return s != nullptr ? s : ""; }

// As the tree-built payloads did: text members only when non-empty.
void Put(Json& j, const char* key, const std::string& s) {
  if (!s.empty()) j[key] = s;
}

struct Args {
  const char *s1, *s2, *s3;
  int i1, i2;
  double d;
  size_t k;
};

using Expected = std::optional<std::pair<std::string, Json>>;

struct Export {
  std::function<void(CorvaneSDKManagerRef, const Args&)> call;
  std::function<Expected(const Args&)> expected;
};

Expected Is(const std::string& name, Json payload) { return std::make_pair(name, std::move(payload)); }

const char* kPlacementTypes[] = {"banner", "interstitial", "rewarded_video", ""};
const char* kPlacements[] = {"bottom", "top", "left", "right", "fullscreen", ""};

Json AdPayload(const Args& a, int type, int placement) {
  if (placement == -1) placement = type == 0 ? 0 : 4;
  Json p = Json::object();
  Put(p, "ad_unit", Txt(a.s1));
  Put(p, "placement_type", kPlacementTypes[type >= 0 && type < 3 ? type : 3]);
  Put(p, "placement", kPlacements[placement >= 0 && placement < 5 ? placement : 5]);
  return p;
}

Expected Link(const char* id, const char* type, const std::string& scopeId,
              const std::string& scopeType) {
  if (id == nullptr || type == nullptr) return std::nullopt;
  Json p = Json::object();
  Put(p, "id", id);
  Put(p, "type", type);
  if (!scopeId.empty()) {
    Put(p, "scope_id", scopeId);
    Put(p, "scope_type", scopeType);
  }
  return Is("qvsdk_account_link", p);
}

Expected Receipt(const char* kind, std::vector<std::pair<const char*, const char*>> members) {
  Json p = Json::object({{"type", kind}});
  for (const auto& m : members) {
    if (m.second == nullptr) return std::nullopt;
    Put(p, m.first, m.second);
  }
  return Is("qvsdk_iap_receipt", p);
}

Expected Info(const char* name, const char* key, const char* v) {
  if (v == nullptr) return std::nullopt;
  return Is(name, Json::object({{key, std::string(v)}}));
}

Expected Wallet(const char* name, const char* wallet, const char* type) {
  if (wallet == nullptr) return std::nullopt;
  Json p = Json::object();
  Put(p, "wallet", wallet);
  p["type"] = Txt(type).empty() ? "ethereum" : Txt(type);
  return Is(name, p);
}

Expected Crypto(const Args& a, const char* currency, const char* chain) {
  Json p = Json::object();
  Put(p, "pack", Txt(a.s1));
  p["price"] = a.d;
  p["amount"] = a.i1;
  p["currency"] = Txt(currency).empty() ? "ETH" : Txt(currency);
  p["chain"] = Txt(chain).empty() ? "ethereum" : Txt(chain);
  return Is("qvsdk_crypto_payment", p);
}

Expected AdRevenue(const Args& a, const char* currency, const char* network, const char* data) {
  Json p = Json::object();
  Put(p, "source", Txt(a.s1));
  p["revenue"] = a.d;
  p["currency"] = Txt(currency).empty() ? "USD" : Txt(currency);
  Put(p, "network", Txt(network));
  Put(p, "network_data", Txt(data));
  return Is("qvsdk_ad_revenue", p);
}

const char kAppVersion[] = "2.0 \"beta\"\t\\";
const char kTeam[] = "TE\"AM";
const char kStore[] = "microsoft_store";  // store type 3

std::vector<Export> Exports() {
  using A = const Args&;
  using M = CorvaneSDKManagerRef;
  return {
      {[](M m, A) { CorvaneSDKManager_LogBootStart(m); }, [](A) { return Is("qvsdk_boot_start", Json::object()); }},
      // The clock stands still, so the boot took no time.
      {[](M m, A) { CorvaneSDKManager_LogBootEnd(m); }, [](A) { return Is("qvsdk_boot_end", {{"boot_time", 0}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogLevelStart(m, a.i1, a.s1); },
       [](A a) { Json p = {{"level", a.i1}}; Put(p, "label", Txt(a.s1)); return Is("qvsdk_level_attempt", p); }},
      {[](M m, A a) { CorvaneSDKManager_LogLevelEnd(m, a.i1, a.s1, 1); },
       [](A a) { Json p = {{"level", a.i1}}; Put(p, "label", Txt(a.s1)); return Is("qvsdk_level_complete", p); }},
      {[](M m, A a) { CorvaneSDKManager_LogLevelEnd(m, a.i2, a.s2, 0); },
       [](A a) { Json p = {{"level", a.i2}}; Put(p, "label", Txt(a.s2)); return Is("qvsdk_level_fail", p); }},
      {[](M m, A a) { CorvaneSDKManager_LogUpdateApp(m, a.s1); },
       [](A a) { Json p = Json::object(); Put(p, "current_version", kAppVersion); Put(p, "new_version", Txt(a.s1)); return Is("qvsdk_update_click", p); }},
      {[](M m, A) { CorvaneSDKManager_LogRateApp(m); }, [](A) { return Is("qvsdk_store_rating_click", {{"store_type", kStore}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogLocation(m, a.d, -a.d); },
       [](A a) { return Is("qvsdk_location", {{"latitude", a.d}, {"longitude", -a.d}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogAdLoad(m, a.s1, a.i2); }, [](A a) { return Is("qvsdk_ad_load", AdPayload(a, a.i2, -1)); }},
      {[](M m, A a) { CorvaneSDKManager_LogAdClose(m, a.s1, static_cast<int>(a.k % 4)); },
       [](A a) { return Is("qvsdk_ad_close", AdPayload(a, static_cast<int>(a.k % 4), -1)); }},
      {[](M m, A a) { CorvaneSDKManager_LogAdClick2(m, a.s1, static_cast<int>(a.k % 4), static_cast<int>(a.k % 7) - 1); },
       [](A a) { return Is("qvsdk_ad_click", AdPayload(a, static_cast<int>(a.k % 4), static_cast<int>(a.k % 7) - 1)); }},
      {[](M m, A a) { CorvaneSDKManager_LogAdImpression2(m, a.s1, a.i1, a.i2); },
       [](A a) { return Is("qvsdk_ad_impression", AdPayload(a, a.i1, a.i2)); }},
      {[](M m, A a) { CorvaneSDKManager_LogAdRevenue(m, a.s1, a.d); }, [](A a) { return AdRevenue(a, nullptr, nullptr, nullptr); }},
      {[](M m, A a) { CorvaneSDKManager_LogAdRevenue2(m, a.s1, a.d, a.s2); }, [](A a) { return AdRevenue(a, a.s2, nullptr, nullptr); }},
      {[](M m, A a) { CorvaneSDKManager_LogAdRevenue3(m, a.s1, a.d, a.s2, a.s3, a.s1); }, [](A a) { return AdRevenue(a, a.s2, a.s3, a.s1); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPInitialization(m, static_cast<int>(a.k % 2)); },
       [](A a) { return Is("qvsdk_iap_initialization", {{"status", a.k % 2 != 0 ? "success" : "failed"}}); }},
      {[](M m, A) { CorvaneSDKManager_LogIAPRestorePurchase(m); }, [](A) { return Is("qvsdk_iap_restore_purchase", {{"store_type", kStore}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPResult(m, a.s1, a.d, a.i1, a.s2, static_cast<int>(a.k % 2)); },
       [](A a) {
         Json p = Json::object();
         Put(p, "pack", Txt(a.s1));
         p["price"] = a.d;
         p["amount"] = a.i1;
         p["currency"] = Txt(a.s2).empty() ? "USD" : Txt(a.s2);
         p["store_type"] = kStore;
         return Is(a.k % 2 != 0 ? "qvsdk_iap_success_payment" : "qvsdk_iap_fail_payment", p);
       }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPReceipt_Apple(m, a.s1); }, [](A a) { return Receipt("apple", {{"receipt", a.s1}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPReceipt_Google(m, a.s1, a.s2); }, [](A a) { return Receipt("google", {{"data", a.s1}, {"signature", a.s2}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPReceipt_Amazon(m, a.s1, a.s2); }, [](A a) { return Receipt("amazon", {{"userId", a.s1}, {"receiptId", a.s2}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPReceipt_Roku(m, a.s1); }, [](A a) { return Receipt("roku", {{"receipt", a.s1}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPReceipt_Windows(m, a.s1); }, [](A a) { return Receipt("windows", {{"receipt", a.s1}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPReceipt_Facebook(m, a.s1); }, [](A a) { return Receipt("facebook", {{"receipt", a.s1}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPReceipt_Unity(m, a.s1); }, [](A a) { return Receipt("unity", {{"receipt", a.s1}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPReceipt_AppStoreServer(m, a.s1); }, [](A a) { return Receipt("appStoreServer", {{"receipt", a.s1}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPReceipt_GooglePlayProduct(m, a.s1, a.s2, a.s3); },
       [](A a) { return Receipt("googlePlayProduct", {{"packageName", a.s1}, {"productId", a.s2}, {"token", a.s3}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPReceipt_GooglePlaySubscription(m, a.s1, a.s2, a.s3); },
       [](A a) { return Receipt("googlePlaySubscription", {{"packageName", a.s1}, {"subscriptionId", a.s2}, {"token", a.s3}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogIAPReceipt_GooglePlaySubscriptionv2(m, a.s1, a.s2); },
       [](A a) { return Receipt("googlePlaySubscriptionv2", {{"packageName", a.s1}, {"token", a.s2}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogAccountLink(m, a.s1, a.s2); }, [](A a) { return Link(a.s1, a.s2, "", ""); }},
      {[](M m, A a) { CorvaneSDKManager_LogAccountLink2(m, a.s1, a.s2, a.s3); }, [](A a) { return Link(a.s1, a.s2, Txt(a.s3), ""); }},
      {[](M m, A a) { CorvaneSDKManager_LogAccountLink3(m, a.s1, a.s2, a.s3, a.s1); }, [](A a) { return Link(a.s1, a.s2, Txt(a.s3), Txt(a.s1)); }},
      {[](M m, A a) { CorvaneSDKManager_LogAccountUnlink(m, a.s1); },
       [](A a) -> Expected { if (a.s1 == nullptr) return std::nullopt; Json p = Json::object(); Put(p, "type", a.s1); return Is("qvsdk_account_unlink", p); }},
      {[](M m, A a) { CorvaneSDKManager_LogGoogleLink(m, a.s1); }, [](A a) { return Link(a.s1, "google", "", ""); }},
      {[](M m, A) { CorvaneSDKManager_LogTikTokUnlink(m); }, [](A) { return Is("qvsdk_account_unlink", {{"type", "tiktok"}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogGameCenterTeamLink(m, a.s1); }, [](A a) { return Link(a.s1, "game_center", kTeam, "developer"); }},
      {[](M m, A a) { CorvaneSDKManager_LogWeChatUnionLink(m, a.s1); }, [](A a) { return Link(a.s1, "wechat", "", "union"); }},
      {[](M m, A a) { CorvaneSDKManager_AddUserPhoneNumber(m, a.i1, a.s1); },
       [](A a) -> Expected { if (a.s1 == nullptr) return std::nullopt; return Is("qvsdk_user_info_add", {{"phone", {{"country_code", a.i1}, {"number", std::string(a.s1)}}}}); }},
      {[](M m, A a) { CorvaneSDKManager_RemoveUserPhoneNumber(m, a.i2, a.s2); },
       [](A a) -> Expected { if (a.s2 == nullptr) return std::nullopt; return Is("qvsdk_user_info_remove", {{"phone", {{"country_code", a.i2}, {"number", std::string(a.s2)}}}}); }},
      {[](M m, A a) { CorvaneSDKManager_AddUserEmail(m, a.s1); }, [](A a) { return Info("qvsdk_user_info_add", "email", a.s1); }},
      {[](M m, A a) { CorvaneSDKManager_RemoveUserEmail(m, a.s2); }, [](A a) { return Info("qvsdk_user_info_remove", "email", a.s2); }},
      {[](M m, A a) { CorvaneSDKManager_SetUserName(m, a.s1); }, [](A a) { return Info("qvsdk_user_info_set", "name", a.s1); }},
      {[](M m, A a) { CorvaneSDKManager_SetUserFirstName(m, a.s2); }, [](A a) { return Info("qvsdk_user_info_set", "first_name", a.s2); }},
      {[](M m, A a) { CorvaneSDKManager_SetUserLastName(m, a.s3); }, [](A a) { return Info("qvsdk_user_info_set", "last_name", a.s3); }},
      {[](M m, A a) { CorvaneSDKManager_SetUserCity(m, a.s1); }, [](A a) { return Info("qvsdk_user_info_set", "city", a.s1); }},
      {[](M m, A a) { CorvaneSDKManager_SetUserState(m, a.s2); }, [](A a) { return Info("qvsdk_user_info_set", "state", a.s2); }},
      {[](M m, A a) { CorvaneSDKManager_SetUserCountry(m, a.s3); }, [](A a) { return Info("qvsdk_user_info_set", "country", a.s3); }},
      {[](M m, A a) { CorvaneSDKManager_SetUserZipCode(m, a.s1); }, [](A a) { return Info("qvsdk_user_info_set", "zip", a.s1); }},
      {[](M m, A a) { CorvaneSDKManager_SetUserDateOfBirth(m, a.i1, a.i2, a.i2); },
       [](A a) { return Is("qvsdk_user_info_set", {{"dob", {{"day", a.i1}, {"month", a.i2}, {"year", a.i2}}}}); }},
      {[](M m, A a) { CorvaneSDKManager_SetUserDateOfBirth2(m, a.i2, a.i1); },
       [](A a) { return Is("qvsdk_user_info_set", {{"dob", {{"day", a.i2}, {"month", a.i1}}}}); }},
      {[](M m, A a) { CorvaneSDKManager_SetUserYearOfBirth(m, a.i1); }, [](A a) { return Is("qvsdk_user_info_set", {{"dob", {{"year", a.i1}}}}); }},
      {[](M m, A a) { CorvaneSDKManager_SetUserGender(m, static_cast<int>(a.k % 3)); },
       [](A a) -> Expected { if (a.k % 3 == 2) return std::nullopt; return Is("qvsdk_user_info_set", {{"gender", a.k % 3 == 0 ? "male" : "female"}}); }},
      {[](M m, A a) { CorvaneSDKManager_LogWalletLink(m, a.s1); }, [](A a) { return Wallet("qvsdk_account_link_wallet", a.s1, nullptr); }},
      {[](M m, A a) { CorvaneSDKManager_LogWalletLink2(m, a.s1, a.s2); }, [](A a) { return Wallet("qvsdk_account_link_wallet", a.s1, a.s2); }},
      {[](M m, A a) { CorvaneSDKManager_LogWalletUnlink(m, a.s2); }, [](A a) { return Wallet("qvsdk_account_unlink_wallet", a.s2, nullptr); }},
      {[](M m, A a) { CorvaneSDKManager_LogWalletUnlink2(m, a.s2, a.s3); }, [](A a) { return Wallet("qvsdk_account_unlink_wallet", a.s2, a.s3); }},
      {[](M m, A a) { CorvaneSDKManager_LogCryptoPayment(m, a.s1, a.d, a.i1); }, [](A a) { return Crypto(a, nullptr, nullptr); }},
      {[](M m, A a) { CorvaneSDKManager_LogCryptoPayment2(m, a.s1, a.d, a.i1, a.s2); }, [](A a) { return Crypto(a, a.s2, nullptr); }},
      {[](M m, A a) { CorvaneSDKManager_LogCryptoPayment3(m, a.s1, a.d, a.i1, a.s2, a.s3); }, [](A a) { return Crypto(a, a.s2, a.s3); }},
  };
}

}  // namespace

TEST_F(TypedEventText, EveryTypedExportWritesTheBytesOfItsTree) {
  ScopedFakeClock clock(false);
  ::InitializationData* data = Data();
  InitializationData_SetOffline(data, 1);  // everything stays queued
  InitializationData_SetStoreType(data, 3);
  InitializationData_SetAppVersion(data, kAppVersion);
  InitializationData_SetAppleDeveloperTeamId(data, kTeam);
  CorvaneSDKManagerRef m = Init(data);
  ASSERT_NE(m, nullptr);
  auto* manager = reinterpret_cast<CorvaneSDKManager*>(m);

  const std::vector<Export> exports = Exports();
  const int ints[] = {0, -1, INT_MIN, INT_MAX, 7, 2};
  std::vector<std::pair<std::string, Json>> expected;
  const size_t rounds = std::max(AwkwardDoubles().size(), AwkwardStrings().size() + 1);
  for (size_t k = 0; k < rounds; ++k) {
    const Args a{Nullable(k), Nullable(k + 3), Nullable(k + 7), ints[k % 6], ints[(k + 1) % 6],
                 AwkwardDoubles()[k % AwkwardDoubles().size()], k};
    for (const Export& e : exports) {
      e.call(m, a);
      if (Expected x = e.expected(a)) expected.push_back(std::move(*x));
    }
  }

  std::vector<std::string> texts;
  for (const std::string& t : manager->Queue()->Texts()) {
    Json parsed;
    ASSERT_TRUE(ParseJson(t, parsed)) << t;
    const std::string name = parsed["eventName"];
    if (name != "qvsdk_first_open" && name != "qvsdk_open") texts.push_back(t);
  }
  ASSERT_EQ(texts.size(), expected.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    // The tree-built form: the same envelope around the payload tree the export used to build.
    Json tree;
    ASSERT_TRUE(ParseJson(texts[i], tree));
    EXPECT_EQ(tree["eventName"], expected[i].first) << i;
    tree["value"] = expected[i].second;
    EXPECT_EQ(texts[i], DumpJson(tree)) << i;
  }
}
