// The portable ad-services port.
#include "AdServices.h"

#include <utility>

namespace CorvaneSDK {
namespace Mobile {

AttributionTokenResult AttributionTokenResult::success(std::string token) {
  AttributionTokenResult result;
  result.token = std::move(token);
  return result;
}

AttributionTokenResult AttributionTokenResult::failure(int64_t code, std::string description) {
  AttributionTokenResult result;
  result.errorCode = code;
  result.errorDescription = std::move(description);
  return result;
}

bool AdServicesPort::classPresent() {
  std::call_once(lookedUp_, [this] {
    try {
      present_ = lookUpClass();
    } catch (...) {
      present_ = false;
    }
  });
  return present_;
}

bool SettableAdServices::respondsToSelector(const std::string& selector) { return selector == kSelAttributionToken; }

AttributionTokenResult SettableAdServices::attributionToken() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_;
  if (script_.empty()) return standing_;
  auto next = std::move(script_.front());
  script_.pop_front();
  return next;
}

void SettableAdServices::setResult(AttributionTokenResult result) {
  std::lock_guard<std::mutex> lock(mutex_);
  standing_ = std::move(result);
}

void SettableAdServices::enqueue(AttributionTokenResult result) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.push_back(std::move(result));
}

int SettableAdServices::calls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
