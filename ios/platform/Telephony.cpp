// The settable telephony port.
#include "Telephony.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
class SettableNetworkInfo : public TelephonyNetworkInfo {
 public:
  explicit SettableNetworkInfo(std::weak_ptr<SettableTelephony> owner) : owner_(std::move(owner)) {}
  std::optional<std::string> subscriberCarrierName() override {
    auto o = owner_.lock();
    return o ? o->carrierName() : std::nullopt;
  }

 private:
  std::weak_ptr<SettableTelephony> owner_;
};
}  // namespace

std::shared_ptr<TelephonyNetworkInfo> SettableTelephony::makeNetworkInfo() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++made_;
  }
  return std::make_shared<SettableNetworkInfo>(weak_from_this());
}

void SettableTelephony::setCarrierName(std::optional<std::string> name) {
  std::lock_guard<std::mutex> lock(mutex_);
  carrier_ = std::move(name);
}

std::optional<std::string> SettableTelephony::carrierName() {
  std::lock_guard<std::mutex> lock(mutex_);
  return carrier_;
}

int SettableTelephony::networkInfosMade() {
  std::lock_guard<std::mutex> lock(mutex_);
  return made_;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
