// The last middleware of the manager's chain and the gate to the delivery engine: each
// operation becomes a call of a named engine function, run on the serial queue
// "com.corvane.sdk"; calls made before `initialize` wait in a message queue and are replayed in
// order first. It also owns the two storages and the stored values the manager keeps.
//
// Stored values (the one list of keys; every accessor below reads or writes exactly these):
//   user-defaults storage (survives reset):
//     "corvane.sdk.userId"                         string, the user id (a UUID)
//     "corvane.sdk.gdprForgetMe"                   bool
//     "corvane.sdk.disableThirdPartySharing"       bool
//     "corvane.sdk.disableThirdPartySharingCoppa"  bool
//   file storage (one file per key; reset deletes them all):
//     "corvane.sdk.queue.plist"                    the engine's event queue (JSON array)
//     "corvane.sdk.remoteConfig"                   JSON map
//     "corvane.sdk.remoteConfigPath"               string
//     "corvane.sdk.sdkConfig"                      JSON map, its hash under "hash"
//     "corvane.sdk.configCurrency"                 string
//     "corvane.sdk.skanConversionContext"          JSON map
//     "corvane.sdk.skanConversionSchema"           JSON map
//     "corvane.sdk.exchangeRates"                  JSON map, currency -> rate
//     "corvane.sdk.exchangeRateTimestamp"          unsigned 64-bit
//     "corvane.sdk.cryptoExchangeRates"            JSON map, currency or token -> rate
//     "corvane.sdk.cryptoExchangeRateTimestamp"    unsigned 64-bit
// A stored map that is not a map reads as none; strings are stored as they are; none (or an
// empty string) removes the key.
//
// Thread contract: thread-safe. `context` runs on the caller's thread and only hands work to the
// serial queue; the message queue is touched only there. No function of this class waits for
// the serial queue, and no lock of it is held while host code (middlewares, notification
// observers) or the engine runs, so host code may call back into the manager from anywhere.
// The stored-value accessors touch only the storages (and a small lock for the cached user id).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "CorvaneSDKMiddleware.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKConfiguration;
class CorvaneSDKFileStorage;
class CorvaneSDKHTTPClient;
class CorvaneSDKLogOperation;
class CorvaneSDKManagerIntegration;
class CorvaneSDKUserDefaultsStorage;
class DispatchQueue;

// Posted (through the notification centre port) when the queue starts forwarding to the engine.
extern const char* const CorvaneSDKIntegrationDidStart;  // "com.corvane.sdk.integration.did.start"
// The two platform notifications the queue hands to the engine; others are ignored.
extern const char* const CorvaneSDKApplicationDidEnterBackgroundNotification;
extern const char* const CorvaneSDKApplicationWillTerminateNotification;

// One argument of a forwarded call.
using CorvaneSDKOperationArgument =
    std::variant<Value, std::string, std::vector<uint8_t>, std::shared_ptr<const CorvaneSDKLogOperation>>;
using CorvaneSDKOperationArguments = std::vector<CorvaneSDKOperationArgument>;

class CorvaneSDKOperationQueue : public CorvaneSDKMiddleware,
                                 public std::enable_shared_from_this<CorvaneSDKOperationQueue> {
 public:
  // `init:configuration:httpClient:`: makes the serial queue, both storages (with the
  // configuration's crypto), the cached user id and the engine; not yet initialized. A null
  // configuration counts as the default one.
  static std::shared_ptr<CorvaneSDKOperationQueue> create(std::weak_ptr<CorvaneSDKIntegrationHost> manager,
                                                          std::shared_ptr<const CorvaneSDKConfiguration> configuration,
                                                          std::shared_ptr<CorvaneSDKHTTPClient> httpClient);
  ~CorvaneSDKOperationQueue() override;

  // Once: from now on calls go to the engine. Posts CorvaneSDKIntegrationDidStart on this
  // thread and replays the message queue on the serial queue before any later call.
  void initialize();
  bool isInitialized() const { return initialized_.load(); }

  // The manager's runner: the app's middlewares in order, then this queue, always last (an
  // app list that holds this queue already has it taken out).
  std::shared_ptr<CorvaneSDKMiddlewareRunner> makeRunner(const CorvaneSDKMiddlewareList& appMiddlewares);

  // The middleware operation: hands the context's operation to the serial queue by type, then
  // calls next with the same context.
  void context(std::shared_ptr<CorvaneSDKContext> context, CorvaneSDKMiddlewareNext next) override;

  // Forwarded calls.
  void log(std::shared_ptr<const CorvaneSDKLogOperation> operation);
  void receivedRemoteNotification(const Value& userInfo);
  void failedToRegisterForRemoteNotificationsWithError(const std::string& error);
  void registeredForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>& deviceToken);
  void handleActionWithIdentifier(const std::string& identifier, const Value& userInfo);
  void continueUserActivity(const Value& activity);
  void openURL(const std::string& url, const Value& options);
  void flush();
  void pause();
  void resume();
  // A new user id at once, the engine's reset (queued until initialize) and then, on the
  // serial queue, the file storage emptied.
  void reset();
  // The background and terminate notifications go to the engine; any other name is ignored.
  void handleAppStateNotification(const std::string& name);

  // Runs on the serial queue (inline when already there): queued before `initialize`, else the
  // message queue is replayed and the call forwarded.
  void callWithSelector(const std::string& selector, CorvaneSDKOperationArguments arguments = {},
                        Value options = Value::object());
  // The engine functions that can be called by name, with their argument counts.
  static std::vector<std::string> operationNames();

  // User id: the cached one; the stored one (a new one stored when there is none, or always
  // with `reset`); a fresh UUID.
  std::string getUserId();
  std::string loadUserId(bool reset = false);
  void resetUserId();
  static std::string generateUserId();
  // True when this queue found no stored user id and made the first one.
  bool isFirstOpen() const { return firstOpen_; }

  bool getGdprForgetMe();
  void setGdprForgetMe(bool value);
  bool getDisableThirdPartySharing();
  void setDisableThirdPartySharing(bool value);
  bool getDisableThirdPartySharingCoppa();
  void setDisableThirdPartySharingCoppa(bool value);
  std::optional<Value> getRemoteConfig();
  void setRemoteConfig(const std::optional<Value>& map);
  std::optional<std::string> getRemoteConfigPath();
  void setRemoteConfigPath(const std::optional<std::string>& path);
  std::optional<Value> getSdkConfig();
  void setSdkConfig(const std::optional<Value>& map);
  std::optional<std::string> getConfigCurrency();
  void setConfigCurrency(const std::optional<std::string>& currency);
  std::optional<Value> getSkanConversionContext();
  void setSkanConversionContext(const std::optional<Value>& map);
  std::optional<Value> getSkanConversionSchema();
  void setSkanConversionSchema(const std::optional<Value>& map);
  std::optional<Value> getExchangeRates();
  void setExchangeRates(const std::optional<Value>& map);
  uint64_t getExchangeRateTimestamp();
  void setExchangeRateTimestamp(uint64_t timestamp);
  std::optional<Value> getCryptoExchangeRates();
  void setCryptoExchangeRates(const std::optional<Value>& map);
  uint64_t getCryptoExchangeRateTimestamp();
  void setCryptoExchangeRateTimestamp(uint64_t timestamp);
  // Events the engine holds.
  uint64_t getQueueSize();

  const std::shared_ptr<CorvaneSDKManagerIntegration>& integration() const { return integration_; }
  const std::shared_ptr<CorvaneSDKFileStorage>& fileStorage() const { return fileStorage_; }
  const std::shared_ptr<CorvaneSDKUserDefaultsStorage>& userDefaultsStorage() const { return userDefaultsStorage_; }
  const std::shared_ptr<DispatchQueue>& serialQueue() const { return serialQueue_; }
  // Calls waiting for `initialize` (for diagnostics and tests).
  size_t pendingMessageCount();

 private:
  struct PendingCall {
    std::string selector;
    CorvaneSDKOperationArguments arguments;
    Value options;
  };
  CorvaneSDKOperationQueue() = default;
  void dispatchContext(const CorvaneSDKContext& context);
  void queueSelector(PendingCall call);
  void flushMessageQueue();
  void forwardSelector(const PendingCall& call);
  std::optional<Value> readMap(const char* key);
  void writeMap(const std::optional<Value>& map, const char* key);

  std::weak_ptr<CorvaneSDKIntegrationHost> manager_;
  std::shared_ptr<const CorvaneSDKConfiguration> configuration_;
  std::shared_ptr<CorvaneSDKHTTPClient> httpClient_;
  std::shared_ptr<DispatchQueue> serialQueue_;
  std::shared_ptr<CorvaneSDKUserDefaultsStorage> userDefaultsStorage_;
  std::shared_ptr<CorvaneSDKFileStorage> fileStorage_;
  std::shared_ptr<CorvaneSDKManagerIntegration> integration_;
  std::atomic<bool> initialized_{false};
  std::atomic<bool> initializeCalled_{false};
  std::deque<PendingCall> messageQueue_;  // serial queue only
  bool draining_ = false;                 // serial queue only
  std::atomic<size_t> pendingCount_{0};
  std::mutex userIdMutex_;           // guards cachedUserId_; never held across other calls
  std::string cachedUserId_;
  bool firstOpen_ = false;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
