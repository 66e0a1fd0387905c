// The Apple Ads attribution token: one fetch (with its retry) at a time on the main queue, an
// event only for a new, different token, a failure clearing the stored one silently. Also the
// app's registration for SKAdNetwork attribution on the releases that have it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "AdServices.h"
#include "Dispatch.h"
#include "OSVersion.h"
#include "SKAdNetwork.h"

namespace CorvaneSDK {
namespace Mobile {

constexpr int APPLE_ATTRIBUTION_TOKEN_RETRY_COUNT = 1;
constexpr int64_t APPLE_ATTRIBUTION_TOKEN_RETRY_DELAY = 5000000000LL;  // nanoseconds

// Thread-safe: `fetching_` and `token_` are guarded by `mutex_`; the port is asked and the
// sink called on the main queue, outside the lock. Shared-owned; queued work holds it weakly.
class CorvaneSDKAttributionToken : public std::enable_shared_from_this<CorvaneSDKAttributionToken> {
 public:
  // The manager's `logAppleAttributionToken` ("qvsdk_apple_attribution", flag 4).
  using TokenSink = std::function<void(const std::string& token)>;
  struct PortSet {
    std::shared_ptr<AdServicesPort> adServices;
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<const OSVersionPort> osVersion;
  };
  // Null ports are the installed ones, read at each call.
  static std::shared_ptr<CorvaneSDKAttributionToken> create(TokenSink sink, PortSet ports = {});

  // At each new session: starts a fetch unless one is under way (14.3 and later).
  void fetchAppleAttributionToken();
  // One attempt; an error other than "not supported" is retried `retries` more times, 5 s apart.
  void fetchAppleAttributionTokenInternal(int retries);
  void updateAppleAttributionToken(const std::optional<std::string>& token);
  std::optional<std::string> appleAttributionToken();
  bool isFetching();

 private:
  CorvaneSDKAttributionToken(TokenSink sink, PortSet ports);
  std::shared_ptr<AdServicesPort> adServices();
  std::shared_ptr<MainQueue> mainQueue();
  OSVersion osVersion();
  void finish(const std::optional<std::string>& token);

  const TokenSink sink_;
  const PortSet ports_;
  std::mutex mutex_;
  bool fetching_ = false;
  std::optional<std::string> token_;
};

// Registration for SKAdNetwork attribution (called once after initialisation when the
// conversion schema is in use): only with the class, on 11.3 up to but not including 16.1,
// and when the class answers the operation. Returns whether the call was made.
class CorvaneSDKAdNetworkRegistration {
 public:
  static bool registerAppForAdNetworkAttribution(std::shared_ptr<SKAdNetworkPort> skAdNetwork = nullptr,
                                                 std::shared_ptr<const OSVersionPort> osVersion = nullptr);
};

}  // namespace Mobile
}  // namespace CorvaneSDK
