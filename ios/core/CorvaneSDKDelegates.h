// The host's callbacks (lifecycle, send-event, deep-link and device-token delegates), in the
// order they were added, and the items a host hands over before initialisation (launch
// options, user activity, open URL, device token, delegates), which the initialisation
// sequence takes and applies.
//
// Threads: thread-safe; one mutex per object guards its lists. Delegates are called on a copy
// of the list, outside the mutex, so a delegate may add or remove delegates.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKLifecycleDelegate {
 public:
  virtual ~CorvaneSDKLifecycleDelegate() = default;
  virtual void onStart() {}
  virtual void onStop() {}
  virtual void onPause() {}
  virtual void onResume() {}
};

class CorvaneSDKSendEventDelegate {
 public:
  virtual ~CorvaneSDKSendEventDelegate() = default;
  // Every event map once, at its first upload attempt (sub-events each on their own).
  virtual void onSendEvent(const Value& event) = 0;
};

class CorvaneSDKDeepLinkDelegate {
 public:
  virtual ~CorvaneSDKDeepLinkDelegate() = default;
  // The accepted URL after the payload filters.
  virtual void onDeepLink(const std::string& url) = 0;
};

class CorvaneSDKDeviceTokenDelegate {
 public:
  virtual ~CorvaneSDKDeviceTokenDelegate() = default;
  // Lower-case hexadecimal text of the token.
  virtual void onDeviceToken(const std::string& token) = 0;
};

// An ordered list without duplicates.
template <typename D>
class CorvaneSDKDelegateList {
 public:
  void add(const std::shared_ptr<D>& delegate) {
    if (!delegate) return;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& d : list_) {
      if (d == delegate) return;
    }
    list_.push_back(delegate);
  }
  void remove(const std::shared_ptr<D>& delegate) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = list_.begin(); it != list_.end(); ++it) {
      if (*it == delegate) {
        list_.erase(it);
        return;
      }
    }
  }
  std::vector<std::shared_ptr<D>> snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return list_;
  }
  size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return list_.size();
  }
  // Moves every entry of `other` to the end of this list (no duplicates).
  void takeFrom(CorvaneSDKDelegateList& other) {
    for (const auto& d : other.drain()) add(d);
  }
  // Calls `fn` for each delegate; an exception from a host's delegate is caught and dropped.
  template <typename F>
  void each(F&& fn) const {
    for (const auto& d : snapshot()) {
      try {
        fn(*d);
      } catch (...) {
      }
    }
  }

 private:
  std::vector<std::shared_ptr<D>> drain() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::shared_ptr<D>> out;
    out.swap(list_);
    return out;
  }
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<D>> list_;
};

struct CorvaneSDKDelegates {
  CorvaneSDKDelegateList<CorvaneSDKLifecycleDelegate> lifecycle;
  CorvaneSDKDelegateList<CorvaneSDKSendEventDelegate> sendEvent;
  CorvaneSDKDelegateList<CorvaneSDKDeepLinkDelegate> deepLink;
  CorvaneSDKDelegateList<CorvaneSDKDeviceTokenDelegate> deviceToken;
  void takeFrom(CorvaneSDKDelegates& other) {
    lifecycle.takeFrom(other.lifecycle);
    sendEvent.takeFrom(other.sendEvent);
    deepLink.takeFrom(other.deepLink);
    deviceToken.takeFrom(other.deviceToken);
  }
};

// What a host gave before initialisation. The last value of each kind wins.
class CorvaneSDKPendingItems {
 public:
  struct Taken {
    std::optional<Value> launchOptions;
    std::optional<Value> userActivity;
    std::optional<std::string> openURL;
    std::optional<std::string> deviceToken;  // hexadecimal text
  };
  void setLaunchOptions(const Value& options);
  void setUserActivity(const Value& activity);
  void setOpenURL(const std::string& url);
  void setDeviceToken(const std::string& hex);
  // Hands over the items and empties the store.
  Taken take();
  CorvaneSDKDelegates& delegates() { return delegates_; }

 private:
  std::mutex mutex_;
  Taken items_;
  CorvaneSDKDelegates delegates_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
