// Identity and privacy values.
#include "Identity.h"

#include "Event.h"
#include "InitializationData.h"

namespace CorvaneSDK {

Identity::Identity(const InitializationData& data, const std::string& platform)
    : appId_(data.appId), platform_(platform), wrapper_(data.wrapper),
      wrapperVersion_(data.wrapperVersion) {
  customUserId_ = data.customUserId;
  configId_ = data.configId;
  if (configId_.empty() && !data.customConfigId) configId_ = "default";
  app_ = AppInfo{data.bundleId, data.appName, data.appVersion, data.appBuildNumber};
  thirdParty_ = {data.facebookAppId, data.instagramAppId, data.appleAppId,
                 data.appleSignInClientId, data.appleDeveloperTeamId,
                 data.googlePlayGameServicesProjectId, data.googlePlayDeveloperAccountId,
                 data.linkedInAppId, data.qqAppId, data.weChatAppId, data.tikTokAppId,
                 data.snapAppId};
}

#define CORVANE_LOCKED_FIELD(Get, Set, field)          \
  std::string Identity::Get() const {                  \
    std::lock_guard<std::mutex> lock(mutex_);          \
    return field;                                      \
  }                                                    \
  void Identity::Set(const std::string& value) {       \
    std::lock_guard<std::mutex> lock(mutex_);          \
    field = value;                                     \
  }
CORVANE_LOCKED_FIELD(UserId, SetUserId, userId_)
CORVANE_LOCKED_FIELD(SessionId, SetSessionId, sessionId_)
CORVANE_LOCKED_FIELD(ConfigId, SetConfigId, configId_)
CORVANE_LOCKED_FIELD(CustomUserId, SetCustomUserId, customUserId_)
#undef CORVANE_LOCKED_FIELD

void Identity::Stamp(Event& event, Env& env) const {
  std::string session, config, custom;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session = sessionId_;
    config = configId_;
    custom = customUserId_;
  }
  event.Stamp(session, config, custom, env);
}

AppInfo Identity::App() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return app_;
}

void Identity::SetApp(const AppInfo& app) {
  std::lock_guard<std::mutex> lock(mutex_);
  app_ = app;
}

void Identity::AdoptSystemApp(const AppInfo& found) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!found.bundleId.empty()) app_.bundleId = found.bundleId;
  if (!found.appName.empty()) app_.appName = found.appName;
  if (!found.appVersion.empty()) app_.appVersion = found.appVersion;
  if (!found.appBuildNumber.empty()) app_.appBuildNumber = found.appBuildNumber;
}

std::string Identity::ThirdParty(ThirdPartyId which) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return thirdParty_[static_cast<size_t>(which)];
}

ThirdPartyIds Identity::AllThirdParty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return thirdParty_;
}

void Identity::SetAllThirdParty(const ThirdPartyIds& ids) {
  std::lock_guard<std::mutex> lock(mutex_);
  thirdParty_ = ids;
}

IdentitySnapshot Identity::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return IdentitySnapshot{userId_, app_.bundleId, app_.appVersion, app_.appBuildNumber,
                          platform_, wrapper_, wrapperVersion_};
}

void Identity::LoadPrivacy(bool storedForgetMe, bool sharingDisabledByUser,
                           bool sharingDisabledCoppa) {
  std::lock_guard<std::mutex> lock(mutex_);
  storedForgetMe_ = storedForgetMe;
  forgotten_ = storedForgetMe;
  sharingDisabledByUser_ = sharingDisabledByUser;
  sharingDisabledCoppa_ = sharingDisabledCoppa;
}

bool Identity::Forgotten() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return forgotten_;
}

void Identity::SetForgotten() {
  std::lock_guard<std::mutex> lock(mutex_);
  forgotten_ = true;
}

bool Identity::StoredForgetMe() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return storedForgetMe_;
}

Identity::SharingChange Identity::ApplyCoppa(bool enableCoppa) {
  std::lock_guard<std::mutex> lock(mutex_);
  SharingChange change;
  if (enableCoppa == sharingDisabledCoppa_) return change;
  const bool before = sharingDisabledByUser_ || sharingDisabledCoppa_;
  sharingDisabledCoppa_ = enableCoppa;
  const bool after = sharingDisabledByUser_ || sharingDisabledCoppa_;
  change.stored = true;
  change.changed = before != after;
  change.enabled = !after;
  return change;
}

}  // namespace CorvaneSDK
