// The public log family and typed events of the manager, each forwarding to the typed events
// object the manager owns. A base of its own keeps the manager's class to its coordination;
// hosts call them on the manager (`manager->logLevelStart(...)`).
// Threads: as CorvaneSDKTypedEvents (any thread). The object is bound once, while the manager
// is built, before any caller can reach it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "CorvaneSDKTypedEvents.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKEvent;

class CorvaneSDKTypedEventAPI {
 public:
  // The log family: false when the event was not accepted.
  bool log(const std::string& name, int flag = 0) { return typed().log(name, flag); }
  bool log(const std::string& name, int64_t v, int flag = 0) { return typed().log(name, v, flag); }
  bool log(const std::string& name, const std::string& v, int flag = 0) { return typed().log(name, v, flag); }
  bool logMap(const std::string& name, const Value& v, int flag = 0) { return typed().logMap(name, v, flag); }
  bool logJson(const std::string& name, const Value& v, int flag = 0) { return typed().logJson(name, v, flag); }
  bool logEvent(const CorvaneSDKEvent& event) { return typed().logEvent(event); }

  // Typed events (the shared catalogue's names; payloads from the event builder).
  bool logAdLoad(const std::string& adUnit, int64_t type, std::optional<int64_t> placement = std::nullopt) {
    return typed().logAdLoad(adUnit, type, placement);
  }
  bool logAdClose(const std::string& adUnit, int64_t type, std::optional<int64_t> placement = std::nullopt) {
    return typed().logAdClose(adUnit, type, placement);
  }
  bool logAdClick(const std::string& adUnit, int64_t type, std::optional<int64_t> placement = std::nullopt) {
    return typed().logAdClick(adUnit, type, placement);
  }
  bool logAdImpression(const std::string& adUnit, int64_t type, std::optional<int64_t> placement = std::nullopt) {
    return typed().logAdImpression(adUnit, type, placement);
  }
  bool logAdRevenue(const std::string& source, double revenue, const std::string& currency,
                    const std::string& network = std::string(), const Value& networkData = Value()) {
    return typed().logAdRevenue(source, revenue, currency, network, networkData);
  }
  bool logLevelStart(int64_t level, const std::string& label = std::string()) {
    return typed().logLevelStart(level, label);
  }
  bool logLevelEnd(int64_t level, const std::string& label, bool ok) { return typed().logLevelEnd(level, label, ok); }
  bool logBootStart() { return typed().logBootStart(); }
  bool logBootEnd() { return typed().logBootEnd(); }
  bool logIAPInitialization(bool success) { return typed().logIAPInitialization(success); }
  bool logIAPRestorePurchase() { return typed().logIAPRestorePurchase(); }
  bool logPurchase(const std::string& pack, double price, int64_t amount, const std::string& currency, bool success) {
    return typed().logPurchase(pack, price, amount, currency, success);
  }
  bool logIAPReceipt(const std::string& pack, double price, int64_t amount, const std::string& currency,
                     const std::string& transactionId, const std::string& receipt) {
    return typed().logIAPReceipt(pack, price, amount, currency, transactionId, receipt);
  }
  bool logUpdateApp(const std::string& from, const std::string& to) { return typed().logUpdateApp(from, to); }
  bool logRateApp() { return typed().logRateApp(); }
  bool logLocation(double latitude, double longitude) { return typed().logLocation(latitude, longitude); }
  bool logSoundMode(const std::string& soundMode) { return typed().logSoundMode(soundMode); }
  bool logTrackingAuthorizationStatus(int64_t s) { return typed().logTrackingAuthorizationStatus(s); }
  bool logAccountLink(const std::string& id, const std::string& type, const std::string& scopeId = std::string(),
                      const std::string& scopeType = std::string()) {
    return typed().logAccountLink(id, type, scopeId, scopeType);
  }
  bool logAccountUnlink(const std::string& id, const std::string& type) { return typed().logAccountUnlink(id, type); }
  bool setUserInfo(const std::string& key, const Value& value) { return typed().setUserInfo(key, value); }
  bool addUserInfo(const std::string& key, const Value& value) { return typed().addUserInfo(key, value); }
  bool removeUserInfo(const std::string& key, const Value& value) { return typed().removeUserInfo(key, value); }
  bool logWalletLink(const std::string& wallet, const std::string& type = std::string()) {
    return typed().logWalletLink(wallet, type);
  }
  bool logWalletUnlink(const std::string& wallet, const std::string& type = std::string()) {
    return typed().logWalletUnlink(wallet, type);
  }
  bool logCryptoPayment(const std::string& pack, double price, int64_t amount, const std::string& currency,
                        const std::string& chain) {
    return typed().logCryptoPayment(pack, price, amount, currency, chain);
  }
  bool logAppleAttribution(const std::string& token) { return typed().logAppleAttribution(token); }
  bool logPushToken(const std::string& token) { return typed().logPushToken(token); }
  bool setThirdPartySharing(bool enable) { return typed().setThirdPartySharing(enable); }
  bool logIAPReceiptAppStoreServer(const std::string& id) { return typed().logIAPReceiptAppStoreServer(id); }

 protected:
  CorvaneSDKTypedEventAPI() = default;
  ~CorvaneSDKTypedEventAPI() = default;
  void bindTypedEvents(CorvaneSDKTypedEvents& typed) { typedEvents_ = &typed; }

 private:
  CorvaneSDKTypedEvents& typed() const { return *typedEvents_; }

  CorvaneSDKTypedEvents* typedEvents_ = nullptr;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
