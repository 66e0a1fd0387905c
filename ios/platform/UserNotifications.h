// The user-notification port (UNUserNotificationCenter and the application's remote
// registration on Apple): the authorization request and the registration for remote
// notifications. SettableUserNotifications is both the portable implementation (a request is
// answered at once with the set answer) and the test double (requests can be held and answered
// later, from any thread).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace CorvaneSDK {
namespace Mobile {

constexpr const char* kUserNotificationCenterClassName = "UNUserNotificationCenter";

// `error` is the platform error's description when the request failed.
using NotificationAuthorizationHandler = std::function<void(bool granted, const std::optional<std::string>& error)>;

// Thread-safe. The handler may run on any thread, before or after the call returns, and a
// platform may call it more than once: callers guard.
class UserNotificationPort {
 public:
  virtual ~UserNotificationPort() = default;
  // The by-name lookup of the notification-centre class.
  virtual bool classPresent() = 0;
  virtual void requestAuthorization(int64_t options, NotificationAuthorizationHandler handler) = 0;
  // Must be called on the main queue.
  virtual void registerForRemoteNotifications() = 0;
};

class SettableUserNotifications : public UserNotificationPort {
 public:
  // Off Apple nobody can grant: the portable answer is "not granted".
  explicit SettableUserNotifications(bool present = true) : present_(present) {}
  bool classPresent() override { return present_; }
  void requestAuthorization(int64_t options, NotificationAuthorizationHandler handler) override;
  void registerForRemoteNotifications() override;

  void setAnswer(bool granted, std::optional<std::string> error = std::nullopt);
  void setHoldsRequests(bool holds);
  // Answers every held request on the calling thread; returns how many.
  int answerHeld(bool granted, const std::optional<std::string>& error = std::nullopt);
  int heldCount();
  std::vector<int64_t> requestedOptions();
  int remoteRegistrations();

 private:
  const bool present_;
  std::mutex mutex_;
  bool granted_ = false;
  std::optional<std::string> error_;
  bool holds_ = false;
  std::vector<int64_t> requested_;
  int registrations_ = 0;
  std::vector<NotificationAuthorizationHandler> held_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
