// The manager: construction of the parts, the lifecycle, the send path, the queue monitor,
// deep links and the push token.
#include "CorvaneSDKManager.h"

#include <algorithm>

#include "CorvaneSDKModule.h"
#include "Crypto.h"
#include "Event.h"
#include "EventSender.h"
#include "Executor.h"
#include "InterfaceState.h"
#include "Logger.h"
#include "ModuleHost.h"
#include "PendingOpenStore.h"
#include "Properties.h"
#include "Random.h"
#include "RemoteConfigFetcher.h"
#include "SaveFolder.h"
#include "SdkConfiguration.h"
#include "StoreType.h"
#include "UriScheme.h"
#include "Utils.h"

namespace CorvaneSDK {
namespace {
// The log level applies before anything of the construction logs.
const InitializationData& WithLogLevel(const InitializationData& data) {
  Logger::SetLevel(data.logLevel);
  return data;
}
// How long Destroy waits for the background task running at that moment.
constexpr int64_t kExecutorJoinMs = 3000;
}  // namespace

CorvaneSDKManager::CorvaneSDKManager(const InitializationData& data, CallbackMaps callbacks,
                                     const std::string& pendingUrl,
                                     const std::string& pendingToken)
    : identity_(WithLogLevel(data), Utils::PlatformName()),
      // A child-directed app never sends identifiers that single out the machine.
      context_(data.collectDeviceIdentifiers && !data.enableCoppa),
      callbacks_(std::move(callbacks)),
      links_([this](Event* e) { SendEvent(e); }, callbacks_, pendingUrl, pendingToken) {
  // 1. Copy the configuration: the host may destroy the record once Initialize returns.
  host_ = data.host.empty() ? kDefaultEventHost : data.host;
  configUrl_ = data.configUrl.empty() ? kDefaultConfigUrl : data.configUrl;
  storeType_ = data.storeType;
  offline_ = data.offline;
  sendInBackground_ = data.sendInBackground;
  autoStart_ = data.autoStart;
  autoStartPending_ = data.autoStart;
  enableSave_ = data.enableSave;
  enableCoppa_ = data.enableCoppa;
  steamAppId_ = data.steamAppId;
  steamBuild_ = data.steamBuild && data.steamAppId != 0;
  TransportSettings transport;
  transport.proxy = data.sendProxy;
  transport.proxyCa = data.sendProxyCertificateAuthority;
  transport.ca = data.sendCertificateAuthority;
  transport.sslVerify = data.sendSslVerify;
  bootStartMs_ = GetClock().MonotonicMs();

  // 2. Device context (read by its constructor).
  context_.Log(identity_.Platform(), identity_.Wrapper(), identity_.WrapperVersion());
  if (steamBuild_) CORVANE_LOG_DEBUG("Steam App Id: " << steamAppId_);

  // 3. Persistent properties, user id, URI schemes, stored configurations, privacy flags.
  // The default folder is scoped by app id; a folder that cannot be trusted makes the run
  // memory-only, as with enable save off.
  sdkConfig_.reset(new SdkConfiguration(data.appId, data.appSecret, configUrl_, transport));
  savePath_ = data.savePath;
  if (enableSave_) {
    saveFolder_ = SaveFolder::Open(data.savePath, identity_.AppId());
    if (!saveFolder_) enableSave_ = false;
  }
  bool firstRun = false;
  if (enableSave_) {
    savePath_ = saveFolder_->Path();
    properties_.reset(new Properties(savePath_, SaveFolder::kPropertiesFileName));
    properties_->Open();
    firstRun = LoadProperties();
    if (data.registerUriScheme && !properties_->GetBool("registerUriFlag")) {
      RegisterUriSchemes(data.uriSchemes);
    }
  } else {
    identity_.SetUserId(NewUuid());
  }
  remote_.reset(new RemoteConfigFetcher(configUrl_, transport, *this, properties_.get()));
  remote_->Load();

  // 4. The uploader, the background executor and the queue manager (it loads its file
  // when initialization starts it).
  sender_.reset(new EventSender(host_, data.maxRetries, data.initialRetryInterval,
                                Base64Encode(data.appId + ":" + data.appSecret), *this));
  sender_->ApplyTransport(transport);
  executor_.reset(new Executor("SDK background"));
  QueueSettings settings;
  settings.flushQueueSize = data.flushQueueSize;
  settings.flushSendSize = data.flushSendSize;
  settings.queueCheckInterval = data.queueCheckInterval;
  settings.sendDelay = data.sendDelay;
  settings.syncInterval = data.queueSyncInterval;
  queue_.reset(new QueueManager(settings, this, sender_.get(), enableSave_ ? savePath_ : "",
                                saveFolder_ ? saveFolder_->QueueFileName() : ""));
  queue_->SetExecutor(executor_.get());

  // 5. Sessions. Only the folder's owner keeps the held open event on disk, so another
  // instance never delivers the owner's (or the owner its) as a left-over.
  std::unique_ptr<PendingOpenStore> store;
  if (enableSave_ && saveFolder_->Exclusive()) store.reset(new PendingOpenStore(savePath_));
  Json openExtras = Json::object();
  if (steamBuild_) openExtras["steam_app_id"] = steamAppId_;
  openExtras["store_type"] = StoreTypeLabel(storeType_);
  session_.reset(new SessionTracker(identity_, context_, [this](Event* e) { SendEvent(e); },
                                    std::move(openExtras), std::move(store)));
  session_->SetFirstRun(firstRun);

  // 6. Modules and the initialization sequence.
  modules_.reset(new ModuleHost(static_cast<const void*>(this)));
  init_.reset(new InitializationSequence(*this, data));
  sendingEnabled_ = !offline_ && (foreground_ || sendInBackground_);
}

CorvaneSDKManager::~CorvaneSDKManager() {
  Teardown();
  modules_->DeleteAll();
}

// Returns whether this is the folder's first run.
bool CorvaneSDKManager::LoadProperties() {
  bool firstRun = false;
  // Decided under the file's lock: two instances starting on a fresh folder share one id.
  if (properties_->GetString("userId").empty()) {
    firstRun = properties_->SetStringIfAbsent("userId", NewUuid());
  }
  identity_.SetUserId(properties_->GetString("userId"));
  // The folder's owner, so that a later version can tell whose files these are.
  const std::string recordedApp = properties_->GetString("appId");
  if (recordedApp != identity_.AppId()) {
    if (!recordedApp.empty()) {
      CORVANE_LOG_WARNING("The save folder " << savePath_ << " was used by the app " << recordedApp);
    }
    properties_->SetString("appId", identity_.AppId());
    properties_->Save();
  }
  sdkConfig_->Load(properties_->GetJson("sdkConfig"));
  identity_.LoadPrivacy(properties_->GetBool("gdprForgetMe"),
                        properties_->GetBool("disableThirdPartySharing"),
                        properties_->GetBool("disableThirdPartySharingCoppa"));
  return firstRun;
}

void CorvaneSDKManager::RegisterUriSchemes(const std::vector<std::string>& schemes) {
  if (schemes.empty()) return;
  const std::string exe = Utils::GetExecutablePath();
  CorvaneSDK::RegisterUriSchemes(schemes, exe, steamBuild_ ? steamAppId_ : 0);
  // Set even when a write failed: registration is attempted once per properties file.
  if (properties_) {
    properties_->SetBool("registerUriFlag", true);
    properties_->Save();
  }
}

void CorvaneSDKManager::UpdateCoppa() {
  const Identity::SharingChange change = identity_.ApplyCoppa(enableCoppa_);
  if (!change.stored) return;
  if (properties_) {
    properties_->SetBool("disableThirdPartySharingCoppa", enableCoppa_);
    properties_->Save();
  }
  if (!change.changed) return;
  Event* event = Event::Acquire("qvsdk_third_party_sharing");
  event->value = Json::object({{"enable", change.enabled}});
  event->flags = kEventFlagEarly;
  SendEvent(event);
}

// ---------------------------------------------------------------------------------------
// Initialization steps (see InitializationSequence)

bool CorvaneSDKManager::Post(std::function<void()> task) { return executor_->Post(std::move(task)); }

std::string CorvaneSDKManager::FetchSdkConfig() {
  return sdkConfig_->Fetch(identity_.Platform(), GetAppVersion());
}

void CorvaneSDKManager::ApplySdkConfig(const std::string& response, std::vector<ModuleSpec>& modules,
                                       std::vector<std::string>& excluded) {
  sdkConfig_->ApplyResponse(response, properties_.get(), identity_, modules, excluded);
}

void CorvaneSDKManager::PrepareAfterConfiguration(const std::vector<ModuleSpec>& modules,
                                                  const std::vector<std::string>& excluded) {
  const Utils::AppInfo info = Utils::GetAppInfo();
  identity_.AdoptSystemApp(AppInfo{info.bundleId, info.name, info.version, info.buildNumber});
  const AppInfo app = identity_.App();
  CORVANE_LOG_DEBUG("Bundle Id: " << app.bundleId);
  CORVANE_LOG_DEBUG("App Name: " << app.appName);
  CORVANE_LOG_DEBUG("App Version: " << app.appVersion);
  CORVANE_LOG_DEBUG("App Build Number: " << app.appBuildNumber);
  queue_->Initialize();
  session_->DeliverLeftOver(*queue_);
  if (saveFolder_) saveFolder_->AdoptOrphanQueues(*queue_);
  modules_->Create(modules, excluded);
  RecomputeSendingEnabled();
  UpdateCoppa();
}

bool CorvaneSDKManager::HasModuleActions() const { return modules_->HasActions(); }

bool CorvaneSDKManager::RunModuleActions(Interrupt* cancel) {
  return modules_->RunActions(abandoned_, cancel);
}

bool CorvaneSDKManager::InitializeModules() { return modules_->InitializeAll(abandoned_); }

void CorvaneSDKManager::AutoStart() {
  bool autoStart;
  {
    std::lock_guard<std::mutex> state(stateMutex_);
    autoStart = autoStart_;
  }
  if (autoStart) Start();
  autoStartPending_ = false;
  // Cached events go after the start; without one they wait for the first Start.
  if (IsStarted()) DrainCachedEvents();
}

// ---------------------------------------------------------------------------------------
// Lifecycle

void CorvaneSDKManager::BeginInitialize(const std::shared_ptr<CorvaneSDKManager>& self,
                                        CompletionCallback callback, int value) {
  init_->Begin(self, callback, value);
}

bool CorvaneSDKManager::IsInitialized() const { return init_->Initialized(); }
bool CorvaneSDKManager::IsInitializing() const { return init_->Initializing(); }

void CorvaneSDKManager::MarkBootStart() { bootStartMs_ = GetClock().MonotonicMs(); }

bool CorvaneSDKManager::IsStarted() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return started_;
}

void CorvaneSDKManager::RecomputeSendingEnabled() {
  bool changed, enabled, started;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    enabled = !offline_ && (foreground_ || sendInBackground_);
    changed = enabled != sendingEnabled_;
    sendingEnabled_ = enabled;
    started = started_;
  }
  if (changed && started) enabled ? queue_->Resume() : queue_->Pause();
}

void CorvaneSDKManager::Start() {
  if (!IsInitialized()) return;
  bool enabled;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (started_ || identity_.Forgotten()) return;
    started_ = true;
    enabled = sendingEnabled_;
  }
  if (enabled) queue_->Resume();
  session_->Check();
  Callbacks::RunLifecycle(CallbacksSnapshot().start);
  DrainCachedEvents();
}

void CorvaneSDKManager::Stop() {
  if (!IsInitialized()) return;
  session_->EndHold();
  if (!IsStarted()) return;
  queue_->Pause();
  session_->ClearPause();
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    autoStart_ = false;
    started_ = false;
  }
  Callbacks::RunLifecycle(CallbacksSnapshot().stop);
}

void CorvaneSDKManager::OnPause() {
  if (!IsInitialized()) return;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    foreground_ = false;
  }
  RecomputeSendingEnabled();
  if (identity_.StoredForgetMe() || !IsStarted()) return;
  session_->MarkPause(GetClock().MonotonicMs());
  Callbacks::RunLifecycle(CallbacksSnapshot().pause);
}

void CorvaneSDKManager::OnResume() {
  if (!IsInitialized()) return;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    foreground_ = true;
  }
  RecomputeSendingEnabled();
  if (identity_.StoredForgetMe() || !IsStarted()) return;
  session_->Check();
  Callbacks::RunLifecycle(CallbacksSnapshot().resume);
}

void CorvaneSDKManager::SetOffline(bool offline) {
  if (!IsInitialized()) return;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    offline_ = offline;
  }
  RecomputeSendingEnabled();
}

void CorvaneSDKManager::Teardown() {
  abandoned_ = true;
  init_->Cancel();
  sdkConfig_->Cancel();
  remote_->Stop();
  // Before the executor: a queue command running there may wait for an upload in flight,
  // which the queue's end cancels.
  if (queue_) queue_->Destroy();
  // Tasks not begun are dropped; the one running sees `abandoned_` and ends.
  executor_->Join(kExecutorJoinMs);
  if (properties_) properties_->Save();
  // The next instance, in this process or another, may take the folder at once.
  if (saveFolder_) saveFolder_->Release();
}

void CorvaneSDKManager::EndOpenEventHold() {
  if (!IsInitialized()) return;
  session_->EndHoldIfHolding();
}

bool CorvaneSDKManager::WaitForEmptyQueue(int timeoutMs) {
  if (!queue_) return true;
  const size_t queued = queue_->Count();
  if (queued == 0) return true;
  bool started, enabled;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    started = started_;
    enabled = sendingEnabled_;
  }
  const char* why = nullptr;
  if (!started) {
    why = "the manager is not started (call CorvaneSDKManager_Start)";
  } else if (!enabled) {
    why = "sending is off (offline, or paused with send in background off)";
  } else if (identity_.ConfigId().empty()) {
    why = "the config id is empty (call CorvaneSDKManager_SetConfigId)";
  } else if (InCallback()) {
    // The upload thread itself may be the caller; it cannot wait for itself.
    why = "it was called from inside an SDK callback";
  }
  if (why != nullptr) {
    CORVANE_LOG_WARNING("Flush: " << queued << " events stay queued because " << why);
    return false;
  }
  return queue_->WaitUntilEmpty(timeoutMs, abandoned_);
}

void CorvaneSDKManager::DrainCachedEvents() {
  for (const CachedEvent& cached : TakeCachedEvents()) SendEvent(cached.event, cached.loggedAtMs);
}

// ---------------------------------------------------------------------------------------
// Send path

void CorvaneSDKManager::SendEvent(Event* event, int64_t loggedAtMs) {
  if (event == nullptr) return;
  const bool early = (event->flags & kEventFlagEarly) != 0;
  // Auto start on: the host believes the SDK runs once Initialize returned, so what it logs
  // before the automatic start waits for it, in order and with its own time.
  if (!abandoned_ && autoStartPending_.load() &&
      (event->flags & (kEventFlagEarly | kEventFlagClosing)) == 0 && !IsStarted()) {
    CacheEvent(event, loggedAtMs != 0 ? loggedAtMs : GetClock().WallMs());
    return;
  }
  // Early events (the COPPA sharing event) may come during initialization, once the queue
  // has been started.
  if (abandoned_ || (!IsInitialized() && !(early && IsInitializing() && queue_))) {
    Event::Release(event);
    return;
  }
  Logger::DeferScope deferOpen;
  std::unique_lock<std::recursive_mutex> open = session_->Lock();
  const bool started = IsStarted();
  if (identity_.Forgotten()) {
    Event::Release(event);
    return;
  }
  if ((event->flags & kEventFlagCacheable) != 0 && (session_->Holding() || !started)) {
    if (session_->Hold(event)) return;
  } else if ((event->flags & kEventFlagClosing) != 0) {
    identity_.SetForgotten();
  } else if (!started && !early) {
    Event::Release(event);
    if (const uint64_t dropped = notStartedDrops_.Add()) {
      CORVANE_LOG_WARNING("Dropped " << dropped
                                     << " event(s): tracking has not started; call "
                                        "CorvaneSDKManager_Start first");
    }
    return;
  }
  identity_.Stamp(*event);
  if (loggedAtMs != 0) event->timeInMs = loggedAtMs;
  queue_->AddEvent(event);
}

void CorvaneSDKManager::LogModuleEvent(Event* event) {
  if (!IsInitialized()) {
    Event::Release(event);
    return;
  }
  SendEvent(event);
}

// ---------------------------------------------------------------------------------------
// Queue monitor (sending thread)

bool CorvaneSDKManager::CanSend() {
  if (!IsInitialized() || abandoned_) return false;
  if (stopRequested_.load()) {
    Logger::DeferScope defer;
    std::unique_lock<std::recursive_mutex> lock(InterfaceMutex(), std::try_to_lock);
    if (lock.owns_lock()) {
      stopRequested_ = false;
      if (IsForgotten()) Stop();
    }
  }
  if (!IsStarted() || identity_.ConfigId().empty()) return false;
  return session_->ReadyToSend();
}

void CorvaneSDKManager::OnEventDispatch(Event* event) {
  if (event == nullptr) return;
  const std::string session = identity_.SessionId();
  if (!session.empty()) event->FillSessionIfEmpty(session);
  callbacks_.RunSendEvent(*event);
}

void CorvaneSDKManager::OnQueueEmpty() {
  if (!IsInitialized()) return;
  if (!IsForgotten() || !IsStarted()) return;
  // Never block the sending thread on the interface lock: Destroy holds it while it waits
  // for this thread. Stop now if the lock is free, else on a later cycle.
  Logger::DeferScope defer;
  std::unique_lock<std::recursive_mutex> lock(InterfaceMutex(), std::try_to_lock);
  if (lock.owns_lock()) {
    Stop();
  } else {
    stopRequested_ = true;
  }
}

// ---------------------------------------------------------------------------------------
// Configuration, modules and remote config

std::string CorvaneSDKManager::GetSdkConfigText() const { return sdkConfig_->Text(); }

CorvaneSDKModule* CorvaneSDKManager::GetModule(const std::string& name) const {
  return modules_->Find(name);
}

bool CorvaneSDKManager::FetchRemoteConfig(const std::shared_ptr<CorvaneSDKManager>& self,
                                          RemoteConfigCallback callback, int value) {
  if (abandoned_) return false;
  return remote_->Fetch(*executor_, self, callback, value);
}

std::string CorvaneSDKManager::RemoteConfigUrl() const { return remote_->Url(); }

}  // namespace CorvaneSDK
