// The reachability port (SystemConfiguration's reachability on Apple): whether a host can be
// reached and over which kind of network. InterfaceReachability is the portable answer, read
// from the network interfaces; SettableReachability is the double.
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace CorvaneSDK {
namespace Mobile {

enum class NetworkStatus { NotReachable = 0, ReachableViaWWAN = 1, ReachableViaWiFi = 2 };

// Thread-safe.
class ReachabilityMonitor {
 public:
  virtual ~ReachabilityMonitor() = default;
  virtual bool startNotifier() = 0;
  virtual void stopNotifier() = 0;
  virtual NetworkStatus currentReachabilityStatus() = 0;
};

class Reachability {
 public:
  virtual ~Reachability() = default;
  virtual std::shared_ptr<ReachabilityMonitor> reachabilityWithHostName(const std::string& host) = 0;
};

// Any usable interface (up, not loopback) counts: cellular names ("pdp_ip", "rmnet", "wwan",
// "ppp") as WWAN, every other as Wi-Fi (as Apple's reachability reports any non-cellular route).
class InterfaceReachability : public Reachability {
 public:
  std::shared_ptr<ReachabilityMonitor> reachabilityWithHostName(const std::string& host) override;
};

class SettableReachability : public Reachability, public std::enable_shared_from_this<SettableReachability> {
 public:
  std::shared_ptr<ReachabilityMonitor> reachabilityWithHostName(const std::string& host) override;
  void setStatus(NetworkStatus status) { status_ = status; }
  NetworkStatus status() const { return status_.load(); }
  int monitorsStarted() const { return started_.load(); }

 private:
  friend class SettableReachabilityMonitor;
  std::atomic<NetworkStatus> status_{NetworkStatus::ReachableViaWiFi};
  std::atomic<int> started_{0};
};

}  // namespace Mobile
}  // namespace CorvaneSDK
