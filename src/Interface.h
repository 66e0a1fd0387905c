// Process-wide pieces of the C interface that the manager needs: the recursive interface
// lock (outermost lock of the SDK), the marker for code running inside a host callback, and
// the events cached by LogEventCache before the manager could take them.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "Logger.h"

namespace CorvaneSDK {

class Event;

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
  Event* event;
  int64_t loggedAtMs;
};
// Appends to the cache, which keeps the newest 5000 (the oldest dropped with a Warning).
void CacheEvent(Event* event, int64_t loggedAtMs);
// Removes and returns the cached events, oldest first.
std::vector<CachedEvent> TakeCachedEvents();

// The library is being unloaded (or the process exits) without Destroy: destroys the
// manager as Destroy would and joins every SDK thread, bounded.
void ShutdownForUnload();

}  // namespace CorvaneSDK
