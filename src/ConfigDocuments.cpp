// Reading the SDK configuration answer and the remote config answers. Server documents are
// outside input: every member is type-checked, and a wrong type costs that member only.
#include "ConfigDocuments.h"

#include <algorithm>
#include <cctype>

#include "Logger.h"

namespace CorvaneSDK {

namespace {

const char* TypeName(const Json& value) { return value.type_name(); }

// True when `entry[key]` is an array holding `value`. A member that is present but not an
// array is logged and holds nothing.
bool ListHolds(const Json& entry, const char* key, const std::string& value,
               const std::string& module) {
  auto it = entry.find(key);
  if (it == entry.end()) return false;
  if (!it->is_array()) {
    CORVANE_LOG_WARNING("SDK configuration: module " << module << ": \"" << key
                                                     << "\" is not an array (" << TypeName(*it)
                                                     << "); ignored");
    return false;
  }
  for (const Json& v : *it) {
    if (v.is_string() && v.get_ref<const std::string&>() == value) return true;
  }
  return false;
}

bool IsEntryKey(const std::string& key) {
  return key == "type" || key == "platforms" || key == "excludedPlatforms" ||
         key == "excludedWrappers";
}

void ApplyModuleEntry(const Json& entry, SdkConfigTarget& target) {
  auto type = entry.find("type");
  if (type == entry.end() || !type->is_string() || type->get_ref<const std::string&>().empty()) {
    CORVANE_LOG_WARNING("SDK configuration: module entry without a non-empty string \"type\"; "
                        "ignored");
    return;
  }
  const std::string name = type->get<std::string>();
  if (ListHolds(entry, "excludedPlatforms", target.platform, name) ||
      ListHolds(entry, "excludedWrappers", target.wrapper, name)) {
    target.excludedModules.push_back(name);
    return;
  }
  if (!ListHolds(entry, "platforms", target.platform, name)) return;  // for other platforms
  Json parameters = Json::object();
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    if (!IsEntryKey(it.key())) parameters[it.key()] = it.value();
  }
  auto existing = std::find_if(target.modules.begin(), target.modules.end(),
                               [&](const ModuleSpec& spec) { return spec.name == name; });
  if (existing == target.modules.end()) {
    target.modules.push_back(ModuleSpec{name, std::move(parameters)});
    return;
  }
  // Members of the configuration win over the host's members of the same name.
  if (!existing->parameters.is_object()) existing->parameters = Json::object();
  for (auto it = parameters.begin(); it != parameters.end(); ++it) {
    existing->parameters[it.key()] = it.value();
  }
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

const std::vector<std::string>& ThirdPartySettingNames() {
  static const std::vector<std::string> names = {
      "facebookAppId", "instagramAppId", "appleAppId", "appleSignInClientId",
      "googlePlayGameServicesProjectId", "googlePlayDeveloperAccountId", "linkedInAppId",
      "qqAppId", "weChatAppId", "tikTokAppId", "snapAppId"};
  return names;
}

std::string PlatformSettingsMember(const std::string& platform) {
  if (platform == "Windows") return "windowsSettings";
  if (platform == "macOS") return "macSettings";
  return "linuxSettings";
}

bool SdkConfigIsForApp(const Json& config, const std::string& appId, const std::string& appSecret,
                       const char* what) {
  if (!config.is_object()) {
    CORVANE_LOG_WARNING(what << " is not a JSON object (" << TypeName(config) << "); ignored");
    return false;
  }
  const std::pair<const char*, const std::string*> expected[] = {{"appId", &appId},
                                                                 {"appSecret", &appSecret}};
  for (const auto& member : expected) {
    auto it = config.find(member.first);
    if (it == config.end() || !it->is_string()) {
      CORVANE_LOG_WARNING(what << " has no string \"" << member.first << "\"; ignored");
      return false;
    }
    if (it->get_ref<const std::string&>() != *member.second) {
      CORVANE_LOG_WARNING(what << " is for another app (\"" << member.first
                               << "\" differs); ignored");
      return false;
    }
  }
  return true;
}

SdkConfigAnswer ReadSdkConfigAnswer(const std::string& text, const std::string& appId,
                                    const std::string& appSecret) {
  SdkConfigAnswer answer;
  if (text.empty()) return answer;  // failed request or nothing sent
  Json parsed;
  if (!ParseJson(text, parsed) || !parsed.is_object()) {
    CORVANE_LOG_WARNING("SDK configuration answer is not a JSON object; ignored");
    return answer;
  }
  auto config = parsed.find("sdk_config");
  if (config == parsed.end()) {
    CORVANE_LOG_DEBUG("SDK configuration unchanged");
    return answer;
  }
  if (!SdkConfigIsForApp(*config, appId, appSecret, "SDK configuration")) return answer;
  auto hash = parsed.find("sdk_config_hash");
  if (hash != parsed.end()) {
    if (hash->is_string()) {
      answer.hash = hash->get<std::string>();
    } else {
      CORVANE_LOG_WARNING("SDK configuration: \"sdk_config_hash\" is not a string; not kept");
    }
  }
  answer.accepted = true;
  answer.config = std::move(*config);
  if (!answer.hash.empty()) answer.config["hash"] = answer.hash;
  return answer;
}

void ApplySdkConfigTo(const Json& config, SdkConfigTarget& target) {
  if (!config.is_object()) return;
  auto third = config.find("thirdPartySettings");
  if (third != config.end()) {
    if (!third->is_object()) {
      CORVANE_LOG_WARNING("SDK configuration: \"thirdPartySettings\" is not an object; ignored");
    } else {
      for (const std::string& key : ThirdPartySettingNames()) {
        auto v = third->find(key);
        if (v == third->end()) continue;
        if (v->is_string()) {
          target.thirdPartyIds[key] = v->get<std::string>();
        } else {
          CORVANE_LOG_WARNING("SDK configuration: \"" << key << "\" is not a string; ignored");
        }
      }
    }
  }

  const std::string settingsKey = PlatformSettingsMember(target.platform);
  auto settings = config.find(settingsKey);
  if (settings != config.end()) {
    if (!settings->is_object()) {
      CORVANE_LOG_WARNING("SDK configuration: \"" << settingsKey << "\" is not an object; ignored");
    } else {
      const std::pair<const char*, std::string*> fields[] = {
          {"appName", &target.appName},
          {"bundleId", &target.bundleId},
          {"appVersion", &target.appVersion},
          {"appBuildNumber", &target.appBuildNumber}};
      for (const auto& field : fields) {
        auto v = settings->find(field.first);
        if (v == settings->end()) continue;
        if (v->is_string()) {
          *field.second = v->get<std::string>();
        } else {
          CORVANE_LOG_WARNING("SDK configuration: \"" << settingsKey << "." << field.first
                                                      << "\" is not a string; ignored");
        }
      }
    }
  }

  auto modules = config.find("modules");
  if (modules == config.end()) return;
  if (!modules->is_array()) {
    CORVANE_LOG_WARNING("SDK configuration: \"modules\" is not an array; ignored");
    return;
  }
  for (const Json& entry : *modules) {
    if (!entry.is_object()) {
      CORVANE_LOG_WARNING("SDK configuration: a module entry is not an object; ignored");
      continue;
    }
    ApplyModuleEntry(entry, target);
  }
}

std::string RemoteConfigEndpoint(const std::string& configUrl) {
  const size_t schemeEnd = configUrl.find("://");
  if (schemeEnd == std::string::npos) return std::string();
  const std::string scheme = Lower(configUrl.substr(0, schemeEnd));
  if (scheme != "http" && scheme != "https") return std::string();
  const size_t authorityStart = schemeEnd + 3;
  const size_t authorityEnd = configUrl.find_first_of("/?#", authorityStart);
  std::string authority = configUrl.substr(
      authorityStart, authorityEnd == std::string::npos ? std::string::npos
                                                        : authorityEnd - authorityStart);
  // User information is not part of the origin: credentials never travel to a second path.
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  if (authority.empty() || authority[0] == ':') return std::string();
  for (unsigned char c : authority) {
    if (c <= 0x20 || c >= 0x7f || c == '\\') return std::string();
  }
  return scheme + "://" + authority + "/rc/fetch";
}

std::string RemoteConfigLocation(const std::string& answer) {
  Json parsed;
  if (!ParseJson(answer, parsed) || !parsed.is_object()) return std::string();
  auto message = parsed.find("message");
  if (message == parsed.end() || !message->is_string()) return std::string();
  return message->get<std::string>();
}

bool ReadRemoteConfigDocument(const std::string& text, Json& out) {
  Json parsed;
  if (text.empty() || !ParseJson(text, parsed) || !parsed.is_object()) return false;
  out = std::move(parsed);
  return true;
}

}  // namespace CorvaneSDK
