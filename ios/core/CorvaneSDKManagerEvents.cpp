// The log family, the typed events of the shared catalogue, the getters and setters, and the
// table of methods callable by name (the host tool's `call`).
#include "CorvaneSDKManager.h"

#include "CorvaneSDKDataBuilder.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKOperationQueue.h"
#include "CorvaneSDKSkanConversionContext.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

// ---- the log family ----

bool CorvaneSDKManager::log(const std::string& name, int flag) { return logEvent(CorvaneSDKEvent(name, std::nullopt, flag)); }

bool CorvaneSDKManager::log(const std::string& name, int64_t intValue, int flag) {
  CorvaneSDKEvent event(name, std::nullopt, flag);
  event.setIntValue(intValue);
  return logEvent(event);
}

bool CorvaneSDKManager::log(const std::string& name, const std::string& stringValue, int flag) {
  CorvaneSDKEvent event(name, std::nullopt, flag);
  event.setStringValue(stringValue);
  return logEvent(event);
}

bool CorvaneSDKManager::logMap(const std::string& name, const Value& mapValue, int flag) {
  CorvaneSDKEvent event(name, std::nullopt, flag);
  event.setMapValue(mapValue);
  return logEvent(event);
}

bool CorvaneSDKManager::logJson(const std::string& name, const Value& jsonValue, int flag) {
  CorvaneSDKEvent event(name, std::nullopt, flag);
  event.setJsonValue(jsonValue);
  return logEvent(event);
}

bool CorvaneSDKManager::logEvent(const CorvaneSDKEvent& event) {
  if (event.eventName.empty()) return false;
  return logInternal(event);
}

bool CorvaneSDKManager::logTyped(const std::string& name, const Value& payload, int flag) {
  return logEvent(CorvaneSDKEvent(name, payload, flag));
}

// ---- typed events ----

#define CORVANE_AD(Method, eventName)                                                                \
  bool CorvaneSDKManager::Method(const std::string& adUnit, int64_t placementType,                   \
                                 std::optional<int64_t> placement) {                                 \
    return logTyped(eventName, placement ? CorvaneSDKDataBuilder::createLogAdData(adUnit, placementType, *placement) \
                                         : CorvaneSDKDataBuilder::createLogAdData(adUnit, placementType));          \
  }
CORVANE_AD(logAdLoad, "qvsdk_ad_load")
CORVANE_AD(logAdClose, "qvsdk_ad_close")
CORVANE_AD(logAdClick, "qvsdk_ad_click")
CORVANE_AD(logAdImpression, "qvsdk_ad_impression")
#undef CORVANE_AD

bool CorvaneSDKManager::logAdRevenue(const std::string& source, double revenue, const std::string& currency,
                                     const std::string& network, const Value& networkData) {
  CorvaneSDKEvent event("qvsdk_ad_revenue",
                        CorvaneSDKDataBuilder::createLogAdRevenueData(source, revenue, currency, network, networkData));
  const std::string code = currency.empty() ? "USD" : currency;
  event.setRevenue(revenue, code);
  if (!logEvent(event)) return false;
  const double converted = standardRevenue(revenue, code);
  toSkan([converted](CorvaneSDKSkanConversionContextImpl& c) { c.recordRevenueAd(converted); });
  return true;
}

bool CorvaneSDKManager::logLevelStart(int64_t level, const std::string& label) {
  return logTyped("qvsdk_level_attempt", CorvaneSDKDataBuilder::createLogLevelData(level, label));
}

bool CorvaneSDKManager::logLevelEnd(int64_t level, const std::string& label, bool success) {
  return logTyped(success ? "qvsdk_level_complete" : "qvsdk_level_fail",
                  CorvaneSDKDataBuilder::createLogLevelData(level, label));
}

bool CorvaneSDKManager::logBootStart() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bootStartMs_ = Platform::current()->clock->monotonicMs();
  }
  return logTyped("qvsdk_boot_start", Value::object());
}

bool CorvaneSDKManager::logBootEnd() {
  int64_t bootTime;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bootTime = Platform::current()->clock->monotonicMs() - bootStartMs_;
  }
  return logTyped("qvsdk_boot_end", CorvaneSDKDataBuilder::createLogBootEndData(bootTime < 0 ? 0 : bootTime));
}

bool CorvaneSDKManager::logIAPInitialization(bool success) {
  return logTyped("qvsdk_iap_initialization",
                  CorvaneSDKDataBuilder::createLogIAPInitializationData(success, getStoreType()));
}

bool CorvaneSDKManager::logIAPRestorePurchase() {
  return logTyped("qvsdk_iap_restore_purchase", CorvaneSDKDataBuilder::createLogIAPRestorePurchaseData(getStoreType()));
}

bool CorvaneSDKManager::logPurchase(const std::string& pack, double price, int64_t amount, const std::string& currency,
                                    bool success) {
  CorvaneSDKEvent event(success ? "qvsdk_iap_success_payment" : "qvsdk_iap_fail_payment",
                        CorvaneSDKDataBuilder::createLogPurchaseResultData(pack, price, amount, currency, getStoreType()));
  const std::string code = currency.empty() ? "USD" : currency;
  if (success) event.setRevenue(price * static_cast<double>(amount), code);
  if (!logEvent(event)) return false;
  if (success) {
    const double converted = standardRevenue(price * static_cast<double>(amount), code);
    toSkan([converted](CorvaneSDKSkanConversionContextImpl& c) { c.recordRevenueIAP(converted); });
  }
  return true;
}

bool CorvaneSDKManager::logIAPReceipt(const std::string& pack, double price, int64_t amount,
                                      const std::string& currency, const std::string& transactionId,
                                      const std::string& receipt) {
  return logTyped("qvsdk_iap_receipt", CorvaneSDKDataBuilder::createLogPurchaseData(pack, price, amount, currency,
                                                                                   transactionId, receipt,
                                                                                   getStoreType()));
}

bool CorvaneSDKManager::logUpdateApp(const std::string& currentVersion, const std::string& newVersion) {
  return logTyped("qvsdk_update_click", CorvaneSDKDataBuilder::createLogUpdateAppData(currentVersion, newVersion));
}

bool CorvaneSDKManager::logRateApp() {
  return logTyped("qvsdk_store_rating_click", CorvaneSDKDataBuilder::createLogRateAppData(getStoreType()));
}

bool CorvaneSDKManager::logLocation(double latitude, double longitude) {
  return logTyped("qvsdk_location", CorvaneSDKDataBuilder::createLogLocationData(latitude, longitude));
}

bool CorvaneSDKManager::logSoundMode(const std::string& soundMode) {
  return logTyped("qvsdk_audio_sound_mode", CorvaneSDKDataBuilder::createLogSoundModeData(soundMode));
}

bool CorvaneSDKManager::logTrackingAuthorizationStatus(int64_t status) {
  return logTyped("qvsdk_tracking_authorization_status",
                  CorvaneSDKDataBuilder::createLogTrackingAuthorizationStatusData(status));
}

bool CorvaneSDKManager::logAccountLink(const std::string& id, const std::string& type, const std::string& scopeId,
                                       const std::string& scopeType) {
  return logTyped("qvsdk_account_link", CorvaneSDKDataBuilder::createLogAccountData(id, type, scopeId, scopeType));
}

bool CorvaneSDKManager::logAccountUnlink(const std::string& id, const std::string& type) {
  return logTyped("qvsdk_account_unlink", CorvaneSDKDataBuilder::createLogAccountData(id, type, "", ""));
}

bool CorvaneSDKManager::setUserInfo(const std::string& key, const Value& value) {
  return logTyped("qvsdk_user_info_set", CorvaneSDKDataBuilder::createLogUserInfoData(key, Value{{key, value}}));
}

bool CorvaneSDKManager::addUserInfo(const std::string& key, const Value& value) {
  return logTyped("qvsdk_user_info_add", CorvaneSDKDataBuilder::createLogUserInfoData(key, Value{{key, value}}));
}

bool CorvaneSDKManager::removeUserInfo(const std::string& key, const Value& value) {
  return logTyped("qvsdk_user_info_remove", CorvaneSDKDataBuilder::createLogUserInfoData(key, Value{{key, value}}));
}

bool CorvaneSDKManager::logWalletLink(const std::string& wallet, const std::string& type) {
  return logTyped("qvsdk_account_link_wallet", CorvaneSDKDataBuilder::createLogWalletData(wallet, type));
}

bool CorvaneSDKManager::logWalletUnlink(const std::string& wallet, const std::string& type) {
  return logTyped("qvsdk_account_unlink_wallet", CorvaneSDKDataBuilder::createLogWalletData(wallet, type));
}

bool CorvaneSDKManager::logCryptoPayment(const std::string& pack, double price, int64_t amount,
                                         const std::string& currency, const std::string& chain) {
  if (!logTyped("qvsdk_crypto_payment",
                CorvaneSDKDataBuilder::createLogCryptoPaymentData(pack, price, amount, currency, chain))) {
    return false;
  }
  const double converted =
      serverConfig_->standardCryptoRevenue(price * static_cast<double>(amount), currency.empty() ? "ETH" : currency);
  toSkan([converted](CorvaneSDKSkanConversionContextImpl& c) { c.recordRevenueCrypto(converted); });
  return true;
}

bool CorvaneSDKManager::logAppleAttribution(const std::string& token) {
  return logTyped("qvsdk_apple_attribution", CorvaneSDKDataBuilder::createLogAppleAttributionData(token));
}

bool CorvaneSDKManager::logPushToken(const std::string& token) {
  const bool accepted = logTyped("qvsdk_push_token", CorvaneSDKDataBuilder::createLogPushTokenData(token),
                                 kCorvaneSDKEventFlagBeforeStart);
  delegates_.deviceToken.each([&](CorvaneSDKDeviceTokenDelegate& d) { d.onDeviceToken(token); });
  return accepted;
}

bool CorvaneSDKManager::setThirdPartySharing(bool enable) {
  if (operationQueue_) operationQueue_->setDisableThirdPartySharing(!enable);
  return logTyped("qvsdk_third_party_sharing", CorvaneSDKDataBuilder::createLogThirdPartySharingData(enable),
                  kCorvaneSDKEventFlagBeforeStart);
}

bool CorvaneSDKManager::gdprForgetMe() {
  const bool accepted = logTyped("qvsdk_gdpr_forget_me", Value::object(),
                                 kCorvaneSDKEventFlagForceDisable | kCorvaneSDKEventFlagBeforeStart);
  if (operationQueue_) operationQueue_->setGdprForgetMe(true);
  std::lock_guard<std::mutex> lock(mutex_);
  gdprForgetMe_ = true;
  forceDisabled_ = true;
  return accepted;
}

// ---- getters and setters ----

std::string CorvaneSDKManager::getConfigUrl() {
  std::lock_guard<std::mutex> lock(mutex_);
  return configUrl_;
}
int64_t CorvaneSDKManager::getStoreType() {
  std::lock_guard<std::mutex> lock(mutex_);
  return storeType_;
}
std::string CorvaneSDKManager::getAppId() {
  std::lock_guard<std::mutex> lock(mutex_);
  return appId_;
}
std::string CorvaneSDKManager::getConfigId() {
  std::lock_guard<std::mutex> lock(mutex_);
  return configId_;
}
void CorvaneSDKManager::setConfigId(const std::string& configId) {
  std::lock_guard<std::mutex> lock(mutex_);
  configId_ = configId;
}
std::string CorvaneSDKManager::getCustomUserId() {
  std::lock_guard<std::mutex> lock(mutex_);
  return customUserId_.value_or(std::string());
}
void CorvaneSDKManager::setCustomUserId(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (id.empty()) {
    customUserId_.reset();
  } else if (!customUserId_ || *customUserId_ != id) {
    customUserId_ = id;
  }
}
std::optional<std::string> CorvaneSDKManager::getThirdPartyId(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = thirdPartyIds_.find(name);
  return found == thirdPartyIds_.end() ? std::nullopt : std::optional<std::string>(found->second);
}
bool CorvaneSDKManager::isInitialized() {
  std::lock_guard<std::mutex> lock(mutex_);
  return isInitialized_;
}
bool CorvaneSDKManager::hasStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return hasStarted_;
}
bool CorvaneSDKManager::isForceDisabled() {
  std::lock_guard<std::mutex> lock(mutex_);
  return forceDisabled_;
}
bool CorvaneSDKManager::isIntegrationActive() {
  std::lock_guard<std::mutex> lock(mutex_);
  return integrationActive_;
}
uint64_t CorvaneSDKManager::getQueueSize() { return operationQueue_ ? operationQueue_->getQueueSize() : 0; }

}  // namespace Mobile
}  // namespace CorvaneSDK
