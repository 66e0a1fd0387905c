#include "CorvaneSDKDeepLinks.h"

#include "CorvaneSDKRegex.h"
#include "CorvaneSDKUtils.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

CorvaneSDKDeepLinks::CorvaneSDKDeepLinks(std::vector<std::pair<std::string, std::string>> payloadFilters,
                                         DeepLinkOut onDeepLink, TokenOut onDeviceToken)
    : filters_(std::move(payloadFilters)),
      onDeepLink_(std::move(onDeepLink)),
      onDeviceToken_(std::move(onDeviceToken)) {}

bool CorvaneSDKDeepLinks::open(const std::string& url, bool resetUserActivity) {
  if (!CorvaneSDKUtils::isValidDeepLink(url)) return false;
  std::string filtered = url;
  for (const auto& filter : filters_) {
    CorvaneSDKRegex regex(filter.first);
    if (regex.ok()) filtered = regex.replaceAll(filtered, filter.second);
  }
  uint64_t clickTime;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (lastURL_ && *lastURL_ == url) return false;
    lastURL_ = url;
    if (resetUserActivity) userActivity_.reset();
    deepLinkURL_ = filtered;
    clickTime = clickTime_ = static_cast<uint64_t>(Platform::current()->clock->wallMs());
    if (!initialized_) {
      pendingDeepLink_ = filtered;
      return true;
    }
  }
  onDeepLink_(filtered, clickTime);
  return true;
}

void CorvaneSDKDeepLinks::setUserActivity(const Value& activity) {
  std::lock_guard<std::mutex> lock(mutex_);
  userActivity_ = activity;
}

void CorvaneSDKDeepLinks::setDeviceToken(const std::string& hex) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (deviceToken_ && *deviceToken_ == hex) return;
    deviceToken_ = hex;
    if (!initialized_) return;
  }
  onDeviceToken_(hex);
}

void CorvaneSDKDeepLinks::markInitialized() {
  std::optional<std::string> deepLink, token;
  uint64_t clickTime;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (initialized_) return;
    initialized_ = true;
    deepLink.swap(pendingDeepLink_);
    token = deviceToken_;
    clickTime = clickTime_;
  }
  if (deepLink) onDeepLink_(*deepLink, clickTime);
  if (token) onDeviceToken_(*token);
}

std::string CorvaneSDKDeepLinks::deepLinkURL() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return deepLinkURL_.value_or(std::string());
}

std::string CorvaneSDKDeepLinks::hexOf(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
