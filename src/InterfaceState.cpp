// The C interface's process-wide state.
#include "InterfaceState.h"

#include <atomic>

#include "Event.h"
#include "QueueManager.h"
#include "SdkThreads.h"
#include "ThrottledCount.h"

namespace CorvaneSDK {
namespace {

struct Globals {
  std::recursive_mutex interfaceMutex;
  std::mutex lifecycleMutex;
  std::mutex instanceMutex;  // guards the instance members below, for lock-free readers
  std::shared_ptr<CorvaneSDKManager> manager;
  std::shared_ptr<ModuleContext> context;
  std::atomic<unsigned> generation{0};  // fork generation the manager was published in
  std::atomic<CorvaneSDKManager*> instance{nullptr};
  PendingStores pending;
  std::map<std::string, CorvaneSDKModuleFactory*> factories;
  std::mutex cacheMutex;
  std::vector<CachedEvent> cachedEvents;
  ThrottledCount cacheDrops;
};

Globals& G() {
  static Globals* globals = new Globals();
  return *globals;
}

thread_local int t_callbackDepth = 0;

bool InheritedLocked() { return G().manager && G().generation.load() != ForkGeneration(); }

// Leaves the inherited manager behind whole.
void AbandonInherited() {
  new std::shared_ptr<CorvaneSDKManager>(std::move(G().manager));
  new std::shared_ptr<ModuleContext>(std::move(G().context));
}

}  // namespace

std::recursive_mutex& InterfaceMutex() { return G().interfaceMutex; }
std::mutex& LifecycleMutex() { return G().lifecycleMutex; }
PendingStores& Pending() { return G().pending; }

CallbackScope::CallbackScope() { ++t_callbackDepth; }
CallbackScope::~CallbackScope() { --t_callbackDepth; }
bool InCallback() { return t_callbackDepth > 0; }

std::vector<CachedEvent> TakeCachedEvents() {
  std::lock_guard<std::mutex> lock(G().cacheMutex);
  std::vector<CachedEvent> out;
  out.swap(G().cachedEvents);
  return out;
}

void CacheEvent(EventPtr event, int64_t loggedAtMs) {
  if (!event) return;
  std::lock_guard<std::mutex> cache(G().cacheMutex);
  // Bounded like the queue, so a host that never starts the SDK cannot grow it forever.
  if (G().cachedEvents.size() >= QueueManager::kMaxQueuedEvents) {
    G().cachedEvents.erase(G().cachedEvents.begin());
    if (const uint64_t dropped = G().cacheDrops.Add()) {
      CORVANE_LOG_WARNING("Events waiting for the start exceed " << QueueManager::kMaxQueuedEvents
                                                                 << ": dropped the oldest "
                                                                 << dropped);
    }
  }
  G().cachedEvents.push_back(CachedEvent{std::move(event), loggedAtMs});
}

std::map<std::string, CorvaneSDKModuleFactory*>& ModuleFactories() { return G().factories; }

namespace Instance {

void Publish(std::shared_ptr<CorvaneSDKManager> manager, std::shared_ptr<ModuleContext> context) {
  std::lock_guard<std::mutex> lock(G().instanceMutex);
  if (InheritedLocked()) AbandonInherited();
  G().instance.store(manager.get());
  G().manager = std::move(manager);
  G().context = std::move(context);
  G().generation = ForkGeneration();
}

std::shared_ptr<CorvaneSDKManager> Current() {
  std::lock_guard<std::mutex> lock(G().instanceMutex);
  if (InheritedLocked()) return nullptr;
  return G().manager;
}

std::shared_ptr<CorvaneSDKManager> Live(const void* handle) {
  std::lock_guard<std::mutex> lock(G().instanceMutex);
  if (handle == nullptr || handle != static_cast<const void*>(G().manager.get())) return nullptr;
  if (InheritedLocked()) return nullptr;
  return G().manager;
}

std::shared_ptr<ModuleContext> LiveModuleContext(const void* handle) {
  std::lock_guard<std::mutex> lock(G().instanceMutex);
  if (handle == nullptr || handle != static_cast<const void*>(G().manager.get())) return nullptr;
  if (InheritedLocked()) return nullptr;
  return G().context;
}

CorvaneSDKManager* Pointer() { return G().instance.load(); }

bool ForgetIfInherited() {
  if (G().instance.load() == nullptr || G().generation.load() == ForkGeneration()) return false;
  // The child of fork() is single-threaded here, and the instance lock may have been copied
  // while held: the state is changed without it.
  G().instance.store(nullptr);
  AbandonInherited();
  return true;
}

}  // namespace Instance
}  // namespace CorvaneSDK
