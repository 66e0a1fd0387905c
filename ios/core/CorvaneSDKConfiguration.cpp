// Configuration defaults, the init-parameter reader and the module-parameter getters.
#include "CorvaneSDKConfiguration.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "CorvaneSDKLog.h"
#include "CorvaneSDKVersion.h"

namespace CorvaneSDK {
namespace Mobile {

const char* const CorvaneSDKConfiguration::kDefaultPayloadFilterPattern = "(fb\\d+://authorize#access_token=)([^ ]+)";
const char* const CorvaneSDKConfiguration::kDefaultPayloadFilterTemplate = "$1((redacted/fb-auth-token))";

namespace {

// The number as a double; none for anything but a JSON number (a boolean is not one).
std::optional<double> numberOf(const Value& v) {
  if (v.is_number_unsigned()) return static_cast<double>(v.get<uint64_t>());
  if (v.is_number_integer()) return static_cast<double>(v.get<int64_t>());
  if (v.is_number_float()) return v.get<double>();
  return std::nullopt;
}

// Integer part of a number within [lo, hi]; none for NaN or a value outside.
std::optional<int64_t> wholeIn(const Value& v, double lo, double hi) {
  // Unsigned first: nlohmann counts an unsigned value as an integer too.
  if (v.is_number_unsigned()) {
    const uint64_t u = v.get<uint64_t>();
    if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) || static_cast<double>(u) > hi) return std::nullopt;
    return static_cast<int64_t>(u);
  }
  if (v.is_number_integer()) {
    const int64_t i = v.get<int64_t>();
    if (static_cast<double>(i) < lo || static_cast<double>(i) > hi) return std::nullopt;
    return i;
  }
  auto d = numberOf(v);
  if (!d || !std::isfinite(*d)) return std::nullopt;
  const double t = std::trunc(*d);
  if (t < lo || t > hi) return std::nullopt;
  return static_cast<int64_t>(t);
}

void ignored(const std::string& key, const char* expected) {
  CorvaneSDKLog::always("Ignoring init parameter \"" + key + "\": expected " + expected);
}

template <typename T>
T clampTruncate(double d, T fallback) {
  if (std::isnan(d)) return fallback;
  const double t = std::trunc(d);
  if (t <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (t >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(t);
}

template <typename T>
T integerGetter(const Value* v, T fallback) {
  if (v == nullptr || !v->is_number()) return fallback;
  if (v->is_number_unsigned()) {
    const uint64_t u = v->get<uint64_t>();
    if (u > static_cast<uint64_t>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(u);
  }
  if (v->is_number_integer()) {
    const int64_t i = v->get<int64_t>();
    if (i < static_cast<int64_t>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (i > static_cast<int64_t>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(i);
  }
  return clampTruncate<T>(v->get<double>(), fallback);
}

}  // namespace

// ---- module parameters ----

CorvaneSDKModuleInitializationParameters::CorvaneSDKModuleInitializationParameters() : dict_(Value::object()) {}

CorvaneSDKModuleInitializationParameters CorvaneSDKModuleInitializationParameters::initWithDictionary(const Value& map) {
  if (!map.is_object() || !valueDepthWithin(map)) return CorvaneSDKModuleInitializationParameters();
  return CorvaneSDKModuleInitializationParameters(map);
}

CorvaneSDKModuleInitializationParameters CorvaneSDKModuleInitializationParameters::initWithString(const char* json) {
  return initWithString(json ? std::string(json) : std::string());
}

CorvaneSDKModuleInitializationParameters CorvaneSDKModuleInitializationParameters::initWithString(const std::string& json) {
  Value parsed;
  std::string error;
  if (!parseJson(json, parsed, &error)) {
    CorvaneSDKLog::debug("Unable to parse module parameters: " + error);
    return CorvaneSDKModuleInitializationParameters();
  }
  if (!parsed.is_object()) return CorvaneSDKModuleInitializationParameters();
  return CorvaneSDKModuleInitializationParameters(std::move(parsed));
}

const Value* CorvaneSDKModuleInitializationParameters::find(const std::string& key) const {
  auto it = dict_.find(key);
  return it == dict_.end() ? nullptr : &*it;
}

bool CorvaneSDKModuleInitializationParameters::hasKey(const std::string& key) const { return find(key) != nullptr; }

std::optional<std::string> CorvaneSDKModuleInitializationParameters::getString(const std::string& key) const {
  const Value* v = find(key);
  if (v == nullptr || !v->is_string()) return std::nullopt;
  return v->get<std::string>();
}

std::string CorvaneSDKModuleInitializationParameters::getString(const std::string& key, const std::string& fallback) const {
  auto s = getString(key);
  return s ? *s : fallback;
}

int CorvaneSDKModuleInitializationParameters::getInt(const std::string& key, int fallback) const {
  return integerGetter<int>(find(key), fallback);
}
long CorvaneSDKModuleInitializationParameters::getLong(const std::string& key, long fallback) const {
  return integerGetter<long>(find(key), fallback);
}
long long CorvaneSDKModuleInitializationParameters::getLongLong(const std::string& key, long long fallback) const {
  return integerGetter<long long>(find(key), fallback);
}

double CorvaneSDKModuleInitializationParameters::getDouble(const std::string& key, double fallback) const {
  const Value* v = find(key);
  if (v == nullptr) return fallback;
  auto d = numberOf(*v);
  return d ? *d : fallback;
}

bool CorvaneSDKModuleInitializationParameters::getBool(const std::string& key, bool fallback) const {
  const Value* v = find(key);
  if (v == nullptr) return fallback;
  if (v->is_boolean()) return v->get<bool>();
  auto d = numberOf(*v);
  if (!d || std::isnan(*d)) return fallback;
  return *d != 0;
}

std::optional<Value> CorvaneSDKModuleInitializationParameters::getArray(const std::string& key) const {
  const Value* v = find(key);
  if (v == nullptr || !v->is_array() || v->empty()) return std::nullopt;
  return *v;
}

std::optional<Value> CorvaneSDKModuleInitializationParameters::getDictionary(const std::string& key) const {
  const Value* v = find(key);
  if (v == nullptr || !v->is_object() || v->empty()) return std::nullopt;
  return *v;
}

// ---- configuration ----

CorvaneSDKConfiguration::CorvaneSDKConfiguration() : libraryVersion(kCorvaneSDKVersion) {
  payloadFilters.emplace_back(kDefaultPayloadFilterPattern, kDefaultPayloadFilterTemplate);
}

CorvaneSDKConfiguration::CorvaneSDKConfiguration(std::string id, std::string secret) : CorvaneSDKConfiguration() {
  appId = std::move(id);
  appSecret = std::move(secret);
}

std::shared_ptr<CorvaneSDKConfiguration> CorvaneSDKConfiguration::configurationWithAppId(const std::string& id,
                                                                                       const std::string& secret) {
  return std::make_shared<CorvaneSDKConfiguration>(id, secret);
}

std::optional<Value> CorvaneSDKConfiguration::mapFromText(const std::string& json) {
  Value parsed;
  std::string error;
  if (!parseJson(json, parsed, &error)) {
    CorvaneSDKLog::debug("Dropping data that is not JSON: " + error);
    return std::nullopt;
  }
  if (!parsed.is_object()) return std::nullopt;
  return parsed;
}

void CorvaneSDKConfiguration::addModule(const std::string& className) {
  if (!moduleDataList) moduleDataList.emplace();
  moduleDataList->push_back({className, std::nullopt});
}

void CorvaneSDKConfiguration::addModule(const std::string& className, const std::string& json) {
  if (!moduleDataList) moduleDataList.emplace();
  moduleDataList->push_back({className, mapFromText(json)});
}

void CorvaneSDKConfiguration::addModule(const std::string& className, const Value& map) {
  if (!moduleDataList) moduleDataList.emplace();
  std::optional<Value> data;
  if (map.is_object() && valueDepthWithin(map)) data = map;
  moduleDataList->push_back({className, std::move(data)});
}

void CorvaneSDKConfiguration::addInitializationAction(int64_t type) {
  if (!initializationActionList) initializationActionList.emplace();
  initializationActionList->push_back({type, std::nullopt});
}

void CorvaneSDKConfiguration::addInitializationAction(int64_t type, const std::string& json) {
  if (!initializationActionList) initializationActionList.emplace();
  initializationActionList->push_back({type, mapFromText(json)});
}

void CorvaneSDKConfiguration::addInitializationAction(int64_t type, const Value& map) {
  if (!initializationActionList) initializationActionList.emplace();
  std::optional<Value> data;
  if (map.is_object() && valueDepthWithin(map)) data = map;
  initializationActionList->push_back({type, std::move(data)});
}

void CorvaneSDKConfiguration::addExcludedModuleName(const std::string& name) {
  if (name.empty()) return;
  if (!excludedModuleNames) excludedModuleNames.emplace();
  excludedModuleNames->push_back(name);
}

void CorvaneSDKConfiguration::addExcludedModuleNames(const std::vector<std::string>& names) {
  for (const auto& name : names) addExcludedModuleName(name);
}

std::string CorvaneSDKConfiguration::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  Value fields = Value::object();
  fields["appId"] = appId;
  fields["shouldUseLocationServices"] = false;
  fields["flushAt"] = flushAt;
  return std::string("<CorvaneSDKConfiguration:") + address + ", " + dumpJson(fields) + ">";
}

std::shared_ptr<CorvaneSDKConfiguration> CorvaneSDKConfiguration::createConfigurationFromJson(const char* text) {
  if (text == nullptr) {
    CorvaneSDKLog::always("Error while parsing init parameters: no text");
    return nullptr;
  }
  return createConfigurationFromJson(std::string(text));
}

std::shared_ptr<CorvaneSDKConfiguration> CorvaneSDKConfiguration::createConfigurationFromJson(const std::string& text) {
  try {
    Value root;
    std::string error;
    if (!parseJson(text, root, &error)) {
      CorvaneSDKLog::always("Error while parsing init parameters: " + error);
      return nullptr;
    }
    if (!root.is_object()) {
      CorvaneSDKLog::always("Error while parsing init parameters: the text is not a JSON object");
      return nullptr;
    }
    auto idIt = root.find("appId");
    if (idIt == root.end() || !idIt->is_string()) {
      CorvaneSDKLog::always("Missing appId when initializing");
      return nullptr;
    }
    auto secretIt = root.find("appSecret");
    if (secretIt == root.end() || !secretIt->is_string()) {
      CorvaneSDKLog::always("Missing appSecret when initializing");
      return nullptr;
    }
    auto config = configurationWithAppId(idIt->get<std::string>(), secretIt->get<std::string>());

    auto readString = [&](const char* key, std::optional<std::string>& field) {
      auto it = root.find(key);
      if (it == root.end()) return;
      if (it->is_string()) {
        field = it->get<std::string>();
      } else {
        ignored(key, "a string");
      }
    };
    auto readBool = [&](const char* key, bool& field) {
      auto it = root.find(key);
      if (it == root.end()) return;
      if (it->is_boolean()) {
        field = it->get<bool>();
      } else {
        ignored(key, "a boolean");
      }
    };
    auto readWhole = [&](const char* key, double lo, double hi, const char* expected) -> std::optional<int64_t> {
      auto it = root.find(key);
      if (it == root.end()) return std::nullopt;
      auto v = wholeIn(*it, lo, hi);
      if (!v) ignored(key, expected);
      return v;
    };
    constexpr double kMaxWhole = 9007199254740992.0;  // 2^53: every whole double is exact below it

    if (auto v = readWhole("appSwizzleFlag", -kMaxWhole, kMaxWhole, "a number")) config->appSwizzleFlag = *v;
    readString("facebookAppId", config->facebookAppId);
    readString("instagramAppId", config->instagramAppId);
    readString("appleAppId", config->appleAppId);
    readString("appleSignInClientId", config->appleSignInClientId);
    readString("appleDeveloperTeamId", config->appleDeveloperTeamId);
    readString("googlePlayGameServicesProjectId", config->googlePlayGameServicesProjectId);
    readString("googlePlayDeveloperAccountId", config->googlePlayDeveloperAccountId);
    readString("linkedInAppId", config->linkedInAppId);
    readString("qqAppId", config->qqAppId);
    readString("weChatAppId", config->weChatAppId);
    readString("tikTokAppId", config->tikTokAppId);
    readString("snapAppId", config->snapAppId);
    // Below one second the flush timer would spin; a year is far beyond any use.
    if (auto v = readWhole("flushInterval", 1, 31536000, "a number of at least one second")) {
      config->flushInterval = static_cast<double>(*v);
    }
    if (auto v = readWhole("flushQueueSize", 0, kMaxWhole, "a number of at least 0")) {
      config->flushAt = static_cast<uint64_t>(*v);
    }
    readString("customUserId", config->customUserId);
    readBool("waitConfigId", config->waitConfigId);
    readString("host", config->host);
    readString("configUrl", config->configUrl);
    readString("wrapper", config->wrapper);
    readString("wrapperVersion", config->wrapperVersion);
    readBool("debug", config->debug);
    readBool("captureInAppPurchases", config->captureInAppPurchases);
    readBool("useSkanConversionSchema", config->useSkanConversionSchema);
    readBool("disableOnlineSdkConfig", config->disableOnlineSdkConfig);
    readBool("autoStart", config->autoStart);
    readBool("offline", config->offline);
    readBool("sendInBackground", config->sendInBackground);
    readBool("enableCoppa", config->enableCoppa);
    if (auto v = readWhole("storeType", std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(),
                           "a number")) {
      config->storeType = *v;
    }
    auto excluded = root.find("excludedModuleNames");
    if (excluded != root.end()) {
      if (excluded->is_array()) {
        for (const auto& name : *excluded) {
          if (name.is_string()) config->addExcludedModuleName(name.get<std::string>());
        }
      } else {
        ignored("excludedModuleNames", "an array");
      }
    }

    // Data of an action or module: a map, or a string holding a JSON map.
    auto dataOf = [](const Value& element) -> std::optional<Value> {
      auto it = element.find("data");
      if (it == element.end()) return std::nullopt;
      if (it->is_object()) return *it;
      if (it->is_string()) return mapFromText(it->get<std::string>());
      return std::nullopt;
    };
    auto actions = root.find("initializationActions");
    if (actions != root.end()) {
      if (actions->is_array()) {
        for (const auto& element : *actions) {
          if (!element.is_object()) continue;
          auto type = element.find("type");
          std::optional<int64_t> t;
          if (type != element.end()) t = wholeIn(*type, -kMaxWhole, kMaxWhole);
          if (!t) {
            ignored("initializationActions", "a numeric \"type\" in each action");
            continue;
          }
          auto data = dataOf(element);
          if (!config->initializationActionList) config->initializationActionList.emplace();
          config->initializationActionList->push_back({*t, std::move(data)});
        }
      } else {
        ignored("initializationActions", "an array");
      }
    }
    auto modules = root.find("modules");
    if (modules != root.end()) {
      if (modules->is_array()) {
        for (const auto& element : *modules) {
          if (!element.is_object()) continue;
          auto path = element.find("classPath");
          if (path == element.end() || !path->is_string()) {
            ignored("modules", "a string \"classPath\" in each module");
            continue;
          }
          auto data = dataOf(element);
          if (!config->moduleDataList) config->moduleDataList.emplace();
          config->moduleDataList->push_back({path->get<std::string>(), std::move(data)});
        }
      } else {
        ignored("modules", "an array");
      }
    }
    return config;
  } catch (const std::exception& e) {
    CorvaneSDKLog::always(std::string("Error while parsing init parameters: ") + e.what());
  } catch (...) {
    CorvaneSDKLog::always("Error while parsing init parameters: unknown failure");
  }
  return nullptr;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
