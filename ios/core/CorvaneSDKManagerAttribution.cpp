#include "CorvaneSDKManagerAttribution.h"

#include "CorvaneSDKAttributionToken.h"
#include "CorvaneSDKDeepLinks.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKManager.h"
#include "CorvaneSDKManagerAppDelegate.h"
#include "CorvaneSDKRevenueConversion.h"
#include "CorvaneSDKStoreKitCapturer.h"
#include "CorvaneSDKTrackingAuthorization.h"

namespace CorvaneSDK {
namespace Mobile {

CorvaneSDKManagerAttribution::CorvaneSDKManagerAttribution(std::weak_ptr<CorvaneSDKManager> weak,
                                                           std::weak_ptr<CorvaneSDKDeepLinks> links,
                                                           const CorvaneSDKConfiguration& configuration) {
  tracking_ = CorvaneSDKTrackingAuthorization::create([weak](int64_t status) {
    auto self = weak.lock();
    if (self && self->isInitialized()) self->logTrackingAuthorizationStatus(status);
  });
  token_ = CorvaneSDKAttributionToken::create([weak](const std::string& token) {
    if (auto self = weak.lock()) self->logAppleAttribution(token);
  });
  if (configuration.captureInAppPurchases) {
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
  callbacks.setUserActivity = [links](const Value& activity) {
    if (auto l = links.lock()) l->setUserActivity(activity);
  };
  callbacks.onRegisteredForRemoteNotificationsWithDeviceToken = [weak](const std::vector<uint8_t>& token) {
    if (auto self = weak.lock()) self->setDeviceTokenInternal(CorvaneSDKDeepLinks::hexOf(token));
  };
  callbacks.onFailedToRegisterForRemoteNotificationsWithError = [](const std::string& error) {
    CorvaneSDKLog::debug("Failed to register for remote notifications: " + error);
  };
  CorvaneSDKManagerAppDelegate::setupSwizzle(appDelegate_, static_cast<int>(configuration.appSwizzleFlag),
                                             callbacks);
}

CorvaneSDKManagerAttribution::~CorvaneSDKManagerAttribution() = default;

}  // namespace Mobile
}  // namespace CorvaneSDK
