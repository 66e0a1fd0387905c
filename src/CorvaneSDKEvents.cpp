// The typed event functions of the C interface and the privacy functions. Each builds one
// event with a fixed name and payload and offers it to the manager's send path. The payload
// keys are fixed, so the payload is written as JSON text straight into the record, keys in
// byte order as a dump would give them; no JSON tree is built on the host's thread.
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "CApi.h"
#include "CorvaneSDK.h"
#include "CorvaneSDKManager.h"
#include "Event.h"
#include "EventWriter.h"
#include "Logger.h"
#include "StoreType.h"

using namespace CorvaneSDK;
using CorvaneSDK::CApi::GuardedVoid;
using CorvaneSDK::CApi::Text;
using CorvaneSDK::CApi::WithManagerVoid;

namespace {

const char* PlacementType(int type) {
  switch (type) {
    case 0: return "banner";
    case 1: return "interstitial";
    case 2: return "rewarded_video";
    default: return "";
  }
}

const char* Placement(int placement) {
  switch (placement) {
    case 0: return "bottom";
    case 1: return "top";
    case 2: return "left";
    case 3: return "right";
    case 4: return "fullscreen";
    default: return "";
  }
}

// `write` appends the payload's members, in byte order of their keys.
template <typename Write>
void Send(CorvaneSDKManager& m, const char* name, Write&& write) {
  EventPtr event = Event::Acquire(name);
  JsonObjectWriter payload(event->valueText);
  write(payload);
  payload.End();
  m.SendEvent(std::move(event));
}

template <typename F>
void Typed(const char* function, CorvaneSDKManagerRef manager, F&& build) {
  CApi::WithEventManager(function, manager, std::forward<F>(build));
}

void Ad(const char* function, CorvaneSDKManagerRef manager, const char* name, const char* adUnit,
        int type, int placement) {
  Typed(function, manager, [&](CorvaneSDKManager& m) {
    if (placement == -1) placement = type == 0 ? 0 : 4;
    Send(m, name, [&](JsonObjectWriter& p) {
      p.TextIfAny("ad_unit", Text(adUnit))
          .TextIfAny("placement", Placement(placement))
          .TextIfAny("placement_type", PlacementType(type));
    });
  });
}

void AccountLink(const char* function, CorvaneSDKManagerRef manager, const char* id,
                 const char* type, const std::string& scopeId, const std::string& scopeType) {
  if (id == nullptr || type == nullptr) return;
  Typed(function, manager, [&](CorvaneSDKManager& m) {
    Send(m, "qvsdk_account_link", [&](JsonObjectWriter& p) {
      p.TextIfAny("id", id);
      if (!scopeId.empty()) p.TextIfAny("scope_id", scopeId).TextIfAny("scope_type", scopeType);
      p.TextIfAny("type", type);
    });
  });
}

void ScopedLink(const char* function, CorvaneSDKManagerRef manager, const char* id,
                const char* type, ThirdPartyId scope, const char* scopeType) {
  if (id == nullptr) return;
  std::shared_ptr<CorvaneSDKManager> live = CApi::Check(manager, false);
  const std::string scopeId = live ? live->GetThirdPartyId(scope) : std::string();
  AccountLink(function, manager, id, type, scopeId, scopeType);
}

void Unlink(const char* function, CorvaneSDKManagerRef manager, const char* type) {
  if (type == nullptr) return;
  Typed(function, manager, [&](CorvaneSDKManager& m) {
    Send(m, "qvsdk_account_unlink", [&](JsonObjectWriter& p) { p.TextIfAny("type", type); });
  });
}

void UserInfo(const char* function, CorvaneSDKManagerRef manager, const char* name, const char* key,
              const char* text) {
  if (text == nullptr) return;
  Typed(function, manager, [&](CorvaneSDKManager& m) {
    Send(m, name, [&](JsonObjectWriter& p) { p.Text(key, text); });
  });
}

void Phone(const char* function, CorvaneSDKManagerRef manager, const char* name, int countryCode,
           const char* number) {
  if (number == nullptr) return;
  Typed(function, manager, [&](CorvaneSDKManager& m) {
    Send(m, name, [&](JsonObjectWriter& p) {
      p.Object("phone").Int("country_code", countryCode).Text("number", number).End();
    });
  });
}

// `write` appends the members of "dob".
template <typename Write>
void DateOfBirth(const char* function, CorvaneSDKManagerRef manager, Write write) {
  Typed(function, manager, [&](CorvaneSDKManager& m) {
    Send(m, "qvsdk_user_info_set", [&](JsonObjectWriter& p) {
      JsonObjectWriter dob = p.Object("dob");
      write(dob);
      dob.End();
    });
  });
}

void Wallet(const char* function, CorvaneSDKManagerRef manager, const char* name,
            const char* wallet, const char* type) {
  if (wallet == nullptr) return;
  Typed(function, manager, [&](CorvaneSDKManager& m) {
    const std::string t = Text(type);
    Send(m, name, [&](JsonObjectWriter& p) {
      p.Text("type", t.empty() ? "ethereum" : t).TextIfAny("wallet", wallet);
    });
  });
}

void Crypto(const char* function, CorvaneSDKManagerRef manager, const char* pack, double price,
            int amount, const char* currency, const char* chain) {
  Typed(function, manager, [&](CorvaneSDKManager& m) {
    const std::string c = Text(currency), ch = Text(chain);
    Send(m, "qvsdk_crypto_payment", [&](JsonObjectWriter& p) {
      p.Int("amount", amount)
          .Text("chain", ch.empty() ? "ethereum" : ch)
          .Text("currency", c.empty() ? "ETH" : c)
          .TextIfAny("pack", Text(pack))
          .Double("price", price);
    });
  });
}

void AdRevenue(const char* function, CorvaneSDKManagerRef manager, const char* source,
               double revenue, const char* currency, const char* network, const char* networkData) {
  Typed(function, manager, [&](CorvaneSDKManager& m) {
    const std::string c = Text(currency);
    Send(m, "qvsdk_ad_revenue", [&](JsonObjectWriter& p) {
      p.Text("currency", c.empty() ? "USD" : c)
          .TextIfAny("network", Text(network))
          .TextIfAny("network_data", Text(networkData))
          .Double("revenue", revenue)
          .TextIfAny("source", Text(source));
    });
  });
}

template <typename SetValue>
void Custom(const char* function, CorvaneSDKManagerRef manager, const char* name, int flags,
            SetValue set) {
  if (name == nullptr) return;
  Typed(function, manager, [&](CorvaneSDKManager& m) {
    EventPtr event = Event::Acquire(name);
    set(*event);
    event->flags = flags;
    m.SendEvent(std::move(event));
  });
}

void Receipt(const char* function, CorvaneSDKManagerRef manager, const char* kind,
             std::initializer_list<std::pair<const char*, const char*>> members) {
  for (const auto& member : members) {
    if (member.second == nullptr) return;
  }
  // The kind goes under "type" next to the members, all in byte order of their keys.
  std::vector<std::pair<const char*, const char*>> sorted(members);
  sorted.emplace_back("type", kind);
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return std::strcmp(a.first, b.first) < 0; });
  Typed(function, manager, [&](CorvaneSDKManager& m) {
    Send(m, "qvsdk_iap_receipt", [&](JsonObjectWriter& p) {
      for (const auto& member : sorted) p.TextIfAny(member.first, member.second);
    });
  });
}

}  // namespace

extern "C" {

void CorvaneSDKManager_LogBootStart(CorvaneSDKManagerRef manager) {
  Typed(__func__, manager, [](CorvaneSDKManager& m) {
    m.MarkBootStart();
    Send(m, "qvsdk_boot_start", [](JsonObjectWriter&) {});  // no payload keys: {} rather than null
  });
}

void CorvaneSDKManager_LogBootEnd(CorvaneSDKManagerRef manager) {
  Typed(__func__, manager, [](CorvaneSDKManager& m) {
    const int64_t bootTime = m.MsSinceBootStart();
    Send(m, "qvsdk_boot_end",
         [&](JsonObjectWriter& p) { p.Int("boot_time", bootTime < 0 ? 0 : bootTime); });
  });
}

void CorvaneSDKManager_LogLevelStart(CorvaneSDKManagerRef manager, int level, const char* label) {
  Typed(__func__, manager, [&](CorvaneSDKManager& m) {
    Send(m, "qvsdk_level_attempt",
         [&](JsonObjectWriter& p) { p.TextIfAny("label", Text(label)).Int("level", level); });
  });
}

void CorvaneSDKManager_LogLevelEnd(CorvaneSDKManagerRef manager, int level, const char* label, int success) {
  Typed(__func__, manager, [&](CorvaneSDKManager& m) {
    Send(m, success != 0 ? "qvsdk_level_complete" : "qvsdk_level_fail",
         [&](JsonObjectWriter& p) { p.TextIfAny("label", Text(label)).Int("level", level); });
  });
}

void CorvaneSDKManager_LogUpdateApp(CorvaneSDKManagerRef manager, const char* newVersion) {
  Typed(__func__, manager, [&](CorvaneSDKManager& m) {
    const std::string current = m.GetAppVersion();
    Send(m, "qvsdk_update_click", [&](JsonObjectWriter& p) {
      p.TextIfAny("current_version", current).TextIfAny("new_version", Text(newVersion));
    });
  });
}

void CorvaneSDKManager_LogRateApp(CorvaneSDKManagerRef manager) {
  Typed(__func__, manager, [](CorvaneSDKManager& m) {
    Send(m, "qvsdk_store_rating_click",
         [&](JsonObjectWriter& p) { p.Text("store_type", StoreTypeLabel(m.GetStoreType())); });
  });
}

void CorvaneSDKManager_LogLocation(CorvaneSDKManagerRef manager, double latitude, double longitude) {
  Typed(__func__, manager, [&](CorvaneSDKManager& m) {
    Send(m, "qvsdk_location",
         [&](JsonObjectWriter& p) { p.Double("latitude", latitude).Double("longitude", longitude); });
  });
}

#define CORVANE_AD_EXPORTS(Name, event)                                                           \
  void CorvaneSDKManager_Log##Name(CorvaneSDKManagerRef manager, const char* adUnit, int type) {  \
    Ad(__func__, manager, event, adUnit, type, -1);                                               \
  }                                                                                               \
  void CorvaneSDKManager_Log##Name##2(CorvaneSDKManagerRef manager, const char* adUnit, int type, \
                                       int placement) {                                           \
    Ad(__func__, manager, event, adUnit, type, placement);                                        \
  }
CORVANE_AD_EXPORTS(AdLoad, "qvsdk_ad_load")
CORVANE_AD_EXPORTS(AdClose, "qvsdk_ad_close")
CORVANE_AD_EXPORTS(AdClick, "qvsdk_ad_click")
CORVANE_AD_EXPORTS(AdImpression, "qvsdk_ad_impression")

void CorvaneSDKManager_LogAdRevenue(CorvaneSDKManagerRef manager, const char* source, double revenue) {
  AdRevenue(__func__, manager, source, revenue, nullptr, nullptr, nullptr);
}
void CorvaneSDKManager_LogAdRevenue2(CorvaneSDKManagerRef manager, const char* source, double revenue, const char* currency) {
  AdRevenue(__func__, manager, source, revenue, currency, nullptr, nullptr);
}
void CorvaneSDKManager_LogAdRevenue3(CorvaneSDKManagerRef manager, const char* source, double revenue, const char* currency, const char* network, const char* networkData) {
  AdRevenue(__func__, manager, source, revenue, currency, network, networkData);
}

void CorvaneSDKManager_LogIAPInitialization(CorvaneSDKManagerRef manager, int success) {
  Typed(__func__, manager, [&](CorvaneSDKManager& m) {
    Send(m, "qvsdk_iap_initialization",
         [&](JsonObjectWriter& p) { p.Text("status", success != 0 ? "success" : "failed"); });
  });
}

void CorvaneSDKManager_LogIAPRestorePurchase(CorvaneSDKManagerRef manager) {
  Typed(__func__, manager, [](CorvaneSDKManager& m) {
    Send(m, "qvsdk_iap_restore_purchase",
         [&](JsonObjectWriter& p) { p.Text("store_type", StoreTypeLabel(m.GetStoreType())); });
  });
}

void CorvaneSDKManager_LogIAPResult(CorvaneSDKManagerRef manager, const char* pack, double price, int amount, const char* currency, int success) {
  Typed(__func__, manager, [&](CorvaneSDKManager& m) {
    const std::string c = Text(currency);
    Send(m, success != 0 ? "qvsdk_iap_success_payment" : "qvsdk_iap_fail_payment",
         [&](JsonObjectWriter& p) {
           p.Int("amount", amount)
               .Text("currency", c.empty() ? "USD" : c)
               .TextIfAny("pack", Text(pack))
               .Double("price", price)
               .Text("store_type", StoreTypeLabel(m.GetStoreType()));
         });
  });
}

void CorvaneSDKManager_LogIAPReceipt_Apple(CorvaneSDKManagerRef m, const char* receipt) { Receipt(__func__, m, "apple", {{"receipt", receipt}}); }
void CorvaneSDKManager_LogIAPReceipt_Google(CorvaneSDKManagerRef m, const char* data, const char* signature) { Receipt(__func__, m, "google", {{"data", data}, {"signature", signature}}); }
void CorvaneSDKManager_LogIAPReceipt_Amazon(CorvaneSDKManagerRef m, const char* userId, const char* receiptId) { Receipt(__func__, m, "amazon", {{"userId", userId}, {"receiptId", receiptId}}); }
void CorvaneSDKManager_LogIAPReceipt_Roku(CorvaneSDKManagerRef m, const char* receipt) { Receipt(__func__, m, "roku", {{"receipt", receipt}}); }
void CorvaneSDKManager_LogIAPReceipt_Windows(CorvaneSDKManagerRef m, const char* receipt) { Receipt(__func__, m, "windows", {{"receipt", receipt}}); }
void CorvaneSDKManager_LogIAPReceipt_Facebook(CorvaneSDKManagerRef m, const char* receipt) { Receipt(__func__, m, "facebook", {{"receipt", receipt}}); }
void CorvaneSDKManager_LogIAPReceipt_Unity(CorvaneSDKManagerRef m, const char* receipt) { Receipt(__func__, m, "unity", {{"receipt", receipt}}); }
void CorvaneSDKManager_LogIAPReceipt_AppStoreServer(CorvaneSDKManagerRef m, const char* receipt) { Receipt(__func__, m, "appStoreServer", {{"receipt", receipt}}); }
void CorvaneSDKManager_LogIAPReceipt_GooglePlayProduct(CorvaneSDKManagerRef m, const char* packageName, const char* productId, const char* token) { Receipt(__func__, m, "googlePlayProduct", {{"packageName", packageName}, {"productId", productId}, {"token", token}}); }
void CorvaneSDKManager_LogIAPReceipt_GooglePlaySubscription(CorvaneSDKManagerRef m, const char* packageName, const char* subscriptionId, const char* token) { Receipt(__func__, m, "googlePlaySubscription", {{"packageName", packageName}, {"subscriptionId", subscriptionId}, {"token", token}}); }
void CorvaneSDKManager_LogIAPReceipt_GooglePlaySubscriptionv2(CorvaneSDKManagerRef m, const char* packageName, const char* token) { Receipt(__func__, m, "googlePlaySubscriptionv2", {{"packageName", packageName}, {"token", token}}); }

void CorvaneSDKManager_LogAccountLink(CorvaneSDKManagerRef m, const char* id, const char* type) { AccountLink(__func__, m, id, type, "", ""); }
void CorvaneSDKManager_LogAccountLink2(CorvaneSDKManagerRef m, const char* id, const char* type, const char* scopeId) { AccountLink(__func__, m, id, type, Text(scopeId), ""); }
void CorvaneSDKManager_LogAccountLink3(CorvaneSDKManagerRef m, const char* id, const char* type, const char* scopeId, const char* scopeType) { AccountLink(__func__, m, id, type, Text(scopeId), Text(scopeType)); }
void CorvaneSDKManager_LogAccountUnlink(CorvaneSDKManagerRef m, const char* type) { Unlink(__func__, m, type); }

#define CORVANE_PROVIDER(Name, type)                                                   \
  void CorvaneSDKManager_Log##Name##Link(CorvaneSDKManagerRef m, const char* id) {      \
    AccountLink(__func__, m, id, type, "", "");                                        \
  }                                                                                    \
  void CorvaneSDKManager_Log##Name##Unlink(CorvaneSDKManagerRef m) { Unlink(__func__, m, type); }
CORVANE_PROVIDER(Google, "google")
CORVANE_PROVIDER(Apple, "apple")
CORVANE_PROVIDER(PlayGameServices, "play_game_services")
CORVANE_PROVIDER(GameCenter, "game_center")
CORVANE_PROVIDER(Facebook, "facebook")
CORVANE_PROVIDER(Instagram, "instagram")
CORVANE_PROVIDER(LinkedIn, "linkedin")
CORVANE_PROVIDER(Meetup, "meetup")
CORVANE_PROVIDER(GitHub, "github")
CORVANE_PROVIDER(Discord, "discord")
CORVANE_PROVIDER(Twitter, "twitter")
CORVANE_PROVIDER(Spotify, "spotify")
CORVANE_PROVIDER(Microsoft, "microsoft")
CORVANE_PROVIDER(Line, "line")
CORVANE_PROVIDER(VK, "vk")
CORVANE_PROVIDER(QQ, "qq")
CORVANE_PROVIDER(WeChat, "wechat")
CORVANE_PROVIDER(TikTok, "tiktok")
CORVANE_PROVIDER(Weibo, "weibo")

void CorvaneSDKManager_LogGameCenterGameLink(CorvaneSDKManagerRef m, const char* id) { ScopedLink(__func__, m, id, "game_center", ThirdPartyId::kApple, "game"); }
void CorvaneSDKManager_LogGameCenterTeamLink(CorvaneSDKManagerRef m, const char* id) { ScopedLink(__func__, m, id, "game_center", ThirdPartyId::kAppleDeveloperTeam, "developer"); }
void CorvaneSDKManager_LogPlayGameServicesGameLink(CorvaneSDKManagerRef m, const char* id) { ScopedLink(__func__, m, id, "play_game_services", ThirdPartyId::kGooglePlayGameServicesProject, "game"); }
void CorvaneSDKManager_LogPlayGameServicesDeveloperLink(CorvaneSDKManagerRef m, const char* id) { ScopedLink(__func__, m, id, "play_game_services", ThirdPartyId::kGooglePlayDeveloperAccount, "developer"); }
void CorvaneSDKManager_LogQQUnionLink(CorvaneSDKManagerRef m, const char* id) { ScopedLink(__func__, m, id, "qq", ThirdPartyId::kQQ, "union"); }
void CorvaneSDKManager_LogWeChatUnionLink(CorvaneSDKManagerRef m, const char* id) { ScopedLink(__func__, m, id, "wechat", ThirdPartyId::kWeChat, "union"); }

void CorvaneSDKManager_AddUserPhoneNumber(CorvaneSDKManagerRef m, int cc, const char* number) { Phone(__func__, m, "qvsdk_user_info_add", cc, number); }
void CorvaneSDKManager_RemoveUserPhoneNumber(CorvaneSDKManagerRef m, int cc, const char* number) { Phone(__func__, m, "qvsdk_user_info_remove", cc, number); }
void CorvaneSDKManager_AddUserEmail(CorvaneSDKManagerRef m, const char* email) { UserInfo(__func__, m, "qvsdk_user_info_add", "email", email); }
void CorvaneSDKManager_RemoveUserEmail(CorvaneSDKManagerRef m, const char* email) { UserInfo(__func__, m, "qvsdk_user_info_remove", "email", email); }
void CorvaneSDKManager_SetUserName(CorvaneSDKManagerRef m, const char* v) { UserInfo(__func__, m, "qvsdk_user_info_set", "name", v); }
void CorvaneSDKManager_SetUserFirstName(CorvaneSDKManagerRef m, const char* v) { UserInfo(__func__, m, "qvsdk_user_info_set", "first_name", v); }
void CorvaneSDKManager_SetUserLastName(CorvaneSDKManagerRef m, const char* v) { UserInfo(__func__, m, "qvsdk_user_info_set", "last_name", v); }
void CorvaneSDKManager_SetUserCity(CorvaneSDKManagerRef m, const char* v) { UserInfo(__func__, m, "qvsdk_user_info_set", "city", v); }
void CorvaneSDKManager_SetUserState(CorvaneSDKManagerRef m, const char* v) { UserInfo(__func__, m, "qvsdk_user_info_set", "state", v); }
void CorvaneSDKManager_SetUserCountry(CorvaneSDKManagerRef m, const char* v) { UserInfo(__func__, m, "qvsdk_user_info_set", "country", v); }
void CorvaneSDKManager_SetUserZipCode(CorvaneSDKManagerRef m, const char* v) { UserInfo(__func__, m, "qvsdk_user_info_set", "zip", v); }
void CorvaneSDKManager_SetUserDateOfBirth(CorvaneSDKManagerRef m, int day, int month, int year) { DateOfBirth(__func__, m, [&](JsonObjectWriter& dob) { dob.Int("day", day).Int("month", month).Int("year", year); }); }
void CorvaneSDKManager_SetUserDateOfBirth2(CorvaneSDKManagerRef m, int day, int month) { DateOfBirth(__func__, m, [&](JsonObjectWriter& dob) { dob.Int("day", day).Int("month", month); }); }
void CorvaneSDKManager_SetUserYearOfBirth(CorvaneSDKManagerRef m, int year) { DateOfBirth(__func__, m, [&](JsonObjectWriter& dob) { dob.Int("year", year); }); }

void CorvaneSDKManager_SetUserGender(CorvaneSDKManagerRef manager, int gender) {
  Typed(__func__, manager, [&](CorvaneSDKManager& m) {
    if (gender != 0 && gender != 1) {
      CORVANE_LOG_WARNING("Ignoring unknown gender " << gender);
      return;
    }
    Send(m, "qvsdk_user_info_set",
         [&](JsonObjectWriter& p) { p.Text("gender", gender == 0 ? "male" : "female"); });
  });
}

void CorvaneSDKManager_LogWalletLink(CorvaneSDKManagerRef m, const char* wallet) { Wallet(__func__, m, "qvsdk_account_link_wallet", wallet, nullptr); }
void CorvaneSDKManager_LogWalletLink2(CorvaneSDKManagerRef m, const char* wallet, const char* type) { Wallet(__func__, m, "qvsdk_account_link_wallet", wallet, type); }
void CorvaneSDKManager_LogWalletUnlink(CorvaneSDKManagerRef m, const char* wallet) { Wallet(__func__, m, "qvsdk_account_unlink_wallet", wallet, nullptr); }
void CorvaneSDKManager_LogWalletUnlink2(CorvaneSDKManagerRef m, const char* wallet, const char* type) { Wallet(__func__, m, "qvsdk_account_unlink_wallet", wallet, type); }

void CorvaneSDKManager_LogCryptoPayment(CorvaneSDKManagerRef m, const char* pack, double price, int amount) { Crypto(__func__, m, pack, price, amount, nullptr, nullptr); }
void CorvaneSDKManager_LogCryptoPayment2(CorvaneSDKManagerRef m, const char* pack, double price, int amount, const char* currency) { Crypto(__func__, m, pack, price, amount, currency, nullptr); }
void CorvaneSDKManager_LogCryptoPayment3(CorvaneSDKManagerRef m, const char* pack, double price, int amount, const char* currency, const char* chain) { Crypto(__func__, m, pack, price, amount, currency, chain); }

void CorvaneSDKManager_Log(CorvaneSDKManagerRef m, const char* name) { Custom(__func__, m, name, 0, [](Event&) {}); }
void CorvaneSDKManager_Log2(CorvaneSDKManagerRef m, const char* name, int flags) { Custom(__func__, m, name, flags, [](Event&) {}); }
void CorvaneSDKManager_LogWithIntValue(CorvaneSDKManagerRef m, const char* name, int v) { Custom(__func__, m, name, 0, [&](Event& e) { e.SetIntValue(v); }); }
void CorvaneSDKManager_LogWithIntValue2(CorvaneSDKManagerRef m, const char* name, int v, int flags) { Custom(__func__, m, name, flags, [&](Event& e) { e.SetIntValue(v); }); }
void CorvaneSDKManager_LogWithStringValue(CorvaneSDKManagerRef m, const char* name, const char* v) { Custom(__func__, m, name, 0, [&](Event& e) { if (v) e.SetStringValue(v); }); }
void CorvaneSDKManager_LogWithStringValue2(CorvaneSDKManagerRef m, const char* name, const char* v, int flags) { Custom(__func__, m, name, flags, [&](Event& e) { if (v) e.SetStringValue(v); }); }
void CorvaneSDKManager_LogWithJsonValue(CorvaneSDKManagerRef m, const char* name, const char* v) { Custom(__func__, m, name, 0, [&](Event& e) { e.SetJsonValue(Text(v)); }); }
void CorvaneSDKManager_LogWithJsonValue2(CorvaneSDKManagerRef m, const char* name, const char* v, int flags) { Custom(__func__, m, name, flags, [&](Event& e) { e.SetJsonValue(Text(v)); }); }
void CorvaneSDKManager_LogWithMapValue(CorvaneSDKManagerRef m, const char* name, const char* v) { Custom(__func__, m, name, 0, [&](Event& e) { e.SetMapValue(Text(v)); }); }
void CorvaneSDKManager_LogWithMapValue2(CorvaneSDKManagerRef m, const char* name, const char* v, int flags) { Custom(__func__, m, name, flags, [&](Event& e) { e.SetMapValue(Text(v)); }); }

// ---- Privacy ---------------------------------------------------------------------------

struct ThirdPartySharingSettingsOpaque {
  std::map<std::string, std::map<std::string, std::string>> values;
  std::map<std::string, std::map<std::string, bool>> flags;
};

ThirdPartySharingSettings* ThirdPartySharingSettings_Create(void) {
  return CApi::Guarded<ThirdPartySharingSettings*>(__func__, nullptr, []() { return new ThirdPartySharingSettings(); });
}

void ThirdPartySharingSettings_Destroy(ThirdPartySharingSettings* settings) { delete settings; }

void ThirdPartySharingSettings_AddValue(ThirdPartySharingSettings* s, const char* partner, const char* key, const char* value) {
  GuardedVoid(__func__, [&]() {
    if (s == nullptr || partner == nullptr || key == nullptr || value == nullptr) return;
    if (!*partner || !*key || !*value) return;
    s->values[partner][key] = value;
  });
}

void ThirdPartySharingSettings_AddFlag(ThirdPartySharingSettings* s, const char* partner, const char* key, int flag) {
  GuardedVoid(__func__, [&]() {
    if (s == nullptr || partner == nullptr || key == nullptr || !*partner || !*key) return;
    s->flags[partner][key] = flag != 0;
  });
}

#define CORVANE_UNSUPPORTED(Function, feature)                                     \
  WithManagerVoid(#Function, manager, [](CorvaneSDKManager&) {                     \
    Logger::Log(kLogInfo, "Unsupported feature: " feature, #Function, __FILE__, __LINE__); \
  })

void CorvaneSDKManager_GdprForgetMe(CorvaneSDKManagerRef manager) { CORVANE_UNSUPPORTED(GdprForgetMe, "gdprForgetMe"); }
void CorvaneSDKManager_DisableThirdPartySharing(CorvaneSDKManagerRef manager) { CORVANE_UNSUPPORTED(DisableThirdPartySharing, "disableThirdPartySharing"); }
void CorvaneSDKManager_EnableThirdPartySharing(CorvaneSDKManagerRef manager) { CORVANE_UNSUPPORTED(EnableThirdPartySharing, "enableThirdPartySharing"); }
void CorvaneSDKManager_LogThirdPartySharingSettings(CorvaneSDKManagerRef manager, ThirdPartySharingSettings*) { CORVANE_UNSUPPORTED(LogThirdPartySharingSettings, "logThirdPartySharing"); }

}  // extern "C"
