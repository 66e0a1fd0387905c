// SDK configuration: the stored document and its hash, the fetch at initialization, and
// applying the document to the identity values and the module lists. Threads: the fetch
// runs on the background executor, Cancel from any thread; Load and Apply run under the
// interface lock before initialization ends; Text from any thread. mutex_ guards the
// document, its hash, the running sender and the cancelled flag.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "InitializationData.h"
#include "Json.h"
#include "Transport.h"

namespace CorvaneSDK {

class ConfigSender;
class Env;
class Identity;
class Properties;

class SdkConfiguration {
 public:
  // Waits between attempts count on `env`'s clock; `env` outlives the configuration.
  SdkConfiguration(std::string appId, std::string appSecret, std::string configUrl,
                   TransportSettings transport, Env& env);

  // A stored document counts only when it was made for this app.
  void Load(const Json& stored);
  // The server's answer for `appVersion`, empty on failure or after Cancel.
  std::string Fetch(const std::string& platform, const std::string& appVersion);
  // Ends a running fetch at once; later fetches answer nothing.
  void Cancel();
  // Keeps a valid answer (also in `properties` when not null), then applies the stored
  // document, whether new or not, to `identity` and the module lists.
  void ApplyResponse(const std::string& response, Properties* properties, Identity& identity,
                     std::vector<ModuleSpec>& modules, std::vector<std::string>& excluded);
  // Compact text of the stored document, "" when none.
  std::string Text() const;

 private:
  void Apply(const Json& config, Identity& identity, std::vector<ModuleSpec>& modules,
             std::vector<std::string>& excluded);

  const std::string appId_, appSecret_, configUrl_;
  const TransportSettings transport_;
  Env& env_;
  mutable std::mutex mutex_;
  Json config_;  // null when none
  std::string hash_;
  ConfigSender* sender_ = nullptr;  // live while a fetch runs
  bool cancelled_ = false;
};

}  // namespace CorvaneSDK
