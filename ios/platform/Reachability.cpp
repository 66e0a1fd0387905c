// Reachability from the network interfaces, and the settable double.
#include "Reachability.h"

#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
bool cellularName(const std::string& name) {
  for (const char* prefix : {"pdp_ip", "rmnet", "wwan", "ppp"}) {
    if (name.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

class InterfaceMonitor : public ReachabilityMonitor {
 public:
  bool startNotifier() override { return true; }
  void stopNotifier() override {}
  NetworkStatus currentReachabilityStatus() override {
    bool wifi = false, wwan = false;
    for (const auto& a : Platform::current()->device->interfaceAddresses()) {
      if (!a.up || a.loopback || a.address.empty()) continue;
      (cellularName(a.name) ? wwan : wifi) = true;
    }
    if (wifi) return NetworkStatus::ReachableViaWiFi;
    if (wwan) return NetworkStatus::ReachableViaWWAN;
    return NetworkStatus::NotReachable;
  }
};
}  // namespace

class SettableReachabilityMonitor : public ReachabilityMonitor {
 public:
  explicit SettableReachabilityMonitor(std::weak_ptr<SettableReachability> owner) : owner_(std::move(owner)) {}
  bool startNotifier() override {
    if (auto o = owner_.lock()) ++o->started_;
    return true;
  }
  void stopNotifier() override {}
  NetworkStatus currentReachabilityStatus() override {
    auto o = owner_.lock();
    return o ? o->status() : NetworkStatus::NotReachable;
  }

 private:
  std::weak_ptr<SettableReachability> owner_;
};

std::shared_ptr<ReachabilityMonitor> InterfaceReachability::reachabilityWithHostName(const std::string&) {
  return std::make_shared<InterfaceMonitor>();
}

std::shared_ptr<ReachabilityMonitor> SettableReachability::reachabilityWithHostName(const std::string&) {
  return std::make_shared<SettableReachabilityMonitor>(weak_from_this());
}

}  // namespace Mobile
}  // namespace CorvaneSDK
