// Plug-in modules: the process-wide map from a module's configured name to its class name, and
// the modules one manager loaded through the module-class port. A module whose class is not
// linked in, is excluded or cannot be made is skipped with a debug line, as on a device.
//
// Threads: thread-safe. The class-name map has a process-wide mutex, the loaded modules the
// object's; module factories run with neither held, so a module may ask for the manager.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ModuleClasses.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKConfiguration;

class CorvaneSDKModules {
 public:
  static std::map<std::string, std::string> classNameMap();
  static void addClassName(const std::string& name, const std::string& className);
  // The class name registered for `name`, else `name` itself.
  static std::string resolve(const std::string& name);

  // Loads the configured modules not yet loaded.
  void load(const CorvaneSDKConfiguration& configuration);
  // By configured or class name; null when it was not loaded.
  std::shared_ptr<PlatformModule> get(const std::string& name) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<PlatformModule>> modules_;  // guarded by mutex_
};

}  // namespace Mobile
}  // namespace CorvaneSDK
