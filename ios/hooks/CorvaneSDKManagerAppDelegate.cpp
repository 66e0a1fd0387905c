// The manager's interceptor.
#include "CorvaneSDKManagerAppDelegate.h"

namespace CorvaneSDK {
namespace Mobile {

ApplicationDelegateHandlers CorvaneSDKManagerAppDelegate::handlersFor(const Callbacks& callbacks) {
  ApplicationDelegateHandlers h;
  auto openURL = callbacks.openURL;
  h.openURL = [openURL](const std::string& url, const Value&) {
    if (openURL) openURL(url);
    return false;
  };
  h.openURLSourceApplication = [openURL](const std::string& url, const std::string&, const Value&) {
    if (openURL) openURL(url);
    return false;
  };
  auto setUserActivity = callbacks.setUserActivity;
  h.continueUserActivity = [setUserActivity](const Value& activity, RestorationHandler) {
    if (setUserActivity) setUserActivity(activity);
    return false;
  };
  auto registered = callbacks.onRegisteredForRemoteNotificationsWithDeviceToken;
  h.didRegisterForRemoteNotificationsWithDeviceToken = [registered](const std::vector<uint8_t>& token) {
    if (registered) registered(token);
  };
  auto failed = callbacks.onFailedToRegisterForRemoteNotificationsWithError;
  h.didFailToRegisterForRemoteNotificationsWithError = [failed](const std::string& error) {
    if (failed) failed(error);
  };
  // Background sessions are the app's business; the interceptor only answers the operation.
  h.handleEventsForBackgroundURLSession = [](const std::string&, std::function<void()>) {};
  return h;
}

CorvaneSDKManagerAppDelegate::CorvaneSDKManagerAppDelegate(const Callbacks& callbacks,
                                                           std::shared_ptr<CorvaneSDKAppDelegateSwizzler> swizzler)
    : ApplicationDelegate(handlersFor(callbacks), "CorvaneSDKManagerAppDelegate"), swizzler_(std::move(swizzler)) {}

std::shared_ptr<CorvaneSDKManagerAppDelegate> CorvaneSDKManagerAppDelegate::init(
    int flag, Callbacks callbacks, std::shared_ptr<CorvaneSDKAppDelegateSwizzler> swizzler) {
  if (!swizzler) swizzler = CorvaneSDKAppDelegateSwizzler::shared();
  std::shared_ptr<CorvaneSDKManagerAppDelegate> self(new CorvaneSDKManagerAppDelegate(callbacks, swizzler));
  if (flag != 0) swizzler->setupProxy(flag);
  self->interceptorId_ = swizzler->registerInterceptor(self);
  return self;
}

void CorvaneSDKManagerAppDelegate::update(int flag) {
  if (flag != 0) swizzler_->setupProxy(flag);
}

void CorvaneSDKManagerAppDelegate::deinit() {
  if (!interceptorId_) return;
  swizzler_->unregisterInterceptor(interceptorId_);
  interceptorId_.reset();
}

CorvaneSDKManagerAppDelegate::~CorvaneSDKManagerAppDelegate() {
  // The registry's weak entry no longer locks here; it is matched by ownership instead.
  if (interceptorId_) swizzler_->interceptorRegistry()->forgetInterceptor(*interceptorId_, weak_from_this());
}

void CorvaneSDKManagerAppDelegate::setupSwizzle(std::shared_ptr<CorvaneSDKManagerAppDelegate>& slot, int flag,
                                                Callbacks callbacks,
                                                std::shared_ptr<CorvaneSDKAppDelegateSwizzler> swizzler) {
  int low = flag & 15;
  if (low == 0) return;
  if (!slot) {
    slot = init(low, std::move(callbacks), std::move(swizzler));
  } else {
    slot->update(low);
  }
}

}  // namespace Mobile
}  // namespace CorvaneSDK
