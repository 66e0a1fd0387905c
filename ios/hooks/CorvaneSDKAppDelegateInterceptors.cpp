// The interceptor registry.
#include "CorvaneSDKAppDelegateInterceptors.h"

#include <cstdio>
#include <vector>

#include "CorvaneSDKLog.h"

namespace CorvaneSDK {
namespace Mobile {

std::string CorvaneSDKAppDelegateInterceptors::interceptorIdFor(const void* object) {
  char address[32];
  std::snprintf(address, sizeof(address), "%p", object);
  return std::string("CorvaneAppDelegate_") + address;
}

std::optional<std::string> CorvaneSDKAppDelegateInterceptors::registerInterceptor(
    const std::shared_ptr<ApplicationDelegate>& object) {
  if (!object) {
    CorvaneSDKLog::debug("AppDelegateProxy cannot add nil interceptor");
    return std::nullopt;
  }
  std::string id = interceptorIdFor(object.get());
  if (id.empty()) {
    CorvaneSDKLog::debug("AppDelegateProxy cannot create Interceptor Id");
    return std::nullopt;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  entries_[id] = CorvaneSDKAppDelegateWeakContainer{object};
  return id;
}

void CorvaneSDKAppDelegateInterceptors::unregisterInterceptor(const std::optional<std::string>& interceptorId) {
  if (!interceptorId || interceptorId->empty()) {
    CorvaneSDKLog::debug("AppDelegateProxy unregister empty interceptor Id");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = entries_.find(*interceptorId);
    if (entry != entries_.end() && !entry->second.object.expired()) {
      entries_.erase(entry);
      return;
    }
  }
  CorvaneSDKLog::debug("AppDelegateProxy cannot unregister interceptor that was not registered, InterceptorId: " +
                       *interceptorId);
}

void CorvaneSDKAppDelegateInterceptors::forgetInterceptor(const std::string& interceptorId,
                                                          const std::weak_ptr<ApplicationDelegate>& owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto entry = entries_.find(interceptorId);
  if (entry == entries_.end()) return;
  const auto& held = entry->second.object;
  if (!held.owner_before(owner) && !owner.owner_before(held)) entries_.erase(entry);
}

void CorvaneSDKAppDelegateInterceptors::clearInterceptors() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
}

std::map<std::string, CorvaneSDKAppDelegateWeakContainer> CorvaneSDKAppDelegateInterceptors::interceptors() {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_;
}

void CorvaneSDKAppDelegateInterceptors::notifyInterceptors(
    ApplicationDelegateOperation operation, const std::function<void(ApplicationDelegate& interceptor)>& callback) {
  std::vector<std::shared_ptr<ApplicationDelegate>> live;
  std::vector<std::string> gone;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : entries_) {
      auto object = entry.second.object.lock();
      if (!object) {
        gone.push_back(entry.first);
      } else if (object->handlers().implements(operation)) {
        live.push_back(std::move(object));
      }
    }
  }
  for (const auto& id : gone) {
    CorvaneSDKLog::debug("AppDelegateProxy cannot find interceptor with Id " + id + ". Removing the interceptor");
  }
  if (!gone.empty()) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& id : gone) {
      auto entry = entries_.find(id);
      // A new object registered under the same address meanwhile stays.
      if (entry != entries_.end() && entry->second.object.expired()) entries_.erase(entry);
    }
  }
  for (auto& interceptor : live) {
    try {
      callback(*interceptor);
    } catch (...) {
      CorvaneSDKLog::debug("AppDelegateProxy interceptor failed");
    }
  }
}

}  // namespace Mobile
}  // namespace CorvaneSDK
