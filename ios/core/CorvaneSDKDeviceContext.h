// The delivery engine's device context: the "$" keys (app, device, OS, locale, identifiers
// unless COPPA applies) and the network fields "local_ip", "network_type" and "sim_operator",
// which a refresh recomputes. Every batch carries a snapshot of it.
//
// Threads: thread-safe; any thread may call. The mutex guards the map. The one network-info
// object of the process (replaced by every new context) has a process-wide mutex.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKConfiguration;
class ReachabilityMonitor;

constexpr const char* kCorvaneSDKReachabilityHost = "www.apple.com";

class CorvaneSDKDeviceContext {
 public:
  // Starts a reachability notifier (a debug line prefixed `owner` when it cannot).
  CorvaneSDKDeviceContext(const CorvaneSDKConfiguration& configuration, const std::string& owner);
  static Value build(const CorvaneSDKConfiguration& configuration);

  // Null when the key is absent.
  Value get(const std::string& key) const;
  void set(const std::string& key, const Value& value);
  Value snapshot() const;
  void refresh();

 private:
  std::shared_ptr<ReachabilityMonitor> reachability_;
  mutable std::mutex mutex_;
  Value context_;  // guarded by mutex_
};

}  // namespace Mobile
}  // namespace CorvaneSDK
