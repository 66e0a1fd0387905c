#include "CorvaneSDKModules.h"

#include <set>

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKLog.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {

struct ClassNames {
  std::mutex mutex;
  std::map<std::string, std::string> map{{"AppsFlyer", "CorvaneSDKAppsFlyerModule"},
                                         {"AppsFlyerAdRevenue", "CorvaneSDKAppsFlyerAdRevenueModule"},
                                         {"Adjust", "CorvaneSDKAdjustModule"},
                                         {"Tenjin", "CorvaneSDKTenjinModule"},
                                         {"Singular", "CorvaneSDKSingularModule"}};
};

ClassNames& classNames() {
  static ClassNames* names = new ClassNames();  // outlives every static destructor
  return *names;
}

}  // namespace

std::map<std::string, std::string> CorvaneSDKModules::classNameMap() {
  auto& names = classNames();
  std::lock_guard<std::mutex> lock(names.mutex);
  return names.map;
}

void CorvaneSDKModules::addClassName(const std::string& name, const std::string& className) {
  if (name.empty() || className.empty()) return;
  auto& names = classNames();
  std::lock_guard<std::mutex> lock(names.mutex);
  names.map[name] = className;
}

std::string CorvaneSDKModules::resolve(const std::string& name) {
  auto& names = classNames();
  std::lock_guard<std::mutex> lock(names.mutex);
  auto found = names.map.find(name);
  return found == names.map.end() ? name : found->second;
}

void CorvaneSDKModules::load(const CorvaneSDKConfiguration& c) {
  std::set<std::string> excluded;
  if (c.excludedModuleNames) {
    for (const auto& name : *c.excludedModuleNames) {
      excluded.insert(resolve(name));
      CorvaneSDKLog::debug("Excluded module: " + resolve(name));
    }
  }
  if (!c.moduleDataList) return;
  auto classes = Platform::current()->moduleClasses;
  for (const auto& entry : *c.moduleDataList) {
    const std::string className = resolve(entry.className);
    if (excluded.count(className)) {
      CorvaneSDKLog::debug("Skipping excluded module " + className);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (modules_.count(className)) {
        CorvaneSDKLog::debug("Module " + className + " is already loaded");
        continue;
      }
    }
    // A module that is not linked in is simply absent, as on a device without it.
    ModuleFactory factory = classes ? classes->lookUpClass(className) : ModuleFactory();
    if (!factory) {
      CorvaneSDKLog::debug("Module class not found: " + className);
      continue;
    }
    std::shared_ptr<PlatformModule> module;
    try {
      module = factory(entry.data && entry.data->is_object() ? *entry.data : Value::object());
    } catch (...) {
    }
    if (!module) {
      CorvaneSDKLog::debug("Module " + className + " could not be created");
      continue;
    }
    CorvaneSDKLog::debug("Module loaded: " + className);
    std::lock_guard<std::mutex> lock(mutex_);
    modules_[className] = module;
    modules_.emplace(entry.className, module);
  }
}

std::shared_ptr<PlatformModule> CorvaneSDKModules::get(const std::string& name) const {
  const std::string className = resolve(name);
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = modules_.find(name);
  if (found == modules_.end()) found = modules_.find(className);
  return found == modules_.end() ? nullptr : found->second;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
