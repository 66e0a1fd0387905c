// Manager lifecycle: construction, the initialization sequence, start/stop/pause/resume,
// sessions and the open event, the send path and the queue monitor.
#include "CorvaneSDKManager.h"

#include <algorithm>

#include "ConfigSender.h"
#include "Crypto.h"
#include "CorvaneSDKModule.h"
#include "Event.h"
#include "EventSender.h"
#include "Interface.h"
#include "Logger.h"
#include "PendingOpenStore.h"
#include "Properties.h"
#include "Random.h"
#include "RemoteConfigSender.h"
#include "SaveFolder.h"
#include "Utils.h"

namespace CorvaneSDK {

namespace {
const char* StoreTypeLabel(int storeType) {
  switch (storeType) {
    case 0: return "app_store";
    case 1: return "google_play";
    case 2: return "amazon_store";
    case 3: return "microsoft_store";
    default: return "other";
  }
}

// Set while a module's initialization action runs; its `done` clears it. Actions run one
// at a time, process-wide.
std::atomic<bool> g_actionBusy{false};
void ActionDone() { g_actionBusy.store(false); }

// Starts a thread, or runs the work here when no thread can be had.
template <typename F>
void RunDetachedOrInline(F work, const char* what) {
  if (SdkThreads::Start(what, work)) return;
  CORVANE_LOG_ERROR("Cannot start the " << what << " thread; running it on this thread");
  RunGuarded(what, work);
}
}  // namespace

CorvaneSDKManager::CorvaneSDKManager(const InitializationData& data, CallbackMaps callbacks,
                                     const std::string& pendingUrl,
                                     const std::string& pendingToken) {
  // 1. Copy the configuration: the host may destroy the record once Initialize returns.
  Logger::SetLevel(data.logLevel);
  appId_ = data.appId;
  appSecret_ = data.appSecret;
  customUserId_ = data.customUserId;
  configId_ = data.configId;
  customConfigId_ = data.customConfigId;
  if (configId_.empty() && !customConfigId_) configId_ = "default";
  bundleId_ = data.bundleId;
  appName_ = data.appName;
  appVersion_ = data.appVersion;
  appBuildNumber_ = data.appBuildNumber;
  storeType_ = data.storeType;
  wrapper_ = data.wrapper;
  wrapperVersion_ = data.wrapperVersion;
  host_ = data.host.empty() ? kDefaultEventHost : data.host;
  configUrl_ = data.configUrl.empty() ? kDefaultConfigUrl : data.configUrl;
  thirdPartyIds_ = {data.facebookAppId, data.instagramAppId, data.appleAppId,
                    data.appleSignInClientId, data.appleDeveloperTeamId,
                    data.googlePlayGameServicesProjectId, data.googlePlayDeveloperAccountId,
                    data.linkedInAppId, data.qqAppId, data.weChatAppId, data.tikTokAppId,
                    data.snapAppId};
  offline_ = data.offline;
  sendInBackground_ = data.sendInBackground;
  autoStart_ = data.autoStart;
  autoStartPending_ = data.autoStart;
  enableSave_ = data.enableSave;
  enableCoppa_ = data.enableCoppa;
  // A child-directed app never sends identifiers that single out the machine.
  collectDeviceIdentifiers_ = data.collectDeviceIdentifiers && !data.enableCoppa;
  disableOnlineSdkConfig_ = data.disableOnlineSdkConfig;
  registerUriScheme_ = data.registerUriScheme;
  steamAppId_ = data.steamAppId;
  steamBuild_ = data.steamBuild && data.steamAppId != 0;
  transport_.proxy = data.sendProxy;
  transport_.proxyCa = data.sendProxyCertificateAuthority;
  transport_.ca = data.sendCertificateAuthority;
  transport_.sslVerify = data.sendSslVerify;
  platform_ = Utils::PlatformName();
  bootStartMs_ = GetClock().MonotonicMs();

  // 2. Device context.
  SetupContext();

  // 3. Persistent properties, user id, URI schemes, stored configurations, privacy flags.
  // The default folder is scoped by app id; a folder that cannot be trusted makes the run
  // memory-only, as with enable save off.
  savePath_ = data.savePath;
  if (enableSave_) {
    saveFolder_ = SaveFolder::Open(data.savePath, appId_);
    if (!saveFolder_) enableSave_ = false;
  }
  if (enableSave_) {
    savePath_ = saveFolder_->Path();
    properties_.reset(new Properties(savePath_, SaveFolder::kPropertiesFileName));
    properties_->Open();
    LoadProperties();
    if (registerUriScheme_ && !properties_->GetBool("registerUriFlag")) {
      RegisterUriSchemes(data.uriSchemes);
    }
  } else {
    userId_ = NewUuid();
  }

  // 4. Pending deep link and push token.
  if (!pendingUrl.empty()) {
    deepLinkUrl_ = pendingUrl;
    deepLinkTimeMs_ = GetClock().WallMs();
  }
  if (!pendingToken.empty() && pendingToken != pushToken_) pushToken_ = pendingToken;

  // 5. Callbacks registered before the manager existed.
  callbacks_ = std::move(callbacks);

  // 6. The uploader.
  sender_.reset(new EventSender(host_, data.maxRetries, data.initialRetryInterval,
                                Base64Encode(appId_ + ":" + appSecret_), *this));
  sender_->ApplyTransport(transport_);

  // 7. The queue manager; it loads its file when initialization starts it.
  QueueSettings settings;
  settings.flushQueueSize = data.flushQueueSize;
  settings.flushSendSize = data.flushSendSize;
  settings.queueCheckInterval = data.queueCheckInterval;
  settings.sendDelay = data.sendDelay;
  queue_.reset(new QueueManager(settings, this, sender_.get(), enableSave_ ? savePath_ : "",
                                saveFolder_ ? saveFolder_->QueueFileName() : ""));
  // Only the folder's owner keeps the held open event on disk, so another instance never
  // delivers the owner's (or the owner its) as a left-over.
  if (enableSave_ && saveFolder_->Exclusive()) pendingStore_.reset(new PendingOpenStore(savePath_));

  // 8. Module lists for initialization.
  moduleSpecs_ = data.modules;
  hostActions_ = data.initializationActions;
  excludedModules_ = data.excludedModuleNames;
  sendingEnabled_ = !offline_ && (foreground_ || sendInBackground_);
}

CorvaneSDKManager::~CorvaneSDKManager() {
  Teardown();
  for (CorvaneSDKModule* module : modules_) {
    try {
      delete module;
    } catch (...) {
      CORVANE_LOG_ERROR("A module threw from its destructor");
    }
  }
  modules_.clear();
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  Event::Release(openEvent_);
  openEvent_ = nullptr;
  for (Event* e : heldEvents_) Event::Release(e);
  heldEvents_.clear();
}

// ---------------------------------------------------------------------------------------
// Initialization

void CorvaneSDKManager::BeginInitialize(const std::shared_ptr<CorvaneSDKManager>& self,
                                        CompletionCallback callback, int value) {
  if (initialized_ || initializing_) return;
  initializing_ = true;
  completion_ = callback;
  completionValue_ = value;
  if (disableOnlineSdkConfig_) {
    PostConfiguration(self, std::string());
    return;
  }
  std::shared_ptr<CorvaneSDKManager> keep = self;
  RunDetachedOrInline(
      [keep]() {
        std::string response = keep->FetchSdkConfig();
        keep->PostConfiguration(keep, response);
      },
      "SDK configuration");
}

void CorvaneSDKManager::PostConfiguration(const std::shared_ptr<CorvaneSDKManager>& self,
                                          const std::string& response) {
  {
    InterfaceLock lock;
    if (abandoned_) return;
    ApplySdkConfigResponse(response);
  }
  if (!hostActions_.empty()) {
    std::shared_ptr<CorvaneSDKManager> keep = self;
    RunDetachedOrInline([keep]() { keep->PostInitialize(keep); }, "initialization");
    return;
  }
  PostInitialize(self);
}

void CorvaneSDKManager::PostInitialize(const std::shared_ptr<CorvaneSDKManager>& self) {
  {
    InterfaceLock lock;
    if (abandoned_) return;
    Utils::AppInfo info = Utils::GetAppInfo();
    {
      std::lock_guard<std::mutex> state(stateMutex_);
      if (!info.bundleId.empty()) bundleId_ = info.bundleId;
      if (!info.name.empty()) appName_ = info.name;
      if (!info.version.empty()) appVersion_ = info.version;
      if (!info.buildNumber.empty()) appBuildNumber_ = info.buildNumber;
    }
    CORVANE_LOG_DEBUG("Bundle Id: " << GetBundleId());
    CORVANE_LOG_DEBUG("App Name: " << GetAppName());
    CORVANE_LOG_DEBUG("App Version: " << GetAppVersion());
    CORVANE_LOG_DEBUG("App Build Number: " << GetAppBuildNumber());
    queue_->Initialize();
    DeliverLeftOverOpen();
    if (saveFolder_) saveFolder_->AdoptOrphanQueues(*queue_);
    CreateModules();
    if (RecomputeSendingEnabled() && IsStarted()) {
      bool enabled;
      {
        std::lock_guard<std::mutex> state(stateMutex_);
        enabled = sendingEnabled_;
      }
      enabled ? queue_->Resume() : queue_->Pause();
    }
    UpdateCoppa();
    moduleSpecs_.clear();
    hostActions_.clear();
  }
  if (!moduleActions_.empty()) {
    std::shared_ptr<CorvaneSDKManager> keep = self;
    if (SdkThreads::Start("module action", [keep]() { keep->RunInitializationActions(keep); })) {
      return;
    }
    CORVANE_LOG_ERROR("Cannot start the module action thread; finishing initialization");
  }
  Finish();
}

void CorvaneSDKManager::RunInitializationActions(const std::shared_ptr<CorvaneSDKManager>& self) {
  for (const ModuleAction& entry : moduleActions_) {
    if (abandoned_) return;
    g_actionBusy.store(true);
    const std::string name = entry.module->GetName();
    try {
      CallbackScope scope;
      entry.module->RunInitializationAction(entry.action, entry.parameters, &ActionDone);
    } catch (...) {
      CORVANE_LOG_ERROR("Module " << name << " threw from an initialization action");
      g_actionBusy.store(false);
    }
    int waitedSeconds = 0;
    while (g_actionBusy.load()) {
      if (abandoned_) return;
      GetClock().Sleep(1000, &cancel_);
      if (++waitedSeconds % 10 == 0 && g_actionBusy.load()) {
        CORVANE_LOG_WARNING("Still waiting for module " << name << " to finish initialization action "
                                                        << entry.action << " (" << waitedSeconds
                                                        << " s)");
      }
    }
  }
  Finish();
}

void CorvaneSDKManager::Finish() {
  std::vector<CorvaneSDKModule*> modules;
  std::string url, token;
  int64_t urlTime = 0;
  {
    InterfaceLock lock;
    if (abandoned_) return;
    initializing_ = false;
    initialized_ = true;
    modules = modules_;
    // Taken in the same locked section that sets initialized: from here on OpenURL and
    // SetPushToken report by themselves (the completion callback may call them).
    std::lock_guard<std::mutex> state(stateMutex_);
    url = deepLinkUrl_;
    urlTime = deepLinkTimeMs_;
    token = pushToken_;
  }
  for (CorvaneSDKModule* module : modules) {
    if (abandoned_) return;
    try {
      CallbackScope scope;
      module->Initialize();
    } catch (...) {
      CORVANE_LOG_ERROR("Module " << module->GetName() << " threw from Initialize");
    }
  }
  CompletionCallback completion = completion_;
  completion_ = nullptr;
  if (completion != nullptr && !abandoned_) {
    CallbackScope scope;
    completion(completionValue_);
  }
  CallbackMaps callbacks;
  {
    InterfaceLock lock;
    if (abandoned_) return;
    if (!url.empty()) SendDeepLinkEvent(false, url, urlTime);
    if (!token.empty()) SendPushTokenEvent(false, token);
    callbacks = CallbacksSnapshot();
  }
  // Callbacks of the finish step run on this thread without the interface lock.
  if (!url.empty()) RunTextCallbacks(callbacks.deepLink, url);
  if (!token.empty()) RunTextCallbacks(callbacks.pushToken, token);
  InterfaceLock lock;
  if (abandoned_) return;
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

void CorvaneSDKManager::DrainCachedEvents() {
  for (const CachedEvent& cached : TakeCachedEvents()) SendEvent(cached.event, cached.loggedAtMs);
}

// ---------------------------------------------------------------------------------------
// Lifecycle

bool CorvaneSDKManager::IsStarted() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return started_;
}

bool CorvaneSDKManager::IsForgotten() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return forgotten_;
}

bool CorvaneSDKManager::RecomputeSendingEnabled() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  bool enabled = !offline_ && (foreground_ || sendInBackground_);
  bool changed = enabled != sendingEnabled_;
  sendingEnabled_ = enabled;
  return changed;
}

void CorvaneSDKManager::Start() {
  if (!initialized_) return;
  bool enabled;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (forgotten_ || started_) return;
    started_ = true;
    enabled = sendingEnabled_;
  }
  if (enabled) queue_->Resume();
  SessionCheck();
  RunLifecycleCallbacks(CallbacksSnapshot().start);
  DrainCachedEvents();
}

void CorvaneSDKManager::Stop() {
  if (!initialized_) return;
  {
    Logger::DeferScope deferOpen;
    std::lock_guard<std::recursive_mutex> lock(openMutex_);
    openPending_ = false;
    SendPendingOpenEvent();
  }
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!started_) return;
  }
  queue_->Pause();
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    hasLastPause_ = false;
    lastPauseMs_ = 0;
    autoStart_ = false;
    started_ = false;
  }
  RunLifecycleCallbacks(CallbacksSnapshot().stop);
}

void CorvaneSDKManager::OnPause() {
  if (!initialized_) return;
  bool changed = false, started, enabled, forgetMe;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    foreground_ = false;
    enabled = !offline_ && (foreground_ || sendInBackground_);
    changed = enabled != sendingEnabled_;
    sendingEnabled_ = enabled;
    started = started_;
    forgetMe = storedForgetMe_;
  }
  if (changed && started) enabled ? queue_->Resume() : queue_->Pause();
  if (!forgetMe && started) {
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      hasLastPause_ = true;
      lastPauseMs_ = GetClock().MonotonicMs();
    }
    RunLifecycleCallbacks(CallbacksSnapshot().pause);
  }
}

void CorvaneSDKManager::OnResume() {
  if (!initialized_) return;
  bool changed = false, started, enabled, forgetMe;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    foreground_ = true;
    enabled = !offline_ && (foreground_ || sendInBackground_);
    changed = enabled != sendingEnabled_;
    sendingEnabled_ = enabled;
    started = started_;
    forgetMe = storedForgetMe_;
  }
  if (changed && started) enabled ? queue_->Resume() : queue_->Pause();
  if (!forgetMe && started) {
    SessionCheck();
    RunLifecycleCallbacks(CallbacksSnapshot().resume);
  }
}

void CorvaneSDKManager::SetOffline(bool offline) {
  if (!initialized_) return;
  bool changed, started, enabled;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    offline_ = offline;
    enabled = !offline_ && (foreground_ || sendInBackground_);
    changed = enabled != sendingEnabled_;
    sendingEnabled_ = enabled;
    started = started_;
  }
  if (changed && started) enabled ? queue_->Resume() : queue_->Pause();
}

void CorvaneSDKManager::Teardown() {
  abandoned_ = true;
  cancel_.Set();
  {
    std::lock_guard<std::mutex> lock(configSenderMutex_);
    if (configSender_ != nullptr) configSender_->Cancel();
  }
  {
    // A running remote config fetch is cancelled and given a bounded time to end; it holds
    // a reference to the manager, so it can never outlive what it touches.
    std::unique_lock<std::mutex> lock(fetchStateMutex_);
    if (remoteSender_ != nullptr) remoteSender_->Cancel();
    fetchDone_.wait_for(lock, std::chrono::seconds(2), [this] { return !fetching_; });
  }
  if (queue_) queue_->Destroy();
  if (properties_) properties_->Save();
  // The next instance, in this process or another, may take the folder at once.
  if (saveFolder_) saveFolder_->Release();
}

// ---------------------------------------------------------------------------------------
// Sessions and the open event

void CorvaneSDKManager::SessionCheck() {
  const int64_t now = GetClock().MonotonicMs();
  bool forgotten, firstRun;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!sessionId_.empty() && hasLastPause_ && now - lastPauseMs_ <= kSessionTimeoutMs) return;
    hasLastPause_ = true;
    lastPauseMs_ = now;
    sessionId_ = NewUuid();
    forgotten = forgotten_;
    firstRun = firstRun_;
  }
  RefreshContext();
  if (forgotten) return;
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  // A still-pending open event (unsent while sending was off) goes out with its held
  // events before the new session's one replaces it.
  if (openEvent_ != nullptr) {
    openPending_ = false;
    SendPendingOpenEvent();
  }
  openPending_ = true;
  openDeadlineMs_ = now + kOpenEventHoldMs;
  openEvent_ = BuildOpenEvent(firstRun);
  {
    std::lock_guard<std::mutex> state(stateMutex_);
    firstRun_ = false;
  }
  PersistPendingOpen();
}

// Caller holds openMutex_. Writes the open event as it would be sent now, held events
// attached, so that a run that dies before the hold ends still delivers it next time.
void CorvaneSDKManager::PersistPendingOpen() {
  if (!pendingStore_ || openEvent_ == nullptr) return;
  Event* copy = Event::FromJsonTree(openEvent_->ToJsonText());
  if (copy == nullptr) return;
  const std::string advertisingId = GetAdvertisingId();
  if (!advertisingId.empty() && copy->value.is_object()) copy->value["advertising_id"] = advertisingId;
  std::string session, config, custom;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    session = sessionId_;
    config = configId_;
    custom = customUserId_;
  }
  for (Event* e : heldEvents_) {
    Event* held = Event::FromJsonTree(e->ToJsonText());
    if (held != nullptr) copy->subEvents.push_back(held);
  }
  copy->Stamp(session, config, custom);
  const std::string text = copy->ToJsonText();
  Event::Release(copy);
  pendingStore_->Save(text);
}

// The open event of a run that ended during its hold goes first into this run's queue,
// unchanged (its eId lets the server drop a repeat).
void CorvaneSDKManager::DeliverLeftOverOpen() {
  if (!pendingStore_) return;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  const std::string text = pendingStore_->LeftOver();
  if (!text.empty()) {
    Event* event = Event::FromJsonTree(text);
    if (event == nullptr || event->eventName.empty()) {
      CORVANE_LOG_WARNING("Dropping a damaged stored open event (" << text.size() << " bytes)");
      Event::Release(event);
    } else if (IsForgotten()) {
      Event::Release(event);
    } else {
      CORVANE_LOG_INFO("Delivering the open event of a run that ended during its hold");
      queue_->AddEvent(event);
    }
  }
  pendingStore_->Clear();
}

Event* CorvaneSDKManager::BuildOpenEvent(bool firstOpen) {
  Event* event = Event::Acquire(firstOpen ? "qvsdk_first_open" : "qvsdk_open");
  Json data = Json::object();
  auto put = [&](const char* key, const std::string& value) {
    if (!value.empty()) data[key] = value;
  };
  Context c;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    c = context_;
  }
  put("device_manufacturer", c.deviceManufacturer);
  put("device_type", c.deviceType);
  put("device_model", c.deviceModel);
  put("os_name", c.osName);
  put("os_version", c.osVersion);
  put("os_build", c.osBuild);
  put("abi", c.abi);
  put("time_zone", c.timeZone);
  put("locale", c.locale);
  put("language", c.language);
  put("country", c.country);
  put("local_ip", c.ipAddress);
  put("mac_address", c.macAddress);
  put("developer_device_id", c.deviceId);
  if (c.displayWidth >= 1) data["display_width"] = c.displayWidth;
  if (c.displayHeight >= 1) data["display_height"] = c.displayHeight;
  if (steamBuild_) data["steam_app_id"] = steamAppId_;
  data["store_type"] = StoreTypeLabel(storeType_);
  event->value = std::move(data);
  return event;
}

// Caller holds openMutex_.
void CorvaneSDKManager::SendPendingOpenEvent() {
  Event* open = openEvent_;
  std::vector<Event*> held;
  held.swap(heldEvents_);
  openEvent_ = nullptr;
  if (open != nullptr) {
    const std::string advertisingId = GetAdvertisingId();
    if (!advertisingId.empty() && open->value.is_object()) {
      open->value["advertising_id"] = advertisingId;
    }
    const std::string session = GetSessionId();
    for (Event* e : held) {
      if (e->id.empty()) e->id = session;
      open->subEvents.push_back(e);
    }
    SendEvent(open);
    // In the queue now (or dropped by the send path): nothing left to deliver next time.
    if (pendingStore_) pendingStore_->Clear();
    return;
  }
  // No open event: each held event goes by itself; what cannot go yet stays held.
  for (Event* e : held) SendEvent(e);
}

void CorvaneSDKManager::EndOpenEventHold() {
  if (!initialized_) return;
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  if (!openPending_ || openEvent_ == nullptr) return;
  openPending_ = false;
  SendPendingOpenEvent();
}

bool CorvaneSDKManager::WaitForEmptyQueue(int timeoutMs) {
  if (!queue_) return true;
  const size_t queued = queue_->Count();
  if (queued == 0) return true;
  bool started, enabled;
  std::string configId;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    started = started_;
    enabled = sendingEnabled_;
    configId = configId_;
  }
  const char* why = nullptr;
  if (!started) {
    why = "the manager is not started (call CorvaneSDKManager_Start)";
  } else if (!enabled) {
    why = "sending is off (offline, or paused with send in background off)";
  } else if (configId.empty()) {
    why = "the config id is empty (call CorvaneSDKManager_SetConfigId)";
  } else if (InCallback()) {
    // The upload thread itself may be the caller; it cannot wait for itself.
    why = "it was called from inside an SDK callback";
  }
  if (why != nullptr) {
    CORVANE_LOG_WARNING("Flush: " << queued << " events stay queued because " << why);
    return false;
  }
  const int64_t start = GetClock().MonotonicMs();
  const int64_t deadline = start + std::max(0, timeoutMs);
  queue_->SendNow();
  for (;;) {
    const size_t left = queue_->Count();
    if (left == 0) {
      CORVANE_LOG_DEBUG("Flush: queue empty after " << GetClock().MonotonicMs() - start << " ms");
      return true;
    }
    const int64_t now = GetClock().MonotonicMs();
    if (now >= deadline || abandoned_) {
      CORVANE_LOG_WARNING("Flush: " << left << " events still queued after " << now - start
                                    << " ms; they are kept for a later upload or the next run");
      return false;
    }
    GetClock().Sleep(std::min<int64_t>(10, deadline - now), nullptr);
  }
}

bool CorvaneSDKManager::HasPendingOpenEvent() const {
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  return openEvent_ != nullptr;
}

size_t CorvaneSDKManager::HeldEventCount() const {
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  return heldEvents_.size();
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
  if (abandoned_ || (!initialized_ && !(early && initializing_ && queue_))) {
    Event::Release(event);
    return;
  }
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> open(openMutex_);
  bool started, forgotten;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    started = started_;
    forgotten = forgotten_;
  }
  if (forgotten) {
    Event::Release(event);
    return;
  }
  const bool pending = openPending_ && openEvent_ != nullptr;
  if ((event->flags & kEventFlagCacheable) != 0 && (pending || !started)) {
    if (heldEvents_.size() < kMaxHeldEvents) {
      heldEvents_.push_back(event);
      if (pending) PersistPendingOpen();
      return;
    }
  } else {
    if ((event->flags & kEventFlagClosing) != 0) {
      std::lock_guard<std::mutex> lock(stateMutex_);
      forgotten_ = true;
    } else if (!started && !early) {
      Event::Release(event);
      if (const uint64_t dropped = notStartedDrops_.Add()) {
        CORVANE_LOG_WARNING("Dropped " << dropped
                                       << " event(s): tracking has not started; call "
                                          "CorvaneSDKManager_Start first");
      }
      return;
    }
  }
  std::string session, config, custom;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    session = sessionId_;
    config = configId_;
    custom = customUserId_;
  }
  event->Stamp(session, config, custom);
  if (loggedAtMs != 0) event->timeInMs = loggedAtMs;
  queue_->AddEvent(event);
}

// ---------------------------------------------------------------------------------------
// Queue monitor (sending thread)

bool CorvaneSDKManager::CanSend() {
  if (!initialized_ || abandoned_) return false;
  if (stopRequested_.load()) {
    Logger::DeferScope defer;
    std::unique_lock<std::recursive_mutex> lock(InterfaceMutex(), std::try_to_lock);
    if (lock.owns_lock()) {
      stopRequested_ = false;
      if (IsForgotten()) Stop();
    }
  }
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!started_ || configId_.empty()) return false;
  }
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> open(openMutex_);
  if (!openPending_) return true;
  if (GetClock().MonotonicMs() < openDeadlineMs_) return false;
  openPending_ = false;
  SendPendingOpenEvent();
  return true;
}

void CorvaneSDKManager::OnEventDispatch(Event* event) {
  if (event == nullptr) return;
  const std::string session = GetSessionId();
  if (!session.empty()) event->FillSessionIfEmpty(session);
  std::map<int, SendEventCallback> callbacks;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    callbacks = callbacks_.sendEvent;
  }
  if (callbacks.empty()) return;
  event->VisitDepthFirst([&](Event& e) {
    const std::string json = DumpJson(e.value);
    for (const auto& entry : callbacks) {
      if (entry.second == nullptr) continue;
      CallbackScope scope;
      entry.second(e.eventName.c_str(), json.c_str(), entry.first);
    }
  });
}

void CorvaneSDKManager::OnQueueEmpty() {
  if (!initialized_) return;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (!forgotten_ || !started_) return;
  }
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
// Callbacks

CallbackMaps CorvaneSDKManager::CallbacksSnapshot() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return callbacks_;
}

void CorvaneSDKManager::RunLifecycleCallbacks(const std::map<int, LifecycleCallback>& callbacks) {
  for (const auto& entry : callbacks) {
    if (entry.second == nullptr) continue;
    CallbackScope scope;
    entry.second(entry.first);
  }
}

void CorvaneSDKManager::RunTextCallbacks(const std::map<int, TextCallback>& callbacks,
                                         const std::string& text) {
  for (const auto& entry : callbacks) {
    if (entry.second == nullptr) continue;
    CallbackScope scope;
    entry.second(text.c_str(), entry.first);
  }
}

}  // namespace CorvaneSDK
