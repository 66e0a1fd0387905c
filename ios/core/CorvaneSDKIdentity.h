// Who the manager speaks for and where it sends: the app id and credential, the three endpoint
// URLs, the config id (empty while an install waits for one), the custom user id, the store
// type and the third-party ids from the configuration and the SDK config.
//
// Threads: thread-safe. The mutex guards every field; any thread may read or set them. Readers
// that need fields that belong together (an event's config id and user id) take a `Stamp`.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKConfiguration;
struct CorvaneSDKServerConfigSettings;

class CorvaneSDKIdentity {
 public:
  struct Stamp {
    std::string configId;
    std::optional<std::string> customUserId;
    int64_t storeType = 0;
  };

  explicit CorvaneSDKIdentity(const CorvaneSDKConfiguration& configuration);

  // Third-party ids and the mobile config id from an SDK config answer.
  void applySdkConfig(const Value& config);
  // The ids and URLs the SDK config requests need.
  void fillSettings(CorvaneSDKServerConfigSettings& settings) const;

  Stamp stamp() const;
  std::string appId() const;
  std::string credential() const;
  std::string host() const;
  std::string configUrl() const;
  int64_t storeType() const;
  std::string configId() const;
  void setConfigId(const std::string& configId);
  std::string customUserId() const;
  void setCustomUserId(const std::string& id);
  std::optional<std::string> thirdPartyId(const std::string& name) const;

 private:
  mutable std::mutex mutex_;
  std::string appId_;
  std::string credential_;
  std::string host_;
  std::string configUrl_;
  std::string remoteConfigUrl_;
  std::string configId_;
  std::optional<std::string> customUserId_;
  int64_t storeType_ = 0;
  std::map<std::string, std::string> thirdPartyIds_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
