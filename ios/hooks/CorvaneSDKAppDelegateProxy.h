// The application-delegate hook. Off Apple there is no run-time class system, so instead of
// subclassing the delegate's class the swizzler installs a proxy on the delegate object; the
// proxy routes the chosen operations to every interceptor and then to the delegate's own
// handler (results ORed; a fetch completion combined and called exactly once on the main
// queue). Setup is idempotent per delegate object: a proxied delegate is never proxied again,
// a later setup only changes which operations are routed. The observer forgets the proxied
// delegate once the app replaces it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Application.h"
#include "ApplicationDelegate.h"
#include "CorvaneSDKAppDelegateInterceptors.h"
#include "Dispatch.h"

namespace CorvaneSDK {
namespace Mobile {

// Flag bits (the configuration's `appSwizzleFlag`).
constexpr int kAppSwizzleUserActivity = 1;
constexpr int kAppSwizzleOpenURL = 2;
constexpr int kAppSwizzleBackgroundSession = 4;
constexpr int kAppSwizzleRemoteRegistration = 8;
constexpr int kAppSwizzleRemoteNotification = 16;

// The routing installed on one delegate. Thread-safe: the routed set is atomic, the registry
// its own; each routed call runs on the platform's calling thread.
class CorvaneSDKAppDelegateProxy : public ApplicationDelegateHook {
 public:
  CorvaneSDKAppDelegateProxy(std::shared_ptr<CorvaneSDKAppDelegateInterceptors> interceptors, uint32_t routed);
  // Bit 2 adds the options form of open-URL only when the delegate implements it, bit 16 the
  // fetch-completion form likewise; the other forms are added whatever the delegate has.
  static uint32_t routedOperationsFor(int flag, const ApplicationDelegate& delegate);
  static uint32_t bit(ApplicationDelegateOperation operation) { return 1u << static_cast<int>(operation); }
  void setRouted(uint32_t routed) { routed_.store(routed); }
  uint32_t routed() const { return routed_.load(); }
  const std::shared_ptr<CorvaneSDKAppDelegateInterceptors>& interceptors() const { return interceptors_; }

  bool routes(ApplicationDelegateOperation operation) const override;
  bool openURL(ApplicationDelegate& delegate, const std::string& url, const Value& options) override;
  bool openURLSourceApplication(ApplicationDelegate& delegate, const std::string& url,
                                const std::string& sourceApplication, const Value& annotation) override;
  bool continueUserActivity(ApplicationDelegate& delegate, const Value& userActivity,
                            const RestorationHandler& restorationHandler) override;
  void handleEventsForBackgroundURLSession(ApplicationDelegate& delegate, const std::string& identifier,
                                           const std::function<void()>& completionHandler) override;
  void didRegisterForRemoteNotifications(ApplicationDelegate& delegate, const std::vector<uint8_t>& deviceToken) override;
  void didFailToRegisterForRemoteNotifications(ApplicationDelegate& delegate, const std::string& error) override;
  void didReceiveRemoteNotification(ApplicationDelegate& delegate, const Value& userInfo) override;
  void didReceiveRemoteNotificationFetchCompletion(ApplicationDelegate& delegate, const Value& userInfo,
                                                   const FetchCompletionHandler& completionHandler) override;

  // Any 0 (new data) -> 0; else any 1 (no data) -> 1; else (all failed, none at all) -> 2.
  static int64_t combineFetchResults(const std::vector<int64_t>& results);

 private:
  const std::shared_ptr<CorvaneSDKAppDelegateInterceptors> interceptors_;
  std::atomic<uint32_t> routed_;
};

// Sets up the proxy on the application's delegate and keeps the registry. Thread-safe:
// setupProxy and the observer hold `mutex_` (recursive: the port calls observers on the
// setting thread); the registry has its own lock.
class CorvaneSDKAppDelegateSwizzler : public std::enable_shared_from_this<CorvaneSDKAppDelegateSwizzler> {
 public:
  // The process-wide one, over the installed application port at each call.
  static std::shared_ptr<CorvaneSDKAppDelegateSwizzler> shared();
  // One over `application` (null: the installed port), with a registry of its own.
  static std::shared_ptr<CorvaneSDKAppDelegateSwizzler> create(std::shared_ptr<ApplicationPort> application = nullptr);
  ~CorvaneSDKAppDelegateSwizzler();

  void setupProxy(int flag);

  std::optional<std::string> registerInterceptor(const std::shared_ptr<ApplicationDelegate>& object);
  void unregisterInterceptor(const std::optional<std::string>& interceptorId);
  void clearInterceptors();
  std::map<std::string, CorvaneSDKAppDelegateWeakContainer> interceptors();
  const std::shared_ptr<CorvaneSDKAppDelegateInterceptors>& interceptorRegistry() const { return registry_; }

  // The delegate that was proxied; null once the app replaced it.
  std::shared_ptr<ApplicationDelegate> originalDelegate();
  // Whether the delegate has its own implementation of the operation (the "real" one).
  static bool originalImplementationForOperation(ApplicationDelegateOperation operation,
                                                 const ApplicationDelegate& delegate);
  int getFlag() const { return 0; }

  // The observer: hears replacements of the application's delegate.
  void observeUIApplication();
  bool isObserving();

 private:
  explicit CorvaneSDKAppDelegateSwizzler(std::shared_ptr<ApplicationPort> application);
  std::shared_ptr<ApplicationPort> application();
  void stopObservingLocked();
  void onDelegateChanged(const std::shared_ptr<ApplicationDelegate>& previous,
                         const std::shared_ptr<ApplicationDelegate>& current);

  const std::shared_ptr<ApplicationPort> fixedApplication_;
  const std::shared_ptr<CorvaneSDKAppDelegateInterceptors> registry_;
  std::recursive_mutex mutex_;
  std::shared_ptr<ApplicationDelegate> original_;
  std::shared_ptr<ApplicationPort> observed_;
  int observerToken_ = 0;
  bool observing_ = false;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
