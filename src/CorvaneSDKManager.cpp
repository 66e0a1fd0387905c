// The manager: construction of the parts, the lifecycle, the send path, the queue monitor,
// deep links and the push token.
#include "CorvaneSDKManager.h"

#include <algorithm>

#include "CorvaneSDKModule.h"
#include "Crypto.h"
#include "Env.h"
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
#include "SdkConfiguration.h"
#include "SaveStorage.h"
#include "StoreType.h"
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
                                     const std::string& pendingToken, Env& env)
    : env_(env),
      identity_(WithLogLevel(data), Utils::PlatformName()),
      // A child-directed app never sends identifiers that single out the machine.
      context_(data.collectDeviceIdentifiers && !data.enableCoppa, env),
      callbacks_(std::move(callbacks)),
      links_([this](EventPtr e) { SendEvent(std::move(e)); }, callbacks_, pendingUrl, pendingToken, env),
      lifecycle_(data.offline, data.sendInBackground, data.autoStart) {
  // 1. Copy the configuration: the host may destroy the record once Initialize returns.
  host_ = data.host.empty() ? kDefaultEventHost : data.host;
  configUrl_ = data.configUrl.empty() ? kDefaultConfigUrl : data.configUrl;
  storeType_ = data.storeType;
  enableCoppa_ = data.enableCoppa;
  const bool steamBuild = data.steamBuild && data.steamAppId != 0;
  TransportSettings transport;
  transport.proxy = data.sendProxy;
  transport.proxyCa = data.sendProxyCertificateAuthority;
  transport.ca = data.sendCertificateAuthority;
  transport.sslVerify = data.sendSslVerify;
  bootStartMs_ = env_.GetClock().MonotonicMs();

  // 2. Device context (read by its constructor).
  context_.Log(identity_.Platform(), identity_.Wrapper(), identity_.WrapperVersion());
  if (steamBuild) CORVANE_LOG_DEBUG("Steam App Id: " << data.steamAppId);

  // 3. Persistent properties, user id, URI schemes, stored configurations, privacy flags.
  // The default folder is scoped by app id; a folder that cannot be trusted makes the run
  // memory-only, as with enable save off.
  sdkConfig_.reset(new SdkConfiguration(data.appId, data.appSecret, configUrl_, transport, env_));
  savePath_ = data.savePath;
  if (data.enableSave) storage_ = SaveStorage::Open(data.savePath, identity_.AppId(), env_);
  bool firstRun = false;
  if (storage_) {
    savePath_ = storage_->Path();
    firstRun = storage_->Load(identity_, *sdkConfig_);
    if (data.registerUriScheme) {
      storage_->RegisterUriSchemesOnce(data.uriSchemes, steamBuild ? data.steamAppId : 0);
    }
  } else {
    identity_.SetUserId(NewUuid(env_));
  }
  remote_.reset(new RemoteConfigFetcher(configUrl_, transport, *this, Store(), env_));
  remote_->Load();

  // 4. The uploader, the background executor and the queue manager (it loads its file
  // when initialization starts it).
  sender_.reset(new EventSender(host_, data.maxRetries, data.initialRetryInterval,
                                Base64Encode(data.appId + ":" + data.appSecret), *this, env_));
  sender_->ApplyTransport(transport);
  executor_.reset(new Executor("SDK background", env_));
  QueueSettings settings;
  settings.flushQueueSize = data.flushQueueSize;
  settings.flushSendSize = data.flushSendSize;
  settings.queueCheckInterval = data.queueCheckInterval;
  settings.sendDelay = data.sendDelay;
  settings.syncInterval = data.queueSyncInterval;
  queue_.reset(new QueueManager(settings, this, sender_.get(), storage_ ? savePath_ : "",
                                storage_ ? storage_->QueueFileName() : "", env_));
  queue_->SetExecutor(executor_.get());

  // 5. Sessions. Only the folder's owner keeps the held open event on disk, so another
  // instance never delivers the owner's (or the owner its) as a left-over.
  std::unique_ptr<PendingOpenStore> store;
  if (storage_ && storage_->Exclusive()) store.reset(new PendingOpenStore(savePath_));
  Json openExtras = Json::object();
  if (steamBuild) openExtras["steam_app_id"] = data.steamAppId;
  openExtras["store_type"] = StoreTypeLabel(storeType_);
  session_.reset(new SessionTracker(identity_, context_,
                                    [this](EventPtr e) { SendEvent(std::move(e)); },
                                    std::move(openExtras), std::move(store), env_));
  session_->SetFirstRun(firstRun);

  // 6. Modules and the initialization sequence.
  modules_.reset(new ModuleHost(static_cast<const void*>(this)));
  init_.reset(new InitializationSequence(*this, data));
  sendPath_.reset(new SendPath(identity_, lifecycle_, *session_, *queue_, *init_, abandoned_,
                               data.autoStart, env_));
}

CorvaneSDKManager::~CorvaneSDKManager() {
  Teardown();
  modules_->DeleteAll();
}

Properties* CorvaneSDKManager::Store() { return storage_ ? &storage_->Props() : nullptr; }

void CorvaneSDKManager::UpdateCoppa() {
  const Identity::SharingChange change = identity_.ApplyCoppa(enableCoppa_);
  if (!change.stored) return;
  if (storage_) storage_->SaveBool("disableThirdPartySharingCoppa", enableCoppa_);
  if (!change.changed) return;
  EventPtr event = Event::Acquire("qvsdk_third_party_sharing");
  event->value = Json::object({{"enable", change.enabled}});
  event->flags = kEventFlagEarly;
  SendEvent(std::move(event));
}

// ---------------------------------------------------------------------------------------
// Initialization steps (see InitializationSequence)

bool CorvaneSDKManager::Post(std::function<void()> task) { return executor_->Post(std::move(task)); }

std::string CorvaneSDKManager::FetchSdkConfig() {
  return sdkConfig_->Fetch(identity_.Platform(), GetAppVersion());
}

void CorvaneSDKManager::ApplySdkConfig(const std::string& response, std::vector<ModuleSpec>& modules,
                                       std::vector<std::string>& excluded) {
  sdkConfig_->ApplyResponse(response, Store(), identity_, modules, excluded);
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
  if (storage_) storage_->AdoptOrphanQueues(*queue_);
  modules_->Create(modules, excluded);
  Apply(lifecycle_.Recompute());
  UpdateCoppa();
}

bool CorvaneSDKManager::HasModuleActions() const { return modules_->HasActions(); }

bool CorvaneSDKManager::RunModuleActions(Interrupt* cancel) {
  return modules_->RunActions(abandoned_, cancel, env_);
}

bool CorvaneSDKManager::InitializeModules() { return modules_->InitializeAll(abandoned_); }

void CorvaneSDKManager::AutoStart() {
  if (lifecycle_.AutoStart()) Start();
  sendPath_->EndAutoStartWait();
  // Cached events go after the start; without one they wait for the first Start.
  if (IsStarted()) sendPath_->DrainCached();
}

// ---------------------------------------------------------------------------------------
// Lifecycle

void CorvaneSDKManager::BeginInitialize(const std::shared_ptr<CorvaneSDKManager>& self,
                                        CompletionCallback callback, int value) {
  init_->Begin(self, callback, value);
}

bool CorvaneSDKManager::IsInitialized() const { return init_->Initialized(); }
bool CorvaneSDKManager::IsInitializing() const { return init_->Initializing(); }

void CorvaneSDKManager::MarkBootStart() { bootStartMs_ = env_.GetClock().MonotonicMs(); }

int64_t CorvaneSDKManager::MsSinceBootStart() const {
  return env_.GetClock().MonotonicMs() - bootStartMs_.load();
}

bool CorvaneSDKManager::IsStarted() const { return lifecycle_.Started(); }

void CorvaneSDKManager::Apply(LifecycleState::QueueChange change) {
  if (change == LifecycleState::QueueChange::kResume) queue_->Resume();
  if (change == LifecycleState::QueueChange::kPause) queue_->Pause();
}

void CorvaneSDKManager::Start() {
  if (!IsInitialized()) return;
  bool sendingOn = false;
  if (!lifecycle_.Start([this] { return identity_.Forgotten(); }, sendingOn)) return;
  if (sendingOn) queue_->Resume();
  session_->Check();
  Callbacks::RunLifecycle(CallbacksSnapshot().start);
  sendPath_->DrainCached();
}

void CorvaneSDKManager::Stop() {
  if (!IsInitialized()) return;
  session_->EndHold();
  if (!IsStarted()) return;
  queue_->Pause();
  session_->ClearPause();
  lifecycle_.Stop();
  Callbacks::RunLifecycle(CallbacksSnapshot().stop);
}

void CorvaneSDKManager::OnPause() {
  if (!IsInitialized()) return;
  Apply(lifecycle_.SetForeground(false));
  if (identity_.StoredForgetMe() || !IsStarted()) return;
  session_->MarkPause(env_.GetClock().MonotonicMs());
  Callbacks::RunLifecycle(CallbacksSnapshot().pause);
}

void CorvaneSDKManager::OnResume() {
  if (!IsInitialized()) return;
  Apply(lifecycle_.SetForeground(true));
  if (identity_.StoredForgetMe() || !IsStarted()) return;
  session_->Check();
  Callbacks::RunLifecycle(CallbacksSnapshot().resume);
}

void CorvaneSDKManager::SetOffline(bool offline) {
  if (!IsInitialized()) return;
  Apply(lifecycle_.SetOffline(offline));
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
  // The next instance, in this process or another, may take the folder at once.
  if (storage_) storage_->Close();
}

void CorvaneSDKManager::EndOpenEventHold() {
  if (!IsInitialized()) return;
  session_->EndHoldIfHolding();
}

void CorvaneSDKManager::LogModuleEvent(EventPtr event) {
  if (IsInitialized()) SendEvent(std::move(event));
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
