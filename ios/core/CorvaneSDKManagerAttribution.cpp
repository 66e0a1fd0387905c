// The manager's attribution collaborators: tracking authorization, the attribution token,
// purchase capture and the application-delegate hook. Each is its own object; the manager only
// creates them and hands them weak callbacks into itself.
#include "CorvaneSDKAttributionToken.h"
#include "CorvaneSDKDataBuilder.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKManager.h"
#include "CorvaneSDKManagerAppDelegate.h"
#include "CorvaneSDKRevenueConversion.h"
#include "CorvaneSDKStoreKitCapturer.h"
#include "CorvaneSDKTrackingAuthorization.h"

namespace CorvaneSDK {
namespace Mobile {

void CorvaneSDKManager::setupAttribution() {
  std::weak_ptr<CorvaneSDKManager> weak = shared_from_this();
  tracking_ = CorvaneSDKTrackingAuthorization::create([weak](int64_t status) {
    auto self = weak.lock();
    if (self && self->isInitialized()) self->logTrackingAuthorizationStatus(status);
  });
  attributionToken_ = CorvaneSDKAttributionToken::create([weak](const std::string& token) {
    if (auto self = weak.lock()) self->logAppleAttribution(token);
  });
  if (configuration_->captureInAppPurchases) {
    auto sink = std::make_shared<CorvaneSDKBlockPurchaseSink>(
        [weak](const std::string& transactionId) {
          if (auto self = weak.lock()) self->logIAPReceiptAppStoreServer(transactionId);
        },
        [weak](const std::string& pack, double price, int64_t amount, const std::string& currency, bool success) {
          if (auto self = weak.lock()) self->logPurchase(pack, price, amount, currency, success);
        });
    capturer_ = CorvaneSDKStoreKitCapturer::captureTransactions(sink);
    capturer_->start();
  }
  CorvaneSDKManagerAppDelegate::Callbacks callbacks;
  callbacks.openURL = [weak](const std::string& url) {
    if (auto self = weak.lock()) self->openURLInternal(url, true);
  };
  callbacks.setUserActivity = [weak](const Value& activity) {
    auto self = weak.lock();
    if (!self) return;
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->userActivity_ = activity;
  };
  callbacks.onRegisteredForRemoteNotificationsWithDeviceToken = [weak](const std::vector<uint8_t>& token) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : token) {
      hex += digits[b >> 4];
      hex += digits[b & 15];
    }
    if (auto self = weak.lock()) self->setDeviceTokenInternal(hex);
  };
  callbacks.onFailedToRegisterForRemoteNotificationsWithError = [](const std::string& error) {
    CorvaneSDKLog::debug("Failed to register for remote notifications: " + error);
  };
  CorvaneSDKManagerAppDelegate::setupSwizzle(appDelegate_, static_cast<int>(configuration_->appSwizzleFlag),
                                             callbacks);
}

bool CorvaneSDKManager::logIAPReceiptAppStoreServer(const std::string& transactionId) {
  Value payload = Value::object();
  payload["type"] = "app_store_server";
  CorvaneSDKDataBuilder::updateLogData(payload, "transaction_id", transactionId);
  return logTyped("qvsdk_iap_receipt", payload);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
