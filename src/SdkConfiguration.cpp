// The SDK configuration. Reading the server documents is ConfigDocuments' job; this keeps
// the identity values and module lists in step with them.
#include "SdkConfiguration.h"

#include <utility>

#include "ConfigDocuments.h"
#include "ConfigSender.h"
#include "Identity.h"
#include "Properties.h"

namespace CorvaneSDK {
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

SdkConfiguration::SdkConfiguration(std::string appId, std::string appSecret,
                                   std::string configUrl, TransportSettings transport, Env& env)
    : appId_(std::move(appId)), appSecret_(std::move(appSecret)),
      configUrl_(std::move(configUrl)), transport_(std::move(transport)), env_(env) {}

void SdkConfiguration::Load(const Json& stored) {
  // A document stored for another app (the host changed its app id but kept the save
  // folder) is neither applied nor named by its hash.
  if (!stored.is_object() ||
      !SdkConfigIsForApp(stored, appId_, appSecret_, "Stored SDK configuration")) {
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  config_ = stored;
  hash_ = JsonString(stored, "hash");
}

std::string SdkConfiguration::Fetch(const std::string& platform, const std::string& appVersion) {
  ConfigSender sender(configUrl_, transport_, env_);
  std::string hash;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) return std::string();
    sender_ = &sender;
    hash = hash_;
  }
  std::string body;
  if (!sender.Fetch(appId_, platform, appVersion, hash, body)) body.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  sender_ = nullptr;
  return body;
}

void SdkConfiguration::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
  if (sender_ != nullptr) sender_->Cancel();
}

void SdkConfiguration::ApplyResponse(const std::string& response, Properties* properties,
                                     Identity& identity, std::vector<ModuleSpec>& modules,
                                     std::vector<std::string>& excluded) {
  SdkConfigAnswer answer = ReadSdkConfigAnswer(response, appId_, appSecret_);
  if (answer.accepted) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      config_ = answer.config;
      hash_ = answer.hash;
    }
    if (properties != nullptr) {
      properties->SetJson("sdkConfig", answer.config);
      properties->Save();
    }
  }
  Json stored;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stored = config_;
  }
  if (stored.is_object()) Apply(stored, identity, modules, excluded);
}

void SdkConfiguration::Apply(const Json& config, Identity& identity,
                             std::vector<ModuleSpec>& modules, std::vector<std::string>& excluded) {
  SdkConfigTarget target;
  target.platform = identity.Platform();
  target.wrapper = identity.Wrapper();
  ThirdPartyIds ids = identity.AllThirdParty();
  for (const auto& member : kThirdPartyMembers) {
    target.thirdPartyIds[member.first] = ids[static_cast<size_t>(member.second)];
  }
  const AppInfo app = identity.App();
  target.appName = app.appName;
  target.bundleId = app.bundleId;
  target.appVersion = app.appVersion;
  target.appBuildNumber = app.appBuildNumber;
  target.modules = modules;
  target.excludedModules = excluded;
  ApplySdkConfigTo(config, target);
  for (const auto& member : kThirdPartyMembers) {
    ids[static_cast<size_t>(member.second)] = target.thirdPartyIds[member.first];
  }
  identity.SetAllThirdParty(ids);
  identity.SetApp(AppInfo{target.bundleId, target.appName, target.appVersion, target.appBuildNumber});
  modules = std::move(target.modules);
  excluded = std::move(target.excludedModules);
}

std::string SdkConfiguration::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_.is_object() ? DumpJson(config_) : std::string();
}

}  // namespace CorvaneSDK
