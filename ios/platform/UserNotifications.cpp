// The portable user-notification port.
#include "UserNotifications.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
void answer(const NotificationAuthorizationHandler& handler, bool granted, const std::optional<std::string>& error) {
  if (!handler) return;
  try {
    handler(granted, error);
  } catch (...) {
  }
}
}  // namespace

void SettableUserNotifications::requestAuthorization(int64_t options, NotificationAuthorizationHandler handler) {
  bool granted;
  std::optional<std::string> error;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_.push_back(options);
    if (holds_) {
      held_.push_back(std::move(handler));
      return;
    }
    granted = granted_;
    error = error_;
  }
  answer(handler, granted, error);
}

void SettableUserNotifications::registerForRemoteNotifications() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++registrations_;
}

void SettableUserNotifications::setAnswer(bool granted, std::optional<std::string> error) {
  std::lock_guard<std::mutex> lock(mutex_);
  granted_ = granted;
  error_ = std::move(error);
}

void SettableUserNotifications::setHoldsRequests(bool holds) {
  std::lock_guard<std::mutex> lock(mutex_);
  holds_ = holds;
}

int SettableUserNotifications::answerHeld(bool granted, const std::optional<std::string>& error) {
  std::vector<NotificationAuthorizationHandler> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held.swap(held_);
  }
  for (auto& handler : held) answer(handler, granted, error);
  return static_cast<int>(held.size());
}

int SettableUserNotifications::heldCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(held_.size());
}

std::vector<int64_t> SettableUserNotifications::requestedOptions() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requested_;
}

int SettableUserNotifications::remoteRegistrations() {
  std::lock_guard<std::mutex> lock(mutex_);
  return registrations_;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
