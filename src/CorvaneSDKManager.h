// The manager: lifecycle (initialize, start, stop, pause, resume, offline), sessions and the
// open event, the send path every event takes, callbacks, identity, device context,
// persistent properties, SDK configuration, modules, deep links, push token, privacy and
// the remote config fetch.
//
// Threads and locks (outermost first): the interface lock (Interface.h) is held by host
// calls and by the initialization steps that change state; openMutex_ guards the pending
// open event and the held events; stateMutex_ guards identity, context, flags and callback
// maps and is held only for short copies, never while calling out; then the queue manager's
// locks and the event pool lock. Host callbacks run with no internal lock held other than
// the interface lock. Worker threads hold a shared_ptr to the manager, so Destroy can never
// free it under them; they see `abandoned_` and stop.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Clock.h"
#include "InitializationData.h"
#include "Json.h"
#include "PropertiesGetter.h"
#include "QueueManager.h"
#include "SdkThreads.h"
#include "Sender.h"
#include "ThrottledCount.h"

namespace CorvaneSDK {

class CorvaneSDKModule;
class ConfigSender;
class Event;
class EventSender;
class PendingOpenStore;
class Properties;
class SaveFolder;
class RemoteConfigSender;

using LifecycleCallback = void (*)(int);
using TextCallback = void (*)(const char*, int);
using SendEventCallback = void (*)(const char*, const char*, int);
using CompletionCallback = void (*)(int);
using RemoteConfigCallback = void (*)(const char*, int);

struct CallbackMaps {
  std::map<int, LifecycleCallback> start, stop, pause, resume;
  std::map<int, TextCallback> deepLink, pushToken;
  std::map<int, SendEventCallback> sendEvent;
  void Clear() { *this = CallbackMaps(); }
};

enum class ThirdPartyId {
  kFacebook, kInstagram, kApple, kAppleSignInClient, kAppleDeveloperTeam,
  kGooglePlayGameServicesProject, kGooglePlayDeveloperAccount, kLinkedIn, kQQ, kWeChat,
  kTikTok, kSnap, kCount
};

class CorvaneSDKManager final : public QueueManagerMonitor, public PropertiesGetter {
 public:
  static constexpr int64_t kSessionTimeoutMs = 30000;
  static constexpr int64_t kOpenEventHoldMs = 5000;
  static constexpr size_t kMaxHeldEvents = 100;

  // Builds the manager (construction steps in order). `callbacks` are the maps registered
  // before the manager existed; `pendingUrl`/`pendingToken` likewise.
  CorvaneSDKManager(const InitializationData& data, CallbackMaps callbacks,
                    const std::string& pendingUrl, const std::string& pendingToken);
  ~CorvaneSDKManager();
  CorvaneSDKManager(const CorvaneSDKManager&) = delete;
  CorvaneSDKManager& operator=(const CorvaneSDKManager&) = delete;

  // ---- lifecycle (host calls hold the interface lock) ----
  void BeginInitialize(const std::shared_ptr<CorvaneSDKManager>& self,
                       CompletionCallback callback, int value);
  bool IsInitialized() const { return initialized_.load(); }
  bool IsInitializing() const { return initializing_.load(); }
  void Start();
  void Stop();
  void OnPause();
  void OnResume();
  void SetOffline(bool offline);
  // Ends the open event's hold at once, so it and its held events enter the queue now.
  // Interface lock held.
  void EndOpenEventHold();
  // Uploads what is queued until the queue is empty or `timeoutMs` has passed; true when
  // empty. Called with no SDK lock held: the upload thread may need the interface lock.
  bool WaitForEmptyQueue(int timeoutMs);
  // Called by Destroy after the manager left the interface: stops every thread it owns.
  void Teardown();
  bool IsStarted() const;
  bool IsForgotten() const;
  // False in a child of fork(): the manager was copied, its threads were not.
  bool OwnedByThisProcess() const { return ForkGeneration() == forkGeneration_; }
  // With auto start, events logged before the automatic start are held for it.
  bool HoldsEventsBeforeStart() const { return autoStartPending_.load() && !abandoned_.load(); }

  // ---- events ----
  // The send path; takes ownership of `event` whatever happens to it. A non-zero
  // `loggedAtMs` (Unix ms) keeps the time of an event that waited for the start.
  void SendEvent(Event* event, int64_t loggedAtMs = 0);
  int64_t BootStartMs() const { return bootStartMs_.load(); }
  void MarkBootStart() { bootStartMs_ = GetClock().MonotonicMs(); }

  // ---- identity and configuration ----
  void SetCustomUserId(const std::string& id);
  void SetConfigId(const std::string& id);
  void SetAdvertisingId(const std::string& id);
  std::string GetHost() const { return host_; }
  std::string GetConfigUrl() const { return configUrl_; }
  std::string GetSdkConfigText() const;
  std::string GetThirdPartyId(ThirdPartyId which) const;
  std::string GetConfigId() const;
  std::string GetCustomUserId() const;

  // ---- callbacks ----
  CallbackMaps CallbacksSnapshot() const;
  template <typename F>
  void EditCallbacks(F&& edit) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    edit(callbacks_);
  }

  // ---- deep links and push token (interface lock held) ----
  void OpenURL(const std::string& url);
  std::string GetDeepLinkUrl() const;
  void SetPushToken(const std::string& token);
  std::string GetPushToken() const;

  // ---- modules ----
  CorvaneSDKModule* GetModule(const std::string& name) const;
  void AddModuleInitializationAction(CorvaneSDKModule* module, int action,
                                     const std::string& parameters);

  // ---- remote config ----
  // False when a fetch is running or no thread could be started.
  bool FetchRemoteConfig(const std::shared_ptr<CorvaneSDKManager>& self,
                         RemoteConfigCallback callback, int value);
  std::string RemoteConfigUrl() const;

  // ---- QueueManagerMonitor ----
  bool CanSend() override;
  void OnEventDispatch(Event* event) override;
  void OnQueueEmpty() override;

  // ---- PropertiesGetter ----
  std::string GetAppId() const override { return appId_; }
  std::string GetUserId() const override { return userId_; }
  std::string GetSessionId() const override;
  std::string GetBundleId() const override;
  std::string GetAppName() const override;
  std::string GetAppVersion() const override;
  std::string GetAppBuildNumber() const override;
  std::string GetWrapper() const override { return wrapper_; }
  std::string GetWrapperVersion() const override { return wrapperVersion_; }
  std::string GetPlatform() const override { return platform_; }
  std::string GetDeviceManufacturer() const override;
  std::string GetDeviceType() const override;
  std::string GetDeviceModel() const override;
  std::string GetOsName() const override;
  std::string GetOsVersion() const override;
  std::string GetOsBuild() const override;
  std::string GetAbi() const override;
  std::string GetIpAddress() const override;
  std::string GetMacAddress() const override;
  std::string GetLocale() const override;
  std::string GetLanguage() const override;
  std::string GetCountry() const override;
  std::string GetTimeZone() const override;
  std::string GetDeviceId() const override;
  std::string GetAdvertisingId() const override;
  int GetDisplayWidth() const override;
  int GetDisplayHeight() const override;
  int GetStoreType() const override { return storeType_; }

  // ---- tests ----
  QueueManager* Queue() { return queue_.get(); }
  Properties* Store() { return properties_.get(); }
  bool HasPendingOpenEvent() const;
  size_t HeldEventCount() const;
  const std::string& SavePath() const { return savePath_; }

 private:
  struct Context {
    std::string deviceManufacturer, deviceType, deviceModel, osName, osVersion, osBuild, abi,
        ipAddress, macAddress, locale, language, country, timeZone, deviceId, advertisingId;
    int displayWidth = 0, displayHeight = 0;
  };

  void SetupContext();
  void RefreshContext();
  void LoadProperties();
  void RegisterUriSchemes(const std::vector<std::string>& schemes);
  std::string FetchSdkConfig();
  void PostConfiguration(const std::shared_ptr<CorvaneSDKManager>& self, const std::string& response);
  void PostInitialize(const std::shared_ptr<CorvaneSDKManager>& self);
  void ApplySdkConfigResponse(const std::string& response);
  void ApplySdkConfig(const Json& config);
  void CreateModules();
  void RunInitializationActions(const std::shared_ptr<CorvaneSDKManager>& self);
  void Finish();
  void UpdateCoppa();
  void SessionCheck();
  void SendPendingOpenEvent();
  void PersistPendingOpen();
  void DeliverLeftOverOpen();
  Event* BuildOpenEvent(bool firstOpen);
  bool RecomputeSendingEnabled();  // true when it changed
  void SendDeepLinkEvent(bool runCallbacks, const std::string& url, int64_t timeMs);
  void SendPushTokenEvent(bool runCallbacks, const std::string& token);
  void RunLifecycleCallbacks(const std::map<int, LifecycleCallback>& callbacks);
  void RunTextCallbacks(const std::map<int, TextCallback>& callbacks, const std::string& text);
  void DrainCachedEvents();
  void RemoteConfigFetch(RemoteConfigCallback callback, int value);
  TransportSettings Transport() const;

  // Copied configuration (immutable after construction unless noted).
  std::string appId_, appSecret_, savePath_, host_, configUrl_, wrapper_, wrapperVersion_,
      platform_;
  int storeType_ = -1;
  bool enableSave_ = true, disableOnlineSdkConfig_ = false, enableCoppa_ = false,
       customConfigId_ = false, sendInBackground_ = true, registerUriScheme_ = true,
       collectDeviceIdentifiers_ = true;
  bool steamBuild_ = false;
  int steamAppId_ = 0;
  TransportSettings transport_;
  std::vector<ModuleSpec> moduleSpecs_;            // released after initialization
  std::vector<InitializationAction> hostActions_;  // released after initialization
  std::vector<std::string> excludedModules_;

  // Guarded by stateMutex_.
  mutable std::mutex stateMutex_;
  std::string userId_;  // fixed after construction
  std::string sessionId_, configId_, customUserId_, bundleId_, appName_, appVersion_,
      appBuildNumber_;
  std::array<std::string, static_cast<size_t>(ThirdPartyId::kCount)> thirdPartyIds_;
  Context context_;
  CallbackMaps callbacks_;
  bool started_ = false, forgotten_ = false, storedForgetMe_ = false, offline_ = false,
       foreground_ = false, sendingEnabled_ = false, autoStart_ = true, firstRun_ = false;
  bool sharingDisabledByUser_ = false, sharingDisabledCoppa_ = false;
  bool hasLastPause_ = false;
  int64_t lastPauseMs_ = 0;
  std::string deepLinkUrl_, pushToken_;
  int64_t deepLinkTimeMs_ = 0;  // Unix ms
  Json sdkConfig_;              // stored SDK configuration or null
  std::string sdkConfigHash_;

  // Guarded by openMutex_ (recursive: sending the open event re-enters the send path).
  mutable std::recursive_mutex openMutex_;
  Event* openEvent_ = nullptr;
  bool openPending_ = false;
  int64_t openDeadlineMs_ = 0;
  std::vector<Event*> heldEvents_;
  std::unique_ptr<PendingOpenStore> pendingStore_;  // null when enable save is off

  std::atomic<bool> initializing_{false};
  std::atomic<bool> initialized_{false};
  std::atomic<bool> abandoned_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<int64_t> bootStartMs_{0};
  std::atomic<bool> autoStartPending_{false};
  ThrottledCount notStartedDrops_;
  const unsigned forkGeneration_ = ForkGeneration();
  CompletionCallback completion_ = nullptr;
  int completionValue_ = 0;
  Interrupt cancel_;  // ends the initialization waits at Destroy

  std::unique_ptr<SaveFolder> saveFolder_;  // null: memory only; outlives the queue's file
  std::unique_ptr<Properties> properties_;
  std::unique_ptr<EventSender> sender_;
  std::unique_ptr<QueueManager> queue_;
  std::vector<CorvaneSDKModule*> modules_;  // owned; deleted with the manager
  struct ModuleAction {
    CorvaneSDKModule* module;
    int action;
    std::string parameters;
  };
  std::vector<ModuleAction> moduleActions_;
  std::mutex configSenderMutex_;
  ConfigSender* configSender_ = nullptr;  // live while the SDK config request runs

  // Remote config.
  mutable std::mutex remoteMutex_;  // the remote config lock: held for a whole fetch
  std::mutex fetchStateMutex_;
  std::condition_variable fetchDone_;
  bool fetching_ = false;
  // While a fetch's callback runs, "fetching" stays set (Destroy waits for it); a request made
  // meanwhile starts the next fetch at once, which then owns "fetching".
  bool answering_ = false;
  bool nextFetchStarted_ = false;
  RemoteConfigSender* remoteSender_ = nullptr;  // live while a fetch runs; fetchStateMutex_
  Json remoteConfig_;
  std::string remoteConfigPath_;
};

}  // namespace CorvaneSDK
