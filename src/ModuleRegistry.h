// The process-wide module factory registry and the live-manager lookup used by modules.
// Guarded by the interface lock (registry) and the instance lock (live manager).
#pragma once

#include <map>
#include <memory>
#include <string>

namespace CorvaneSDK {

class CorvaneSDKManager;
class CorvaneSDKModuleFactory;

// Registered factories by name; callers hold the interface lock.
std::map<std::string, CorvaneSDKModuleFactory*>& ModuleFactories();
// The manager behind `handle` when it is the live one, else null.
std::shared_ptr<CorvaneSDKManager> LiveManager(const void* handle);

}  // namespace CorvaneSDK
