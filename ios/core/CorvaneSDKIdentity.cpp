#include "CorvaneSDKIdentity.h"

#include <utility>

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKManager.h"
#include "CorvaneSDKServerConfig.h"

namespace CorvaneSDK {
namespace Mobile {

const char* const kCorvaneSDKDefaultHost = "https://ingest.corvane.io/v4/event";
const char* const kCorvaneSDKDefaultConfigUrl = "https://config.corvane.io/v1/public/config";
const char* const kCorvaneSDKDefaultRemoteConfigUrl = "https://rc.corvane.io/rc/fetch";

namespace {

std::string nonEmptyOr(const std::optional<std::string>& value, const char* fallback) {
  return value && !value->empty() ? *value : std::string(fallback);
}

// The remote config endpoint lives beside the SDK config one: same scheme, host and port.
std::string remoteConfigUrlFor(const std::optional<std::string>& configUrl) {
  if (!configUrl || configUrl->empty()) return kCorvaneSDKDefaultRemoteConfigUrl;
  const size_t scheme = configUrl->find("://");
  if (scheme == std::string::npos) return kCorvaneSDKDefaultRemoteConfigUrl;
  const size_t path = configUrl->find_first_of("/?#", scheme + 3);
  return configUrl->substr(0, path) + "/rc/fetch";
}

}  // namespace

CorvaneSDKIdentity::CorvaneSDKIdentity(const CorvaneSDKConfiguration& c)
    : appId_(c.appId),
      credential_(CorvaneSDKServerConfig::credentialFor(c.appId, c.appSecret)),
      host_(nonEmptyOr(c.host, kCorvaneSDKDefaultHost)),
      configUrl_(nonEmptyOr(c.configUrl, kCorvaneSDKDefaultConfigUrl)),
      remoteConfigUrl_(remoteConfigUrlFor(c.configUrl)),
      configId_(c.waitConfigId ? std::string() : nonEmptyOr(c.configId, "default")),
      customUserId_(c.customUserId && !c.customUserId->empty() ? c.customUserId : std::nullopt),
      storeType_(c.storeType) {
  const std::pair<const char*, const std::optional<std::string>*> ids[] = {
      {"facebookAppId", &c.facebookAppId},
      {"instagramAppId", &c.instagramAppId},
      {"appleAppId", &c.appleAppId},
      {"appleSignInClientId", &c.appleSignInClientId},
      {"appleDeveloperTeamId", &c.appleDeveloperTeamId},
      {"googlePlayGameServicesProjectId", &c.googlePlayGameServicesProjectId},
      {"googlePlayDeveloperAccountId", &c.googlePlayDeveloperAccountId},
      {"linkedInAppId", &c.linkedInAppId},
      {"qqAppId", &c.qqAppId},
      {"weChatAppId", &c.weChatAppId},
      {"tikTokAppId", &c.tikTokAppId},
      {"snapAppId", &c.snapAppId}};
  for (const auto& id : ids) {
    if (*id.second) thirdPartyIds_[id.first] = **id.second;
  }
}

void CorvaneSDKIdentity::applySdkConfig(const Value& config) {
  if (!config.is_object()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto third = config.find("thirdPartySettings");
  if (third != config.end() && third->is_object()) {
    for (auto it = third->begin(); it != third->end(); ++it) {
      if (it.value().is_string()) thirdPartyIds_[it.key()] = it.value().get<std::string>();
    }
  }
  // Mobile settings: a config id for installs that wait for one.
  auto ios = config.find("iosSettings");
  if (ios != config.end() && ios->is_object()) {
    auto id = ios->find("configId");
    if (id != ios->end() && id->is_string() && !id->get<std::string>().empty()) {
      configId_ = id->get<std::string>();
    }
  }
}

void CorvaneSDKIdentity::fillSettings(CorvaneSDKServerConfigSettings& settings) const {
  std::lock_guard<std::mutex> lock(mutex_);
  settings.appId = appId_;
  settings.credential = credential_;
  settings.configUrl = configUrl_;
  settings.remoteConfigUrl = remoteConfigUrl_;
}

CorvaneSDKIdentity::Stamp CorvaneSDKIdentity::stamp() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Stamp{configId_, customUserId_, storeType_};
}

#define CORVANE_IDENTITY_GETTER(Type, name, field) \
  Type CorvaneSDKIdentity::name() const {          \
    std::lock_guard<std::mutex> lock(mutex_);      \
    return field;                                  \
  }
CORVANE_IDENTITY_GETTER(std::string, appId, appId_)
CORVANE_IDENTITY_GETTER(std::string, credential, credential_)
CORVANE_IDENTITY_GETTER(std::string, host, host_)
CORVANE_IDENTITY_GETTER(std::string, configUrl, configUrl_)
CORVANE_IDENTITY_GETTER(int64_t, storeType, storeType_)
CORVANE_IDENTITY_GETTER(std::string, configId, configId_)
CORVANE_IDENTITY_GETTER(std::string, customUserId, customUserId_.value_or(std::string()))
#undef CORVANE_IDENTITY_GETTER

void CorvaneSDKIdentity::setConfigId(const std::string& configId) {
  std::lock_guard<std::mutex> lock(mutex_);
  configId_ = configId;
}

void CorvaneSDKIdentity::setCustomUserId(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (id.empty()) {
    customUserId_.reset();
  } else {
    customUserId_ = id;
  }
}

std::optional<std::string> CorvaneSDKIdentity::thirdPartyId(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = thirdPartyIds_.find(name);
  return found == thirdPartyIds_.end() ? std::nullopt : std::optional<std::string>(found->second);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
