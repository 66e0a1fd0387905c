// The manager's own interceptor: opened URLs, continued user activities and remote-notification
// registration reach the manager through callbacks. Both open-URL forms and the user-activity
// form answer false (the app's own handler decides what was handled).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ApplicationDelegate.h"
#include "CorvaneSDKAppDelegateProxy.h"

namespace CorvaneSDK {
namespace Mobile {

// Thread-safe: callbacks are fixed at creation; the id is written once before it is shared.
class CorvaneSDKManagerAppDelegate : public ApplicationDelegate {
 public:
  struct Callbacks {
    std::function<void(const std::string& url)> openURL;
    std::function<void(const Value& userActivity)> setUserActivity;
    std::function<void(const std::vector<uint8_t>& deviceToken)> onRegisteredForRemoteNotificationsWithDeviceToken;
    std::function<void(const std::string& error)> onFailedToRegisterForRemoteNotificationsWithError;
  };

  // Sets up the proxy (flag != 0) and registers the interceptor. Null swizzler: the shared one.
  static std::shared_ptr<CorvaneSDKManagerAppDelegate> init(int flag, Callbacks callbacks,
                                                            std::shared_ptr<CorvaneSDKAppDelegateSwizzler> swizzler = nullptr);
  // Re-runs the setup (flag != 0): routes what `flag` chooses, never a second layer.
  void update(int flag);
  // Unregisters (also done on release).
  void deinit();
  ~CorvaneSDKManagerAppDelegate() override;
  const std::optional<std::string>& interceptorId() const { return interceptorId_; }

  // The manager's setupSwizzle: nothing when flag & 15 is 0; the first call creates the
  // interceptor in `slot` with flag & 15, later calls pass flag & 15 to its update.
  static void setupSwizzle(std::shared_ptr<CorvaneSDKManagerAppDelegate>& slot, int flag, Callbacks callbacks,
                           std::shared_ptr<CorvaneSDKAppDelegateSwizzler> swizzler = nullptr);

 private:
  CorvaneSDKManagerAppDelegate(const Callbacks& callbacks, std::shared_ptr<CorvaneSDKAppDelegateSwizzler> swizzler);
  static ApplicationDelegateHandlers handlersFor(const Callbacks& callbacks);

  const std::shared_ptr<CorvaneSDKAppDelegateSwizzler> swizzler_;
  std::optional<std::string> interceptorId_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
