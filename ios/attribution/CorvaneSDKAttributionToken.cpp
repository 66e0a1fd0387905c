// The attribution token and the SKAdNetwork registration.
#include "CorvaneSDKAttributionToken.h"

#include "AttributionPlatform.h"
#include "CorvaneSDKLog.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
constexpr int64_t kRetryDelayMs = APPLE_ATTRIBUTION_TOKEN_RETRY_DELAY / 1000000;
}

std::shared_ptr<CorvaneSDKAttributionToken> CorvaneSDKAttributionToken::create(TokenSink sink, PortSet ports) {
  return std::shared_ptr<CorvaneSDKAttributionToken>(new CorvaneSDKAttributionToken(std::move(sink), std::move(ports)));
}

CorvaneSDKAttributionToken::CorvaneSDKAttributionToken(TokenSink sink, PortSet ports)
    : sink_(std::move(sink)), ports_(std::move(ports)) {}

std::shared_ptr<AdServicesPort> CorvaneSDKAttributionToken::adServices() {
  if (ports_.adServices) return ports_.adServices;
  auto set = AttributionPlatform::current();
  return set ? set->adServices : nullptr;
}

std::shared_ptr<MainQueue> CorvaneSDKAttributionToken::mainQueue() {
  if (ports_.mainQueue) return ports_.mainQueue;
  auto set = Platform::current();
  return set && set->dispatch ? set->dispatch->mainQueue() : nullptr;
}

OSVersion CorvaneSDKAttributionToken::osVersion() {
  if (ports_.osVersion) return ports_.osVersion->operatingSystemVersion();
  auto pair = SKAdNetworkPlatform::current();
  if (pair && pair->osVersion) return pair->osVersion->operatingSystemVersion();
  return DeviceOSVersion().operatingSystemVersion();
}

void CorvaneSDKAttributionToken::fetchAppleAttributionToken() {
  if (!osVersion().isAtLeast(14, 3)) return;
  auto queue = mainQueue();
  if (!queue) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fetching_) return;
    fetching_ = true;
  }
  std::weak_ptr<CorvaneSDKAttributionToken> weak = weak_from_this();
  queue->async([weak] {
    if (auto self = weak.lock()) self->fetchAppleAttributionTokenInternal(APPLE_ATTRIBUTION_TOKEN_RETRY_COUNT);
  });
}

void CorvaneSDKAttributionToken::fetchAppleAttributionTokenInternal(int retries) {
  if (!osVersion().isAtLeast(14, 3)) {
    finish(std::nullopt);
    return;
  }
  auto port = adServices();
  if (!port || !port->classPresent() || !port->respondsToSelector(kSelAttributionToken)) {
    // Nothing to ask: no token, nothing reported, the stored one kept.
    std::lock_guard<std::mutex> lock(mutex_);
    fetching_ = false;
    return;
  }
  AttributionTokenResult result;
  try {
    result = port->attributionToken();
  } catch (...) {
    result = AttributionTokenResult::failure(-1, "attribution token call failed");
  }
  if (result.token && !result.token->empty()) {
    finish(result.token);
    return;
  }
  int64_t code = result.token ? -1 : result.errorCode;  // an empty token counts as a failure
  CorvaneSDKLog::debug("Apple attribution token error " + std::to_string(code) + ": " + result.errorDescription);
  auto queue = mainQueue();
  if (code != kAdServicesErrorNotSupported && retries >= 1 && queue) {
    std::weak_ptr<CorvaneSDKAttributionToken> weak = weak_from_this();
    queue->after(kRetryDelayMs, [weak, retries] {
      if (auto self = weak.lock()) self->fetchAppleAttributionTokenInternal(retries - 1);
    });
    return;  // still under way
  }
  finish(std::nullopt);
}

void CorvaneSDKAttributionToken::finish(const std::optional<std::string>& token) {
  updateAppleAttributionToken(token);
  std::lock_guard<std::mutex> lock(mutex_);
  fetching_ = false;
}

void CorvaneSDKAttributionToken::updateAppleAttributionToken(const std::optional<std::string>& token) {
  std::optional<std::string> logged;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (token_ == token) return;  // same token, or none twice
    token_ = token;
    logged = token_;
  }
  // logAppleAttributionToken: an event only while a token is stored.
  if (logged && sink_) {
    try {
      sink_(*logged);
    } catch (...) {
    }
  }
}

std::optional<std::string> CorvaneSDKAttributionToken::appleAttributionToken() {
  std::lock_guard<std::mutex> lock(mutex_);
  return token_;
}

bool CorvaneSDKAttributionToken::isFetching() {
  std::lock_guard<std::mutex> lock(mutex_);
  return fetching_;
}

bool CorvaneSDKAdNetworkRegistration::registerAppForAdNetworkAttribution(std::shared_ptr<SKAdNetworkPort> skAdNetwork,
                                                                         std::shared_ptr<const OSVersionPort> osVersion) {
  auto pair = SKAdNetworkPlatform::current();
  if (!skAdNetwork && pair) skAdNetwork = pair->skAdNetwork;
  if (!osVersion && pair) osVersion = pair->osVersion;
  if (!skAdNetwork || !skAdNetwork->classPresent()) return false;
  OSVersion version = osVersion ? osVersion->operatingSystemVersion() : DeviceOSVersion().operatingSystemVersion();
  if (!version.isAtLeast(11, 3) || version.isAtLeast(16, 1)) return false;
  if (!skAdNetwork->respondsToSelector(kSelRegisterApp)) return false;
  try {
    skAdNetwork->registerAppForAdNetworkAttribution();
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
