// Fuzz target for the SDK configuration answer: reading it (accept or refuse for this app)
// and applying a configuration to the values and module lists it may change. Whatever the
// server sends, neither may crash, throw or hang; an accepted configuration is for this app
// and carries the answer's hash; applying never duplicates or unnames a module.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "ConfigDocuments.h"
#include "Json.h"
#include "Logger.h"

namespace {

using namespace CorvaneSDK;

constexpr size_t kMaxInput = 1 << 20;

void Require(bool condition) {
  if (!condition) std::abort();
}

SdkConfigTarget HostSetup(const std::string& platform) {
  SdkConfigTarget target;
  target.platform = platform;
  target.wrapper = "unity";
  target.thirdPartyIds["facebookAppId"] = "fb-host";
  target.appName = "Game";
  target.bundleId = "com.example.game";
  target.appVersion = "1.0";
  target.appBuildNumber = "1";
  target.modules.push_back(ModuleSpec{"A", Json::object({{"x", 1}})});
  target.modules.push_back(ModuleSpec{"B", Json()});  // null parameters become an object
  target.excludedModules.push_back("C");
  return target;
}

void Apply(const Json& config) {
  for (const char* platform : {"Windows", "Linux"}) {
    SdkConfigTarget target = HostSetup(platform);
    ApplySdkConfigTo(config, target);
    std::set<std::string> names;
    for (const ModuleSpec& spec : target.modules) {
      Require(!spec.name.empty());
      Require(names.insert(spec.name).second);
    }
    for (const std::string& name : target.excludedModules) Require(!name.empty());
    // What the manager stores must serialise.
    (void)DumpJson(config);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = (Logger::SetLevel(-1), true);  // bad input is the normal case
  (void)silenced;
  if (size > kMaxInput) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  // The input as the whole answer.
  const SdkConfigAnswer answer = ReadSdkConfigAnswer(text, "app", "secret");
  if (answer.accepted) {
    Require(answer.config.is_object());
    Require(answer.config.value("appId", "") == "app");
    Require(answer.config.value("appSecret", "") == "secret");
    if (!answer.hash.empty()) Require(answer.config.value("hash", "") == answer.hash);
    Apply(answer.config);
  }

  // The input as the configuration of an answer for this app, so that random members reach
  // the apply step.
  Json parsed;
  if (ParseJson(text, parsed) && parsed.is_object()) {
    parsed["appId"] = "app";
    parsed["appSecret"] = "secret";
    const Json wrapped = {{"sdk_config", parsed}, {"sdk_config_hash", "h"}};
    const SdkConfigAnswer own = ReadSdkConfigAnswer(DumpJson(wrapped), "app", "secret");
    Require(own.accepted);
    Require(own.config.value("hash", "") == "h");
    Apply(own.config);
  }
  return 0;
}
