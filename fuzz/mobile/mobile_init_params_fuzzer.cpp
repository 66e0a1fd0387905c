// Fuzz target for the JSON init-parameter string and module-parameter texts: no crash, no
// exception; a configuration that comes back has its id and secret and sane numbers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "CorvaneSDKConfiguration.h"
#include "FuzzPorts.h"

using namespace CorvaneSDK::Mobile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fuzz::installFuzzPorts("init-params");
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto config = CorvaneSDKConfiguration::createConfigurationFromJson(text);
  if (config) {
    Fuzz::require(config->flushInterval >= 1.0);
    Fuzz::require(config->flushAt <= (uint64_t{1} << 53));
    Fuzz::require(config->maxQueueSize == 5000);
    config->description();
    if (config->initializationActionList) {
      for (const auto& a : *config->initializationActionList) Fuzz::require(!a.data || a.data->is_object());
    }
    if (config->moduleDataList) {
      for (const auto& m : *config->moduleDataList) Fuzz::require(!m.data || m.data->is_object());
    }
    if (config->excludedModuleNames) {
      for (const auto& n : *config->excludedModuleNames) Fuzz::require(!n.empty());
    }
  }
  auto params = CorvaneSDKModuleInitializationParameters::initWithString(text);
  Fuzz::require(params.getData().is_object());
  for (auto it = params.getData().begin(); it != params.getData().end(); ++it) {
    params.getString(it.key(), "");
    params.getInt(it.key(), 0);
    params.getLongLong(it.key(), 0);
    params.getDouble(it.key(), 0);
    params.getBool(it.key(), false);
    auto list = params.getArray(it.key());
    Fuzz::require(!list || (list->is_array() && !list->empty()));
    auto map = params.getDictionary(it.key());
    Fuzz::require(!map || (map->is_object() && !map->empty()));
  }
  return 0;
}
