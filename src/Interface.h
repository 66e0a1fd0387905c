// Process-wide pieces of the C interface that the manager needs: the recursive interface
// lock (outermost lock of the SDK), the marker for code running inside a host callback, and
// the events cached by LogEventCache before the manager could take them.
#pragma once

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

// Removes and returns the cached events, oldest first.
std::vector<Event*> TakeCachedEvents();

}  // namespace CorvaneSDK
