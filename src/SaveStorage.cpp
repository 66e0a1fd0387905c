#include "SaveStorage.h"

#include "Env.h"
#include "Identity.h"
#include "Logger.h"
#include "Properties.h"
#include "Random.h"
#include "SaveFolder.h"
#include "SdkConfiguration.h"
#include "UriScheme.h"
#include "Utils.h"

namespace CorvaneSDK {

std::unique_ptr<SaveStorage> SaveStorage::Open(const std::string& configuredPath,
                                       const std::string& appId, Env& env) {
  std::unique_ptr<SaveFolder> folder = SaveFolder::Open(configuredPath, appId, env);
  if (!folder) return nullptr;
  return std::unique_ptr<SaveStorage>(new SaveStorage(std::move(folder), env));
}

SaveStorage::SaveStorage(std::unique_ptr<SaveFolder> folder, Env& env)
    : env_(env),
      folder_(std::move(folder)),
      properties_(new Properties(folder_->Path(), SaveFolder::kPropertiesFileName,
                                 &env)) {
  properties_->Open();
}

SaveStorage::~SaveStorage() = default;

const std::string& SaveStorage::Path() const { return folder_->Path(); }
const std::string& SaveStorage::QueueFileName() const { return folder_->QueueFileName(); }
bool SaveStorage::Exclusive() const { return folder_->Exclusive(); }

bool SaveStorage::Load(Identity& identity, SdkConfiguration& config) {
  bool firstRun = false;
  if (properties_->GetString("userId").empty()) {
    firstRun = properties_->SetStringIfAbsent("userId", NewUuid(env_));
  }
  identity.SetUserId(properties_->GetString("userId"));
  // The folder's owner, so that a later version can tell whose files these are.
  const std::string recordedApp = properties_->GetString("appId");
  if (recordedApp != identity.AppId()) {
    if (!recordedApp.empty()) {
      CORVANE_LOG_WARNING("The save folder " << Path() << " was used by the app " << recordedApp);
    }
    properties_->SetString("appId", identity.AppId());
    properties_->Save();
  }
  config.Load(properties_->GetJson("sdkConfig"));
  identity.LoadPrivacy(properties_->GetBool("gdprForgetMe"),
                       properties_->GetBool("disableThirdPartySharing"),
                       properties_->GetBool("disableThirdPartySharingCoppa"));
  return firstRun;
}

void SaveStorage::RegisterUriSchemesOnce(const std::vector<std::string>& schemes, int steamAppId) {
  if (schemes.empty() || properties_->GetBool("registerUriFlag")) return;
  RegisterUriSchemes(schemes, Utils::GetExecutablePath(), steamAppId);
  SaveBool("registerUriFlag", true);
}

void SaveStorage::SaveBool(const char* key, bool value) {
  properties_->SetBool(key, value);
  properties_->Save();
}

size_t SaveStorage::AdoptOrphanQueues(QueueManager& queue) { return folder_->AdoptOrphanQueues(queue); }

void SaveStorage::Close() {
  properties_->Save();
  folder_->Release();
}

}  // namespace CorvaneSDK
