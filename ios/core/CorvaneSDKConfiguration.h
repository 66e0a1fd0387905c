// The record a host initialises the mobile framework with, made in code or from the JSON
// init-parameter string, and the read-only view of one module's parameters.
// Thread contract: a configuration is built on one thread and then only read (the manager
// copies what it needs); CorvaneSDKModuleInitializationParameters is immutable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKCrypto;
// Defined by the delivery and hook layers; the configuration only carries them.
class ApplicationPort;
class CorvaneSDKMiddleware;
class CorvaneSDKHTTPSessionDelegate;
struct CorvaneSDKMutableRequest;

// type 0: tracking authorization request; 1: notification authorization request.
struct CorvaneSDKInitializationAction {
  int64_t type = 0;
  std::optional<Value> data;  // a map when present
};

struct CorvaneSDKConfigurationModuleData {
  std::string className;
  std::optional<Value> data;  // a map when present
};

class CorvaneSDKModuleInitializationParameters {
 public:
  CorvaneSDKModuleInitializationParameters();  // empty
  // Anything but a map (or a map nested too deep) gives an empty map.
  static CorvaneSDKModuleInitializationParameters initWithDictionary(const Value& map);
  // A parse failure, or JSON that is not a map, gives an empty map; null counts as empty text.
  static CorvaneSDKModuleInitializationParameters initWithString(const char* json);
  static CorvaneSDKModuleInitializationParameters initWithString(const std::string& json);

  const Value& getData() const { return dict_; }
  bool hasKey(const std::string& key) const;
  // Each getter answers the stored value only when it has the expected kind, else the
  // fallback. Numbers: integers and floating values (floating ones truncated toward zero and
  // clamped to the result's range; NaN gives the fallback). getBool takes a boolean or a number.
  std::optional<std::string> getString(const std::string& key) const;
  std::string getString(const std::string& key, const std::string& fallback) const;
  int getInt(const std::string& key, int fallback) const;
  long getLong(const std::string& key, long fallback) const;
  long long getLongLong(const std::string& key, long long fallback) const;
  double getDouble(const std::string& key, double fallback) const;
  bool getBool(const std::string& key, bool fallback) const;
  // None also for an empty list or map.
  std::optional<Value> getArray(const std::string& key) const;
  std::optional<Value> getDictionary(const std::string& key) const;

 private:
  explicit CorvaneSDKModuleInitializationParameters(Value dict) : dict_(std::move(dict)) {}
  const Value* find(const std::string& key) const;
  Value dict_;
};

class CorvaneSDKConfiguration {
 public:
  // `init`: every default, no app id or secret.
  CorvaneSDKConfiguration();
  // `initWithAppId`.
  CorvaneSDKConfiguration(std::string appId, std::string appSecret);
  static std::shared_ptr<CorvaneSDKConfiguration> configurationWithAppId(const std::string& appId,
                                                                         const std::string& appSecret);
  // The init-parameter string; none (with a printed line) for bad JSON or a missing id or secret.
  static std::shared_ptr<CorvaneSDKConfiguration> createConfigurationFromJson(const char* text);
  static std::shared_ptr<CorvaneSDKConfiguration> createConfigurationFromJson(const std::string& text);

  std::string appId;
  std::string appSecret;
  int64_t appSwizzleFlag = 0;
  uint64_t flushAt = 20;
  double flushInterval = 30.0;  // seconds
  uint64_t maxQueueSize = 5000;
  std::optional<std::string> customUserId;
  std::optional<std::string> configId;
  bool waitConfigId = false;
  std::optional<std::string> host;
  std::optional<std::string> configUrl;
  std::optional<std::string> wrapper;
  std::optional<std::string> wrapperVersion;
  bool debug = false;
  bool captureInAppPurchases = false;
  bool useSkanConversionSchema = false;
  bool disableOnlineSdkConfig = false;
  bool autoStart = true;
  bool offline = false;
  bool sendInBackground = true;
  bool enableCoppa = false;
  int64_t storeType = 0;
  std::optional<std::string> facebookAppId, instagramAppId, appleAppId, appleSignInClientId, appleDeveloperTeamId,
      googlePlayGameServicesProjectId, googlePlayDeveloperAccountId, linkedInAppId, qqAppId, weChatAppId, tikTokAppId,
      snapAppId;
  std::optional<std::vector<std::string>> excludedModuleNames;
  std::optional<std::vector<CorvaneSDKInitializationAction>> initializationActionList;
  std::optional<std::vector<CorvaneSDKConfigurationModuleData>> moduleDataList;
  std::string libraryName = "corvane";
  std::string libraryVersion;
  // Pattern -> replacement template ("$1" keeps group 1), applied in this order.
  std::vector<std::pair<std::string, std::string>> payloadFilters;
  std::optional<Value> launchOptions;
  // Set by the host, or by the manager from the application port, when there is one.
  std::shared_ptr<ApplicationPort> application;
  std::function<std::shared_ptr<CorvaneSDKMutableRequest>(const std::string& url)> requestFactory;
  // When set, both storages of the framework encrypt with it.
  std::shared_ptr<CorvaneSDKCrypto> crypto;
  std::vector<std::shared_ptr<CorvaneSDKMiddleware>> middlewares;
  std::weak_ptr<CorvaneSDKHTTPSessionDelegate> httpSessionDelegate;

  void addModule(const std::string& className);
  // The text is parsed as JSON; a map becomes the data, anything else is dropped.
  void addModule(const std::string& className, const std::string& json);
  void addModule(const std::string& className, const Value& map);
  const std::optional<std::vector<CorvaneSDKConfigurationModuleData>>& getModuleDataList() const {
    return moduleDataList;
  }
  void addInitializationAction(int64_t type);
  void addInitializationAction(int64_t type, const std::string& json);
  void addInitializationAction(int64_t type, const Value& map);
  const std::optional<std::vector<CorvaneSDKInitializationAction>>& getInitializationActionList() const {
    return initializationActionList;
  }
  // An empty name is ignored.
  void addExcludedModuleName(const std::string& name);
  void addExcludedModuleNames(const std::vector<std::string>& names);
  const std::optional<std::vector<std::string>>& getExcludedModuleNames() const { return excludedModuleNames; }

  // "<CorvaneSDKConfiguration:0x…, {"appId":…,"shouldUseLocationServices":false,"flushAt":…}>"
  std::string description() const;

  // The default payload filter: Facebook sign-in tokens in deep links are redacted.
  static const char* const kDefaultPayloadFilterPattern;
  static const char* const kDefaultPayloadFilterTemplate;

 private:
  static std::optional<Value> mapFromText(const std::string& json);
};

}  // namespace Mobile
}  // namespace CorvaneSDK
