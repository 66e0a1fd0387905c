// The application delegate's entry points: the hook when it routes the operation, else the
// delegate's own handler.
#include "ApplicationDelegate.h"

#include <cstdio>

#include "CorvaneSDKLog.h"

namespace CorvaneSDK {
namespace Mobile {

const char* applicationDelegateSelector(ApplicationDelegateOperation operation) {
  switch (operation) {
    case ApplicationDelegateOperation::OpenURL: return "application:openURL:options:";
    case ApplicationDelegateOperation::OpenURLSourceApplication:
      return "application:openURL:sourceApplication:annotation:";
    case ApplicationDelegateOperation::ContinueUserActivity:
      return "application:continueUserActivity:restorationHandler:";
    case ApplicationDelegateOperation::HandleEventsForBackgroundURLSession:
      return "application:handleEventsForBackgroundURLSession:completionHandler:";
    case ApplicationDelegateOperation::DidRegisterForRemoteNotifications:
      return "application:didRegisterForRemoteNotificationsWithDeviceToken:";
    case ApplicationDelegateOperation::DidFailToRegisterForRemoteNotifications:
      return "application:didFailToRegisterForRemoteNotificationsWithError:";
    case ApplicationDelegateOperation::DidReceiveRemoteNotification: return "application:didReceiveRemoteNotification:";
    case ApplicationDelegateOperation::DidReceiveRemoteNotificationFetchCompletion:
      return "application:didReceiveRemoteNotification:fetchCompletionHandler:";
  }
  return "";
}

bool ApplicationDelegateHandlers::implements(ApplicationDelegateOperation operation) const {
  switch (operation) {
    case ApplicationDelegateOperation::OpenURL: return static_cast<bool>(openURL);
    case ApplicationDelegateOperation::OpenURLSourceApplication: return static_cast<bool>(openURLSourceApplication);
    case ApplicationDelegateOperation::ContinueUserActivity: return static_cast<bool>(continueUserActivity);
    case ApplicationDelegateOperation::HandleEventsForBackgroundURLSession:
      return static_cast<bool>(handleEventsForBackgroundURLSession);
    case ApplicationDelegateOperation::DidRegisterForRemoteNotifications:
      return static_cast<bool>(didRegisterForRemoteNotificationsWithDeviceToken);
    case ApplicationDelegateOperation::DidFailToRegisterForRemoteNotifications:
      return static_cast<bool>(didFailToRegisterForRemoteNotificationsWithError);
    case ApplicationDelegateOperation::DidReceiveRemoteNotification:
      return static_cast<bool>(didReceiveRemoteNotification);
    case ApplicationDelegateOperation::DidReceiveRemoteNotificationFetchCompletion:
      return static_cast<bool>(didReceiveRemoteNotificationFetchCompletion);
  }
  return false;
}

namespace {
// The app's code must not take the platform's delivery down with it.
template <typename R, typename F>
R guarded(R neutral, const F& call) {
  try {
    return call();
  } catch (...) {
    CorvaneSDKLog::debug("Application delegate operation failed");
    return neutral;
  }
}
}  // namespace

ApplicationDelegate::ApplicationDelegate(ApplicationDelegateHandlers handlers, std::string className)
    : handlers_(std::move(handlers)), className_(std::move(className)) {}

std::string ApplicationDelegate::description() const {
  char address[32];
  std::snprintf(address, sizeof(address), "%p", static_cast<const void*>(this));
  return "<" + className_ + ": " + address + ">";
}

std::shared_ptr<ApplicationDelegateHook> ApplicationDelegate::hook() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return hook_;
}

void ApplicationDelegate::setHook(std::shared_ptr<ApplicationDelegateHook> hook) {
  std::shared_ptr<ApplicationDelegateHook> previous;
  std::lock_guard<std::mutex> lock(mutex_);
  previous.swap(hook_);
  hook_ = std::move(hook);
}

std::shared_ptr<ApplicationDelegateHook> ApplicationDelegate::routing(ApplicationDelegateOperation operation) const {
  auto current = hook();
  return current && current->routes(operation) ? current : nullptr;
}

bool ApplicationDelegate::respondsTo(ApplicationDelegateOperation operation) const {
  return handlers_.implements(operation) || routing(operation) != nullptr;
}

bool ApplicationDelegate::openURL(const std::string& url, const Value& options) {
  if (auto h = routing(ApplicationDelegateOperation::OpenURL)) {
    return guarded(false, [&] { return h->openURL(*this, url, options); });
  }
  return callOwnOpenURL(url, options);
}

bool ApplicationDelegate::openURLSourceApplication(const std::string& url, const std::string& sourceApplication,
                                                   const Value& annotation) {
  if (auto h = routing(ApplicationDelegateOperation::OpenURLSourceApplication)) {
    return guarded(false, [&] { return h->openURLSourceApplication(*this, url, sourceApplication, annotation); });
  }
  return callOwnOpenURLSourceApplication(url, sourceApplication, annotation);
}

bool ApplicationDelegate::continueUserActivity(const Value& userActivity, RestorationHandler restorationHandler) {
  if (auto h = routing(ApplicationDelegateOperation::ContinueUserActivity)) {
    return guarded(false, [&] { return h->continueUserActivity(*this, userActivity, restorationHandler); });
  }
  return callOwnContinueUserActivity(userActivity, restorationHandler);
}

void ApplicationDelegate::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                              std::function<void()> completionHandler) {
  if (auto h = routing(ApplicationDelegateOperation::HandleEventsForBackgroundURLSession)) {
    guarded(0, [&] {
      h->handleEventsForBackgroundURLSession(*this, identifier, completionHandler);
      return 0;
    });
    return;
  }
  callOwnHandleEventsForBackgroundURLSession(identifier, completionHandler);
}

void ApplicationDelegate::didRegisterForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& deviceToken) {
  if (auto h = routing(ApplicationDelegateOperation::DidRegisterForRemoteNotifications)) {
    guarded(0, [&] {
      h->didRegisterForRemoteNotifications(*this, deviceToken);
      return 0;
    });
    return;
  }
  callOwnDidRegisterForRemoteNotifications(deviceToken);
}

void ApplicationDelegate::didFailToRegisterForRemoteNotificationsWithError(const std::string& error) {
  if (auto h = routing(ApplicationDelegateOperation::DidFailToRegisterForRemoteNotifications)) {
    guarded(0, [&] {
      h->didFailToRegisterForRemoteNotifications(*this, error);
      return 0;
    });
    return;
  }
  callOwnDidFailToRegisterForRemoteNotifications(error);
}

void ApplicationDelegate::didReceiveRemoteNotification(const Value& userInfo) {
  if (auto h = routing(ApplicationDelegateOperation::DidReceiveRemoteNotification)) {
    guarded(0, [&] {
      h->didReceiveRemoteNotification(*this, userInfo);
      return 0;
    });
    return;
  }
  callOwnDidReceiveRemoteNotification(userInfo);
}

void ApplicationDelegate::didReceiveRemoteNotificationFetchCompletion(const Value& userInfo,
                                                                      FetchCompletionHandler completionHandler) {
  if (auto h = routing(ApplicationDelegateOperation::DidReceiveRemoteNotificationFetchCompletion)) {
    guarded(0, [&] {
      h->didReceiveRemoteNotificationFetchCompletion(*this, userInfo, completionHandler);
      return 0;
    });
    return;
  }
  if (!handlers_.didReceiveRemoteNotificationFetchCompletion) {
    if (completionHandler) guarded(0, [&] {
        completionHandler(kBackgroundFetchResultFailed);
        return 0;
      });
    return;
  }
  callOwnDidReceiveRemoteNotificationFetchCompletion(userInfo, completionHandler);
}

bool ApplicationDelegate::callOwnOpenURL(const std::string& url, const Value& options) {
  if (!handlers_.openURL) return false;
  return guarded(false, [&] { return handlers_.openURL(url, options); });
}

bool ApplicationDelegate::callOwnOpenURLSourceApplication(const std::string& url, const std::string& sourceApplication,
                                                          const Value& annotation) {
  if (!handlers_.openURLSourceApplication) return false;
  return guarded(false, [&] { return handlers_.openURLSourceApplication(url, sourceApplication, annotation); });
}

bool ApplicationDelegate::callOwnContinueUserActivity(const Value& userActivity,
                                                      const RestorationHandler& restorationHandler) {
  if (!handlers_.continueUserActivity) return false;
  return guarded(false, [&] { return handlers_.continueUserActivity(userActivity, restorationHandler); });
}

void ApplicationDelegate::callOwnHandleEventsForBackgroundURLSession(const std::string& identifier,
                                                                     const std::function<void()>& completionHandler) {
  if (!handlers_.handleEventsForBackgroundURLSession) return;
  guarded(0, [&] {
    handlers_.handleEventsForBackgroundURLSession(identifier, completionHandler);
    return 0;
  });
}

void ApplicationDelegate::callOwnDidRegisterForRemoteNotifications(const std::vector<uint8_t>& deviceToken) {
  if (!handlers_.didRegisterForRemoteNotificationsWithDeviceToken) return;
  guarded(0, [&] {
    handlers_.didRegisterForRemoteNotificationsWithDeviceToken(deviceToken);
    return 0;
  });
}

void ApplicationDelegate::callOwnDidFailToRegisterForRemoteNotifications(const std::string& error) {
  if (!handlers_.didFailToRegisterForRemoteNotificationsWithError) return;
  guarded(0, [&] {
    handlers_.didFailToRegisterForRemoteNotificationsWithError(error);
    return 0;
  });
}

void ApplicationDelegate::callOwnDidReceiveRemoteNotification(const Value& userInfo) {
  if (!handlers_.didReceiveRemoteNotification) return;
  guarded(0, [&] {
    handlers_.didReceiveRemoteNotification(userInfo);
    return 0;
  });
}

void ApplicationDelegate::callOwnDidReceiveRemoteNotificationFetchCompletion(
    const Value& userInfo, const FetchCompletionHandler& completionHandler) {
  if (!handlers_.didReceiveRemoteNotificationFetchCompletion) return;
  guarded(0, [&] {
    handlers_.didReceiveRemoteNotificationFetchCompletion(userInfo, completionHandler);
    return 0;
  });
}

}  // namespace Mobile
}  // namespace CorvaneSDK
