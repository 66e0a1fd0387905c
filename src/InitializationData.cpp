// Parameter parsing and list setters of the configuration record.
#include "InitializationData.h"

#include "Logger.h"

namespace CorvaneSDK {

Json InitializationData::ParseParameters(const std::string& text) {
  Json parsed;
  if (text.empty()) return Json::object();
  if (!ParseJson(text, parsed) || !parsed.is_object()) {
    CORVANE_LOG_WARNING("Parameters are not a JSON object, using {}: " << text.substr(0, 200));
    return Json::object();
  }
  return parsed;
}

void InitializationData::AddModule(const std::string& name, const std::string& parameters) {
  if (name.empty()) return;
  modules.push_back(ModuleSpec{name, ParseParameters(parameters)});
}

void InitializationData::AddInitializationAction(int action, const std::string& parameters) {
  initializationActions.push_back(InitializationAction{action, ParseParameters(parameters)});
}

void InitializationData::AddExcludedModuleName(const std::string& name) {
  if (name.empty()) return;
  excludedModuleNames.push_back(name);
}

}  // namespace CorvaneSDK
