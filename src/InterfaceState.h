// The process-wide state of the C interface, below the manager: the interface lock
// (outermost lock of the SDK), the marker for code running inside a host callback, the
// events cached by LogEventCache before the manager could take them, the module factory
// registry, the stores of calls made before a manager exists, and the published manager
// instance. It knows the manager only by name. Leaked on purpose: SDK threads may outlive
// static destruction.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CallbackMaps.h"
#include "Event.h"
#include "Logger.h"

namespace CorvaneSDK {

class CorvaneSDKManager;
class CorvaneSDKModuleFactory;
class ModuleContext;

std::recursive_mutex& InterfaceMutex();

// Holds the interface lock for its scope; log lines of the section reach the host's log
// callback after the lock is released.
class InterfaceLock {
 public:
  InterfaceLock() : lock_(InterfaceMutex()) {}

 private:
  Logger::DeferScope defer_;  // declared first: destroyed after the lock is released
  std::lock_guard<std::recursive_mutex> lock_;
};

// Marks the current thread as running a host callback for the scope's lifetime.
class CallbackScope {
 public:
  CallbackScope();
  ~CallbackScope();
};
bool InCallback();

// Events waiting for the manager's start, with the Unix ms time they were logged at.
struct CachedEvent {
  EventPtr event;
  int64_t loggedAtMs;
};
// Appends to the cache, which keeps the newest 5000 (the oldest dropped with a Warning).
void CacheEvent(EventPtr event, int64_t loggedAtMs);
// Removes and returns the cached events, oldest first.
std::vector<CachedEvent> TakeCachedEvents();

// Registered module factories by name; callers hold the interface lock.
std::map<std::string, CorvaneSDKModuleFactory*>& ModuleFactories();

// Initialize and Destroy hold it; SDK threads never take it.
std::mutex& LifecycleMutex();

// What the host set before a manager existed; the interface lock guards it.
struct PendingStores {
  CallbackMaps callbacks;
  std::string url, token;
  void Clear() { *this = PendingStores(); }
};
PendingStores& Pending();

// The one manager instance. A manager inherited through fork() has no threads in the child:
// it is never handed out, and it is left behind whole rather than released (its release
// would wait for those threads for ever).
namespace Instance {
// Publishes `manager` (null: none); `context` is the same object as modules see it.
void Publish(std::shared_ptr<CorvaneSDKManager> manager, std::shared_ptr<ModuleContext> context);
// The manager of this process, or null.
std::shared_ptr<CorvaneSDKManager> Current();
// The manager behind `handle` when it is the live one of this process, else null. A stale
// or foreign handle is compared, never dereferenced.
std::shared_ptr<CorvaneSDKManager> Live(const void* handle);
std::shared_ptr<ModuleContext> LiveModuleContext(const void* handle);
// The published pointer without a lock (the C handle); may be an inherited one.
CorvaneSDKManager* Pointer();
// In a child of fork(): forgets a published manager of the parent without touching it or
// any lock, and returns true. Otherwise false and nothing changes.
bool ForgetIfInherited();
}  // namespace Instance

}  // namespace CorvaneSDK
