// The mobile facade. A host initialises it once, starts and stops tracking, logs events (the
// log family and the typed methods) and registers callbacks. It owns and coordinates; each
// concern with state of its own is its own object: the session and open event, the
// initialisation actions, the identity, deep links and the device token, the typed events,
// the SDK config with rates, the attribution parts, the modules, the delivery state, the
// delegate lists, the SKAdNetwork context and the operation queue with the delivery engine.
// The manager holds the run flags (initialised, started, forced off).
//
// Threads: thread-safe. Host calls come from any thread; notifications, initialisation actions
// and config retries run on the main queue; the engine calls the host interface from its
// serial queue. `mutex_` guards the flags below; it is never held while another object, a
// middleware or a host callback runs. The open-event lock is the session's.
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

#include "CorvaneSDKAppStateObserver.h"
#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKDelegates.h"
#include "CorvaneSDKIdentity.h"
#include "CorvaneSDKIntegrationHost.h"
#include "CorvaneSDKModules.h"
#include "CorvaneSDKServerConfig.h"
#include "CorvaneSDKSession.h"  // the exported session and open-event constants
#include "CorvaneSDKTypedEventAPI.h"
#include "CorvaneSDKTypedEvents.h"
#include "ModuleClasses.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKEvent;
class CorvaneSDKLogOperation;
class CorvaneSDKOperationQueue;
class CorvaneSDKSendPath;
class CorvaneSDKDeliveryState;
class CorvaneSDKHTTPClient;
class CorvaneSDKInitializationSequence;
class CorvaneSDKSkanConversionContextImpl;
class CorvaneSDKOperation;
class MainQueue;
class CorvaneSDKTrackingAuthorization;
class CorvaneSDKStoreKitCapturer;
class CorvaneSDKDeepLinks;
class CorvaneSDKManagerAttribution;

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

class CorvaneSDKManager : public CorvaneSDKIntegrationHost,
                          public CorvaneSDKTypedEventAPI,
                          public std::enable_shared_from_this<CorvaneSDKManager> {
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
  static std::map<std::string, std::string> getModuleClassNameMap() { return CorvaneSDKModules::classNameMap(); }
  static void addModuleClassNameMap(const std::string& name, const std::string& className) {
    CorvaneSDKModules::addClassName(name, className);
  }
  static std::string resolveModuleClassName(const std::string& name) { return CorvaneSDKModules::resolve(name); }
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
  std::string getHost() override { return identity_->host(); }
  std::string getCredential() override { return identity_->credential(); }

  // ---- instance ----
  void initialize(std::function<void()> completion = nullptr);
  void start();
  void stop();
  void setOffline(bool offline);
  void flush();
  void reset();
  std::string getConfigUrl() { return identity_->configUrl(); }
  int64_t getStoreType() { return identity_->storeType(); }
  std::string getAppId() { return identity_->appId(); }
  std::string getConfigId() { return identity_->configId(); }
  void setConfigId(const std::string& configId) { identity_->setConfigId(configId); }
  std::string getCustomUserId() { return identity_->customUserId(); }
  void setCustomUserId(const std::string& id) { identity_->setCustomUserId(id); }
  std::optional<std::string> getThirdPartyId(const std::string& name) { return identity_->thirdPartyId(name); }
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

  bool logInternal(const CorvaneSDKEvent& event);
  bool gdprForgetMe();

  // Collaborators (tests and the host tool).
  std::shared_ptr<CorvaneSDKOperationQueue> operationQueue() const { return operationQueue_; }
  std::shared_ptr<CorvaneSDKServerConfig> serverConfig() const { return serverConfig_; }
  std::shared_ptr<CorvaneSDKSkanConversionContextImpl> skanContext() const { return skanContext_; }
  CorvaneSDKDelegates& delegates() { return delegates_; }
  std::shared_ptr<CorvaneSDKTrackingAuthorization> trackingAuthorization() const;
  std::shared_ptr<CorvaneSDKStoreKitCapturer> storeKitCapturer() const;
  double standardRevenue(double amount, const std::string& currency) const;
  // A configured module by its configured or its class name; null when it was not loaded.
  std::shared_ptr<PlatformModule> getModule(const std::string& name) { return modules_.get(name); }

 private:
  explicit CorvaneSDKManager(std::shared_ptr<CorvaneSDKConfiguration> configuration);
  void construct(CorvaneSDKPendingItems::Taken pending);
  void onSdkConfigDone();
  void onInitialized();
  void runInitializationAction(int64_t type, const Value& data, std::function<void()> done);
  void generateSessionId();
  void logOpen();
  void forwardLaunchItems(const std::optional<Value>& launchOptions, const std::optional<Value>& activity);

  const std::shared_ptr<CorvaneSDKConfiguration> configuration_;
  std::shared_ptr<MainQueue> main_;
  CorvaneSDKDelegates delegates_;
  CorvaneSDKModules modules_;
  CorvaneSDKAppStateObserver appState_;
  std::shared_ptr<CorvaneSDKIdentity> identity_;
  std::shared_ptr<CorvaneSDKDeepLinks> deepLinks_;
  std::unique_ptr<CorvaneSDKTypedEvents> typed_;
  std::shared_ptr<CorvaneSDKHTTPClient> httpClient_;
  std::shared_ptr<CorvaneSDKOperationQueue> operationQueue_;
  std::shared_ptr<CorvaneSDKSendPath> sendPath_;
  std::shared_ptr<CorvaneSDKDeliveryState> delivery_;
  std::shared_ptr<CorvaneSDKServerConfig> serverConfig_;
  std::shared_ptr<CorvaneSDKInitializationSequence> sequence_;
  std::shared_ptr<CorvaneSDKSkanConversionContextImpl> skanContext_;
  std::unique_ptr<CorvaneSDKManagerAttribution> attribution_;

  std::mutex mutex_;
  // Guarded by mutex_.
  bool isInitialized_ = false;
  bool isInitializing_ = false;
  bool hasStarted_ = false;
  bool autoStart_ = true;
  bool forceDisabled_ = false;
  bool gdprForgetMe_ = false;
  bool isFirstOpen_ = false;
  std::vector<std::function<void()>> completions_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
