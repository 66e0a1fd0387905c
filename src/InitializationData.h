// The configuration record the host fills before Initialize. Plain data with the defaults
// below; the manager copies everything it needs at construction, so the host may destroy
// the record as soon as Initialize returns. One thread at a time (the host's).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Json.h"

namespace CorvaneSDK {

// Built-in endpoints, used when the host sets none.
constexpr const char kDefaultEventHost[] = "https://events.corvane.io/v4/event";
constexpr const char kDefaultConfigUrl[] = "https://config.corvane.io/v1/public/config";
constexpr const char kDefaultRemoteConfigUrl[] = "https://config.corvane.io/rc/fetch";

struct ModuleSpec {
  std::string name;
  Json parameters = Json::object();
};

struct InitializationAction {
  int action = 0;
  Json parameters = Json::object();
};

class InitializationData {
 public:
  InitializationData(std::string id, std::string secret)
      : appId(std::move(id)), appSecret(std::move(secret)) {}

  std::string appId;
  std::string appSecret;
  int logLevel = 1;
  std::string savePath;
  std::string customUserId;
  std::string configId;
  std::string bundleId;
  std::string host;
  std::string configUrl;
  std::string facebookAppId;
  std::string instagramAppId;
  std::string appleAppId;
  std::string appleSignInClientId;
  std::string appleDeveloperTeamId;
  std::string googlePlayGameServicesProjectId;
  std::string googlePlayDeveloperAccountId;
  std::string linkedInAppId;
  std::string qqAppId;
  std::string weChatAppId;
  std::string tikTokAppId;
  std::string snapAppId;
  std::string wrapper;
  std::string wrapperVersion;
  std::string appName;
  std::string appVersion = "0.0.1";
  std::string appBuildNumber = "1";
  int storeType = -1;
  int maxRetries = 3;
  int initialRetryInterval = 500;
  int flushQueueSize = 3;
  int flushSendSize = 50;
  int queueCheckInterval = 500;
  int sendDelay = 1000;
  // Longest time in ms that queued events wait for a data sync of the queue file to the
  // disk; 0: no syncs (the OS writes it back in its own time).
  int queueSyncInterval = 1000;
  bool autoStart = true;
  bool enableSave = true;
  bool offline = false;
  bool sendInBackground = true;
  bool enableCoppa = false;
  // Off (or COPPA on): no MAC address, local IP or machine-derived device id is collected.
  bool collectDeviceIdentifiers = true;
  bool disableOnlineSdkConfig = false;
  bool customConfigId = false;
  bool registerUriScheme = true;
  std::vector<std::string> uriSchemes;
  std::vector<ModuleSpec> modules;
  std::vector<InitializationAction> initializationActions;
  std::vector<std::string> excludedModuleNames;
  std::string sendProxy;
  std::string sendProxyCertificateAuthority;
  std::string sendCertificateAuthority;
  bool sendSslVerify = true;
  bool steamBuild = false;
  int steamAppId = 0;

  // Module and action parameters: a text that is not a JSON object becomes {}.
  static Json ParseParameters(const std::string& text);
  void AddModule(const std::string& name, const std::string& parameters);
  void AddInitializationAction(int action, const std::string& parameters);
  void AddExcludedModuleName(const std::string& name);
};

}  // namespace CorvaneSDK
