// The manager's class level and its initialisation sequence: creating the instance from the
// configuration, the SDK config, the initialisation actions and onInitialized.
#include "CorvaneSDKManager.h"

#include <set>

#include "CorvaneSDKAttributionToken.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKTrackingAuthorization.h"
#include "CorvaneSDKHTTPClient.h"
#include "CorvaneSDKInitializationSequence.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKManagerIntegration.h"
#include "CorvaneSDKNotificationAuthorization.h"
#include "CorvaneSDKMiddleware.h"
#include "CorvaneSDKOperationQueue.h"
#include "CorvaneSDKSkanConversionContext.h"
#include "CorvaneSDKSkanPlatform.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "CorvaneSDKUtils.h"
#include "CorvaneSDKVersion.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

const char* const kCorvaneSDKDefaultHost = "https://ingest.corvane.io/v4/event";
const char* const kCorvaneSDKDefaultConfigUrl = "https://config.corvane.io/v1/public/config";
const char* const kCorvaneSDKDefaultRemoteConfigUrl = "https://rc.corvane.io/rc/fetch";
const char* const kApplicationWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";
const char* const kApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
const char* const kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
const char* const kApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";
const char* const kApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";

namespace {

// The process-wide part: the instance, what came before it, and the module class names.
struct ClassState {
  std::mutex mutex;
  std::shared_ptr<CorvaneSDKManager> instance;
  std::map<std::string, std::string> moduleClassNames{{"AppsFlyer", "CorvaneSDKAppsFlyerModule"},
                                                      {"AppsFlyerAdRevenue", "CorvaneSDKAppsFlyerAdRevenueModule"},
                                                      {"Adjust", "CorvaneSDKAdjustModule"},
                                                      {"Tenjin", "CorvaneSDKTenjinModule"},
                                                      {"Singular", "CorvaneSDKSingularModule"}};
};

ClassState& classState() {
  static ClassState* state = new ClassState();  // outlives every static destructor
  return *state;
}

CorvaneSDKPendingItems& pendingItems() {
  static CorvaneSDKPendingItems* items = new CorvaneSDKPendingItems();
  return *items;
}

// The stored values where the operation queue keeps them.
class OperationQueueConfigStore : public CorvaneSDKServerConfigStore {
 public:
  explicit OperationQueueConfigStore(std::shared_ptr<CorvaneSDKOperationQueue> queue) : q_(std::move(queue)) {}
  std::optional<Value> load(const std::string& key) const override {
    auto text = [](const std::optional<std::string>& s) -> std::optional<Value> {
      return s ? std::optional<Value>(Value(*s)) : std::nullopt;
    };
    auto stamp = [](uint64_t t) -> std::optional<Value> { return t ? std::optional<Value>(Value(t)) : std::nullopt; };
    if (key == kSdkConfigKey) return q_->getSdkConfig();
    if (key == kConfigCurrencyKey) return text(q_->getConfigCurrency());
    if (key == kExchangeRatesKey) return q_->getExchangeRates();
    if (key == kExchangeRateTimestampKey) return stamp(q_->getExchangeRateTimestamp());
    if (key == kCryptoExchangeRatesKey) return q_->getCryptoExchangeRates();
    if (key == kCryptoExchangeRateTimestampKey) return stamp(q_->getCryptoExchangeRateTimestamp());
    if (key == kRemoteConfigKey) return q_->getRemoteConfig();
    if (key == kRemoteConfigPathKey) return text(q_->getRemoteConfigPath());
    if (key == kSkanConversionSchemaKey) return q_->getSkanConversionSchema();
    return std::nullopt;
  }
  void save(const std::string& key, const Value& value) override {
    auto map = [&]() -> std::optional<Value> { return value.is_object() ? std::optional<Value>(value) : std::nullopt; };
    auto text = [&]() -> std::optional<std::string> {
      return value.is_string() ? std::optional<std::string>(value.get<std::string>()) : std::nullopt;
    };
    auto stamp = [&]() -> uint64_t { return value.is_number_unsigned() ? value.get<uint64_t>() : 0; };
    if (key == kSdkConfigKey) q_->setSdkConfig(map());
    if (key == kConfigCurrencyKey) q_->setConfigCurrency(text());
    if (key == kExchangeRatesKey) q_->setExchangeRates(map());
    if (key == kExchangeRateTimestampKey) q_->setExchangeRateTimestamp(stamp());
    if (key == kCryptoExchangeRatesKey) q_->setCryptoExchangeRates(map());
    if (key == kCryptoExchangeRateTimestampKey) q_->setCryptoExchangeRateTimestamp(stamp());
    if (key == kRemoteConfigKey) q_->setRemoteConfig(map());
    if (key == kRemoteConfigPathKey) q_->setRemoteConfigPath(text());
    if (key == kSkanConversionSchemaKey) q_->setSkanConversionSchema(map());
  }

 private:
  std::shared_ptr<CorvaneSDKOperationQueue> q_;
};

std::string nonEmptyOr(const std::optional<std::string>& value, const char* fallback) {
  return value && !value->empty() ? *value : std::string(fallback);
}

// The remote config endpoint lives beside the SDK config one: same scheme, host and port.
std::string remoteConfigUrlFor(const std::optional<std::string>& configUrl) {
  if (!configUrl || configUrl->empty()) return kCorvaneSDKDefaultRemoteConfigUrl;
  const size_t scheme = configUrl->find("://");
  if (scheme == std::string::npos) return kCorvaneSDKDefaultRemoteConfigUrl;
  const size_t path = configUrl->find_first_of("/?#", scheme + 3);
  return configUrl->substr(0, path) + "/rc/fetch";
}

std::string hexOf(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
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
  if (created) manager->loadModules();
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
  std::vector<int> tokens;
  {
    std::lock_guard<std::mutex> lock(manager->mutex_);
    tokens.swap(manager->observerTokens_);
  }
  if (auto center = Platform::current()->notificationCenter) {
    for (int token : tokens) center->removeObserver(token);
  }
}

std::string CorvaneSDKManager::version() { return kCorvaneSDKVersion; }

void CorvaneSDKManager::debug(bool on) { CorvaneSDKLog::setDebug(on); }

void CorvaneSDKManager::setupClasses() { CorvaneSDKSkanPlatform::isSKAdNetworkAvailable(); }

std::map<std::string, std::string> CorvaneSDKManager::getModuleClassNameMap() {
  auto& state = classState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.moduleClassNames;
}

void CorvaneSDKManager::addModuleClassNameMap(const std::string& name, const std::string& className) {
  if (name.empty() || className.empty()) return;
  auto& state = classState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.moduleClassNames[name] = className;
}

std::string CorvaneSDKManager::resolveModuleClassName(const std::string& name) {
  auto& state = classState();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto found = state.moduleClassNames.find(name);
  return found == state.moduleClassNames.end() ? name : found->second;
}

void CorvaneSDKManager::setLaunchOptions(const Value& options) {
  if (!sharedInstance()) pendingItems().setLaunchOptions(options);
}

void CorvaneSDKManager::setUserActivity(const Value& activity) {
  auto manager = sharedInstance();
  if (!manager) {
    pendingItems().setUserActivity(activity);
    return;
  }
  std::lock_guard<std::mutex> lock(manager->mutex_);
  manager->userActivity_ = activity;
}

bool CorvaneSDKManager::openURL(const std::string& url) {
  auto manager = sharedInstance();
  if (!manager) {
    pendingItems().setOpenURL(url);
    return CorvaneSDKUtils::isValidDeepLink(url);
  }
  return manager->openURLInternal(url, true);
}

void CorvaneSDKManager::setDeviceToken(const std::vector<uint8_t>& token) { setDeviceTokenString(hexOf(token)); }

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
      main_(Platform::current()->dispatch->mainQueue()),
      session_(Platform::current()->clock) {}

CorvaneSDKManager::~CorvaneSDKManager() = default;

void CorvaneSDKManager::construct(CorvaneSDKPendingItems::Taken pending) {
  const auto& c = *configuration_;
  auto ports = Platform::current();
  if (!c.application && ports->application) configuration_->application = ports->application;
  delegates_.takeFrom(pendingItems().delegates());
  if (c.debug) CorvaneSDKLog::setDebug(true);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    host_ = nonEmptyOr(c.host, kCorvaneSDKDefaultHost);
    configUrl_ = nonEmptyOr(c.configUrl, kCorvaneSDKDefaultConfigUrl);
    remoteConfigUrl_ = remoteConfigUrlFor(c.configUrl);
    appId_ = c.appId;
    credential_ = CorvaneSDKServerConfig::credentialFor(c.appId, c.appSecret);
    const std::pair<const char*, const std::optional<std::string>*> ids[] = {
        {"facebookAppId", &c.facebookAppId},
        {"instagramAppId", &c.instagramAppId},
        {"appleAppId", &c.appleAppId},
        {"appleSignInClientId", &c.appleSignInClientId},
        {"appleDeveloperTeamId", &c.appleDeveloperTeamId},
        {"googlePlayGameServicesProjectId", &c.googlePlayGameServicesProjectId},
        {"googlePlayDeveloperAccountId", &c.googlePlayDeveloperAccountId},
        {"linkedInAppId", &c.linkedInAppId},
        {"qqAppId", &c.qqAppId},
        {"weChatAppId", &c.weChatAppId},
        {"tikTokAppId", &c.tikTokAppId},
        {"snapAppId", &c.snapAppId}};
    for (const auto& id : ids) {
      if (*id.second) thirdPartyIds_[id.first] = **id.second;
    }
    storeType_ = c.storeType;
    autoStart_ = c.autoStart;
    offline_ = c.offline;
    sendInBackground_ = c.sendInBackground;
    isInForeground_ = true;
  }

  sequence_ = CorvaneSDKInitializationSequence::create(main_);
  std::weak_ptr<CorvaneSDKManager> weak = shared_from_this();
  for (int64_t type : {int64_t(0), int64_t(1)}) {
    sequence_->setHandler(type, [weak, type](const CorvaneSDKInitializationAction& action, std::function<void()> done) {
      auto self = weak.lock();
      if (!self) return done();
      self->runInitializationAction(type, action.data.value_or(Value::object()), std::move(done));
    });
  }
  sequence_->begin(c.initializationActionList);

  httpClient_ = CorvaneSDKHTTPClient::initWithRequestFactory(c.requestFactory);
  operationQueue_ = CorvaneSDKOperationQueue::create(weak, configuration_, httpClient_);
  CorvaneSDKMiddlewareList chain = c.middlewares;
  chain.push_back(operationQueue_);
  runner_ = std::make_shared<CorvaneSDKMiddlewareRunner>(chain);

  CorvaneSDKServerConfigSettings settings;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    settings.appId = appId_;
    settings.credential = credential_;
    settings.configUrl = configUrl_;
    settings.remoteConfigUrl = remoteConfigUrl_;
  }
  settings.useSkanConversionSchema = c.useSkanConversionSchema;
  settings.disableOnlineSdkConfig = c.disableOnlineSdkConfig;
  settings.appVersion = CorvaneSDKUtils::bundleShortVersionString();
  settings.platform = CorvaneSDKUtils::platform();
  settings.bundleId = CorvaneSDKUtils::bundleIdentifier();
  settings.buildNumber = CorvaneSDKUtils::bundleVersion();
  settings.skanSchemaKey = kSkanConversionSchemaKey;
  std::weak_ptr<CorvaneSDKHTTPClient> client = httpClient_;
  serverConfig_ = CorvaneSDKServerConfig::create(
      settings, std::make_shared<OperationQueueConfigStore>(operationQueue_),
      [client](const CorvaneSDKConfigRequest& request, CorvaneSDKConfigAnswer answer) {
        auto http = client.lock();
        if (!http) return answer(std::nullopt, false);
        auto r = http->createRequest(request.url, request.method);
        for (const auto& h : request.headers) r->setValue(h.second, h.first);
        if (!request.body.empty()) r->body = request.body;
        http->send(r, [answer](std::optional<std::string> text, bool retry) { answer(std::move(text), retry); });
      },
      main_);

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

  // Last: purchases and prompts may answer from platform threads as soon as these exist.
  setupAttribution();

  const bool forgetMe = operationQueue_->getGdprForgetMe();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    gdprForgetMe_ = forgetMe;
    forceDisabled_ = forgetMe;
    customUserId_ = c.customUserId && !c.customUserId->empty() ? c.customUserId : std::nullopt;
    configId_ = c.waitConfigId ? std::string() : nonEmptyOr(c.configId, "default");
    isFirstOpen_ = operationQueue_->isFirstOpen();
  }
  operationQueue_->initialize();
  updateIntegrationStatus(true);
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
  registerNotifications();
  std::weak_ptr<CorvaneSDKManager> weak = shared_from_this();
  serverConfig_->fetch([weak] {
    if (auto self = weak.lock()) self->onSdkConfigDone();
  });
}

void CorvaneSDKManager::registerNotifications() {
  auto center = Platform::current()->notificationCenter;
  if (!center) return;
  std::weak_ptr<CorvaneSDKManager> weak = shared_from_this();
  std::vector<int> tokens;
  auto observe = [&](const char* name, void (CorvaneSDKManager::*fn)()) {
    tokens.push_back(center->addObserver(name, [weak, fn](const Notification&) {
      if (auto self = weak.lock()) ((*self).*fn)();
    }));
  };
  observe(kApplicationWillEnterForegroundNotification, &CorvaneSDKManager::applicationWillEnterForeground);
  observe(kApplicationDidEnterBackgroundNotification, &CorvaneSDKManager::applicationDidEnterBackground);
  observe(kApplicationDidBecomeActiveNotification, &CorvaneSDKManager::applicationDidBecomeActive);
  std::weak_ptr<CorvaneSDKOperationQueue> queue = operationQueue_;
  tokens.push_back(center->addObserver(kApplicationWillTerminateNotification, [queue](const Notification& n) {
    if (auto q = queue.lock()) q->handleAppStateNotification(n.name);
  }));
  std::lock_guard<std::mutex> lock(mutex_);
  observerTokens_.insert(observerTokens_.end(), tokens.begin(), tokens.end());
}

void CorvaneSDKManager::loadModules() {
  const auto& c = *configuration_;
  std::set<std::string> excluded;
  if (c.excludedModuleNames) {
    for (const auto& name : *c.excludedModuleNames) {
      excluded.insert(resolveModuleClassName(name));
      CorvaneSDKLog::debug("Excluded module: " + resolveModuleClassName(name));
    }
  }
  if (!c.moduleDataList) return;
  auto classes = Platform::current()->moduleClasses;
  for (const auto& entry : *c.moduleDataList) {
    const std::string className = resolveModuleClassName(entry.className);
    if (excluded.count(className)) {
      CorvaneSDKLog::debug("Skipping excluded module " + className);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (modules_.count(className)) {
        CorvaneSDKLog::debug("Module " + className + " is already loaded");
        continue;
      }
    }
    // A module that is not linked in is simply absent, as on a device without it.
    ModuleFactory factory = classes ? classes->lookUpClass(className) : ModuleFactory();
    if (!factory) {
      CorvaneSDKLog::debug("Module class not found: " + className);
      continue;
    }
    std::shared_ptr<PlatformModule> module;
    try {
      module = factory(entry.data && entry.data->is_object() ? *entry.data : Value::object());
    } catch (...) {
    }
    if (!module) {
      CorvaneSDKLog::debug("Module " + className + " could not be created");
      continue;
    }
    CorvaneSDKLog::debug("Module loaded: " + className);
    std::lock_guard<std::mutex> lock(mutex_);
    modules_[className] = module;
    modules_.emplace(entry.className, module);
  }
}

std::shared_ptr<PlatformModule> CorvaneSDKManager::getModule(const std::string& name) {
  const std::string className = resolveModuleClassName(name);
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = modules_.find(name);
  if (found == modules_.end()) found = modules_.find(className);
  return found == modules_.end() ? nullptr : found->second;
}

void CorvaneSDKManager::onSdkConfigDone() {
  applySdkConfig();
  std::weak_ptr<CorvaneSDKManager> weak = shared_from_this();
  sequence_->whenFinished([weak] {
    if (auto self = weak.lock()) self->onInitialized();
  });
}

void CorvaneSDKManager::applySdkConfig() {
  auto config = serverConfig_->sdkConfig();
  if (!config || !config->is_object()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto third = config->find("thirdPartySettings");
  if (third != config->end() && third->is_object()) {
    for (auto it = third->begin(); it != third->end(); ++it) {
      if (it.value().is_string()) thirdPartyIds_[it.key()] = it.value().get<std::string>();
    }
  }
  // Mobile settings: a config id for installs that wait for one.
  auto ios = config->find("iosSettings");
  if (ios != config->end() && ios->is_object()) {
    auto id = ios->find("configId");
    if (id != ios->end() && id->is_string() && !id->get<std::string>().empty()) configId_ = id->get<std::string>();
  }
}

void CorvaneSDKManager::runInitializationAction(int64_t type, const Value& data, std::function<void()> done) {
  if (type == 0) {
    tracking_->runAutomaticPrompt(std::move(done));
    return;
  }
  CorvaneSDKNotificationAuthorization::run(data, main_, std::move(done));
}

void CorvaneSDKManager::onInitialized() {
  std::vector<std::function<void()>> completions;
  std::optional<std::string> deepLink, token;
  bool autoStart;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (isInitialized_) return;
    isInitialized_ = true;
    isInitializing_ = false;
    completions.swap(completions_);
    deepLink = pendingDeepLink_;
    pendingDeepLink_.reset();
    token = deviceToken_;
    autoStart = autoStart_;
  }
  if (auto defaults = operationQueue_->userDefaultsStorage()) {
    defaults->setString(CorvaneSDKUtils::bundleShortVersionString(), "CorvaneSDKVersionKey");
    defaults->setString(CorvaneSDKUtils::bundleVersion(), "CorvaneSDKBuildKey");
  }
  if (deepLink) logDeepLink(*deepLink);
  if (token) logPushToken(*token);
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
