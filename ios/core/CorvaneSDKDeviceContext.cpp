#include "CorvaneSDKDeviceContext.h"

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKUtils.h"
#include "CorvaneSDKVersion.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {

// One network-info object for the process, replaced by every new context.
std::mutex& networkInfoMutex() {
  static auto* m = new std::mutex();
  return *m;
}
std::shared_ptr<TelephonyNetworkInfo>& sharedNetworkInfo() {
  static auto* info = new std::shared_ptr<TelephonyNetworkInfo>();
  return *info;
}

std::string simOperator() {
  std::shared_ptr<TelephonyNetworkInfo> info;
  {
    std::lock_guard<std::mutex> lock(networkInfoMutex());
    info = sharedNetworkInfo();
  }
  if (!info) return "";
  auto name = info->subscriberCarrierName();
  return name && !name->empty() ? *name : "";
}

std::string networkType(const std::shared_ptr<ReachabilityMonitor>& monitor) {
  if (!monitor) return "";
  switch (monitor->currentReachabilityStatus()) {
    case NetworkStatus::ReachableViaWiFi: return "Wifi";
    case NetworkStatus::ReachableViaWWAN: return "Mobile";
    default: return "";
  }
}

}  // namespace

CorvaneSDKDeviceContext::CorvaneSDKDeviceContext(const CorvaneSDKConfiguration& configuration,
                                                 const std::string& owner) {
  auto ports = Platform::current();
  if (ports->reachability) {
    reachability_ = ports->reachability->reachabilityWithHostName(kCorvaneSDKReachabilityHost);
    if (reachability_ && !reachability_->startNotifier()) {
      CorvaneSDKLog::debug(owner + " Unable to start the reachability notifier");
    }
  }
  {
    auto info = ports->telephony ? ports->telephony->makeNetworkInfo() : nullptr;
    std::lock_guard<std::mutex> lock(networkInfoMutex());
    sharedNetworkInfo() = std::move(info);
  }
  context_ = build(configuration);
  context_["network_type"] = networkType(reachability_);
}

Value CorvaneSDKDeviceContext::build(const CorvaneSDKConfiguration& configuration) {
  using U = CorvaneSDKUtils;
  Value c = Value::object();
  c["$bundle_id"] = U::bundleIdentifier();
  c["$build_number"] = U::bundleVersion();
  c["$build_version"] = U::bundleShortVersionString();
  c["$device_model"] = U::deviceModel();
  c["$device_type"] = U::deviceType();
  c["$device_manufacturer"] = U::deviceManufacturer();
  c["$device_name"] = U::hwModel();
  c["$platform"] = U::platform();
  c["$os_name"] = U::osName();
  c["$os_version"] = U::osVersion();
  c["$os_build"] = U::kernOsVersion();
  c["$abi"] = U::hwCpuType();
  c["$time_zone"] = U::timeZone();
  c["$locale"] = U::locale();
  c["$country"] = U::country();
  c["$language"] = U::language();
  c["$display_width"] = U::displayWidth();
  c["$display_height"] = U::displayHeight();
  c["$version"] = kCorvaneSDKVersion;
  c["$app_install_time"] = U::installedAt();
  c["$app_start_time"] = U::startedAt();
  if (configuration.wrapper) c["$wrapper"] = *configuration.wrapper;
  if (configuration.wrapperVersion) c["$wrapper_version"] = *configuration.wrapperVersion;
  if (!configuration.enableCoppa) {
    c["$advertisting_id"] = U::idfa();
    c["$limit_ad_tracking"] = U::isAdvertisingTrackingEnabled();
    c["$developer_device_id"] = U::idfv();
  }
  c["$facebook_anon_id"] = U::fbAnonymousId();
  c["local_ip"] = U::getIPAddress(true);
  auto ports = Platform::current();
  c["network_type"] =
      networkType(ports->reachability ? ports->reachability->reachabilityWithHostName(kCorvaneSDKReachabilityHost)
                                      : nullptr);
  c["sim_operator"] = simOperator();
  return c;
}

Value CorvaneSDKDeviceContext::get(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = context_.find(key);
  return it == context_.end() ? Value() : *it;
}

void CorvaneSDKDeviceContext::set(const std::string& key, const Value& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  context_[key] = value;
}

Value CorvaneSDKDeviceContext::snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return context_;
}

void CorvaneSDKDeviceContext::refresh() {
  set("local_ip", CorvaneSDKUtils::getIPAddress(true));
  set("network_type", networkType(reachability_));
  set("sim_operator", simOperator());
}

}  // namespace Mobile
}  // namespace CorvaneSDK
