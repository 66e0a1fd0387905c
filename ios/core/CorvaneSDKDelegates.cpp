// Items a host gives before initialisation.
#include "CorvaneSDKDelegates.h"

namespace CorvaneSDK {
namespace Mobile {

void CorvaneSDKPendingItems::setLaunchOptions(const Value& options) {
  std::lock_guard<std::mutex> lock(mutex_);
  items_.launchOptions = options;
}

void CorvaneSDKPendingItems::setUserActivity(const Value& activity) {
  std::lock_guard<std::mutex> lock(mutex_);
  items_.userActivity = activity;
}

void CorvaneSDKPendingItems::setOpenURL(const std::string& url) {
  std::lock_guard<std::mutex> lock(mutex_);
  items_.openURL = url;
}

void CorvaneSDKPendingItems::setDeviceToken(const std::string& hex) {
  std::lock_guard<std::mutex> lock(mutex_);
  items_.deviceToken = hex;
}

CorvaneSDKPendingItems::Taken CorvaneSDKPendingItems::take() {
  std::lock_guard<std::mutex> lock(mutex_);
  Taken out = std::move(items_);
  items_ = Taken();
  return out;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
