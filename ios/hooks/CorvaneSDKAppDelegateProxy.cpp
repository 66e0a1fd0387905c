// The delegate proxy's routing, its setup on the application's delegate, and the observer.
#include "CorvaneSDKAppDelegateProxy.h"

#include <vector>

#include "CorvaneSDKLog.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

using Op = ApplicationDelegateOperation;

// ---- routing ----

CorvaneSDKAppDelegateProxy::CorvaneSDKAppDelegateProxy(std::shared_ptr<CorvaneSDKAppDelegateInterceptors> interceptors,
                                                       uint32_t routed)
    : interceptors_(std::move(interceptors)), routed_(routed) {}

uint32_t CorvaneSDKAppDelegateProxy::routedOperationsFor(int flag, const ApplicationDelegate& delegate) {
  const auto& own = delegate.handlers();
  uint32_t routed = 0;
  if (flag & kAppSwizzleUserActivity) routed |= bit(Op::ContinueUserActivity);
  if (flag & kAppSwizzleOpenURL) {
    if (own.implements(Op::OpenURL)) routed |= bit(Op::OpenURL);
    routed |= bit(Op::OpenURLSourceApplication);
  }
  if (flag & kAppSwizzleBackgroundSession) routed |= bit(Op::HandleEventsForBackgroundURLSession);
  if (flag & kAppSwizzleRemoteRegistration) {
    routed |= bit(Op::DidRegisterForRemoteNotifications) | bit(Op::DidFailToRegisterForRemoteNotifications);
  }
  if (flag & kAppSwizzleRemoteNotification) {
    routed |= bit(Op::DidReceiveRemoteNotification);
    if (own.implements(Op::DidReceiveRemoteNotificationFetchCompletion)) {
      routed |= bit(Op::DidReceiveRemoteNotificationFetchCompletion);
    }
  }
  return routed;
}

bool CorvaneSDKAppDelegateProxy::routes(ApplicationDelegateOperation operation) const {
  return (routed_.load() & bit(operation)) != 0;
}

bool CorvaneSDKAppDelegateProxy::openURL(ApplicationDelegate& delegate, const std::string& url, const Value& options) {
  bool handled = false;
  interceptors_->notifyInterceptors(Op::OpenURL, [&](ApplicationDelegate& interceptor) {
    handled = interceptor.handlers().openURL(url, options) || handled;
  });
  return delegate.callOwnOpenURL(url, options) || handled;
}

bool CorvaneSDKAppDelegateProxy::openURLSourceApplication(ApplicationDelegate& delegate, const std::string& url,
                                                          const std::string& sourceApplication,
                                                          const Value& annotation) {
  bool handled = false;
  interceptors_->notifyInterceptors(Op::OpenURLSourceApplication, [&](ApplicationDelegate& interceptor) {
    handled = interceptor.handlers().openURLSourceApplication(url, sourceApplication, annotation) || handled;
  });
  return delegate.callOwnOpenURLSourceApplication(url, sourceApplication, annotation) || handled;
}

bool CorvaneSDKAppDelegateProxy::continueUserActivity(ApplicationDelegate& delegate, const Value& userActivity,
                                                      const RestorationHandler& restorationHandler) {
  bool handled = false;
  interceptors_->notifyInterceptors(Op::ContinueUserActivity, [&](ApplicationDelegate& interceptor) {
    handled = interceptor.handlers().continueUserActivity(userActivity, restorationHandler) || handled;
  });
  return delegate.callOwnContinueUserActivity(userActivity, restorationHandler) || handled;
}

void CorvaneSDKAppDelegateProxy::handleEventsForBackgroundURLSession(ApplicationDelegate& delegate,
                                                                     const std::string& identifier,
                                                                     const std::function<void()>& completionHandler) {
  interceptors_->notifyInterceptors(Op::HandleEventsForBackgroundURLSession, [&](ApplicationDelegate& interceptor) {
    interceptor.handlers().handleEventsForBackgroundURLSession(identifier, completionHandler);
  });
  delegate.callOwnHandleEventsForBackgroundURLSession(identifier, completionHandler);
}

void CorvaneSDKAppDelegateProxy::didRegisterForRemoteNotifications(ApplicationDelegate& delegate,
                                                                   const std::vector<uint8_t>& deviceToken) {
  interceptors_->notifyInterceptors(Op::DidRegisterForRemoteNotifications, [&](ApplicationDelegate& interceptor) {
    interceptor.handlers().didRegisterForRemoteNotificationsWithDeviceToken(deviceToken);
  });
  delegate.callOwnDidRegisterForRemoteNotifications(deviceToken);
}

void CorvaneSDKAppDelegateProxy::didFailToRegisterForRemoteNotifications(ApplicationDelegate& delegate,
                                                                         const std::string& error) {
  interceptors_->notifyInterceptors(Op::DidFailToRegisterForRemoteNotifications, [&](ApplicationDelegate& interceptor) {
    interceptor.handlers().didFailToRegisterForRemoteNotificationsWithError(error);
  });
  delegate.callOwnDidFailToRegisterForRemoteNotifications(error);
}

void CorvaneSDKAppDelegateProxy::didReceiveRemoteNotification(ApplicationDelegate& delegate, const Value& userInfo) {
  interceptors_->notifyInterceptors(Op::DidReceiveRemoteNotification, [&](ApplicationDelegate& interceptor) {
    interceptor.handlers().didReceiveRemoteNotification(userInfo);
  });
  delegate.callOwnDidReceiveRemoteNotification(userInfo);
}

int64_t CorvaneSDKAppDelegateProxy::combineFetchResults(const std::vector<int64_t>& results) {
  bool noData = false;
  for (int64_t result : results) {
    if (result == kBackgroundFetchResultNewData) return kBackgroundFetchResultNewData;
    noData = noData || result == kBackgroundFetchResultNoData;
  }
  return noData ? kBackgroundFetchResultNoData : kBackgroundFetchResultFailed;
}

namespace {
// The dispatch group of the fetch-completion form: one entry per participant plus one held
// while the participants are being called, so a participant answering at once cannot end it
// early. Each participant's handler counts once however often it is called.
class FetchGroup : public std::enable_shared_from_this<FetchGroup> {
 public:
  explicit FetchGroup(FetchCompletionHandler app) : app_(std::move(app)) {}
  FetchCompletionHandler participant() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++pending_;
    }
    auto self = shared_from_this();
    auto answered = std::make_shared<std::atomic<bool>>(false);
    return [self, answered](int64_t result) {
      if (answered->exchange(true)) return;
      self->leave(&result);
    };
  }
  void leave(const int64_t* result) {
    std::vector<int64_t> results;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (result) results_.push_back(*result);
      if (--pending_ > 0) return;
      results.swap(results_);
    }
    int64_t combined = CorvaneSDKAppDelegateProxy::combineFetchResults(results);
    auto app = std::move(app_);
    Task call = [app, combined] {
      if (!app) return;
      try {
        app(combined);
      } catch (...) {
      }
    };
    auto ports = Platform::current();
    auto main = ports && ports->dispatch ? ports->dispatch->mainQueue() : nullptr;
    if (main) {
      main->async(std::move(call));
    } else {
      call();
    }
  }

 private:
  std::mutex mutex_;
  int pending_ = 1;
  std::vector<int64_t> results_;
  FetchCompletionHandler app_;
};
}  // namespace

void CorvaneSDKAppDelegateProxy::didReceiveRemoteNotificationFetchCompletion(
    ApplicationDelegate& delegate, const Value& userInfo, const FetchCompletionHandler& completionHandler) {
  auto group = std::make_shared<FetchGroup>(completionHandler);
  interceptors_->notifyInterceptors(Op::DidReceiveRemoteNotificationFetchCompletion,
                                    [&](ApplicationDelegate& interceptor) {
                                      interceptor.handlers().didReceiveRemoteNotificationFetchCompletion(
                                          userInfo, group->participant());
                                    });
  if (delegate.handlers().implements(Op::DidReceiveRemoteNotificationFetchCompletion)) {
    delegate.callOwnDidReceiveRemoteNotificationFetchCompletion(userInfo, group->participant());
  }
  group->leave(nullptr);
}

// ---- setup ----

std::shared_ptr<CorvaneSDKAppDelegateSwizzler> CorvaneSDKAppDelegateSwizzler::shared() {
  // Never destroyed: interceptors may unregister during static teardown.
  static auto* instance = new std::shared_ptr<CorvaneSDKAppDelegateSwizzler>(create());
  return *instance;
}

std::shared_ptr<CorvaneSDKAppDelegateSwizzler> CorvaneSDKAppDelegateSwizzler::create(
    std::shared_ptr<ApplicationPort> application) {
  return std::shared_ptr<CorvaneSDKAppDelegateSwizzler>(new CorvaneSDKAppDelegateSwizzler(std::move(application)));
}

CorvaneSDKAppDelegateSwizzler::CorvaneSDKAppDelegateSwizzler(std::shared_ptr<ApplicationPort> application)
    : fixedApplication_(std::move(application)), registry_(std::make_shared<CorvaneSDKAppDelegateInterceptors>()) {}

CorvaneSDKAppDelegateSwizzler::~CorvaneSDKAppDelegateSwizzler() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  stopObservingLocked();
}

std::shared_ptr<ApplicationPort> CorvaneSDKAppDelegateSwizzler::application() {
  if (fixedApplication_) return fixedApplication_;
  auto ports = Platform::current();
  return ports ? ports->application : nullptr;
}

void CorvaneSDKAppDelegateSwizzler::setupProxy(int flag) {
  if (flag == 0) return;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  try {
    auto app = application();
    auto delegate = app ? app->delegate() : nullptr;
    if (!delegate) {
      CorvaneSDKLog::debug("Cannot create App Delegate Proxy because App Delegate instance is nil");
      return;
    }
    uint32_t routed = CorvaneSDKAppDelegateProxy::routedOperationsFor(flag, *delegate);
    auto existing = std::dynamic_pointer_cast<CorvaneSDKAppDelegateProxy>(delegate->hook());
    if (existing && existing->interceptors() == registry_) {
      // Already proxied: a second layer would deliver every event twice.
      existing->setRouted(routed);
      CorvaneSDKLog::debug("App Delegate Proxy already set up for " + delegate->description() +
                           "; routed operations updated");
    } else {
      delegate->setHook(std::make_shared<CorvaneSDKAppDelegateProxy>(registry_, routed));
      CorvaneSDKLog::debug("Successfully created App Delegate Proxy");
      // reassignAppDelegate: the platform re-reads what the delegate answers. Our own
      // observer must not take that for the app replacing its delegate.
      stopObservingLocked();
      app->setDelegate(nullptr);
      app->setDelegate(delegate);
    }
    original_ = delegate;
    observeUIApplication();
  } catch (...) {
    CorvaneSDKLog::debug("Cannot create App Delegate Proxy");
  }
}

std::optional<std::string> CorvaneSDKAppDelegateSwizzler::registerInterceptor(
    const std::shared_ptr<ApplicationDelegate>& object) {
  return registry_->registerInterceptor(object);
}

void CorvaneSDKAppDelegateSwizzler::unregisterInterceptor(const std::optional<std::string>& interceptorId) {
  registry_->unregisterInterceptor(interceptorId);
}

void CorvaneSDKAppDelegateSwizzler::clearInterceptors() { registry_->clearInterceptors(); }

std::map<std::string, CorvaneSDKAppDelegateWeakContainer> CorvaneSDKAppDelegateSwizzler::interceptors() {
  return registry_->interceptors();
}

std::shared_ptr<ApplicationDelegate> CorvaneSDKAppDelegateSwizzler::originalDelegate() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return original_;
}

bool CorvaneSDKAppDelegateSwizzler::originalImplementationForOperation(ApplicationDelegateOperation operation,
                                                                      const ApplicationDelegate& delegate) {
  return delegate.handlers().implements(operation);
}

// ---- observer ----

void CorvaneSDKAppDelegateSwizzler::observeUIApplication() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (observing_) return;
  auto app = application();
  if (!app) return;
  std::weak_ptr<CorvaneSDKAppDelegateSwizzler> weak = weak_from_this();
  observerToken_ = app->addDelegateObserver(
      [weak](const std::shared_ptr<ApplicationDelegate>& previous, const std::shared_ptr<ApplicationDelegate>& current) {
        if (auto self = weak.lock()) self->onDelegateChanged(previous, current);
      });
  observed_ = app;
  observing_ = true;
}

bool CorvaneSDKAppDelegateSwizzler::isObserving() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return observing_;
}

void CorvaneSDKAppDelegateSwizzler::stopObservingLocked() {
  if (!observing_) return;
  if (observed_) observed_->removeDelegateObserver(observerToken_);
  observed_.reset();
  observing_ = false;
}

void CorvaneSDKAppDelegateSwizzler::onDelegateChanged(const std::shared_ptr<ApplicationDelegate>& previous,
                                                      const std::shared_ptr<ApplicationDelegate>& current) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!observing_ || previous == current || !previous || previous != original_) return;
  // The app replaced the proxied delegate; the new one waits for the next setup.
  original_.reset();
  stopObservingLocked();
}

}  // namespace Mobile
}  // namespace CorvaneSDK
