// The manager's class level and its initialisation sequence: creating the instance from the
// configuration, the SDK config, the initialisation actions and onInitialized.
#include "CorvaneSDKManager.h"

#include "CorvaneSDKAppStateObserver.h"
#include "CorvaneSDKAttributionToken.h"
#include "CorvaneSDKDeepLinks.h"
#include "CorvaneSDKDeliveryState.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKHTTPClient.h"
#include "CorvaneSDKInitializationSequence.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKManagerAttribution.h"
#include "CorvaneSDKManagerIntegration.h"
#include "CorvaneSDKNotificationAuthorization.h"
#include "CorvaneSDKMiddleware.h"
#include "CorvaneSDKOperationQueue.h"
#include "CorvaneSDKSendPath.h"
#include "CorvaneSDKServerConfigBinding.h"
#include "CorvaneSDKSkanConversionContext.h"
#include "CorvaneSDKSkanPlatform.h"
#include "CorvaneSDKTrackingAuthorization.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "CorvaneSDKUtils.h"
#include "CorvaneSDKVersion.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {

// The process-wide part: the instance and what the host handed over before it.
struct ClassState {
  std::mutex mutex;
  std::shared_ptr<CorvaneSDKManager> instance;
};

ClassState& classState() {
  static ClassState* state = new ClassState();  // outlives every static destructor
  return *state;
}

CorvaneSDKPendingItems& pendingItems() {
  static CorvaneSDKPendingItems* items = new CorvaneSDKPendingItems();
  return *items;
}

}  // namespace

// ---- class level ----

std::shared_ptr<CorvaneSDKManager> CorvaneSDKManager::initialize(std::shared_ptr<CorvaneSDKConfiguration> configuration,
                                                                 std::function<void()> completion) {
  std::shared_ptr<CorvaneSDKManager> manager;
  bool created = false;
  {
    auto& state = classState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.instance) {
      if (!configuration || configuration->appId.empty()) {
        CorvaneSDKLog::always("Missing configuration when initializing");
        return nullptr;
      }
      // A copy: the host may go on changing its configuration object.
      auto copy = std::make_shared<CorvaneSDKConfiguration>(*configuration);
      manager.reset(new CorvaneSDKManager(copy));
      manager->construct(pendingItems().take());
      state.instance = manager;
      created = true;
    } else {
      manager = state.instance;
    }
  }
  // Outside the class lock: the class-name map takes it, and module code may ask for the instance.
  if (created) manager->modules_.load(*manager->configuration_);
  manager->initialize(std::move(completion));
  return manager;
}

std::shared_ptr<CorvaneSDKConfiguration> CorvaneSDKManager::createConfigurationFromJson(const std::string& text) {
  return CorvaneSDKConfiguration::createConfigurationFromJson(text);
}

std::shared_ptr<CorvaneSDKManager> CorvaneSDKManager::sharedInstance() {
  auto& state = classState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.instance;
}

void CorvaneSDKManager::shutdown() {
  std::shared_ptr<CorvaneSDKManager> manager;
  {
    auto& state = classState();
    std::lock_guard<std::mutex> lock(state.mutex);
    manager.swap(state.instance);
  }
  if (!manager) return;
  manager->stop();
  // What stop handed over reaches the engine, and the engine's queue reaches its file, before
  // a new instance reads it.
  if (auto queue = manager->operationQueue_) {
    dispatchOn(*queue->serialQueue(), [] {}, true);
    if (auto engine = queue->integration()) {
      engine->applicationWillTerminate();
      engine->pause();
    }
  }
  manager->appState_.stopObserving();
}

std::string CorvaneSDKManager::version() { return kCorvaneSDKVersion; }

void CorvaneSDKManager::debug(bool on) { CorvaneSDKLog::setDebug(on); }

void CorvaneSDKManager::setupClasses() { CorvaneSDKSkanPlatform::isSKAdNetworkAvailable(); }

void CorvaneSDKManager::setLaunchOptions(const Value& options) {
  if (!sharedInstance()) pendingItems().setLaunchOptions(options);
}

void CorvaneSDKManager::setUserActivity(const Value& activity) {
  auto manager = sharedInstance();
  if (!manager) {
    pendingItems().setUserActivity(activity);
    return;
  }
  manager->deepLinks_->setUserActivity(activity);
}

bool CorvaneSDKManager::openURL(const std::string& url) {
  auto manager = sharedInstance();
  if (!manager) {
    pendingItems().setOpenURL(url);
    return CorvaneSDKUtils::isValidDeepLink(url);
  }
  return manager->openURLInternal(url, true);
}

void CorvaneSDKManager::setDeviceToken(const std::vector<uint8_t>& token) { setDeviceTokenString(CorvaneSDKDeepLinks::hexOf(token)); }

void CorvaneSDKManager::setDeviceTokenString(const std::string& hex) {
  auto manager = sharedInstance();
  if (!manager) {
    pendingItems().setDeviceToken(hex);
    return;
  }
  manager->setDeviceTokenInternal(hex);
}

bool CorvaneSDKManager::logEventStatic(const CorvaneSDKEvent& event) {
  auto manager = sharedInstance();
  return manager ? manager->logEvent(event) : false;
}

#define CORVANE_DELEGATE_PAIR(Kind, list)                                                          \
  void CorvaneSDKManager::add##Kind##Delegate(const std::shared_ptr<CorvaneSDK##Kind##Delegate>& d) {    \
    if (auto manager = sharedInstance()) {                                                         \
      manager->delegates_.list.add(d);                                                             \
    } else {                                                                                       \
      pendingItems().delegates().list.add(d);                                                      \
    }                                                                                              \
  }                                                                                                \
  void CorvaneSDKManager::remove##Kind##Delegate(const std::shared_ptr<CorvaneSDK##Kind##Delegate>& d) { \
    if (auto manager = sharedInstance()) manager->delegates_.list.remove(d);                       \
    pendingItems().delegates().list.remove(d);                                                     \
  }
CORVANE_DELEGATE_PAIR(Lifecycle, lifecycle)
CORVANE_DELEGATE_PAIR(SendEvent, sendEvent)
CORVANE_DELEGATE_PAIR(DeepLink, deepLink)
CORVANE_DELEGATE_PAIR(DeviceToken, deviceToken)
#undef CORVANE_DELEGATE_PAIR

// ---- creation ----

CorvaneSDKManager::CorvaneSDKManager(std::shared_ptr<CorvaneSDKConfiguration> configuration)
    : configuration_(std::move(configuration)),
      main_(Platform::current()->dispatch->mainQueue()) {}

CorvaneSDKManager::~CorvaneSDKManager() = default;

void CorvaneSDKManager::construct(CorvaneSDKPendingItems::Taken pending) {
  const auto& c = *configuration_;
  auto ports = Platform::current();
  if (!c.application && ports->application) configuration_->application = ports->application;
  delegates_.takeFrom(pendingItems().delegates());
  if (c.debug) CorvaneSDKLog::setDebug(true);
  identity_ = std::make_shared<CorvaneSDKIdentity>(c);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    autoStart_ = c.autoStart;
  }

  std::weak_ptr<CorvaneSDKManager> weak = shared_from_this();
  httpClient_ = CorvaneSDKHTTPClient::initWithRequestFactory(c.requestFactory);
  operationQueue_ = CorvaneSDKOperationQueue::create(weak, configuration_, httpClient_);
  CorvaneSDKMiddlewareList chain = c.middlewares;
  chain.push_back(operationQueue_);
  serverConfig_ = CorvaneSDKServerConfigBinding::create(c, *identity_, operationQueue_, httpClient_, main_);
  sendPath_ = CorvaneSDKSendPath::create({weak, operationQueue_, std::make_shared<CorvaneSDKMiddlewareRunner>(chain),
                                          identity_, serverConfig_, c.maxQueueSize});
  delivery_ = std::make_shared<CorvaneSDKDeliveryState>(c.offline, c.sendInBackground, operationQueue_, sendPath_);

  // The typed events are owned here and only reached through this object, which outlives them.
  CorvaneSDKTypedEvents::Sink sink;
  sink.send = [this](const CorvaneSDKEvent& event) { return logInternal(event); };
  sink.toSkan = [path = sendPath_](CorvaneSDKTypedEvents::SkanRecord record) { path->toSkan(std::move(record)); };
  sink.identity = identity_;
  sink.rates = serverConfig_;
  sink.queue = operationQueue_;
  sink.delegates = &delegates_;
  typed_ = std::make_unique<CorvaneSDKTypedEvents>(std::move(sink));
  bindTypedEvents(*typed_);
  deepLinks_ = std::make_shared<CorvaneSDKDeepLinks>(
      c.payloadFilters,
      [weak](const std::string& url, uint64_t clickTime) {
        if (auto self = weak.lock()) self->typed_->logDeepLink(url, clickTime);
      },
      [weak](const std::string& hex) {
        if (auto self = weak.lock()) self->typed_->logPushToken(hex);
      });

  // Pending launch options, user activity, open URL and device token. The operation queue
  // holds the first two until its engine is ready, so they reach it before any event.
  forwardLaunchItems(pending.launchOptions ? pending.launchOptions : c.launchOptions, pending.userActivity);
  if (pending.openURL) openURLInternal(*pending.openURL, false);
  if (pending.deviceToken) setDeviceTokenInternal(*pending.deviceToken);

  // Stored values: SDK config, currency, rates, schema, then the conversion context.
  serverConfig_->restore();
  auto stored = operationQueue_->getSkanConversionContext();
  skanContext_ = stored ? CorvaneSDKSkanConversionContextImpl::initWithData(*stored)
                        : CorvaneSDKSkanConversionContextImpl::init();
  sendPath_->setSkanContext(skanContext_);
  std::weak_ptr<CorvaneSDKOperationQueue> queue = operationQueue_;
  skanContext_->setExternal(std::make_shared<CorvaneSDKSkanConversionManagerExternal>(
      [weak] {
        auto self = weak.lock();
        return self && self->isInitialized();
      },
      [weak] {
        auto self = weak.lock();
        return self && self->configuration_->useSkanConversionSchema;
      },
      [queue](const Value& dictionary) {
        if (auto q = queue.lock()) q->setSkanConversionContext(dictionary);
      }));

  // Late: purchases and prompts may answer from platform threads as soon as these exist.
  attribution_ = std::make_unique<CorvaneSDKManagerAttribution>(weak, deepLinks_, c);

  // The actions run on the main queue and may prompt at once: after the parts they use.
  sequence_ = CorvaneSDKInitializationSequence::create(main_);
  for (int64_t type : {int64_t(0), int64_t(1)}) {
    sequence_->setHandler(type, [weak, type](const CorvaneSDKInitializationAction& action, std::function<void()> done) {
      auto self = weak.lock();
      if (!self) return done();
      self->runInitializationAction(type, action.data.value_or(Value::object()), std::move(done));
    });
  }
  sequence_->begin(c.initializationActionList);

  const bool forgetMe = operationQueue_->getGdprForgetMe();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    gdprForgetMe_ = forgetMe;
    forceDisabled_ = forgetMe;
    isFirstOpen_ = operationQueue_->isFirstOpen();
  }
  operationQueue_->initialize();
  delivery_->apply(true);
}

void CorvaneSDKManager::initialize(std::function<void()> completion) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (isInitialized_) {
      if (completion) main_->async(std::move(completion));
      return;
    }
    if (completion) completions_.push_back(std::move(completion));
    if (isInitializing_) return;
    isInitializing_ = true;
  }
  std::weak_ptr<CorvaneSDKManager> weak = shared_from_this();
  appState_.observe(weak, operationQueue_);
  serverConfig_->fetch([weak] {
    if (auto self = weak.lock()) self->onSdkConfigDone();
  });
}

void CorvaneSDKManager::onSdkConfigDone() {
  if (auto config = serverConfig_->sdkConfig()) identity_->applySdkConfig(*config);
  std::weak_ptr<CorvaneSDKManager> weak = shared_from_this();
  sequence_->whenFinished([weak] {
    if (auto self = weak.lock()) self->onInitialized();
  });
}

void CorvaneSDKManager::runInitializationAction(int64_t type, const Value& data, std::function<void()> done) {
  if (type == 0) {
    attribution_->tracking()->runAutomaticPrompt(std::move(done));
    return;
  }
  CorvaneSDKNotificationAuthorization::run(data, main_, std::move(done));
}

void CorvaneSDKManager::onInitialized() {
  std::vector<std::function<void()>> completions;
  bool autoStart;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (isInitialized_) return;
    isInitialized_ = true;
    isInitializing_ = false;
    completions.swap(completions_);
    autoStart = autoStart_;
  }
  if (auto defaults = operationQueue_->userDefaultsStorage()) {
    defaults->setString(CorvaneSDKUtils::bundleShortVersionString(), "CorvaneSDKVersionKey");
    defaults->setString(CorvaneSDKUtils::bundleVersion(), "CorvaneSDKBuildKey");
  }
  deepLinks_->markInitialized();
  if (configuration_->useSkanConversionSchema) {
    CorvaneSDKAdNetworkRegistration::registerAppForAdNetworkAttribution();
    skanContext_->start(serverConfig_->schema());
  }
  for (auto& completion : completions) {
    try {
      completion();
    } catch (...) {
    }
  }
  if (autoStart) start();
}

}  // namespace Mobile
}  // namespace CorvaneSDK
