// The path every event takes to the queue. With auto start on, what the host logs before the
// automatic start waits in the interface's cache (InterfaceState.h) with its own time and
// goes out, in order, right after the start. Otherwise an event is dropped before
// initialization (early events may come while it runs), after Destroy, once the user is
// forgotten, and, unless early, before the start; a cacheable event travels inside the held
// open event; the rest is stamped and queued. A closing event marks the user forgotten.
// Flush waits here for the queue to empty.
// Thread contract: any thread. Takes the session's open lock, then, for copies, Identity's
// and the lifecycle's locks, then the queue's; calls no host code.
#pragma once

#include <atomic>
#include <cstdint>

#include "Event.h"
#include "ThrottledCount.h"

namespace CorvaneSDK {

class Env;
class Identity;
class InitializationSequence;
class LifecycleState;
class QueueManager;
class SessionTracker;

class SendPath {
 public:
  SendPath(Identity& identity, LifecycleState& lifecycle, SessionTracker& session,
           QueueManager& queue, const InitializationSequence& init,
           const std::atomic<bool>& abandoned, bool autoStart, Env& env);

  // Takes ownership of `event` whatever happens to it. A non-zero `loggedAtMs` (Unix ms)
  // keeps the time of an event that waited for the start.
  void Send(EventPtr event, int64_t loggedAtMs);
  // Whether events logged now wait for the automatic start.
  bool HoldsEventsBeforeStart() const { return autoStartPending_.load() && !abandoned_.load(); }
  // The automatic start has run (or was off): nothing waits for it any more.
  void EndAutoStartWait() { autoStartPending_ = false; }
  // Sends what waited for the start, oldest first.
  void DrainCached();
  // Flush: uploads what is queued until the queue is empty or `timeoutMs` has passed; true
  // when empty. False at once, with a Warning naming the cause, when nothing could be sent.
  // Called with no SDK lock held: the sending thread may need the interface lock.
  bool WaitForEmptyQueue(int timeoutMs);

 private:
  Identity& identity_;
  LifecycleState& lifecycle_;
  SessionTracker& session_;
  QueueManager& queue_;
  const InitializationSequence& init_;
  const std::atomic<bool>& abandoned_;
  Env& env_;
  std::atomic<bool> autoStartPending_;
  ThrottledCount notStartedDrops_;
};

}  // namespace CorvaneSDK
