// The telephony port (CoreTelephony on Apple): the carrier of the subscriber's cellular
// provider. SettableTelephony is the portable implementation (the host may set a carrier) and
// the double.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace CorvaneSDK {
namespace Mobile {

// Thread-safe.
class TelephonyNetworkInfo {
 public:
  virtual ~TelephonyNetworkInfo() = default;
  virtual std::optional<std::string> subscriberCarrierName() = 0;
};

class Telephony {
 public:
  virtual ~Telephony() = default;
  virtual std::shared_ptr<TelephonyNetworkInfo> makeNetworkInfo() = 0;
};

class SettableTelephony : public Telephony, public std::enable_shared_from_this<SettableTelephony> {
 public:
  std::shared_ptr<TelephonyNetworkInfo> makeNetworkInfo() override;
  void setCarrierName(std::optional<std::string> name);
  std::optional<std::string> carrierName();
  int networkInfosMade();

 private:
  std::mutex mutex_;
  std::optional<std::string> carrier_;
  int made_ = 0;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
