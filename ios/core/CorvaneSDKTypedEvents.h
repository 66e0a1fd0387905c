// The log family and the typed events of the shared catalogue: each builds its mobile payload
// (the event builder), hands the event to the manager's send path and, for revenue, records the
// converted amount for SKAdNetwork. The deep-link and push-token events also call their
// delegates.
//
// Threads: thread-safe; any thread may call. The only state is the boot start time, under the
// mutex; the sink, the rates and the delegates are called without it held.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

struct CorvaneSDKDelegates;
class CorvaneSDKEvent;
class CorvaneSDKIdentity;
class CorvaneSDKOperationQueue;
class CorvaneSDKServerConfig;
class CorvaneSDKSkanConversionContextImpl;

class CorvaneSDKTypedEvents {
 public:
  using SkanRecord = std::function<void(CorvaneSDKSkanConversionContextImpl&)>;
  struct Sink {
    std::function<bool(const CorvaneSDKEvent&)> send;  // the manager's send path
    std::function<void(SkanRecord)> toSkan;             // in logging order, off the caller
    std::shared_ptr<const CorvaneSDKIdentity> identity;
    std::shared_ptr<CorvaneSDKServerConfig> rates;
    std::shared_ptr<CorvaneSDKOperationQueue> queue;
    CorvaneSDKDelegates* delegates = nullptr;  // owned by the manager, which owns this
  };

  explicit CorvaneSDKTypedEvents(Sink sink);

  bool log(const std::string& name, int flag);
  bool log(const std::string& name, int64_t intValue, int flag);
  bool log(const std::string& name, const std::string& stringValue, int flag);
  bool logMap(const std::string& name, const Value& mapValue, int flag);
  bool logJson(const std::string& name, const Value& jsonValue, int flag);
  bool logEvent(const CorvaneSDKEvent& event);
  bool logTyped(const std::string& name, const Value& payload, int flag = 0);

  bool logAdLoad(const std::string& adUnit, int64_t placementType, std::optional<int64_t> placement);
  bool logAdClose(const std::string& adUnit, int64_t placementType, std::optional<int64_t> placement);
  bool logAdClick(const std::string& adUnit, int64_t placementType, std::optional<int64_t> placement);
  bool logAdImpression(const std::string& adUnit, int64_t placementType, std::optional<int64_t> placement);
  bool logAdRevenue(const std::string& source, double revenue, const std::string& currency,
                    const std::string& network, const Value& networkData);
  bool logLevelStart(int64_t level, const std::string& label);
  bool logLevelEnd(int64_t level, const std::string& label, bool success);
  bool logBootStart();
  bool logBootEnd();
  bool logIAPInitialization(bool success);
  bool logIAPRestorePurchase();
  bool logPurchase(const std::string& pack, double price, int64_t amount, const std::string& currency, bool success);
  bool logIAPReceipt(const std::string& pack, double price, int64_t amount, const std::string& currency,
                     const std::string& transactionId, const std::string& receipt);
  bool logIAPReceiptAppStoreServer(const std::string& transactionId);
  bool logUpdateApp(const std::string& currentVersion, const std::string& newVersion);
  bool logRateApp();
  bool logLocation(double latitude, double longitude);
  bool logSoundMode(const std::string& soundMode);
  bool logTrackingAuthorizationStatus(int64_t status);
  bool logAccountLink(const std::string& id, const std::string& type, const std::string& scopeId,
                      const std::string& scopeType);
  bool logAccountUnlink(const std::string& id, const std::string& type);
  bool setUserInfo(const std::string& key, const Value& value);
  bool addUserInfo(const std::string& key, const Value& value);
  bool removeUserInfo(const std::string& key, const Value& value);
  bool logWalletLink(const std::string& wallet, const std::string& type);
  bool logWalletUnlink(const std::string& wallet, const std::string& type);
  bool logCryptoPayment(const std::string& pack, double price, int64_t amount, const std::string& currency,
                        const std::string& chain);
  bool logAppleAttribution(const std::string& token);
  bool logPushToken(const std::string& token);
  bool logDeepLink(const std::string& url, uint64_t clickTimeMs);
  bool setThirdPartySharing(bool enable);

 private:
  int64_t storeType() const;

  const Sink sink_;
  std::mutex mutex_;
  int64_t bootStartMs_ = 0;  // guarded by mutex_
};

}  // namespace Mobile
}  // namespace CorvaneSDK
