// Manager: device context, persistent properties, SDK configuration, modules, identity,
// deep links, push token, privacy state and the remote config fetch.
#include <algorithm>
#include <fstream>

#include "ConfigSender.h"
#include "CorvaneSDKManager.h"
#include "CorvaneSDKModule.h"
#include "Event.h"
#include "FileIO.h"
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
  Utils::NetworkAddress address = Utils::GetNetworkAddress();
  c.ipAddress = address.ip;
  c.macAddress = address.mac;
  c.locale = Utils::GetLocale();
  c.language = Utils::GetLanguage();
  c.country = Utils::GetCountry();
  c.timeZone = Utils::GetTimeZone();
  Utils::GetDisplaySize(c.displayWidth, c.displayHeight);
  c.deviceId = Utils::GetDeviceId();
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
  std::string userId = properties_->GetString("userId");
  if (userId.empty()) {
    userId = NewUuid();
    firstRun_ = true;
    properties_->SetString("userId", userId);
    properties_->Save();
  }
  userId_ = userId;
  Json config = properties_->GetJson("sdkConfig");
  if (config.is_object()) {
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
  properties_->SetBool("registerUriFlag", true);
  properties_->Save();
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

void CorvaneSDKManager::ApplySdkConfigResponse(const std::string& response) {
  Json parsed;
  if (!response.empty() && ParseJson(response, parsed) && parsed.is_object()) {
    auto it = parsed.find("sdk_config");
    if (it != parsed.end()) {
      const Json& config = *it;
      const bool matches = config.is_object() && JsonString(config, "appId", "\x01") == appId_ &&
                           JsonString(config, "appSecret", "\x01") == appSecret_;
      if (!matches) {
        CORVANE_LOG_WARNING("Ignoring an SDK configuration that is not for this app");
      } else {
        Json accepted = config;
        const std::string hash = JsonString(parsed, "sdk_config_hash");
        if (!hash.empty()) accepted["hash"] = hash;
        {
          std::lock_guard<std::mutex> lock(stateMutex_);
          sdkConfig_ = accepted;
          sdkConfigHash_ = hash;
        }
        if (properties_) {
          properties_->SetJson("sdkConfig", accepted);
          properties_->Save();
        }
      }
    }
  } else if (!response.empty()) {
    CORVANE_LOG_WARNING("Ignoring an SDK configuration answer that is not a JSON object");
  }
  Json stored;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    stored = sdkConfig_;
  }
  if (stored.is_object()) ApplySdkConfig(stored);
}

void CorvaneSDKManager::ApplySdkConfig(const Json& config) {
  static const std::pair<const char*, ThirdPartyId> kThirdParty[] = {
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
  auto third = config.find("thirdPartySettings");
  if (third != config.end() && third->is_object()) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    for (const auto& entry : kThirdParty) {
      auto v = third->find(entry.first);
      if (v == third->end()) continue;
      if (!v->is_string()) {
        CORVANE_LOG_WARNING("Ignoring SDK configuration member " << entry.first
                                                                  << ": not a string");
        continue;
      }
      thirdPartyIds_[static_cast<size_t>(entry.second)] = v->get<std::string>();
    }
  }
  // Per-platform app values: "windowsSettings" on Windows, "linuxSettings" on Linux.
  const std::string settingsKey = platform_ == "Windows" ? "windowsSettings"
                                  : platform_ == "Linux" ? "linuxSettings"
                                                         : "desktopSettings";
  auto settings = config.find(settingsKey);
  if (settings != config.end() && settings->is_object()) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    const std::pair<const char*, std::string*> fields[] = {{"appName", &appName_},
                                                           {"bundleId", &bundleId_},
                                                           {"appVersion", &appVersion_},
                                                           {"appBuildNumber", &appBuildNumber_}};
    for (const auto& f : fields) {
      auto v = settings->find(f.first);
      if (v != settings->end() && v->is_string()) *f.second = v->get<std::string>();
    }
  }
  auto modules = config.find("modules");
  if (modules == config.end()) return;
  if (!modules->is_array()) {
    CORVANE_LOG_WARNING("Ignoring SDK configuration member modules: not an array");
    return;
  }
  auto holds = [](const Json& entry, const char* key, const std::string& value) {
    auto it = entry.find(key);
    if (it == entry.end() || !it->is_array()) return false;
    for (const Json& v : *it) {
      if (v.is_string() && v.get<std::string>() == value) return true;
    }
    return false;
  };
  for (const Json& entry : *modules) {
    if (!entry.is_object()) continue;
    auto type = entry.find("type");
    if (type == entry.end() || !type->is_string() || type->get<std::string>().empty()) {
      if (type != entry.end() && !type->is_string()) {
        CORVANE_LOG_WARNING("Ignoring a module entry whose type is not a string");
      }
      continue;
    }
    const std::string name = type->get<std::string>();
    if (holds(entry, "excludedPlatforms", platform_) || holds(entry, "excludedWrappers", wrapper_)) {
      excludedModules_.push_back(name);
      continue;
    }
    if (!holds(entry, "platforms", platform_)) continue;
    Json parameters = Json::object();
    for (auto it = entry.begin(); it != entry.end(); ++it) {
      const std::string& key = it.key();
      if (key == "type" || key == "platforms" || key == "excludedPlatforms" ||
          key == "excludedWrappers") {
        continue;
      }
      parameters[key] = it.value();
    }
    auto existing = std::find_if(moduleSpecs_.begin(), moduleSpecs_.end(),
                                 [&](const ModuleSpec& spec) { return spec.name == name; });
    if (existing == moduleSpecs_.end()) {
      moduleSpecs_.push_back(ModuleSpec{name, parameters});
    } else {
      if (!existing->parameters.is_object()) existing->parameters = Json::object();
      for (auto it = parameters.begin(); it != parameters.end(); ++it) {
        existing->parameters[it.key()] = it.value();
      }
    }
  }
}

std::string CorvaneSDKManager::GetSdkConfigText() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return sdkConfig_.is_object() ? DumpJson(sdkConfig_) : std::string();
}

// ---------------------------------------------------------------------------------------
// Modules (interface lock held)

void CorvaneSDKManager::CreateModules() {
  std::vector<std::string> created;
  for (const ModuleSpec& spec : moduleSpecs_) {
    if (spec.name.empty()) continue;
    if (std::find(excludedModules_.begin(), excludedModules_.end(), spec.name) !=
        excludedModules_.end()) {
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
    }
    if (module == nullptr) continue;
    module->SetName(spec.name);
    modules_.push_back(module);
  }
}

void CorvaneSDKManager::AddModuleInitializationAction(CorvaneSDKModule* module, int action,
                                                      const std::string& parameters) {
  if (initialized_) {
    CORVANE_LOG_WARNING("Initialization action " << action << " added after initialization");
    return;
  }
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
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    deepLinkUrl_ = url;
    deepLinkTimeMs_ = GetClock().WallMs();
  }
  if (initialized_) SendDeepLinkEvent(true);
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
  if (properties_) {
    properties_->SetString("pushToken", token);
    properties_->Save();
  }
  if (initialized_) SendPushTokenEvent(true);
}

std::string CorvaneSDKManager::GetPushToken() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return pushToken_;
}

void CorvaneSDKManager::SendDeepLinkEvent(bool runCallbacks) {
  std::string url;
  int64_t time;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    url = deepLinkUrl_;
    time = deepLinkTimeMs_;
  }
  Event* event = Event::Acquire("qvsdk_deep_link");
  event->value = Json::object({{"url", url}, {"click_time", time}});
  event->flags = kEventFlagCacheable;
  SendEvent(event);
  if (runCallbacks) RunTextCallbacks(CallbacksSnapshot().deepLink, url);
}

void CorvaneSDKManager::SendPushTokenEvent(bool runCallbacks) {
  const std::string token = GetPushToken();
  Event* event = Event::Acquire("qvsdk_push_token");
  event->value = Json::object({{"token", token}});
  event->flags = kEventFlagEarly;
  SendEvent(event);
  if (runCallbacks) RunTextCallbacks(CallbacksSnapshot().pushToken, token);
}

// ---------------------------------------------------------------------------------------
// Remote config

std::string CorvaneSDKManager::RemoteConfigUrl() const {
  // Self-hosted and test servers serve it beside the configured SDK config endpoint.
  if (configUrl_ == kDefaultConfigUrl) return kDefaultRemoteConfigUrl;
  const size_t scheme = configUrl_.find("://");
  if (scheme == std::string::npos) return kDefaultRemoteConfigUrl;
  const size_t pathStart = configUrl_.find_first_of("/?#", scheme + 3);
  return configUrl_.substr(0, pathStart) + "/rc/fetch";
}

bool CorvaneSDKManager::FetchRemoteConfig(const std::shared_ptr<CorvaneSDKManager>& self,
                                          RemoteConfigCallback callback, int value) {
  {
    std::lock_guard<std::mutex> lock(fetchStateMutex_);
    if (fetching_ || abandoned_) return false;
    fetching_ = true;
  }
  std::shared_ptr<CorvaneSDKManager> keep = self;
  try {
    std::thread([keep, callback, value]() { keep->RemoteConfigFetch(callback, value); }).detach();
  } catch (...) {
    CORVANE_LOG_ERROR("Cannot start the remote config thread");
    std::lock_guard<std::mutex> lock(fetchStateMutex_);
    fetching_ = false;
    return false;
  }
  return true;
}

void CorvaneSDKManager::RemoteConfigFetch(RemoteConfigCallback callback, int value) {
  std::string answer;
  bool fresh = false;
  {
    std::lock_guard<std::mutex> remoteLock(remoteMutex_);
    RemoteConfigSender sender(*this, transport_);
    {
      std::lock_guard<std::mutex> lock(fetchStateMutex_);
      remoteSender_ = &sender;
      if (abandoned_) sender.Cancel();
    }
    std::string response, location;
    if (sender.FetchRemoteConfigInfo(RemoteConfigUrl(), response)) {
      Json parsed;
      if (ParseJson(response, parsed)) location = JsonString(parsed, "message");
    }
    std::string document;
    Json config;
    if (!location.empty() && location != remoteConfigPath_ && sender.FetchDocument(location, document) &&
        !document.empty() && ParseJson(document, config) && config.is_object()) {
      fresh = true;
      answer = document;
      if (properties_) {
        properties_->SetString("remoteConfig", document);
        properties_->SetString("remoteConfigPath", location);
        properties_->Save();
      }
      remoteConfig_ = config;
      remoteConfigPath_ = location;
    } else if (remoteConfig_.is_object()) {
      answer = DumpJson(remoteConfig_);
    }
    std::lock_guard<std::mutex> lock(fetchStateMutex_);
    remoteSender_ = nullptr;
  }
  (void)fresh;
  {
    // Cleared before the callback, so the callback may start another fetch.
    std::lock_guard<std::mutex> lock(fetchStateMutex_);
    fetching_ = false;
  }
  fetchDone_.notify_all();
  if (callback != nullptr && !abandoned_) {
    CallbackScope scope;
    callback(answer.c_str(), value);
  }
}

}  // namespace CorvaneSDK
