// The notification-authorization initialisation action: asks the user-notification port with
// the action's "authorizationOptions" and, when granted and "registerRemote" is set, registers
// for remote notifications on the main queue.
// Threads: any. `done` runs exactly once, on the main queue, whatever the platform answers, and
// however often; a missing class or a failing request also ends the action.
#pragma once

#include <functional>
#include <memory>

#include "Dispatch.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKNotificationAuthorization {
 public:
  static void run(const Value& data, std::shared_ptr<MainQueue> main, std::function<void()> done);
};

}  // namespace Mobile
}  // namespace CorvaneSDK
