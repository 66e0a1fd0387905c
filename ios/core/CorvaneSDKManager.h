// The mobile facade. A host initialises it once, starts and stops tracking, logs events (the
// log family and the typed methods) and registers callbacks. It owns and coordinates: the
// session and open event, the initialisation actions, the SDK config with rates, the delegate
// lists, the SKAdNetwork context and the operation queue with the delivery engine are each
// their own object; the manager holds the flags and the identity.
//
// Threads: thread-safe. Host calls come from any thread; notifications, initialisation actions
// and config retries run on the main queue; the engine calls the host interface from its
// serial queue. `mutex_` guards the flags and identity fields below; it is never held while
// another object, a middleware or a host callback runs. The open-event lock is the session's.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKDelegates.h"
#include "CorvaneSDKIntegrationHost.h"
#include "CorvaneSDKServerConfig.h"
#include "CorvaneSDKSession.h"
#include "ModuleClasses.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKEvent;
class CorvaneSDKLogOperation;
class CorvaneSDKOperationQueue;
class CorvaneSDKMiddlewareRunner;
class CorvaneSDKHTTPClient;
class CorvaneSDKInitializationSequence;
class CorvaneSDKSkanConversionContextImpl;
class CorvaneSDKOperation;
class MainQueue;
class CorvaneSDKTrackingAuthorization;
class CorvaneSDKAttributionToken;
class CorvaneSDKStoreKitCapturer;
class CorvaneSDKManagerAppDelegate;

constexpr int kCorvaneSDKEventFlagForceDisable = 2;
constexpr int kCorvaneSDKEventFlagOpenSubEvent = 4;
constexpr int kCorvaneSDKEventFlagBeforeStart = 8;

// The three endpoints' defaults (the configuration's `host` and `configUrl` replace the first two).
extern const char* const kCorvaneSDKDefaultHost;
extern const char* const kCorvaneSDKDefaultConfigUrl;
extern const char* const kCorvaneSDKDefaultRemoteConfigUrl;
// Platform notification names the manager observes.
extern const char* const kApplicationWillEnterForegroundNotification;
extern const char* const kApplicationDidEnterBackgroundNotification;
extern const char* const kApplicationDidBecomeActiveNotification;
extern const char* const kApplicationWillTerminateNotification;
extern const char* const kApplicationDidFinishLaunchingNotification;

class CorvaneSDKManager : public CorvaneSDKIntegrationHost, public std::enable_shared_from_this<CorvaneSDKManager> {
 public:
  // ---- class level ----
  // Creates the one instance from `configuration` unless one exists, then initialises it
  // (nothing when it already is). `completion` runs on the main queue once initialised.
  static std::shared_ptr<CorvaneSDKManager> initialize(std::shared_ptr<CorvaneSDKConfiguration> configuration,
                                                       std::function<void()> completion = nullptr);
  static std::shared_ptr<CorvaneSDKConfiguration> createConfigurationFromJson(const std::string& text);
  static std::shared_ptr<CorvaneSDKManager> sharedInstance();
  // Stops and forgets the instance; a later initialize makes a new one.
  static void shutdown();
  static std::string version();
  static void debug(bool on);
  static void setupClasses();
  static std::map<std::string, std::string> getModuleClassNameMap();
  static void addModuleClassNameMap(const std::string& name, const std::string& className);
  static std::string resolveModuleClassName(const std::string& name);
  // Before initialisation these are kept and applied by it.
  static void setLaunchOptions(const Value& options);
  static void setUserActivity(const Value& activity);
  static bool openURL(const std::string& url);
  static void setDeviceToken(const std::vector<uint8_t>& token);
  static void setDeviceTokenString(const std::string& hex);
  static bool logEventStatic(const CorvaneSDKEvent& event);
  static void addLifecycleDelegate(const std::shared_ptr<CorvaneSDKLifecycleDelegate>& d);
  static void removeLifecycleDelegate(const std::shared_ptr<CorvaneSDKLifecycleDelegate>& d);
  static void addSendEventDelegate(const std::shared_ptr<CorvaneSDKSendEventDelegate>& d);
  static void removeSendEventDelegate(const std::shared_ptr<CorvaneSDKSendEventDelegate>& d);
  static void addDeepLinkDelegate(const std::shared_ptr<CorvaneSDKDeepLinkDelegate>& d);
  static void removeDeepLinkDelegate(const std::shared_ptr<CorvaneSDKDeepLinkDelegate>& d);
  static void addDeviceTokenDelegate(const std::shared_ptr<CorvaneSDKDeviceTokenDelegate>& d);
  static void removeDeviceTokenDelegate(const std::shared_ptr<CorvaneSDKDeviceTokenDelegate>& d);

  ~CorvaneSDKManager() override;

  // ---- the engine's view ----
  bool checkReady() override;
  void onSendEvent(const Value& event) override;
  void onFinishFlush() override;
  std::string getUserId() override;
  std::string getSessionId() override;
  std::string getHost() override;
  std::string getCredential() override;

  // ---- instance ----
  void initialize(std::function<void()> completion = nullptr);
  void start();
  void stop();
  void setOffline(bool offline);
  void flush();
  void reset();
  std::string getConfigUrl();
  int64_t getStoreType();
  std::string getAppId();
  std::string getConfigId();
  void setConfigId(const std::string& configId);
  std::string getCustomUserId();
  void setCustomUserId(const std::string& id);
  std::optional<std::string> getThirdPartyId(const std::string& name);
  bool isInitialized();
  bool hasStarted();
  bool isForceDisabled();
  bool isIntegrationActive();
  uint64_t getQueueSize();
  std::string getDeepLinkURL();

  // Lifecycle, from the platform's notifications (public for hosts without them).
  void applicationWillEnterForeground();
  void applicationDidEnterBackground();
  void applicationDidBecomeActive();

  bool openURLInternal(const std::string& url, bool resetUserActivity);
  void setDeviceTokenInternal(const std::string& hex);
  void fetchRemoteConfig(std::function<void(const std::string&)> done);

  // The log family: false when the event was not accepted.
  bool log(const std::string& name, int flag = 0);
  bool log(const std::string& name, int64_t intValue, int flag = 0);
  bool log(const std::string& name, const std::string& stringValue, int flag = 0);
  bool logMap(const std::string& name, const Value& mapValue, int flag = 0);
  bool logJson(const std::string& name, const Value& jsonValue, int flag = 0);
  bool logEvent(const CorvaneSDKEvent& event);
  bool logInternal(const CorvaneSDKEvent& event);

  // Typed events (the shared catalogue's names; payloads from the event builder).
  bool logAdLoad(const std::string& adUnit, int64_t placementType, std::optional<int64_t> placement = std::nullopt);
  bool logAdClose(const std::string& adUnit, int64_t placementType, std::optional<int64_t> placement = std::nullopt);
  bool logAdClick(const std::string& adUnit, int64_t placementType, std::optional<int64_t> placement = std::nullopt);
  bool logAdImpression(const std::string& adUnit, int64_t placementType,
                       std::optional<int64_t> placement = std::nullopt);
  bool logAdRevenue(const std::string& source, double revenue, const std::string& currency,
                    const std::string& network = std::string(), const Value& networkData = Value());
  bool logLevelStart(int64_t level, const std::string& label = std::string());
  bool logLevelEnd(int64_t level, const std::string& label, bool success);
  bool logBootStart();
  bool logBootEnd();
  bool logIAPInitialization(bool success);
  bool logIAPRestorePurchase();
  bool logPurchase(const std::string& pack, double price, int64_t amount, const std::string& currency, bool success);
  bool logIAPReceipt(const std::string& pack, double price, int64_t amount, const std::string& currency,
                     const std::string& transactionId, const std::string& receipt);
  bool logUpdateApp(const std::string& currentVersion, const std::string& newVersion);
  bool logRateApp();
  bool logLocation(double latitude, double longitude);
  bool logSoundMode(const std::string& soundMode);
  bool logTrackingAuthorizationStatus(int64_t status);
  bool logAccountLink(const std::string& id, const std::string& type, const std::string& scopeId = std::string(),
                      const std::string& scopeType = std::string());
  bool logAccountUnlink(const std::string& id, const std::string& type);
  bool setUserInfo(const std::string& key, const Value& value);
  bool addUserInfo(const std::string& key, const Value& value);
  bool removeUserInfo(const std::string& key, const Value& value);
  bool logWalletLink(const std::string& wallet, const std::string& type = std::string());
  bool logWalletUnlink(const std::string& wallet, const std::string& type = std::string());
  bool logCryptoPayment(const std::string& pack, double price, int64_t amount, const std::string& currency,
                        const std::string& chain);
  bool logAppleAttribution(const std::string& token);
  bool logPushToken(const std::string& token);
  bool setThirdPartySharing(bool enable);
  bool gdprForgetMe();

  // Collaborators (tests and the host tool).
  std::shared_ptr<CorvaneSDKOperationQueue> operationQueue() const { return operationQueue_; }
  std::shared_ptr<CorvaneSDKServerConfig> serverConfig() const { return serverConfig_; }
  std::shared_ptr<CorvaneSDKSkanConversionContextImpl> skanContext() const { return skanContext_; }
  CorvaneSDKDelegates& delegates() { return delegates_; }
  std::shared_ptr<CorvaneSDKTrackingAuthorization> trackingAuthorization() const { return tracking_; }
  std::shared_ptr<CorvaneSDKStoreKitCapturer> storeKitCapturer() const { return capturer_; }
  bool logIAPReceiptAppStoreServer(const std::string& transactionId);
  double standardRevenue(double amount, const std::string& currency) const;
  // A configured module by its configured or its class name; null when it was not loaded.
  std::shared_ptr<PlatformModule> getModule(const std::string& name);

 private:
  using Session = CorvaneSDKSessionT<CorvaneSDKLogOperation>;
  explicit CorvaneSDKManager(std::shared_ptr<CorvaneSDKConfiguration> configuration);
  void construct(CorvaneSDKPendingItems::Taken pending);
  // Tracking, the attribution token, purchase capture and the delegate hook.
  void setupAttribution();
  void applySdkConfig();
  void loadModules();
  void onSdkConfigDone();
  void onInitialized();
  void registerNotifications();
  void runInitializationAction(int64_t type, const Value& data, std::function<void()> done);
  void generateSessionId();
  void logOpen();
  void deliver(Session::Release release);
  void logDeepLink(const std::string& url);
  std::shared_ptr<CorvaneSDKLogOperation> buildOperation(const CorvaneSDKEvent& event);
  void runOperation(int64_t type, std::shared_ptr<CorvaneSDKOperation> operation);
  void forwardLaunchItems(const std::optional<Value>& launchOptions, const std::optional<Value>& activity);
  void recordForSkan(const CorvaneSDKEvent& event);
  void toSkan(std::function<void(CorvaneSDKSkanConversionContextImpl&)> record);
  uint64_t approximateQueueSize();
  void updateIntegrationStatus(bool immediate);
  bool logTyped(const std::string& name, const Value& payload, int flag = 0);

  const std::shared_ptr<CorvaneSDKConfiguration> configuration_;
  std::shared_ptr<MainQueue> main_;
  Session session_;
  CorvaneSDKDelegates delegates_;
  std::shared_ptr<CorvaneSDKHTTPClient> httpClient_;
  std::shared_ptr<CorvaneSDKOperationQueue> operationQueue_;
  std::shared_ptr<CorvaneSDKMiddlewareRunner> runner_;
  std::shared_ptr<CorvaneSDKServerConfig> serverConfig_;
  std::shared_ptr<CorvaneSDKInitializationSequence> sequence_;
  std::shared_ptr<CorvaneSDKSkanConversionContextImpl> skanContext_;
  std::vector<int> observerTokens_;  // guarded by mutex_
  std::atomic<uint64_t> cachedQueueSize_{0};
  std::atomic<bool> queueSizeRefreshing_{false};
  std::shared_ptr<CorvaneSDKTrackingAuthorization> tracking_;
  std::shared_ptr<CorvaneSDKAttributionToken> attributionToken_;
  std::shared_ptr<CorvaneSDKStoreKitCapturer> capturer_;
  std::shared_ptr<CorvaneSDKManagerAppDelegate> appDelegate_;

  std::mutex mutex_;
  // Guarded by mutex_.
  bool isInitialized_ = false;
  bool isInitializing_ = false;
  bool hasStarted_ = false;
  bool autoStart_ = true;
  bool offline_ = false;
  bool sendInBackground_ = true;
  bool isInForeground_ = true;
  bool integrationActive_ = true;
  bool forceDisabled_ = false;
  bool gdprForgetMe_ = false;
  bool isFirstOpen_ = false;
  std::string appId_;
  std::string credential_;
  std::string host_;
  std::string configUrl_;
  std::string remoteConfigUrl_;
  std::string configId_;
  std::optional<std::string> customUserId_;
  int64_t storeType_ = 0;
  std::map<std::string, std::string> thirdPartyIds_;
  std::optional<std::string> lastURL_;
  std::optional<Value> userActivity_;
  std::optional<std::string> deepLinkURL_;
  uint64_t deepLinkClickTime_ = 0;
  std::optional<std::string> pendingDeepLink_;   // accepted before initialisation
  std::optional<std::string> deviceToken_;
  std::vector<std::function<void()>> completions_;
  std::map<std::string, std::shared_ptr<PlatformModule>> modules_;
  int64_t bootStartMs_ = 0;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
