// Binds the server config to the manager's parts: its stored values live in the operation
// queue's user defaults and its requests go out through the manager's HTTP client.
//
// Threads: `create` runs once, during the manager's construction. The store it makes is
// thread-safe (the operation queue's getters and setters are); the request function holds the
// client weakly and answers "no answer, no retry" once the client is gone.
#pragma once

#include <memory>

#include "CorvaneSDKServerConfig.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKConfiguration;
class CorvaneSDKHTTPClient;
class CorvaneSDKIdentity;
class CorvaneSDKOperationQueue;

class CorvaneSDKServerConfigBinding {
 public:
  static std::shared_ptr<CorvaneSDKServerConfig> create(const CorvaneSDKConfiguration& configuration,
                                                        const CorvaneSDKIdentity& identity,
                                                        std::shared_ptr<CorvaneSDKOperationQueue> queue,
                                                        std::weak_ptr<CorvaneSDKHTTPClient> client,
                                                        std::shared_ptr<MainQueue> main);
};

}  // namespace Mobile
}  // namespace CorvaneSDK
