// The process-wide module factory registry and the manager entry points the module base
// class uses. The registry is guarded by the interface lock; LiveManager by the instance lock.
#pragma once

#include <map>
#include <memory>
#include <string>

namespace CorvaneSDK {

class CorvaneSDKManager;
class CorvaneSDKModule;
class CorvaneSDKModuleFactory;

// Registered factories by name; callers hold the interface lock.
std::map<std::string, CorvaneSDKModuleFactory*>& ModuleFactories();
// The manager behind `handle` when it is the live one, else null.
std::shared_ptr<CorvaneSDKManager> LiveManager(const void* handle);
// Appends an initialization action of `module` when `manager` is creating its modules on
// this thread (the module's constructor runs inside its factory); otherwise a Warning and
// nothing, so the action list never changes while the action thread walks it.
void AddInitializationActionFromModule(const void* manager, CorvaneSDKModule* module, int action,
                                       const std::string& parameters);

}  // namespace CorvaneSDK
