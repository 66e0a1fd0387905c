// How the SDK reads the configuration documents servers send: the SDK configuration answer
// (accept or refuse it, then apply it for this platform) and the two remote config answers
// (the document location, then the document). Pure functions, thread-safe; never throw.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "InitializationData.h"
#include "Json.h"

namespace CorvaneSDK {

// ---- SDK configuration ----

// What a configuration may change. The caller fills it from its state, applies, and copies
// the results back.
struct SdkConfigTarget {
  std::string platform;  // the device context's platform name ("Windows", "Linux", ...)
  std::string wrapper;
  // Third-party ids keyed by their "thirdPartySettings" member name ("facebookAppId", ...).
  std::map<std::string, std::string> thirdPartyIds;
  std::string appName, bundleId, appVersion, appBuildNumber;
  std::vector<ModuleSpec> modules;  // the host's module list; configuration entries merge in
  std::vector<std::string> excludedModules;
};

struct SdkConfigAnswer {
  bool accepted = false;
  Json config;       // the accepted configuration, with "hash" set when the answer had one
  std::string hash;  // "sdk_config_hash" of the answer; empty when absent or not a string
};

// The members of "thirdPartySettings", each a string replacing one third-party id.
const std::vector<std::string>& ThirdPartySettingNames();
// "windowsSettings" on Windows, "linuxSettings" on Linux, "macSettings" on macOS.
std::string PlatformSettingsMember(const std::string& platform);

// True when `config` is an object whose "appId" and "appSecret" are strings equal to the
// given ones. Otherwise false, with a Warning naming the fault (`what` says which document).
bool SdkConfigIsForApp(const Json& config, const std::string& appId, const std::string& appSecret,
                       const char* what);

// Reads the body of an SDK configuration answer. An empty text, a text that is not a JSON
// object, an answer without "sdk_config", or a configuration that is not for this app is not
// accepted (the refusals are logged at Warning).
SdkConfigAnswer ReadSdkConfigAnswer(const std::string& text, const std::string& appId,
                                    const std::string& appSecret);

// Applies a configuration object: third-party ids, the platform's app values, and the module
// entries (exclusions, "platforms", parameter merging). A member of the wrong type is ignored
// with a Warning; the rest still applies.
void ApplySdkConfigTo(const Json& config, SdkConfigTarget& target);

// ---- Remote config ----

// The remote config endpoint: the origin (scheme, host, port) of the SDK config URL followed
// by "/rc/fetch". Empty when `configUrl` is not an absolute http(s) URL.
std::string RemoteConfigEndpoint(const std::string& configUrl);

// The document location a POST answer names: its "message" member when the answer is a JSON
// object and that member is a string; else empty.
std::string RemoteConfigLocation(const std::string& answer);

// True when `text` is a non-empty JSON object within the nesting bound; `out` then holds it.
bool ReadRemoteConfigDocument(const std::string& text, Json& out);

}  // namespace CorvaneSDK
