// The registry of application-delegate interceptors: weak entries under ids made from the
// object's address, every failure and every released interceptor written to the debug log.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ApplicationDelegate.h"

namespace CorvaneSDK {
namespace Mobile {

struct CorvaneSDKAppDelegateWeakContainer {
  std::weak_ptr<ApplicationDelegate> object;
};

// Thread-safe: the map is guarded by `mutex_`; interceptors are called outside it.
class CorvaneSDKAppDelegateInterceptors {
 public:
  // "CorvaneAppDelegate_0x..." or none (null object, logged).
  std::optional<std::string> registerInterceptor(const std::shared_ptr<ApplicationDelegate>& object);
  void unregisterInterceptor(const std::optional<std::string>& interceptorId);
  // Removes the entry when it holds `owner` (compared by ownership, so it works while `owner`
  // is being destroyed); silent.
  void forgetInterceptor(const std::string& interceptorId, const std::weak_ptr<ApplicationDelegate>& owner);
  void clearInterceptors();
  std::map<std::string, CorvaneSDKAppDelegateWeakContainer> interceptors();
  // Calls `callback` with every live interceptor that implements `operation`; entries whose
  // object is gone are logged and removed once the walk is over. Order is the map's.
  void notifyInterceptors(ApplicationDelegateOperation operation,
                          const std::function<void(ApplicationDelegate& interceptor)>& callback);

  static std::string interceptorIdFor(const void* object);

 private:
  std::mutex mutex_;
  std::map<std::string, CorvaneSDKAppDelegateWeakContainer> entries_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
