// The notification-authorization initialisation action.
#include "CorvaneSDKNotificationAuthorization.h"

#include <atomic>
#include <optional>
#include <string>

#include "CorvaneSDKLog.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

void CorvaneSDKNotificationAuthorization::run(const Value& data, std::shared_ptr<MainQueue> main,
                                              std::function<void()> done) {
  auto ended = std::make_shared<std::atomic<bool>>(false);
  // The sequence moves on from the main queue; registration belongs there too.
  auto finish = [ended, main, done](std::function<void()> before) {
    if (ended->exchange(true)) return;
    auto task = [before, done] {
      if (before) {
        try {
          before();
        } catch (...) {
          CorvaneSDKLog::debug("Registration for remote notifications failed");
        }
      }
      if (done) done();
    };
    if (main) {
      main->async(task);
    } else {
      task();
    }
  };

  auto port = Platform::current()->userNotifications;
  bool present = false;
  try {
    present = port && port->classPresent();
  } catch (...) {
  }
  if (!present) {
    CorvaneSDKLog::debug("Notification authorization is not available");
    finish(nullptr);
    return;
  }
  int64_t options = 0;
  bool registerRemote = false;
  if (data.is_object()) {
    auto o = data.find("authorizationOptions");
    if (o != data.end() && o->is_number_integer()) options = o->get<int64_t>();
    auto r = data.find("registerRemote");
    if (r != data.end() && r->is_boolean()) registerRemote = r->get<bool>();
  }
  try {
    port->requestAuthorization(
        options, [ended, finish, port, registerRemote](bool granted, const std::optional<std::string>& error) {
          if (ended->load()) return;
          if (error) CorvaneSDKLog::debug("Notification authorization failed: " + validUtf8(*error));
          CorvaneSDKLog::debug(std::string("Notification authorization ") + (granted ? "granted" : "not granted"));
          if (granted && registerRemote) {
            finish([port] { port->registerForRemoteNotifications(); });
          } else {
            finish(nullptr);
          }
        });
  } catch (...) {
    CorvaneSDKLog::debug("Notification authorization request failed");
    finish(nullptr);
  }
}

}  // namespace Mobile
}  // namespace CorvaneSDK
