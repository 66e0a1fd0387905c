// Manager: device context, persistent properties, SDK configuration, modules, identity,
// deep links, push token, privacy state and the remote config fetch. Reading the server
// documents is ConfigDocuments' job; this file keeps the manager's state in step with them.
#include <algorithm>
#include <map>

#include "ConfigDocuments.h"
#include "ConfigSender.h"
#include "CorvaneSDKManager.h"
#include "CorvaneSDKModule.h"
#include "Event.h"
#include "Interface.h"
#include "Logger.h"
#include "ModuleRegistry.h"
#include "Properties.h"
#include "Random.h"
#include "RemoteConfigSender.h"
#include "UriScheme.h"
#include "Utils.h"

namespace CorvaneSDK {

// ---------------------------------------------------------------------------------------
// Device context

void CorvaneSDKManager::SetupContext() {
  Context c;
  Utils::DeviceInfo device = Utils::GetDeviceInfo();
  c.deviceManufacturer = device.manufacturer;
  c.deviceType = device.type;
  c.deviceModel = device.model;
  c.osName = Utils::GetOsName();
  c.osVersion = Utils::GetOsVersion();
  c.osBuild = Utils::GetOsBuild();
  c.abi = Utils::GetAbi();
  if (collectDeviceIdentifiers_) {
    Utils::NetworkAddress address = Utils::GetNetworkAddress();
    c.ipAddress = address.ip;
    c.macAddress = address.mac;
  }
  c.locale = Utils::GetLocale();
  c.language = Utils::GetLanguage();
  c.country = Utils::GetCountry();
  c.timeZone = Utils::GetTimeZone();
  Utils::GetDisplaySize(c.displayWidth, c.displayHeight);
  if (collectDeviceIdentifiers_) c.deviceId = Utils::GetDeviceId();
  CORVANE_LOG_DEBUG("Device Manufacturer: " << c.deviceManufacturer);
  CORVANE_LOG_DEBUG("Device Type: " << c.deviceType);
  CORVANE_LOG_DEBUG("Device Model: " << c.deviceModel);
  CORVANE_LOG_DEBUG("Platform: " << platform_);
  CORVANE_LOG_DEBUG("Wrapper: " << wrapper_);
  CORVANE_LOG_DEBUG("Wrapper Version: " << wrapperVersion_);
  CORVANE_LOG_DEBUG("OS Name: " << c.osName);
  CORVANE_LOG_DEBUG("OS Version: " << c.osVersion);
  CORVANE_LOG_DEBUG("OS Build: " << c.osBuild);
  CORVANE_LOG_DEBUG("ABI: " << c.abi);
  CORVANE_LOG_DEBUG("IP Address: " << c.ipAddress);
  CORVANE_LOG_DEBUG("MAC Address: " << c.macAddress);
  CORVANE_LOG_DEBUG("Locale: " << c.locale);
  CORVANE_LOG_DEBUG("Language: " << c.language);
  CORVANE_LOG_DEBUG("Country: " << c.country);
  CORVANE_LOG_DEBUG("Time Zone: " << c.timeZone);
  CORVANE_LOG_DEBUG("Display Width: " << c.displayWidth);
  CORVANE_LOG_DEBUG("Display Height: " << c.displayHeight);
  CORVANE_LOG_DEBUG("Device Id: " << c.deviceId);
  CORVANE_LOG_DEBUG("Advertising Id: " << c.advertisingId);
  if (steamBuild_) CORVANE_LOG_DEBUG("Steam App Id: " << steamAppId_);
  std::lock_guard<std::mutex> lock(stateMutex_);
  context_ = c;
}

void CorvaneSDKManager::RefreshContext() {
  if (!collectDeviceIdentifiers_) return;
  Utils::NetworkAddress address = Utils::GetNetworkAddress();
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    context_.ipAddress = address.ip;
    context_.macAddress = address.mac;
  }
  CORVANE_LOG_DEBUG("IP Address: " << address.ip);
  CORVANE_LOG_DEBUG("MAC Address: " << address.mac);
}

// ---------------------------------------------------------------------------------------
// Properties

void CorvaneSDKManager::LoadProperties() {
  // Decided under the file's lock: two instances starting on a fresh folder share one id.
  if (properties_->GetString("userId").empty()) {
    firstRun_ = properties_->SetStringIfAbsent("userId", NewUuid());
  }
  userId_ = properties_->GetString("userId");
  // The folder's owner, so that a later version can tell whose files these are.
  const std::string recordedApp = properties_->GetString("appId");
  if (recordedApp != appId_) {
    if (!recordedApp.empty()) {
      CORVANE_LOG_WARNING("The save folder " << savePath_ << " was used by the app " << recordedApp);
    }
    properties_->SetString("appId", appId_);
    properties_->Save();
  }
  // A configuration stored for another app (the host changed its app id but kept the save
  // folder) is neither applied nor named by its hash.
  Json config = properties_->GetJson("sdkConfig");
  if (config.is_object() &&
      SdkConfigIsForApp(config, appId_, appSecret_, "Stored SDK configuration")) {
    sdkConfig_ = config;
    sdkConfigHash_ = JsonString(config, "hash");
  }
  Json remote;
  if (ParseJson(properties_->GetString("remoteConfig"), remote) && remote.is_object()) {
    remoteConfig_ = remote;
    remoteConfigPath_ = properties_->GetString("remoteConfigPath");
  }
  storedForgetMe_ = properties_->GetBool("gdprForgetMe");
  forgotten_ = storedForgetMe_;
  sharingDisabledByUser_ = properties_->GetBool("disableThirdPartySharing");
  sharingDisabledCoppa_ = properties_->GetBool("disableThirdPartySharingCoppa");
}

void CorvaneSDKManager::UpdateCoppa() {
  bool before, after;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (enableCoppa_ == sharingDisabledCoppa_) return;
    before = sharingDisabledByUser_ || sharingDisabledCoppa_;
    sharingDisabledCoppa_ = enableCoppa_;
    after = sharingDisabledByUser_ || sharingDisabledCoppa_;
  }
  if (properties_) {
    properties_->SetBool("disableThirdPartySharingCoppa", enableCoppa_);
    properties_->Save();
  }
  if (before == after) return;
  Event* event = Event::Acquire("qvsdk_third_party_sharing");
  event->value = Json::object({{"enable", !after}});
  event->flags = kEventFlagEarly;
  SendEvent(event);
}

// ---------------------------------------------------------------------------------------
// URI schemes

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

// ---------------------------------------------------------------------------------------
// SDK configuration

std::string CorvaneSDKManager::FetchSdkConfig() {
  ConfigSender sender(configUrl_, transport_);
  {
    std::lock_guard<std::mutex> lock(configSenderMutex_);
    if (abandoned_) return std::string();
    configSender_ = &sender;
  }
  std::string hash, version;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    hash = sdkConfigHash_;
    version = appVersion_;
  }
  std::string body;
  if (!sender.Fetch(appId_, platform_, version, hash, body)) body.clear();
  std::lock_guard<std::mutex> lock(configSenderMutex_);
  configSender_ = nullptr;
  return body;
}

// Interface lock held (post-configuration step).
void CorvaneSDKManager::ApplySdkConfigResponse(const std::string& response) {
  SdkConfigAnswer answer = ReadSdkConfigAnswer(response, appId_, appSecret_);
  if (answer.accepted) {
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      sdkConfig_ = answer.config;
      sdkConfigHash_ = answer.hash;
    }
    if (properties_) {
      properties_->SetJson("sdkConfig", answer.config);
      properties_->Save();
    }
  }
  // Whether or not something new came, the stored configuration applies.
  Json stored;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    stored = sdkConfig_;
  }
  if (stored.is_object()) ApplySdkConfig(stored);
}

namespace {
// "thirdPartySettings" members in the order of ThirdPartyId (the Apple developer team id has
// no member).
const std::pair<const char*, ThirdPartyId> kThirdPartyMembers[] = {
    {"facebookAppId", ThirdPartyId::kFacebook},
    {"instagramAppId", ThirdPartyId::kInstagram},
    {"appleAppId", ThirdPartyId::kApple},
    {"appleSignInClientId", ThirdPartyId::kAppleSignInClient},
    {"googlePlayGameServicesProjectId", ThirdPartyId::kGooglePlayGameServicesProject},
    {"googlePlayDeveloperAccountId", ThirdPartyId::kGooglePlayDeveloperAccount},
    {"linkedInAppId", ThirdPartyId::kLinkedIn},
    {"qqAppId", ThirdPartyId::kQQ},
    {"weChatAppId", ThirdPartyId::kWeChat},
    {"tikTokAppId", ThirdPartyId::kTikTok},
    {"snapAppId", ThirdPartyId::kSnap},
};
}  // namespace

// Interface lock held: the module lists are only touched under it before initialization ends.
void CorvaneSDKManager::ApplySdkConfig(const Json& config) {
  SdkConfigTarget target;
  target.platform = platform_;
  target.wrapper = wrapper_;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    for (const auto& member : kThirdPartyMembers) {
      target.thirdPartyIds[member.first] = thirdPartyIds_[static_cast<size_t>(member.second)];
    }
    target.appName = appName_;
    target.bundleId = bundleId_;
    target.appVersion = appVersion_;
    target.appBuildNumber = appBuildNumber_;
  }
  target.modules = moduleSpecs_;
  target.excludedModules = excludedModules_;
  ApplySdkConfigTo(config, target);
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    for (const auto& member : kThirdPartyMembers) {
      thirdPartyIds_[static_cast<size_t>(member.second)] = target.thirdPartyIds[member.first];
    }
    appName_ = target.appName;
    bundleId_ = target.bundleId;
    appVersion_ = target.appVersion;
    appBuildNumber_ = target.appBuildNumber;
  }
  moduleSpecs_ = std::move(target.modules);
  excludedModules_ = std::move(target.excludedModules);
}

std::string CorvaneSDKManager::GetSdkConfigText() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return sdkConfig_.is_object() ? DumpJson(sdkConfig_) : std::string();
}

// ---------------------------------------------------------------------------------------
// Modules (interface lock held)

namespace {
// The manager creating modules on this thread: a module may add initialization actions only
// from its constructor, so the action list never changes while the action thread walks it.
thread_local CorvaneSDKManager* t_creatingModules = nullptr;

struct CreatingScope {
  explicit CreatingScope(CorvaneSDKManager* manager) { t_creatingModules = manager; }
  ~CreatingScope() { t_creatingModules = nullptr; }
};
}  // namespace

void AddInitializationActionFromModule(const void* manager, CorvaneSDKModule* module, int action,
                                       const std::string& parameters) {
  if (manager == nullptr || manager != static_cast<const void*>(t_creatingModules)) {
    CORVANE_LOG_WARNING("Initialization action " << action << " of module "
                                                 << (module != nullptr ? module->GetName() : "")
                                                 << " ignored: actions are added from the "
                                                    "module's constructor only");
    return;
  }
  t_creatingModules->AddModuleInitializationAction(module, action, parameters);
}

void CorvaneSDKManager::CreateModules() {
  std::vector<std::string> created;
  CreatingScope creating(this);
  for (const ModuleSpec& spec : moduleSpecs_) {
    if (spec.name.empty()) continue;
    if (std::find(excludedModules_.begin(), excludedModules_.end(), spec.name) !=
        excludedModules_.end()) {
      CORVANE_LOG_DEBUG("Module " << spec.name << " excluded");
      continue;
    }
    if (std::find(created.begin(), created.end(), spec.name) != created.end()) continue;
    auto factory = ModuleFactories().find(spec.name);
    if (factory == ModuleFactories().end() || factory->second == nullptr) {
      CORVANE_LOG_WARNING("No module factory registered for " << spec.name);
      continue;
    }
    created.push_back(spec.name);
    const std::string parameters = spec.parameters.is_null() ? "" : DumpJson(spec.parameters);
    CorvaneSDKModule* module = nullptr;
    try {
      CallbackScope scope;
      module = factory->second->CreateModule(static_cast<const void*>(this), parameters);
    } catch (...) {
      CORVANE_LOG_ERROR("Module factory " << spec.name << " threw");
      module = nullptr;
    }
    if (module == nullptr) continue;
    if (std::find(modules_.begin(), modules_.end(), module) != modules_.end()) {
      // Owning it twice would delete it twice.
      CORVANE_LOG_ERROR("Module factory " << spec.name << " returned a module already created");
      continue;
    }
    module->SetName(spec.name);
    modules_.push_back(module);
    CORVANE_LOG_DEBUG("Module " << spec.name << " created");
  }
  // Actions of a module the factory then dropped would run on a module nobody owns.
  moduleActions_.erase(std::remove_if(moduleActions_.begin(), moduleActions_.end(),
                                      [this](const ModuleAction& entry) {
                                        return std::find(modules_.begin(), modules_.end(),
                                                         entry.module) == modules_.end();
                                      }),
                       moduleActions_.end());
}

// Only reached from a module constructor during CreateModules (interface lock held).
void CorvaneSDKManager::AddModuleInitializationAction(CorvaneSDKModule* module, int action,
                                                      const std::string& parameters) {
  if (module == nullptr || initialized_) return;
  moduleActions_.push_back(ModuleAction{module, action, parameters});
}

CorvaneSDKModule* CorvaneSDKManager::GetModule(const std::string& name) const {
  for (CorvaneSDKModule* module : modules_) {
    if (module->GetName() == name) return module;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// Identity and getters

void CorvaneSDKManager::SetCustomUserId(const std::string& id) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  customUserId_ = id;
}

void CorvaneSDKManager::SetConfigId(const std::string& id) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  configId_ = id;
}

void CorvaneSDKManager::SetAdvertisingId(const std::string& id) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  context_.advertisingId = id;
}

std::string CorvaneSDKManager::GetThirdPartyId(ThirdPartyId which) const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return thirdPartyIds_[static_cast<size_t>(which)];
}

#define CORVANE_STATE_GETTER(Name, expr)                  \
  std::string CorvaneSDKManager::Name() const {           \
    std::lock_guard<std::mutex> lock(stateMutex_);        \
    return expr;                                          \
  }
CORVANE_STATE_GETTER(GetConfigId, configId_)
CORVANE_STATE_GETTER(GetCustomUserId, customUserId_)
CORVANE_STATE_GETTER(GetSessionId, sessionId_)
CORVANE_STATE_GETTER(GetBundleId, bundleId_)
CORVANE_STATE_GETTER(GetAppName, appName_)
CORVANE_STATE_GETTER(GetAppVersion, appVersion_)
CORVANE_STATE_GETTER(GetAppBuildNumber, appBuildNumber_)
CORVANE_STATE_GETTER(GetDeviceManufacturer, context_.deviceManufacturer)
CORVANE_STATE_GETTER(GetDeviceType, context_.deviceType)
CORVANE_STATE_GETTER(GetDeviceModel, context_.deviceModel)
CORVANE_STATE_GETTER(GetOsName, context_.osName)
CORVANE_STATE_GETTER(GetOsVersion, context_.osVersion)
CORVANE_STATE_GETTER(GetOsBuild, context_.osBuild)
CORVANE_STATE_GETTER(GetAbi, context_.abi)
CORVANE_STATE_GETTER(GetIpAddress, context_.ipAddress)
CORVANE_STATE_GETTER(GetMacAddress, context_.macAddress)
CORVANE_STATE_GETTER(GetLocale, context_.locale)
CORVANE_STATE_GETTER(GetLanguage, context_.language)
CORVANE_STATE_GETTER(GetCountry, context_.country)
CORVANE_STATE_GETTER(GetTimeZone, context_.timeZone)
CORVANE_STATE_GETTER(GetDeviceId, context_.deviceId)
CORVANE_STATE_GETTER(GetAdvertisingId, context_.advertisingId)
#undef CORVANE_STATE_GETTER

int CorvaneSDKManager::GetDisplayWidth() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return context_.displayWidth;
}

int CorvaneSDKManager::GetDisplayHeight() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return context_.displayHeight;
}

TransportSettings CorvaneSDKManager::Transport() const { return transport_; }

// ---------------------------------------------------------------------------------------
// Deep links and push token (interface lock held)

void CorvaneSDKManager::OpenURL(const std::string& url) {
  if (url.empty()) return;
  const int64_t time = GetClock().WallMs();
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    deepLinkUrl_ = url;
    deepLinkTimeMs_ = time;
  }
  if (initialized_) SendDeepLinkEvent(true, url, time);
}

std::string CorvaneSDKManager::GetDeepLinkUrl() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return deepLinkUrl_;
}

void CorvaneSDKManager::SetPushToken(const std::string& token) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (token.empty() || token == pushToken_) return;
    pushToken_ = token;
  }
  if (initialized_) SendPushTokenEvent(true, token);
}

std::string CorvaneSDKManager::GetPushToken() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return pushToken_;
}

void CorvaneSDKManager::SendDeepLinkEvent(bool runCallbacks, const std::string& url,
                                          int64_t time) {
  Event* event = Event::Acquire("qvsdk_deep_link");
  event->value = Json::object({{"url", url}, {"click_time", time}});
  event->flags = kEventFlagCacheable;
  SendEvent(event);
  if (runCallbacks) RunTextCallbacks(CallbacksSnapshot().deepLink, url);
}

void CorvaneSDKManager::SendPushTokenEvent(bool runCallbacks, const std::string& token) {
  Event* event = Event::Acquire("qvsdk_push_token");
  event->value = Json::object({{"token", token}});
  event->flags = kEventFlagEarly;
  SendEvent(event);
  if (runCallbacks) RunTextCallbacks(CallbacksSnapshot().pushToken, token);
}

// ---------------------------------------------------------------------------------------
// Remote config

std::string CorvaneSDKManager::RemoteConfigUrl() const {
  // Self-hosted and test servers serve it at the origin of the configured SDK config URL;
  // without one that is the built-in host.
  if (configUrl_ == kDefaultConfigUrl) return kDefaultRemoteConfigUrl;
  return RemoteConfigEndpoint(configUrl_);
}

namespace {
void RunRemoteConfigCallback(RemoteConfigCallback callback, const std::string& answer, int value) {
  try {
    CallbackScope scope;
    callback(answer.c_str(), value);
  } catch (...) {
    CORVANE_LOG_ERROR("The remote config callback threw");
  }
}
}  // namespace

// Interface lock held.
bool CorvaneSDKManager::FetchRemoteConfig(const std::shared_ptr<CorvaneSDKManager>& self,
                                          RemoteConfigCallback callback, int value) {
  bool handedOver = false;
  {
    std::lock_guard<std::mutex> lock(fetchStateMutex_);
    if (abandoned_) return false;
    if (fetching_) {
      if (!answering_ || nextFetchStarted_) {
        CORVANE_LOG_DEBUG("A remote config fetch is running; request dropped");
        return false;
      }
      nextFetchStarted_ = true;
      handedOver = true;
    } else {
      fetching_ = true;
    }
  }
  std::shared_ptr<CorvaneSDKManager> keep = self;
  auto fetch = [keep, callback, value]() {
    if (RunGuarded("remote config", [&] { keep->RemoteConfigFetch(callback, value); })) return;
    // Stopped by an exception: later fetches and Destroy must not wait for this one.
    std::lock_guard<std::mutex> lock(keep->fetchStateMutex_);
    keep->answering_ = false;
    keep->nextFetchStarted_ = false;
    keep->fetching_ = false;
    keep->fetchDone_.notify_all();
  };
  if (SdkThreads::Start("remote config", fetch)) {
    return true;
  }
  CORVANE_LOG_ERROR("Cannot start the remote config thread; answering from the stored "
                    "configuration");
  // The caller still gets its one answer. This request keeps "fetching" during the callback,
  // so a fetch asked for from inside it is dropped rather than recursing here.
  std::string answer;
  {
    std::lock_guard<std::mutex> remote(remoteMutex_);
    if (remoteConfig_.is_object()) answer = DumpJson(remoteConfig_);
  }
  if (callback != nullptr) RunRemoteConfigCallback(callback, answer, value);
  {
    std::lock_guard<std::mutex> lock(fetchStateMutex_);
    if (handedOver && answering_) {
      nextFetchStarted_ = false;  // the fetch still answering clears "fetching" itself
    } else {
      fetching_ = false;
    }
  }
  fetchDone_.notify_all();
  return false;
}

// The fetch thread. Every path ends in exactly one callback (unless Destroy came first).
void CorvaneSDKManager::RemoteConfigFetch(RemoteConfigCallback callback, int value) {
  std::string answer;
  // Lines of the fetch reach a host log callback once the remote config lock is released.
  Logger::DeferScope deferRemote;
  try {
    std::lock_guard<std::mutex> remoteLock(remoteMutex_);
    RemoteConfigSender sender(*this, transport_);
    // Unpublished before the sender goes, however this block ends, so that Destroy never
    // cancels a sender that no longer exists.
    struct Published {
      CorvaneSDKManager* manager;
      ~Published() {
        std::lock_guard<std::mutex> lock(manager->fetchStateMutex_);
        manager->remoteSender_ = nullptr;
      }
    } published{this};
    {
      std::lock_guard<std::mutex> lock(fetchStateMutex_);
      remoteSender_ = &sender;
      if (abandoned_) sender.Cancel();
    }
    const std::string endpoint = RemoteConfigUrl();
    std::string response, location, document;
    if (endpoint.empty()) {
      CORVANE_LOG_ERROR("No remote config endpoint: the SDK config URL \"" << configUrl_
                                                                          << "\" has no http(s) origin");
    } else if (sender.FetchRemoteConfigInfo(endpoint, response)) {
      location = RemoteConfigLocation(response);
      if (location.empty()) CORVANE_LOG_WARNING("Remote config answer names no location");
    }
    Json config;
    if (location.empty()) {
      // Failed or empty answer: the stored configuration below.
    } else if (location == remoteConfigPath_) {
      CORVANE_LOG_DEBUG("Remote config unchanged at " << location);
    } else if (!sender.FetchDocument(location, document)) {
      // Logged by the sender.
    } else if (!ReadRemoteConfigDocument(document, config)) {
      CORVANE_LOG_WARNING("Remote config document at " << location
                                                       << " is not a JSON object; ignored");
    } else {
      answer = document;
      if (properties_) {
        properties_->SetString("remoteConfig", document);
        properties_->SetString("remoteConfigPath", location);
        properties_->Save();
      }
      remoteConfig_ = std::move(config);
      remoteConfigPath_ = location;
    }
    if (answer.empty() && remoteConfig_.is_object()) answer = DumpJson(remoteConfig_);
  } catch (const std::exception& e) {
    CORVANE_LOG_ERROR("Remote config fetch failed: " << e.what());
  } catch (...) {
    CORVANE_LOG_ERROR("Remote config fetch failed");
  }
  // The remote config lock is released first, so the callback may start the next fetch.
  if (callback != nullptr && !abandoned_) {
    {
      std::lock_guard<std::mutex> lock(fetchStateMutex_);
      answering_ = true;
      nextFetchStarted_ = false;
    }
    RunRemoteConfigCallback(callback, answer, value);
  }
  {
    std::lock_guard<std::mutex> lock(fetchStateMutex_);
    const bool handedOver = answering_ && nextFetchStarted_;
    answering_ = false;
    nextFetchStarted_ = false;
    if (!handedOver) fetching_ = false;
  }
  fetchDone_.notify_all();
}

}  // namespace CorvaneSDK
