// The manager's running state: start and stop, sessions and the open event, readiness, the
// send path, foreground and background, delivery state and the engine's callbacks.
#include "CorvaneSDKManager.h"

#include "CorvaneSDKAttributionToken.h"
#include "CorvaneSDKDataBuilder.h"
#include "CorvaneSDKDeepLinks.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKManagerAttribution.h"
#include "CorvaneSDKManagerIntegration.h"
#include "CorvaneSDKMiddleware.h"
#include "CorvaneSDKOperationQueue.h"
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
  if (identity_->configId().empty()) return false;
  Session::Release release;
  if (!session_.checkHold(release)) return false;
  if (!release.empty()) {
    // This runs on the engine's queue, where no middleware may run: the open event goes out
    // from the operation queue's.
    auto self = shared_from_this();
    auto shared = std::make_shared<Session::Release>(std::move(release));
    operationQueue_->serialQueue()->async([self, shared] { self->deliver(std::move(*shared)); });
  }
  return true;
}

void CorvaneSDKManager::onSendEvent(const Value& event) {
  if (!isInitialized() || !event.is_object()) return;
  Value map = event;
  auto id = map.find("id");
  const bool hasId = id != map.end() && id->is_string() && !id->get<std::string>().empty();
  if (!hasId && session_.hasSession()) map["id"] = session_.sessionId();
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

std::string CorvaneSDKManager::getSessionId() { return session_.sessionId(); }

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
  deliver(session_.release());
  if (!wasStarted) return;
  session_.clearPause();
  delegates_.lifecycle.each([](CorvaneSDKLifecycleDelegate& d) { d.onStop(); });
}

void CorvaneSDKManager::generateSessionId() {
  auto started = session_.generateSessionId(CorvaneSDKUtils::createUUIDString());
  if (started.firstInProcess) toSkan([](CorvaneSDKSkanConversionContextImpl& c) { c.recordSession(); });
  if (!started.isNew) return;
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
  const auto stamp = identity_->stamp();
  std::weak_ptr<CorvaneSDKManagerIntegration> engine = operationQueue_->integration();
  auto payload = CorvaneSDKDataBuilder::createLogOpenData(
      [engine](const std::string& key) {
        auto e = engine.lock();
        return e ? e->getContextValue(key) : Value();
      },
      stamp.storeType, attribution_->tracking()->getTrackingAuthorizationStatus());
  auto open = std::make_shared<CorvaneSDKLogOperation>(name, payload, session_.sessionId(), stamp.configId,
                                                       stamp.customUserId);
  // An open event still held from the last session goes out first, with its events.
  deliver(session_.beginOpen(open));
}

void CorvaneSDKManager::deliver(Session::Release release) {
  if (release.open) {
    for (auto& held : release.held) release.open->addSubEvent(held);
    runOperation(kCorvaneSDKOperationTypeLog, std::make_shared<CorvaneSDKLogEventOperation>(release.open));
    return;
  }
  for (auto& held : release.held) {
    runOperation(kCorvaneSDKOperationTypeLog, std::make_shared<CorvaneSDKLogEventOperation>(held));
  }
}

void CorvaneSDKManager::runOperation(int64_t type, std::shared_ptr<CorvaneSDKOperation> operation) {
  auto context = CorvaneSDKContext::create(shared_from_this());
  context->debug = CorvaneSDKLog::isDebug();
  context->operationType = type;
  context->operation = operation ? std::move(operation) : std::make_shared<CorvaneSDKOperation>();
  runner_->run(context);
}

void CorvaneSDKManager::forwardLaunchItems(const std::optional<Value>& launchOptions,
                                           const std::optional<Value>& activity) {
  if (launchOptions) {
    if (launchOptions->is_object()) {
      auto op = std::make_shared<CorvaneSDKApplicationLifecycleOperation>();
      op->notificationName = kApplicationDidFinishLaunchingNotification;
      op->launchOptions = *launchOptions;
      runOperation(kCorvaneSDKOperationTypeApplicationLifecycle, op);
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
  runOperation(kCorvaneSDKOperationTypeContinueUserActivity, op);
}

// ---- the send path ----

std::shared_ptr<CorvaneSDKLogOperation> CorvaneSDKManager::buildOperation(const CorvaneSDKEvent& event) {
  const auto stamp = identity_->stamp();
  auto op = std::make_shared<CorvaneSDKLogOperation>(event.eventName, event.value, session_.sessionId(),
                                                     stamp.configId, stamp.customUserId);
  if (event.hasRevenue) op->setRevenue(event.revenue, event.currency);
  return op;
}

void CorvaneSDKManager::recordForSkan(const CorvaneSDKEvent& event) {
  const std::string name = event.eventName;
  if (event.hasRevenue) {
    const double revenue = standardRevenue(event.revenue, event.currency.value_or(serverConfig_->configCurrency()));
    toSkan([name, revenue](CorvaneSDKSkanConversionContextImpl& c) { c.recordEvent(name, revenue); });
  } else {
    toSkan([name](CorvaneSDKSkanConversionContextImpl& c) { c.recordEvent(name); });
  }
}

void CorvaneSDKManager::toSkan(CorvaneSDKTypedEvents::SkanRecord record) {
  // The context runs on a queue of its own and callers wait for it: the host's thread hands the
  // record to the operation queue (in logging order) and goes on.
  auto context = skanContext_;
  operationQueue_->serialQueue()->async([context, record] { record(*context); });
}

uint64_t CorvaneSDKManager::approximateQueueSize() {
  // Asking the engine waits for its queue (busy writing the file): the answer of the last
  // refresh is used and a new one is asked for, at most one at a time.
  if (!queueSizeRefreshing_.exchange(true)) {
    std::weak_ptr<CorvaneSDKManager> weak = shared_from_this();
    if (auto engine = operationQueue_->integration()) {
      std::weak_ptr<CorvaneSDKManagerIntegration> weakEngine = engine;
      engine->dispatchBackground([weak, weakEngine] {
        auto self = weak.lock();
        auto e = weakEngine.lock();
        if (!self) return;
        if (e) self->cachedQueueSize_ = e->getQueueSize();
        self->queueSizeRefreshing_ = false;
      });
    } else {
      queueSizeRefreshing_ = false;
    }
  }
  return cachedQueueSize_.load();
}

double CorvaneSDKManager::standardRevenue(double amount, const std::string& currency) const {
  return serverConfig_->standardRevenue(amount, currency);
}

bool CorvaneSDKManager::logInternal(const CorvaneSDKEvent& event) {
  bool started, wait;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (forceDisabled_) return false;
    started = hasStarted_;
  }
  if (event.flag & kCorvaneSDKEventFlagOpenSubEvent) {
    if (session_.hold(buildOperation(event), started)) {
      recordForSkan(event);
      return true;
    }
  }
  if (event.flag & kCorvaneSDKEventFlagForceDisable) {
    std::lock_guard<std::mutex> lock(mutex_);
    forceDisabled_ = true;
  }
  if (!started && !(event.flag & kCorvaneSDKEventFlagBeforeStart)) return false;
  wait = session_.isOpenWait();
  if (wait && approximateQueueSize() >= configuration_->maxQueueSize) {
    CorvaneSDKLog::debug("Queue full while the open event waits; dropping " + event.eventName);
    return false;
  }
  runOperation(kCorvaneSDKOperationTypeLog, std::make_shared<CorvaneSDKLogEventOperation>(buildOperation(event)));
  recordForSkan(event);
  return true;
}

// ---- foreground, background, delivery state ----

void CorvaneSDKManager::applicationWillEnterForeground() {
  bool resume;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!isInitialized_) return;
    isInForeground_ = true;
    resume = !gdprForgetMe_ && hasStarted_;
  }
  updateIntegrationStatus(false);
  if (!resume) return;
  generateSessionId();
  delegates_.lifecycle.each([](CorvaneSDKLifecycleDelegate& d) { d.onResume(); });
}

void CorvaneSDKManager::applicationDidEnterBackground() {
  bool pause;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    isInForeground_ = false;
    pause = isInitialized_ && !gdprForgetMe_ && hasStarted_;
  }
  updateIntegrationStatus(false);
  if (operationQueue_) operationQueue_->handleAppStateNotification(kApplicationDidEnterBackgroundNotification);
  if (!pause) return;
  session_.pause();
  delegates_.lifecycle.each([](CorvaneSDKLifecycleDelegate& d) { d.onPause(); });
}

void CorvaneSDKManager::applicationDidBecomeActive() {
  attribution_->tracking()->applicationDidBecomeActive();
}

void CorvaneSDKManager::updateIntegrationStatus(bool immediate) {
  bool should;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    should = !offline_ && (sendInBackground_ || isInForeground_);
    if (should == integrationActive_) return;
    integrationActive_ = should;
  }
  if (immediate) {
    if (should) {
      operationQueue_->resume();
    } else {
      operationQueue_->pause();
    }
  } else {
    runOperation(should ? kCorvaneSDKOperationTypeResume : kCorvaneSDKOperationTypePause, nullptr);
  }
}

void CorvaneSDKManager::setOffline(bool offline) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!isInitialized_) return;
    offline_ = offline;
  }
  updateIntegrationStatus(offline);
}

void CorvaneSDKManager::flush() { runOperation(kCorvaneSDKOperationTypeFlush, nullptr); }

void CorvaneSDKManager::reset() {
  if (isInitialized()) runOperation(kCorvaneSDKOperationTypeReset, nullptr);
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
CORVANE_FLAG_GETTER(isIntegrationActive, integrationActive_)
#undef CORVANE_FLAG_GETTER

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
