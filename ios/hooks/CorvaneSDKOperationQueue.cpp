// The operation queue: type dispatch, the message queue, the table of engine functions by name,
// and the stored values.
#include "CorvaneSDKOperationQueue.h"

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKHTTPClient.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKManagerIntegration.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "CorvaneSDKUtils.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

const char* const CorvaneSDKIntegrationDidStart = "com.corvane.sdk.integration.did.start";
const char* const CorvaneSDKApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
const char* const CorvaneSDKApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";

namespace {

constexpr const char* kIntegrationKey = "CorvaneSDK";

constexpr const char* kUserIdKey = "corvane.sdk.userId";
constexpr const char* kGdprForgetMeKey = "corvane.sdk.gdprForgetMe";
constexpr const char* kDisableThirdPartySharingKey = "corvane.sdk.disableThirdPartySharing";
constexpr const char* kDisableThirdPartySharingCoppaKey = "corvane.sdk.disableThirdPartySharingCoppa";
constexpr const char* kRemoteConfigKey = "corvane.sdk.remoteConfig";
constexpr const char* kRemoteConfigPathKey = "corvane.sdk.remoteConfigPath";
constexpr const char* kSdkConfigKey = "corvane.sdk.sdkConfig";
constexpr const char* kConfigCurrencyKey = "corvane.sdk.configCurrency";
constexpr const char* kSkanConversionContextKey = "corvane.sdk.skanConversionContext";
constexpr const char* kSkanConversionSchemaKey = "corvane.sdk.skanConversionSchema";
constexpr const char* kExchangeRatesKey = "corvane.sdk.exchangeRates";
constexpr const char* kExchangeRateTimestampKey = "corvane.sdk.exchangeRateTimestamp";
constexpr const char* kCryptoExchangeRatesKey = "corvane.sdk.cryptoExchangeRates";
constexpr const char* kCryptoExchangeRateTimestampKey = "corvane.sdk.cryptoExchangeRateTimestamp";

using Integration = CorvaneSDKManagerIntegration;
using Args = CorvaneSDKOperationArguments;

template <typename T>
const T* argument(const Args& args, size_t index) {
  return index < args.size() ? std::get_if<T>(&args[index]) : nullptr;
}

// One engine function by name: false when the arguments do not fit it.
using Invoker = std::function<bool(Integration&, const Args&)>;

const std::map<std::string, Invoker>& operationTable() {
  static const std::map<std::string, Invoker> table = {
      {"log:",
       [](Integration& i, const Args& a) {
         auto op = argument<std::shared_ptr<const CorvaneSDKLogOperation>>(a, 0);
         if (a.size() != 1 || !op || !*op) return false;
         i.log(*op);
         return true;
       }},
      {"reset", [](Integration& i, const Args& a) { return a.empty() ? (i.reset(), true) : false; }},
      {"flush", [](Integration& i, const Args& a) { return a.empty() ? (i.flush(), true) : false; }},
      {"pause", [](Integration& i, const Args& a) { return a.empty() ? (i.pause(), true) : false; }},
      {"resume", [](Integration& i, const Args& a) { return a.empty() ? (i.resume(), true) : false; }},
      {"applicationDidEnterBackground",
       [](Integration& i, const Args& a) { return a.empty() ? (i.applicationDidEnterBackground(), true) : false; }},
      {"applicationWillTerminate",
       [](Integration& i, const Args& a) { return a.empty() ? (i.applicationWillTerminate(), true) : false; }},
      {"receivedRemoteNotification:",
       [](Integration& i, const Args& a) {
         auto userInfo = argument<Value>(a, 0);
         if (a.size() != 1 || !userInfo) return false;
         i.receivedRemoteNotification(*userInfo);
         return true;
       }},
      {"failedToRegisterForRemoteNotificationsWithError:",
       [](Integration& i, const Args& a) {
         auto error = argument<std::string>(a, 0);
         if (a.size() != 1 || !error) return false;
         i.failedToRegisterForRemoteNotificationsWithError(*error);
         return true;
       }},
      {"registeredForRemoteNotificationsWithDeviceToken:",
       [](Integration& i, const Args& a) {
         auto token = argument<std::vector<uint8_t>>(a, 0);
         if (a.size() != 1 || !token) return false;
         i.registeredForRemoteNotificationsWithDeviceToken(*token);
         return true;
       }},
      {"handleActionWithIdentifier:forRemoteNotification:",
       [](Integration& i, const Args& a) {
         auto identifier = argument<std::string>(a, 0);
         auto userInfo = argument<Value>(a, 1);
         if (a.size() != 2 || !identifier || !userInfo) return false;
         i.handleActionWithIdentifier(*identifier, *userInfo);
         return true;
       }},
      {"continueUserActivity:",
       [](Integration& i, const Args& a) {
         auto activity = argument<Value>(a, 0);
         if (a.size() != 1 || !activity) return false;
         i.continueUserActivity(*activity);
         return true;
       }},
      {"openURL:options:",
       [](Integration& i, const Args& a) {
         auto url = argument<std::string>(a, 0);
         auto options = argument<Value>(a, 1);
         if (a.size() != 2 || !url || !options) return false;
         i.openURL(*url, *options);
         return true;
       }},
  };
  return table;
}

std::string describeArguments(const Args& args) {
  std::string out = "(";
  for (size_t n = 0; n < args.size(); ++n) {
    if (n) out += ", ";
    const auto& a = args[n];
    if (auto v = std::get_if<Value>(&a)) {
      out += valueDepthWithin(*v) ? dumpJson(*v) : std::string("<too deep>");
    } else if (auto s = std::get_if<std::string>(&a)) {
      out += validUtf8(*s);
    } else if (auto b = std::get_if<std::vector<uint8_t>>(&a)) {
      out += CorvaneSDKLog::describeData(std::string(b->begin(), b->end()));
    } else if (auto op = std::get_if<std::shared_ptr<const CorvaneSDKLogOperation>>(&a)) {
      out += *op ? "<CorvaneSDKLogOperation: " + validUtf8((*op)->eventName) + ">" : std::string("(null)");
    }
  }
  return out + ")";
}

const std::map<std::string, std::string>& appStateTable() {
  static const std::map<std::string, std::string> table = {
      {CorvaneSDKApplicationDidEnterBackgroundNotification, "applicationDidEnterBackground"},
      {CorvaneSDKApplicationWillTerminateNotification, "applicationWillTerminate"},
  };
  return table;
}

}  // namespace

std::shared_ptr<CorvaneSDKOperationQueue> CorvaneSDKOperationQueue::create(
    std::weak_ptr<CorvaneSDKIntegrationHost> manager, std::shared_ptr<const CorvaneSDKConfiguration> configuration,
    std::shared_ptr<CorvaneSDKHTTPClient> httpClient) {
  std::shared_ptr<CorvaneSDKOperationQueue> queue(new CorvaneSDKOperationQueue());
  if (!configuration) configuration = std::make_shared<const CorvaneSDKConfiguration>();
  queue->manager_ = std::move(manager);
  queue->configuration_ = configuration;
  queue->httpClient_ = httpClient;
  auto ports = Platform::current();
  queue->serialQueue_ = ports->dispatch->makeSerialQueue("com.corvane.sdk");
  queue->userDefaultsStorage_ = CorvaneSDKUserDefaultsStorage::forConfiguration(*configuration);
  queue->fileStorage_ = CorvaneSDKFileStorage::forConfiguration(*configuration);
  auto stored = queue->userDefaultsStorage_->stringForKey(kUserIdKey);
  queue->firstOpen_ = !stored || stored->empty();
  const std::string userId = queue->loadUserId(false);
  {
    std::lock_guard<std::mutex> lock(queue->userIdMutex_);
    queue->cachedUserId_ = userId;
  }
  queue->integration_ = CorvaneSDKManagerIntegration::create(queue->manager_, configuration, std::move(httpClient),
                                                             queue->fileStorage_, queue->userDefaultsStorage_);
  return queue;
}

CorvaneSDKOperationQueue::~CorvaneSDKOperationQueue() = default;

void CorvaneSDKOperationQueue::initialize() {
  if (initializeCalled_.exchange(true)) return;
  initialized_ = true;
  // Observers are host code: they run here, on the caller's thread, with nothing held.
  try {
    auto center = Platform::current()->notificationCenter;
    if (center) center->post(Notification{CorvaneSDKIntegrationDidStart, nullptr, nullptr});
  } catch (...) {
    CorvaneSDKLog::debug("An observer of " + std::string(CorvaneSDKIntegrationDidStart) + " threw");
  }
  auto self = shared_from_this();
  dispatchOn(*serialQueue_, [self] { self->flushMessageQueue(); }, false);
}

std::shared_ptr<CorvaneSDKMiddlewareRunner> CorvaneSDKOperationQueue::makeRunner(
    const CorvaneSDKMiddlewareList& appMiddlewares) {
  CorvaneSDKMiddlewareList list;
  for (const auto& m : appMiddlewares) {
    if (m && m.get() != this) list.push_back(m);
  }
  list.push_back(shared_from_this());
  return std::make_shared<CorvaneSDKMiddlewareRunner>(std::move(list));
}

void CorvaneSDKOperationQueue::context(std::shared_ptr<CorvaneSDKContext> context, CorvaneSDKMiddlewareNext next) {
  if (context) {
    try {
      dispatchContext(*context);
    } catch (...) {
      CorvaneSDKLog::debug("Operation of type " + std::to_string(context->operationType) + " could not be queued");
    }
  }
  if (next) next(std::move(context));
}

void CorvaneSDKOperationQueue::dispatchContext(const CorvaneSDKContext& context) {
  const auto& op = context.operation;
  auto missing = [&context](const char* what) {
    CorvaneSDKLog::debug("Ignoring operation of type " + std::to_string(context.operationType) + " without " + what);
  };
  switch (context.operationType) {
    case kCorvaneSDKOperationTypeUndefined:
      CorvaneSDKLog::debug("[ERROR]: Received context with undefined event type " + context.description());
      return;
    case kCorvaneSDKOperationTypeLog: {
      auto logOp = std::dynamic_pointer_cast<CorvaneSDKLogEventOperation>(op);
      if (!logOp || !logOp->logOperation) return missing("an event");
      log(logOp->logOperation);
      return;
    }
    case kCorvaneSDKOperationTypeReset: reset(); return;
    case kCorvaneSDKOperationTypeFlush: flush(); return;
    case kCorvaneSDKOperationTypePause: pause(); return;
    case kCorvaneSDKOperationTypeResume: resume(); return;
    case kCorvaneSDKOperationTypeReceivedRemoteNotification:
    case kCorvaneSDKOperationTypeFailedToRegisterForRemoteNotifications:
    case kCorvaneSDKOperationTypeRegisteredForRemoteNotifications:
    case kCorvaneSDKOperationTypeHandleActionWithIdentifier: {
      auto remote = std::dynamic_pointer_cast<CorvaneSDKRemoteNotificationOperation>(op);
      if (!remote) return missing("a remote notification operation");
      if (context.operationType == kCorvaneSDKOperationTypeReceivedRemoteNotification) {
        receivedRemoteNotification(remote->userInfo);
      } else if (context.operationType == kCorvaneSDKOperationTypeFailedToRegisterForRemoteNotifications) {
        failedToRegisterForRemoteNotificationsWithError(remote->error);
      } else if (context.operationType == kCorvaneSDKOperationTypeRegisteredForRemoteNotifications) {
        registeredForRemoteNotificationsWithDeviceToken(remote->deviceToken);
      } else {
        handleActionWithIdentifier(remote->actionIdentifier, remote->userInfo);
      }
      return;
    }
    case kCorvaneSDKOperationTypeApplicationLifecycle: {
      auto lifecycle = std::dynamic_pointer_cast<CorvaneSDKApplicationLifecycleOperation>(op);
      if (!lifecycle) return missing("a lifecycle operation");
      handleAppStateNotification(lifecycle->notificationName);
      return;
    }
    case kCorvaneSDKOperationTypeContinueUserActivity: {
      auto activity = std::dynamic_pointer_cast<CorvaneSDKContinueUserActivityOperation>(op);
      if (!activity) return missing("a user activity");
      continueUserActivity(activity->activity);
      return;
    }
    case kCorvaneSDKOperationTypeOpenURL: {
      auto open = std::dynamic_pointer_cast<CorvaneSDKOpenURLOperation>(op);
      if (!open) return missing("a URL");
      openURL(open->url, open->urlOptions);
      return;
    }
    default:
      return;
  }
}

void CorvaneSDKOperationQueue::log(std::shared_ptr<const CorvaneSDKLogOperation> operation) {
  if (!operation) return;
  callWithSelector("log:", {std::move(operation)});
}

void CorvaneSDKOperationQueue::receivedRemoteNotification(const Value& userInfo) {
  callWithSelector("receivedRemoteNotification:", {userInfo});
}

void CorvaneSDKOperationQueue::failedToRegisterForRemoteNotificationsWithError(const std::string& error) {
  callWithSelector("failedToRegisterForRemoteNotificationsWithError:", {error});
}

void CorvaneSDKOperationQueue::registeredForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& deviceToken) {
  callWithSelector("registeredForRemoteNotificationsWithDeviceToken:", {deviceToken});
}

void CorvaneSDKOperationQueue::handleActionWithIdentifier(const std::string& identifier, const Value& userInfo) {
  callWithSelector("handleActionWithIdentifier:forRemoteNotification:", {identifier, userInfo});
}

void CorvaneSDKOperationQueue::continueUserActivity(const Value& activity) {
  callWithSelector("continueUserActivity:", {activity});
}

void CorvaneSDKOperationQueue::openURL(const std::string& url, const Value& options) {
  callWithSelector("openURL:options:", {url, options});
}

void CorvaneSDKOperationQueue::flush() { callWithSelector("flush"); }
void CorvaneSDKOperationQueue::pause() { callWithSelector("pause"); }
void CorvaneSDKOperationQueue::resume() { callWithSelector("resume"); }

void CorvaneSDKOperationQueue::reset() {
  resetUserId();
  callWithSelector("reset");
  // On the serial queue, so it follows every earlier call; it does not wait for the engine.
  auto storage = fileStorage_;
  dispatchOn(*serialQueue_, [storage] { storage->resetAll(); }, false);
}

void CorvaneSDKOperationQueue::handleAppStateNotification(const std::string& name) {
  CorvaneSDKLog::debug("Application state change notification: " + validUtf8(name));
  const auto& table = appStateTable();
  auto it = table.find(name);
  if (it == table.end()) return;
  callWithSelector(it->second);
}

void CorvaneSDKOperationQueue::callWithSelector(const std::string& selector, CorvaneSDKOperationArguments arguments,
                                                Value options) {
  if (!options.is_object()) options = Value::object();
  auto self = shared_from_this();
  auto call = std::make_shared<PendingCall>(PendingCall{selector, std::move(arguments), std::move(options)});
  dispatchOn(
      *serialQueue_,
      [self, call] {
        if (!self->initialized_) {
          self->queueSelector(std::move(*call));
          return;
        }
        // Behind whatever still waits, so the order of calls is the order of arrival.
        self->messageQueue_.push_back(std::move(*call));
        self->flushMessageQueue();
      },
      false);
}

std::vector<std::string> CorvaneSDKOperationQueue::operationNames() {
  std::vector<std::string> names;
  for (const auto& entry : operationTable()) names.push_back(entry.first);
  return names;
}

void CorvaneSDKOperationQueue::queueSelector(PendingCall call) {
  CorvaneSDKLog::debug("Queueing: " + call.selector);
  messageQueue_.push_back(std::move(call));
  pendingCount_ = messageQueue_.size();
}

void CorvaneSDKOperationQueue::flushMessageQueue() {
  // A call that arrives inline while an earlier one is being forwarded (host code run by the
  // engine on this queue) joins the list; the outer loop forwards it in its turn.
  if (draining_) return;
  draining_ = true;
  while (!messageQueue_.empty()) {
    PendingCall call = std::move(messageQueue_.front());
    messageQueue_.pop_front();
    pendingCount_ = messageQueue_.size();
    forwardSelector(call);
  }
  draining_ = false;
}

void CorvaneSDKOperationQueue::forwardSelector(const PendingCall& call) {
  if (CorvaneSDKLog::isDebug()) {
    CorvaneSDKLog::debug("Running: " + call.selector + " with arguments " + describeArguments(call.arguments) +
                         " on integration: " + kIntegrationKey);
  }
  const auto& table = operationTable();
  auto it = table.find(call.selector);
  if (it == table.end()) {
    CorvaneSDKLog::debug("Integration " + std::string(kIntegrationKey) + " has no operation " + call.selector);
    return;
  }
  if (!integration_) return;
  try {
    if (!it->second(*integration_, call.arguments)) {
      CorvaneSDKLog::debug("Integration operation " + call.selector + " does not take the arguments " +
                           describeArguments(call.arguments));
    }
  } catch (...) {
    CorvaneSDKLog::debug("Integration operation " + call.selector + " failed");
  }
}

size_t CorvaneSDKOperationQueue::pendingMessageCount() { return pendingCount_.load(); }

std::string CorvaneSDKOperationQueue::getUserId() {
  std::lock_guard<std::mutex> lock(userIdMutex_);
  return cachedUserId_;
}

std::string CorvaneSDKOperationQueue::loadUserId(bool reset) {
  auto stored = userDefaultsStorage_->stringForKey(kUserIdKey);
  if (!reset && stored && !stored->empty()) return *stored;
  std::string id = generateUserId();
  userDefaultsStorage_->setString(id, kUserIdKey);
  return id;
}

void CorvaneSDKOperationQueue::resetUserId() {
  const std::string id = loadUserId(true);
  std::lock_guard<std::mutex> lock(userIdMutex_);
  cachedUserId_ = id;
}

std::string CorvaneSDKOperationQueue::generateUserId() { return CorvaneSDKUtils::createUUIDString(); }

bool CorvaneSDKOperationQueue::getGdprForgetMe() { return userDefaultsStorage_->boolForKey(kGdprForgetMeKey); }
void CorvaneSDKOperationQueue::setGdprForgetMe(bool value) { userDefaultsStorage_->setBool(value, kGdprForgetMeKey); }
bool CorvaneSDKOperationQueue::getDisableThirdPartySharing() {
  return userDefaultsStorage_->boolForKey(kDisableThirdPartySharingKey);
}
void CorvaneSDKOperationQueue::setDisableThirdPartySharing(bool value) {
  userDefaultsStorage_->setBool(value, kDisableThirdPartySharingKey);
}
bool CorvaneSDKOperationQueue::getDisableThirdPartySharingCoppa() {
  return userDefaultsStorage_->boolForKey(kDisableThirdPartySharingCoppaKey);
}
void CorvaneSDKOperationQueue::setDisableThirdPartySharingCoppa(bool value) {
  userDefaultsStorage_->setBool(value, kDisableThirdPartySharingCoppaKey);
}

std::optional<Value> CorvaneSDKOperationQueue::readMap(const char* key) {
  auto value = fileStorage_->jsonForKey(key);
  if (value && !value->is_object()) {
    CorvaneSDKLog::debug(std::string("Stored value ") + key + " is not a map; ignoring it");
    return std::nullopt;
  }
  return value;
}

void CorvaneSDKOperationQueue::writeMap(const std::optional<Value>& map, const char* key) {
  if (!map) {
    fileStorage_->removeKey(key);
    return;
  }
  if (!map->is_object()) {
    CorvaneSDKLog::debug(std::string("Not storing ") + key + ": the value is not a map");
    return;
  }
  fileStorage_->setJSON(*map, key);
}

std::optional<Value> CorvaneSDKOperationQueue::getRemoteConfig() { return readMap(kRemoteConfigKey); }
void CorvaneSDKOperationQueue::setRemoteConfig(const std::optional<Value>& map) { writeMap(map, kRemoteConfigKey); }
std::optional<Value> CorvaneSDKOperationQueue::getSdkConfig() { return readMap(kSdkConfigKey); }
void CorvaneSDKOperationQueue::setSdkConfig(const std::optional<Value>& map) { writeMap(map, kSdkConfigKey); }
std::optional<Value> CorvaneSDKOperationQueue::getSkanConversionContext() { return readMap(kSkanConversionContextKey); }
void CorvaneSDKOperationQueue::setSkanConversionContext(const std::optional<Value>& map) {
  writeMap(map, kSkanConversionContextKey);
}
std::optional<Value> CorvaneSDKOperationQueue::getSkanConversionSchema() { return readMap(kSkanConversionSchemaKey); }
void CorvaneSDKOperationQueue::setSkanConversionSchema(const std::optional<Value>& map) {
  writeMap(map, kSkanConversionSchemaKey);
}
std::optional<Value> CorvaneSDKOperationQueue::getExchangeRates() { return readMap(kExchangeRatesKey); }
void CorvaneSDKOperationQueue::setExchangeRates(const std::optional<Value>& map) { writeMap(map, kExchangeRatesKey); }
std::optional<Value> CorvaneSDKOperationQueue::getCryptoExchangeRates() { return readMap(kCryptoExchangeRatesKey); }
void CorvaneSDKOperationQueue::setCryptoExchangeRates(const std::optional<Value>& map) {
  writeMap(map, kCryptoExchangeRatesKey);
}

namespace {
std::optional<std::string> readText(CorvaneSDKFileStorage& storage, const char* key) {
  auto text = storage.stringForKey(key);
  if (text && text->empty()) return std::nullopt;
  return text;
}
void writeText(CorvaneSDKFileStorage& storage, const std::optional<std::string>& text, const char* key) {
  if (!text || text->empty()) {
    storage.removeKey(key);
  } else {
    storage.setString(*text, key);
  }
}
}  // namespace

std::optional<std::string> CorvaneSDKOperationQueue::getRemoteConfigPath() {
  return readText(*fileStorage_, kRemoteConfigPathKey);
}
void CorvaneSDKOperationQueue::setRemoteConfigPath(const std::optional<std::string>& path) {
  writeText(*fileStorage_, path, kRemoteConfigPathKey);
}
std::optional<std::string> CorvaneSDKOperationQueue::getConfigCurrency() {
  return readText(*fileStorage_, kConfigCurrencyKey);
}
void CorvaneSDKOperationQueue::setConfigCurrency(const std::optional<std::string>& currency) {
  writeText(*fileStorage_, currency, kConfigCurrencyKey);
}

uint64_t CorvaneSDKOperationQueue::getExchangeRateTimestamp() {
  return fileStorage_->unsignedLongLongForKey(kExchangeRateTimestampKey);
}
void CorvaneSDKOperationQueue::setExchangeRateTimestamp(uint64_t timestamp) {
  fileStorage_->setUnsignedLongLong(timestamp, kExchangeRateTimestampKey);
}
uint64_t CorvaneSDKOperationQueue::getCryptoExchangeRateTimestamp() {
  return fileStorage_->unsignedLongLongForKey(kCryptoExchangeRateTimestampKey);
}
void CorvaneSDKOperationQueue::setCryptoExchangeRateTimestamp(uint64_t timestamp) {
  fileStorage_->setUnsignedLongLong(timestamp, kCryptoExchangeRateTimestampKey);
}

uint64_t CorvaneSDKOperationQueue::getQueueSize() {
  return integration_ ? static_cast<uint64_t>(integration_->getQueueSize()) : 0;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
