// Identity and privacy: the user, session, config and custom user ids, the app's own
// values, the partner app ids and the privacy flags (forget me, third-party sharing).
// Thread-safe: one lock, held only for short copies, never while calling out. The app id,
// platform and wrapper never change after construction.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <string>

#include "IdentitySnapshot.h"

namespace CorvaneSDK {

class Env;
class Event;
struct InitializationData;

enum class ThirdPartyId {
  kFacebook, kInstagram, kApple, kAppleSignInClient, kAppleDeveloperTeam,
  kGooglePlayGameServicesProject, kGooglePlayDeveloperAccount, kLinkedIn, kQQ, kWeChat,
  kTikTok, kSnap, kCount
};
using ThirdPartyIds = std::array<std::string, static_cast<size_t>(ThirdPartyId::kCount)>;

struct AppInfo {
  std::string bundleId, appName, appVersion, appBuildNumber;
};

class Identity {
 public:
  Identity(const InitializationData& data, const std::string& platform);

  const std::string& AppId() const { return appId_; }
  const std::string& Platform() const { return platform_; }
  const std::string& Wrapper() const { return wrapper_; }
  const std::string& WrapperVersion() const { return wrapperVersion_; }

  std::string UserId() const;
  void SetUserId(const std::string& id);
  std::string SessionId() const;
  void SetSessionId(const std::string& id);
  std::string ConfigId() const;
  void SetConfigId(const std::string& id);
  std::string CustomUserId() const;
  void SetCustomUserId(const std::string& id);
  // Session, config and custom user id stamped on `event` as one consistent copy.
  void Stamp(Event& event, Env& env) const;

  AppInfo App() const;
  void SetApp(const AppInfo& app);
  // The values the system reports win over the configured ones; empty ones are ignored.
  void AdoptSystemApp(const AppInfo& found);
  std::string ThirdParty(ThirdPartyId which) const;
  ThirdPartyIds AllThirdParty() const;
  void SetAllThirdParty(const ThirdPartyIds& ids);

  IdentitySnapshot Snapshot() const;

  // Privacy. "Forgotten" is set by a closing event (or read from the properties) and
  // never cleared in a run.
  void LoadPrivacy(bool storedForgetMe, bool sharingDisabledByUser, bool sharingDisabledCoppa);
  bool Forgotten() const;
  void SetForgotten();
  bool StoredForgetMe() const;
  // Applies the COPPA setting to the sharing flags. `stored` tells whether the stored flag
  // must be written; `changed` whether sharing as a whole changed (then `enabled` is the new
  // state, to be reported).
  struct SharingChange {
    bool stored = false, changed = false, enabled = true;
  };
  SharingChange ApplyCoppa(bool enableCoppa);

 private:
  const std::string appId_, platform_, wrapper_, wrapperVersion_;
  mutable std::mutex mutex_;
  std::string userId_, sessionId_, configId_, customUserId_;
  AppInfo app_;
  ThirdPartyIds thirdParty_;
  bool forgotten_ = false, storedForgetMe_ = false;
  bool sharingDisabledByUser_ = false, sharingDisabledCoppa_ = false;
};

}  // namespace CorvaneSDK
