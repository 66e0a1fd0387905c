// The host's application delegate: an object with optional operations (an operation is
// implemented when its handler is set) and the entry points through which the platform (the
// host program off Apple) delivers the application's events. A delegate hook, installed by the
// delegate proxy, takes over the operations it routes, as a run-time subclass does on Apple:
// the object, its identity and its description stay the app's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Application.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

enum class ApplicationDelegateOperation {
  OpenURL,                                      // application:openURL:options:
  OpenURLSourceApplication,                     // application:openURL:sourceApplication:annotation:
  ContinueUserActivity,                         // application:continueUserActivity:restorationHandler:
  HandleEventsForBackgroundURLSession,          // application:handleEventsForBackgroundURLSession:completionHandler:
  DidRegisterForRemoteNotifications,            // application:didRegisterForRemoteNotificationsWithDeviceToken:
  DidFailToRegisterForRemoteNotifications,      // application:didFailToRegisterForRemoteNotificationsWithError:
  DidReceiveRemoteNotification,                 // application:didReceiveRemoteNotification:
  DidReceiveRemoteNotificationFetchCompletion,  // application:didReceiveRemoteNotification:fetchCompletionHandler:
};
constexpr int kApplicationDelegateOperationCount = 8;
const char* applicationDelegateSelector(ApplicationDelegateOperation operation);

// Background fetch results; the platform's values.
constexpr int64_t kBackgroundFetchResultNewData = 0;
constexpr int64_t kBackgroundFetchResultNoData = 1;
constexpr int64_t kBackgroundFetchResultFailed = 2;

using RestorationHandler = std::function<void(const Value& restorableObjects)>;
using FetchCompletionHandler = std::function<void(int64_t result)>;

// The operations; unset ones are not implemented.
struct ApplicationDelegateHandlers {
  std::function<bool(const std::string& url, const Value& options)> openURL;
  std::function<bool(const std::string& url, const std::string& sourceApplication, const Value& annotation)>
      openURLSourceApplication;
  std::function<bool(const Value& userActivity, RestorationHandler restorationHandler)> continueUserActivity;
  std::function<void(const std::string& identifier, std::function<void()> completionHandler)>
      handleEventsForBackgroundURLSession;
  std::function<void(const std::vector<uint8_t>& deviceToken)> didRegisterForRemoteNotificationsWithDeviceToken;
  std::function<void(const std::string& error)> didFailToRegisterForRemoteNotificationsWithError;
  std::function<void(const Value& userInfo)> didReceiveRemoteNotification;
  std::function<void(const Value& userInfo, FetchCompletionHandler completionHandler)>
      didReceiveRemoteNotificationFetchCompletion;

  bool implements(ApplicationDelegateOperation operation) const;
};

// What a delegate proxy installs on a delegate object. Thread-safe.
class ApplicationDelegateHook {
 public:
  virtual ~ApplicationDelegateHook() = default;
  virtual bool routes(ApplicationDelegateOperation operation) const = 0;
  virtual bool openURL(ApplicationDelegate& delegate, const std::string& url, const Value& options) = 0;
  virtual bool openURLSourceApplication(ApplicationDelegate& delegate, const std::string& url,
                                        const std::string& sourceApplication, const Value& annotation) = 0;
  virtual bool continueUserActivity(ApplicationDelegate& delegate, const Value& userActivity,
                                    const RestorationHandler& restorationHandler) = 0;
  virtual void handleEventsForBackgroundURLSession(ApplicationDelegate& delegate, const std::string& identifier,
                                                   const std::function<void()>& completionHandler) = 0;
  virtual void didRegisterForRemoteNotifications(ApplicationDelegate& delegate,
                                                 const std::vector<uint8_t>& deviceToken) = 0;
  virtual void didFailToRegisterForRemoteNotifications(ApplicationDelegate& delegate, const std::string& error) = 0;
  virtual void didReceiveRemoteNotification(ApplicationDelegate& delegate, const Value& userInfo) = 0;
  virtual void didReceiveRemoteNotificationFetchCompletion(ApplicationDelegate& delegate, const Value& userInfo,
                                                           const FetchCompletionHandler& completionHandler) = 0;
};

// Handlers are fixed at construction and read without a lock; the hook is swapped under a
// lock. Entry points run on whatever thread the platform delivers on (normally the main
// thread); a handler that throws reads as false / nothing.
class ApplicationDelegate : public std::enable_shared_from_this<ApplicationDelegate> {
 public:
  explicit ApplicationDelegate(ApplicationDelegateHandlers handlers = {}, std::string className = "AppDelegate");
  virtual ~ApplicationDelegate() = default;
  ApplicationDelegate(const ApplicationDelegate&) = delete;
  ApplicationDelegate& operator=(const ApplicationDelegate&) = delete;

  const ApplicationDelegateHandlers& handlers() const { return handlers_; }
  const std::string& className() const { return className_; }
  // "<AppDelegate: 0x...>", the same before and after proxying.
  std::string description() const;
  // What the platform asks before delivering: implemented, or routed by the hook.
  bool respondsTo(ApplicationDelegateOperation operation) const;

  std::shared_ptr<ApplicationDelegateHook> hook() const;
  void setHook(std::shared_ptr<ApplicationDelegateHook> hook);

  // Entry points. Without a handler or route: false, nothing, and a fetch completion gets
  // "failed" once so that it is never left uncalled.
  bool openURL(const std::string& url, const Value& options = Value::object());
  bool openURLSourceApplication(const std::string& url, const std::string& sourceApplication,
                                const Value& annotation = Value());
  bool continueUserActivity(const Value& userActivity, RestorationHandler restorationHandler = nullptr);
  void handleEventsForBackgroundURLSession(const std::string& identifier, std::function<void()> completionHandler);
  void didRegisterForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& deviceToken);
  void didFailToRegisterForRemoteNotificationsWithError(const std::string& error);
  void didReceiveRemoteNotification(const Value& userInfo);
  void didReceiveRemoteNotificationFetchCompletion(const Value& userInfo, FetchCompletionHandler completionHandler);

  // The delegate's own implementation, bypassing any hook (the proxy's "real" call).
  bool callOwnOpenURL(const std::string& url, const Value& options);
  bool callOwnOpenURLSourceApplication(const std::string& url, const std::string& sourceApplication,
                                       const Value& annotation);
  bool callOwnContinueUserActivity(const Value& userActivity, const RestorationHandler& restorationHandler);
  void callOwnHandleEventsForBackgroundURLSession(const std::string& identifier,
                                                  const std::function<void()>& completionHandler);
  void callOwnDidRegisterForRemoteNotifications(const std::vector<uint8_t>& deviceToken);
  void callOwnDidFailToRegisterForRemoteNotifications(const std::string& error);
  void callOwnDidReceiveRemoteNotification(const Value& userInfo);
  void callOwnDidReceiveRemoteNotificationFetchCompletion(const Value& userInfo,
                                                          const FetchCompletionHandler& completionHandler);

 private:
  std::shared_ptr<ApplicationDelegateHook> routing(ApplicationDelegateOperation operation) const;

  const ApplicationDelegateHandlers handlers_;
  const std::string className_;
  mutable std::mutex mutex_;
  std::shared_ptr<ApplicationDelegateHook> hook_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
