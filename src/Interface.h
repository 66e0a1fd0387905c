// Process-wide pieces of the C interface that the manager needs: the recursive interface
// lock (outermost lock of the SDK), the marker for code running inside a host callback, and
// the events cached by LogEventCache before the manager could take them.
#pragma once

#include <mutex>
#include <vector>

namespace CorvaneSDK {

class Event;

std::recursive_mutex& InterfaceMutex();

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
