// The manager's running state: start and stop, sessions and the open event, readiness, the
// send path, foreground and background, delivery state and the engine's callbacks.
#include "CorvaneSDKManager.h"

#include "CorvaneSDKAttributionToken.h"
#include "CorvaneSDKDataBuilder.h"
#include "CorvaneSDKDeepLinks.h"
#include "CorvaneSDKDeliveryState.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKManagerAttribution.h"
#include "CorvaneSDKManagerIntegration.h"
#include "CorvaneSDKMiddleware.h"
#include "CorvaneSDKOperationQueue.h"
#include "CorvaneSDKSendPath.h"
#include "CorvaneSDKSkanConversionContext.h"
#include "CorvaneSDKTrackingAuthorization.h"
#include "CorvaneSDKUtils.h"

namespace CorvaneSDK {
namespace Mobile {

// ---- the engine's view ----

bool CorvaneSDKManager::checkReady() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!isInitialized_ || !hasStarted_) return false;
  }
  return !identity_->configId().empty() && sendPath_->checkHold();
}

void CorvaneSDKManager::onSendEvent(const Value& event) {
  if (!isInitialized() || !event.is_object()) return;
  Value map = event;
  auto id = map.find("id");
  const bool hasId = id != map.end() && id->is_string() && !id->get<std::string>().empty();
  if (!hasId && sendPath_->session().hasSession()) map["id"] = sendPath_->session().sessionId();
  delegates_.sendEvent.each([&](CorvaneSDKSendEventDelegate& d) { d.onSendEvent(map); });
  auto subs = event.find("subEvents");
  if (subs != event.end() && subs->is_array()) {
    for (const auto& sub : *subs) onSendEvent(sub);
  }
}

void CorvaneSDKManager::onFinishFlush() {
  bool stopNow;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopNow = isInitialized_ && forceDisabled_ && hasStarted_;
  }
  if (stopNow) stop();
}

std::string CorvaneSDKManager::getUserId() { return operationQueue_ ? operationQueue_->getUserId() : std::string(); }

std::string CorvaneSDKManager::getSessionId() { return sendPath_->session().sessionId(); }

// ---- start, stop, sessions ----

void CorvaneSDKManager::start() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!isInitialized_ || forceDisabled_ || hasStarted_) return;
    hasStarted_ = true;
  }
  // The session (and its open-event hold) comes first: the engine's first flush asks for
  // readiness at once and would otherwise send the events held for the open event alone.
  generateSessionId();
  if (auto engine = operationQueue_->integration()) engine->start();
  delegates_.lifecycle.each([](CorvaneSDKLifecycleDelegate& d) { d.onStart(); });
}

void CorvaneSDKManager::stop() {
  bool wasStarted;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!isInitialized_) return;
    wasStarted = hasStarted_;
    if (wasStarted) {
      hasStarted_ = false;
      autoStart_ = false;
    }
  }
  sendPath_->release();
  if (!wasStarted) return;
  sendPath_->session().clearPause();
  delegates_.lifecycle.each([](CorvaneSDKLifecycleDelegate& d) { d.onStop(); });
}

void CorvaneSDKManager::generateSessionId() {
  if (!sendPath_->startSession().isNew) return;
  attribution_->token()->fetchAppleAttributionToken();
  if (auto engine = operationQueue_->integration()) engine->refresh();
  logOpen();
}

void CorvaneSDKManager::logOpen() {
  std::string name;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (forceDisabled_) return;
    name = isFirstOpen_ ? "qvsdk_first_open" : "qvsdk_open";
    isFirstOpen_ = false;
  }
  sendPath_->beginOpen(name, attribution_->tracking()->getTrackingAuthorizationStatus());
}

void CorvaneSDKManager::forwardLaunchItems(const std::optional<Value>& launchOptions,
                                           const std::optional<Value>& activity) {
  if (launchOptions) {
    if (launchOptions->is_object()) {
      auto op = std::make_shared<CorvaneSDKApplicationLifecycleOperation>();
      op->notificationName = kApplicationDidFinishLaunchingNotification;
      op->launchOptions = *launchOptions;
      sendPath_->run(kCorvaneSDKOperationTypeApplicationLifecycle, op);
    } else {
      CorvaneSDKLog::debug("Ignoring launch options that are not a map");
    }
  }
  if (!activity) return;
  if (!activity->is_object()) {
    CorvaneSDKLog::debug("Ignoring a user activity that is not a map");
    return;
  }
  deepLinks_->setUserActivity(*activity);
  auto op = std::make_shared<CorvaneSDKContinueUserActivityOperation>();
  op->activity = *activity;
  sendPath_->run(kCorvaneSDKOperationTypeContinueUserActivity, op);
}

// ---- the send path ----

double CorvaneSDKManager::standardRevenue(double amount, const std::string& currency) const {
  return serverConfig_->standardRevenue(amount, currency);
}

bool CorvaneSDKManager::logInternal(const CorvaneSDKEvent& event) {
  bool started;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (forceDisabled_) return false;
    started = hasStarted_;
  }
  if ((event.flag & kCorvaneSDKEventFlagOpenSubEvent) && sendPath_->hold(event, started)) return true;
  if (event.flag & kCorvaneSDKEventFlagForceDisable) {
    std::lock_guard<std::mutex> lock(mutex_);
    forceDisabled_ = true;
  }
  if (!started && !(event.flag & kCorvaneSDKEventFlagBeforeStart)) return false;
  return sendPath_->send(event);
}

// ---- foreground, background, delivery state ----

void CorvaneSDKManager::applicationWillEnterForeground() {
  bool resume;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!isInitialized_) return;
    resume = !gdprForgetMe_ && hasStarted_;
  }
  delivery_->setForeground(true);
  if (!resume) return;
  generateSessionId();
  delegates_.lifecycle.each([](CorvaneSDKLifecycleDelegate& d) { d.onResume(); });
}

void CorvaneSDKManager::applicationDidEnterBackground() {
  bool pause;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pause = isInitialized_ && !gdprForgetMe_ && hasStarted_;
  }
  delivery_->setForeground(false);
  if (operationQueue_) operationQueue_->handleAppStateNotification(kApplicationDidEnterBackgroundNotification);
  if (!pause) return;
  sendPath_->session().pause();
  delegates_.lifecycle.each([](CorvaneSDKLifecycleDelegate& d) { d.onPause(); });
}

void CorvaneSDKManager::applicationDidBecomeActive() {
  attribution_->tracking()->applicationDidBecomeActive();
}

void CorvaneSDKManager::setOffline(bool offline) {
  if (isInitialized()) delivery_->setOffline(offline);
}

void CorvaneSDKManager::flush() { sendPath_->run(kCorvaneSDKOperationTypeFlush, nullptr); }

void CorvaneSDKManager::reset() {
  if (isInitialized()) sendPath_->run(kCorvaneSDKOperationTypeReset, nullptr);
}

// ---- deep links, the push token and the remaining state ----

bool CorvaneSDKManager::openURLInternal(const std::string& url, bool resetUserActivity) {
  return deepLinks_->open(url, resetUserActivity);
}

void CorvaneSDKManager::setDeviceTokenInternal(const std::string& hex) { deepLinks_->setDeviceToken(hex); }

std::string CorvaneSDKManager::getDeepLinkURL() { return deepLinks_->deepLinkURL(); }

bool CorvaneSDKManager::gdprForgetMe() {
  const bool accepted = typed_->logTyped("qvsdk_gdpr_forget_me", Value::object(),
                                         kCorvaneSDKEventFlagForceDisable | kCorvaneSDKEventFlagBeforeStart);
  if (operationQueue_) operationQueue_->setGdprForgetMe(true);
  std::lock_guard<std::mutex> lock(mutex_);
  gdprForgetMe_ = true;
  forceDisabled_ = true;
  return accepted;
}

#define CORVANE_FLAG_GETTER(name, field)      \
  bool CorvaneSDKManager::name() {            \
    std::lock_guard<std::mutex> lock(mutex_); \
    return field;                             \
  }
CORVANE_FLAG_GETTER(isInitialized, isInitialized_)
CORVANE_FLAG_GETTER(hasStarted, hasStarted_)
CORVANE_FLAG_GETTER(isForceDisabled, forceDisabled_)
#undef CORVANE_FLAG_GETTER

bool CorvaneSDKManager::isIntegrationActive() { return delivery_->active(); }

uint64_t CorvaneSDKManager::getQueueSize() { return operationQueue_ ? operationQueue_->getQueueSize() : 0; }

std::shared_ptr<CorvaneSDKTrackingAuthorization> CorvaneSDKManager::trackingAuthorization() const {
  return attribution_->tracking();
}

std::shared_ptr<CorvaneSDKStoreKitCapturer> CorvaneSDKManager::storeKitCapturer() const {
  return attribution_->capturer();
}

void CorvaneSDKManager::fetchRemoteConfig(std::function<void(const std::string&)> done) {
  serverConfig_->fetchRemoteConfig(getUserId(), std::move(done));
}

}  // namespace Mobile
}  // namespace CorvaneSDK
