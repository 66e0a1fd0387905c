#include "CorvaneSDKTypedEvents.h"

#include "CorvaneSDKDataBuilder.h"
#include "CorvaneSDKDelegates.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKIdentity.h"
#include "CorvaneSDKManager.h"
#include "CorvaneSDKOperationQueue.h"
#include "CorvaneSDKServerConfig.h"
#include "CorvaneSDKSkanConversionContext.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

CorvaneSDKTypedEvents::CorvaneSDKTypedEvents(Sink sink) : sink_(std::move(sink)) {}

// ---- the log family ----

bool CorvaneSDKTypedEvents::log(const std::string& name, int flag) { return logEvent(CorvaneSDKEvent(name, std::nullopt, flag)); }

bool CorvaneSDKTypedEvents::log(const std::string& name, int64_t intValue, int flag) {
  CorvaneSDKEvent event(name, std::nullopt, flag);
  event.setIntValue(intValue);
  return logEvent(event);
}

bool CorvaneSDKTypedEvents::log(const std::string& name, const std::string& stringValue, int flag) {
  CorvaneSDKEvent event(name, std::nullopt, flag);
  event.setStringValue(stringValue);
  return logEvent(event);
}

bool CorvaneSDKTypedEvents::logMap(const std::string& name, const Value& mapValue, int flag) {
  CorvaneSDKEvent event(name, std::nullopt, flag);
  event.setMapValue(mapValue);
  return logEvent(event);
}

bool CorvaneSDKTypedEvents::logJson(const std::string& name, const Value& jsonValue, int flag) {
  CorvaneSDKEvent event(name, std::nullopt, flag);
  event.setJsonValue(jsonValue);
  return logEvent(event);
}

bool CorvaneSDKTypedEvents::logEvent(const CorvaneSDKEvent& event) {
  if (event.eventName.empty()) return false;
  return sink_.send(event);
}

bool CorvaneSDKTypedEvents::logTyped(const std::string& name, const Value& payload, int flag) {
  return logEvent(CorvaneSDKEvent(name, payload, flag));
}

// ---- typed events ----

#define CORVANE_AD(Method, eventName)                                                                \
  bool CorvaneSDKTypedEvents::Method(const std::string& adUnit, int64_t placementType,                   \
                                 std::optional<int64_t> placement) {                                 \
    return logTyped(eventName, placement ? CorvaneSDKDataBuilder::createLogAdData(adUnit, placementType, *placement) \
                                         : CorvaneSDKDataBuilder::createLogAdData(adUnit, placementType));          \
  }
CORVANE_AD(logAdLoad, "qvsdk_ad_load")
CORVANE_AD(logAdClose, "qvsdk_ad_close")
CORVANE_AD(logAdClick, "qvsdk_ad_click")
CORVANE_AD(logAdImpression, "qvsdk_ad_impression")
#undef CORVANE_AD

bool CorvaneSDKTypedEvents::logAdRevenue(const std::string& source, double revenue, const std::string& currency,
                                     const std::string& network, const Value& networkData) {
  CorvaneSDKEvent event("qvsdk_ad_revenue",
                        CorvaneSDKDataBuilder::createLogAdRevenueData(source, revenue, currency, network, networkData));
  const std::string code = currency.empty() ? "USD" : currency;
  event.setRevenue(revenue, code);
  if (!logEvent(event)) return false;
  const double converted = sink_.rates->standardRevenue(revenue, code);
  sink_.toSkan([converted](CorvaneSDKSkanConversionContextImpl& c) { c.recordRevenueAd(converted); });
  return true;
}

bool CorvaneSDKTypedEvents::logLevelStart(int64_t level, const std::string& label) {
  return logTyped("qvsdk_level_attempt", CorvaneSDKDataBuilder::createLogLevelData(level, label));
}

bool CorvaneSDKTypedEvents::logLevelEnd(int64_t level, const std::string& label, bool success) {
  return logTyped(success ? "qvsdk_level_complete" : "qvsdk_level_fail",
                  CorvaneSDKDataBuilder::createLogLevelData(level, label));
}

bool CorvaneSDKTypedEvents::logBootStart() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bootStartMs_ = Platform::current()->clock->monotonicMs();
  }
  return logTyped("qvsdk_boot_start", Value::object());
}

bool CorvaneSDKTypedEvents::logBootEnd() {
  int64_t bootTime;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bootTime = Platform::current()->clock->monotonicMs() - bootStartMs_;
  }
  return logTyped("qvsdk_boot_end", CorvaneSDKDataBuilder::createLogBootEndData(bootTime < 0 ? 0 : bootTime));
}

bool CorvaneSDKTypedEvents::logIAPInitialization(bool success) {
  return logTyped("qvsdk_iap_initialization",
                  CorvaneSDKDataBuilder::createLogIAPInitializationData(success, storeType()));
}

bool CorvaneSDKTypedEvents::logIAPRestorePurchase() {
  return logTyped("qvsdk_iap_restore_purchase", CorvaneSDKDataBuilder::createLogIAPRestorePurchaseData(storeType()));
}

bool CorvaneSDKTypedEvents::logPurchase(const std::string& pack, double price, int64_t amount, const std::string& currency,
                                    bool success) {
  CorvaneSDKEvent event(success ? "qvsdk_iap_success_payment" : "qvsdk_iap_fail_payment",
                        CorvaneSDKDataBuilder::createLogPurchaseResultData(pack, price, amount, currency, storeType()));
  const std::string code = currency.empty() ? "USD" : currency;
  if (success) event.setRevenue(price * static_cast<double>(amount), code);
  if (!logEvent(event)) return false;
  if (success) {
    const double converted = sink_.rates->standardRevenue(price * static_cast<double>(amount), code);
    sink_.toSkan([converted](CorvaneSDKSkanConversionContextImpl& c) { c.recordRevenueIAP(converted); });
  }
  return true;
}

bool CorvaneSDKTypedEvents::logIAPReceipt(const std::string& pack, double price, int64_t amount,
                                      const std::string& currency, const std::string& transactionId,
                                      const std::string& receipt) {
  return logTyped("qvsdk_iap_receipt", CorvaneSDKDataBuilder::createLogPurchaseData(pack, price, amount, currency,
                                                                                   transactionId, receipt,
                                                                                   storeType()));
}

bool CorvaneSDKTypedEvents::logUpdateApp(const std::string& currentVersion, const std::string& newVersion) {
  return logTyped("qvsdk_update_click", CorvaneSDKDataBuilder::createLogUpdateAppData(currentVersion, newVersion));
}

bool CorvaneSDKTypedEvents::logRateApp() {
  return logTyped("qvsdk_store_rating_click", CorvaneSDKDataBuilder::createLogRateAppData(storeType()));
}

bool CorvaneSDKTypedEvents::logLocation(double latitude, double longitude) {
  return logTyped("qvsdk_location", CorvaneSDKDataBuilder::createLogLocationData(latitude, longitude));
}

bool CorvaneSDKTypedEvents::logSoundMode(const std::string& soundMode) {
  return logTyped("qvsdk_audio_sound_mode", CorvaneSDKDataBuilder::createLogSoundModeData(soundMode));
}

bool CorvaneSDKTypedEvents::logTrackingAuthorizationStatus(int64_t status) {
  return logTyped("qvsdk_tracking_authorization_status",
                  CorvaneSDKDataBuilder::createLogTrackingAuthorizationStatusData(status));
}

bool CorvaneSDKTypedEvents::logAccountLink(const std::string& id, const std::string& type, const std::string& scopeId,
                                       const std::string& scopeType) {
  return logTyped("qvsdk_account_link", CorvaneSDKDataBuilder::createLogAccountData(id, type, scopeId, scopeType));
}

bool CorvaneSDKTypedEvents::logAccountUnlink(const std::string& id, const std::string& type) {
  return logTyped("qvsdk_account_unlink", CorvaneSDKDataBuilder::createLogAccountData(id, type, "", ""));
}

bool CorvaneSDKTypedEvents::setUserInfo(const std::string& key, const Value& value) {
  return logTyped("qvsdk_user_info_set", CorvaneSDKDataBuilder::createLogUserInfoData(key, Value{{key, value}}));
}

bool CorvaneSDKTypedEvents::addUserInfo(const std::string& key, const Value& value) {
  return logTyped("qvsdk_user_info_add", CorvaneSDKDataBuilder::createLogUserInfoData(key, Value{{key, value}}));
}

bool CorvaneSDKTypedEvents::removeUserInfo(const std::string& key, const Value& value) {
  return logTyped("qvsdk_user_info_remove", CorvaneSDKDataBuilder::createLogUserInfoData(key, Value{{key, value}}));
}

bool CorvaneSDKTypedEvents::logWalletLink(const std::string& wallet, const std::string& type) {
  return logTyped("qvsdk_account_link_wallet", CorvaneSDKDataBuilder::createLogWalletData(wallet, type));
}

bool CorvaneSDKTypedEvents::logWalletUnlink(const std::string& wallet, const std::string& type) {
  return logTyped("qvsdk_account_unlink_wallet", CorvaneSDKDataBuilder::createLogWalletData(wallet, type));
}

bool CorvaneSDKTypedEvents::logCryptoPayment(const std::string& pack, double price, int64_t amount,
                                         const std::string& currency, const std::string& chain) {
  if (!logTyped("qvsdk_crypto_payment",
                CorvaneSDKDataBuilder::createLogCryptoPaymentData(pack, price, amount, currency, chain))) {
    return false;
  }
  const double converted =
      sink_.rates->standardCryptoRevenue(price * static_cast<double>(amount), currency.empty() ? "ETH" : currency);
  sink_.toSkan([converted](CorvaneSDKSkanConversionContextImpl& c) { c.recordRevenueCrypto(converted); });
  return true;
}

bool CorvaneSDKTypedEvents::logAppleAttribution(const std::string& token) {
  return logTyped("qvsdk_apple_attribution", CorvaneSDKDataBuilder::createLogAppleAttributionData(token));
}

bool CorvaneSDKTypedEvents::logPushToken(const std::string& token) {
  const bool accepted = logTyped("qvsdk_push_token", CorvaneSDKDataBuilder::createLogPushTokenData(token),
                                 kCorvaneSDKEventFlagBeforeStart);
  sink_.delegates->deviceToken.each([&](CorvaneSDKDeviceTokenDelegate& d) { d.onDeviceToken(token); });
  return accepted;
}

bool CorvaneSDKTypedEvents::setThirdPartySharing(bool enable) {
  if (sink_.queue) sink_.queue->setDisableThirdPartySharing(!enable);
  return logTyped("qvsdk_third_party_sharing", CorvaneSDKDataBuilder::createLogThirdPartySharingData(enable),
                  kCorvaneSDKEventFlagBeforeStart);
}

bool CorvaneSDKTypedEvents::logDeepLink(const std::string& url, uint64_t clickTimeMs) {
  const bool accepted = logTyped("qvsdk_deep_link", CorvaneSDKDataBuilder::createLogDeepLinkData(url, clickTimeMs),
                                 kCorvaneSDKEventFlagOpenSubEvent);
  sink_.delegates->deepLink.each([&](CorvaneSDKDeepLinkDelegate& d) { d.onDeepLink(url); });
  return accepted;
}

bool CorvaneSDKTypedEvents::logIAPReceiptAppStoreServer(const std::string& transactionId) {
  Value payload = Value::object();
  payload["type"] = "app_store_server";
  CorvaneSDKDataBuilder::updateLogData(payload, "transaction_id", transactionId);
  return logTyped("qvsdk_iap_receipt", payload);
}

int64_t CorvaneSDKTypedEvents::storeType() const { return sink_.identity->storeType(); }

}  // namespace Mobile
}  // namespace CorvaneSDK
