// The manager: the facade the C interface talks to and the owner of every part. It keeps
// the lifecycle transitions (start, stop, pause, resume, offline) and the queue monitor;
// the rest lives in its parts: lifecycle flags, storage, send path, identity and privacy,
// device context, callbacks, deep links, session and open-event hold, SDK configuration,
// remote config, module host and the initialization sequence, all run by one background
// executor. Everything of the system comes from the Env given at construction.
//
// Threads and locks (outermost first): the interface lock (InterfaceState.h) is held by host
// calls and by the initialization steps that change state; the session's open-event lock;
// the lifecycle flags' lock and the parts' own locks, held only for short copies, never
// while calling out; then the queue manager's locks and the event pool lock. Host callbacks run with no internal lock held other than the interface
// lock. Tasks hold a shared_ptr to the manager, so Destroy can never free it under them;
// they see `abandoned_` and stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Callbacks.h"
#include "DeepLinks.h"
#include "DeviceContext.h"
#include "Identity.h"
#include "IdentitySnapshot.h"
#include "InitializationSequence.h"
#include "LifecycleState.h"
#include "ModuleContext.h"
#include "QueueManager.h"
#include "SdkThreads.h"
#include "SendPath.h"
#include "SessionTracker.h"

namespace CorvaneSDK {

class CorvaneSDKModule;
class Env;
class EventSender;
class Executor;
class ModuleHost;
class Properties;
class RemoteConfigFetcher;
class SdkConfiguration;
class SaveStorage;
struct InitializationData;

class CorvaneSDKManager final : public QueueManagerMonitor,
                                public IdentitySource,
                                public ModuleContext,
                                private InitializationHost {
 public:
  static constexpr int64_t kSessionTimeoutMs = SessionTracker::kSessionTimeoutMs;
  static constexpr int64_t kOpenEventHoldMs = SessionTracker::kOpenEventHoldMs;
  static constexpr size_t kMaxHeldEvents = SessionTracker::kMaxHeldEvents;

  // Builds the manager and its parts. `callbacks`, `pendingUrl` and `pendingToken` are what
  // the host set before the manager existed. `env` outlives the manager.
  CorvaneSDKManager(const InitializationData& data, CallbackMaps callbacks,
                    const std::string& pendingUrl, const std::string& pendingToken, Env& env);
  ~CorvaneSDKManager();
  CorvaneSDKManager(const CorvaneSDKManager&) = delete;
  CorvaneSDKManager& operator=(const CorvaneSDKManager&) = delete;

  // ---- lifecycle (host calls hold the interface lock) ----
  void BeginInitialize(const std::shared_ptr<CorvaneSDKManager>& self,
                       CompletionCallback callback, int value);
  bool IsInitialized() const;
  bool IsInitializing() const;
  void Start();
  void Stop();
  void OnPause();
  void OnResume();
  void SetOffline(bool offline);
  // Ends the open event's hold at once, so it and its held events enter the queue now.
  void EndOpenEventHold();
  // Uploads what is queued until the queue is empty or `timeoutMs` has passed; true when
  // empty. Called with no SDK lock held: the upload thread may need the interface lock.
  bool WaitForEmptyQueue(int timeoutMs) { return sendPath_->WaitForEmptyQueue(timeoutMs); }
  // Called by Destroy after the manager left the interface: stops every thread it owns.
  void Teardown();
  bool IsStarted() const;
  bool IsForgotten() const { return identity_.Forgotten(); }
  // False in a child of fork(): the manager was copied, its threads were not.
  bool OwnedByThisProcess() const { return ForkGeneration() == forkGeneration_; }
  // With auto start, events logged before the automatic start are held for it.
  bool HoldsEventsBeforeStart() const { return sendPath_->HoldsEventsBeforeStart(); }

  // ---- events ----
  // The send path; takes ownership of `event` whatever happens to it. A non-zero
  // `loggedAtMs` (Unix ms) keeps the time of an event that waited for the start.
  void SendEvent(EventPtr event, int64_t loggedAtMs = 0) {
    sendPath_->Send(std::move(event), loggedAtMs);
  }
  // Monotonic ms since the boot start (construction or the last MarkBootStart).
  int64_t MsSinceBootStart() const;
  void MarkBootStart();

  // ---- identity and configuration ----
  void SetCustomUserId(const std::string& id) { identity_.SetCustomUserId(id); }
  void SetConfigId(const std::string& id) { identity_.SetConfigId(id); }
  void SetAdvertisingId(const std::string& id) { context_.SetAdvertisingId(id); }
  const std::string& GetAppId() const { return identity_.AppId(); }
  std::string GetUserId() const { return identity_.UserId(); }
  std::string GetSessionId() const { return identity_.SessionId(); }
  std::string GetAppVersion() const { return identity_.App().appVersion; }
  std::string GetHost() const { return host_; }
  std::string GetConfigUrl() const { return configUrl_; }
  int GetStoreType() const { return storeType_; }
  std::string GetSdkConfigText() const;
  std::string GetThirdPartyId(ThirdPartyId which) const { return identity_.ThirdParty(which); }
  IdentitySnapshot Snapshot() const override { return identity_.Snapshot(); }

  // ---- callbacks ----
  CallbackMaps CallbacksSnapshot() const override { return callbacks_.Snapshot(); }
  template <typename F>
  void EditCallbacks(F&& edit) {
    callbacks_.Edit(std::forward<F>(edit));
  }

  // ---- deep links and push token (interface lock held) ----
  void OpenURL(const std::string& url) { links_.Open(url, IsInitialized()); }
  std::string GetDeepLinkUrl() const { return links_.Url(); }
  void SetPushToken(const std::string& token) { links_.SetPushToken(token, IsInitialized()); }
  std::string GetPushToken() const { return links_.PushToken(); }

  // ---- modules ----
  CorvaneSDKModule* GetModule(const std::string& name) const;
  void LogModuleEvent(EventPtr event) override;

  // ---- remote config ----
  // False when a fetch is running or it could not be started.
  bool FetchRemoteConfig(const std::shared_ptr<CorvaneSDKManager>& self,
                         RemoteConfigCallback callback, int value);
  std::string RemoteConfigUrl() const;

  // ---- QueueManagerMonitor (sending thread) ----
  bool CanSend() override;
  void OnEventDispatch(Event* event) override;
  void OnQueueEmpty() override;

  // ---- tests ----
  QueueManager* Queue() { return queue_.get(); }
  Properties* Store();
  bool HasPendingOpenEvent() const { return session_->HasOpenEvent(); }
  size_t HeldEventCount() const { return session_->HeldCount(); }
  const std::string& SavePath() const { return savePath_; }

 private:
  // ---- InitializationHost ----
  bool Abandoned() const override { return abandoned_.load(); }
  bool Post(std::function<void()> task) override;
  std::string FetchSdkConfig() override;
  void ApplySdkConfig(const std::string& response, std::vector<ModuleSpec>& modules,
                      std::vector<std::string>& excluded) override;
  void PrepareAfterConfiguration(const std::vector<ModuleSpec>& modules,
                                 const std::vector<std::string>& excluded) override;
  bool HasModuleActions() const override;
  bool RunModuleActions(Interrupt* cancel) override;
  bool InitializeModules() override;
  void PendingDeepLink(std::string& url, int64_t& timeMs, std::string& token) const override {
    links_.Pending(url, timeMs, token);
  }
  void ReportDeepLink(const std::string& url, int64_t timeMs, const std::string& token) override {
    links_.Report(url, timeMs, token);
  }
  void AutoStart() override;

  void UpdateCoppa();
  // Tells the queue what a change of the lifecycle flags asks for.
  void Apply(LifecycleState::QueueChange change);

  Env& env_;
  // Copied configuration, fixed after construction.
  std::string savePath_, host_, configUrl_;
  int storeType_ = -1;
  bool enableCoppa_ = false;

  Identity identity_;
  DeviceContext context_;
  Callbacks callbacks_;
  DeepLinks links_;
  LifecycleState lifecycle_;

  std::atomic<bool> abandoned_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<int64_t> bootStartMs_{0};
  const unsigned forkGeneration_ = ForkGeneration();

  // Parts, in the order they are built; destroyed in reverse.
  std::unique_ptr<SaveStorage> storage_;  // null: memory only; outlives the queue's file
  std::unique_ptr<SdkConfiguration> sdkConfig_;
  std::unique_ptr<RemoteConfigFetcher> remote_;
  std::unique_ptr<EventSender> sender_;
  std::unique_ptr<QueueManager> queue_;
  std::unique_ptr<SessionTracker> session_;
  std::unique_ptr<ModuleHost> modules_;
  std::unique_ptr<InitializationSequence> init_;
  std::unique_ptr<SendPath> sendPath_;
  std::unique_ptr<Executor> executor_;  // joined at Teardown
};

}  // namespace CorvaneSDK
