// Release gating of the SKAdNetwork operations, the portable class, the recording double and
// the installed pair.
#include "SKAdNetwork.h"

namespace CorvaneSDK {
namespace Mobile {

bool skAdNetworkAnswersOn(const OSVersion& version, const std::string& selector) {
  if (selector == kSelRegisterApp) return version.isAtLeast(11, 3);
  if (selector == kSelUpdateConversionValue) return version.isAtLeast(14, 0);
  if (selector == kSelUpdatePostback) return version.isAtLeast(15, 4);
  if (selector == kSelUpdatePostbackCoarse || selector == kSelUpdatePostbackCoarseLock) {
    return version.isAtLeast(16, 1);
  }
  return false;
}

namespace {
OSVersion versionOf(const std::shared_ptr<const OSVersionPort>& port) {
  if (port) return port->operatingSystemVersion();
  auto pair = SKAdNetworkPlatform::current();
  if (pair && pair->osVersion) return pair->osVersion->operatingSystemVersion();
  return DeviceOSVersion().operatingSystemVersion();
}

void complete(const SKAdNetworkCompletion& completion, const std::optional<std::string>& error) {
  if (!completion) return;
  try {
    completion(error);
  } catch (...) {
  }
}
}  // namespace

bool SKAdNetworkPort::classPresent() {
  std::call_once(lookedUp_, [this] {
    try {
      present_ = lookUpClass();
    } catch (...) {
      present_ = false;
    }
  });
  return present_;
}

// ---- portable ----

PortableSKAdNetwork::PortableSKAdNetwork(std::shared_ptr<const OSVersionPort> osVersion)
    : osVersion_(std::move(osVersion)) {}

bool PortableSKAdNetwork::respondsToSelector(const std::string& selector) {
  return skAdNetworkAnswersOn(versionOf(osVersion_), selector);
}

void PortableSKAdNetwork::keep(int32_t fine, const std::string& coarse, bool lockWindow) {
  std::lock_guard<std::mutex> lock(mutex_);
  last_.fine = fine;
  last_.coarse = coarse;
  last_.lockWindow = lockWindow;
  ++last_.count;
}

void PortableSKAdNetwork::updateConversionValue(int32_t fine) { keep(fine, "", false); }

void PortableSKAdNetwork::updatePostbackConversionValue(int32_t fine, SKAdNetworkCompletion completion) {
  keep(fine, "", false);
  complete(completion, std::nullopt);
}

void PortableSKAdNetwork::updatePostbackConversionValue(int32_t fine, const std::string& coarse,
                                                        SKAdNetworkCompletion completion) {
  keep(fine, coarse, false);
  complete(completion, std::nullopt);
}

void PortableSKAdNetwork::updatePostbackConversionValue(int32_t fine, const std::string& coarse,
                                                        bool lockWindow, SKAdNetworkCompletion completion) {
  keep(fine, coarse, lockWindow);
  complete(completion, std::nullopt);
}

void PortableSKAdNetwork::registerAppForAdNetworkAttribution() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++registrations_;
}

int PortableSKAdNetwork::registrations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return registrations_;
}

PortableSKAdNetwork::Report PortableSKAdNetwork::lastReport() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_;
}

// ---- recording double ----

RecordingSKAdNetwork::RecordingSKAdNetwork(bool present, std::shared_ptr<const OSVersionPort> osVersion)
    : present_(present), osVersion_(std::move(osVersion)) {}

bool RecordingSKAdNetwork::lookUpClass() {
  ++lookups_;
  return present_;
}

bool RecordingSKAdNetwork::respondsToSelector(const std::string& selector) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (responds_) return responds_->count(selector) > 0;
  }
  return skAdNetworkAnswersOn(versionOf(osVersion_), selector);
}

void RecordingSKAdNetwork::record(const std::string& selector, Value args,
                                  const SKAdNetworkCompletion* completion) {
  Call call{selector, std::move(args)};
  std::function<void(const Call&)> hook;
  std::optional<std::string> error;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hook = hook_;
    error = error_;
  }
  if (hook) {
    try {
      hook(call);
    } catch (...) {
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
  }
  if (completion) complete(*completion, error);
}

void RecordingSKAdNetwork::updateConversionValue(int32_t fine) {
  record(kSelUpdateConversionValue, Value::array({fine}), nullptr);
}

void RecordingSKAdNetwork::updatePostbackConversionValue(int32_t fine, SKAdNetworkCompletion completion) {
  record(kSelUpdatePostback, Value::array({fine}), &completion);
}

void RecordingSKAdNetwork::updatePostbackConversionValue(int32_t fine, const std::string& coarse,
                                                         SKAdNetworkCompletion completion) {
  record(kSelUpdatePostbackCoarse, Value::array({fine, coarse}), &completion);
}

void RecordingSKAdNetwork::updatePostbackConversionValue(int32_t fine, const std::string& coarse,
                                                         bool lockWindow, SKAdNetworkCompletion completion) {
  record(kSelUpdatePostbackCoarseLock, Value::array({fine, coarse, lockWindow}), &completion);
}

void RecordingSKAdNetwork::registerAppForAdNetworkAttribution() {
  record(kSelRegisterApp, Value::array(), nullptr);
}

void RecordingSKAdNetwork::setResponds(std::optional<std::set<std::string>> selectors) {
  std::lock_guard<std::mutex> lock(mutex_);
  responds_ = std::move(selectors);
}

void RecordingSKAdNetwork::failWith(std::optional<std::string> error) {
  std::lock_guard<std::mutex> lock(mutex_);
  error_ = std::move(error);
}

void RecordingSKAdNetwork::onCall(std::function<void(const Call&)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

std::vector<RecordingSKAdNetwork::Call> RecordingSKAdNetwork::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

void RecordingSKAdNetwork::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
}

// ---- installed pair ----

namespace {
std::mutex& pairMutex() {
  static std::mutex* m = new std::mutex();  // never destroyed: used during static teardown
  return *m;
}
std::shared_ptr<const SKAdNetworkPorts>& installedPair() {
  static auto* p = new std::shared_ptr<const SKAdNetworkPorts>();
  return *p;
}
}  // namespace

SKAdNetworkPorts SKAdNetworkPlatform::portable() {
  SKAdNetworkPorts ports;
  auto os = std::make_shared<DeviceOSVersion>();
  ports.osVersion = os;
  ports.skAdNetwork = std::make_shared<PortableSKAdNetwork>(os);
  return ports;
}

std::shared_ptr<const SKAdNetworkPorts> SKAdNetworkPlatform::current() {
  std::lock_guard<std::mutex> lock(pairMutex());
  auto& slot = installedPair();
  if (!slot) slot = std::make_shared<const SKAdNetworkPorts>(portable());
  return slot;
}

void SKAdNetworkPlatform::install(std::shared_ptr<const SKAdNetworkPorts> ports) {
  std::shared_ptr<const SKAdNetworkPorts> previous;
  std::lock_guard<std::mutex> lock(pairMutex());
  previous = std::move(installedPair());
  installedPair() = std::move(ports);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
