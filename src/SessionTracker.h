// Sessions and the open event's hold. A session starts at the first start, and again at a
// resume after more than 30 s in pause; each starts with an open event that is held for 5 s
// so that cacheable events (at most 100) travel inside it. While held it is also kept on
// disk (owner of the folder only), so a run that dies during the hold delivers it next time.
// Locks: openMutex_ (recursive: sending the open event re-enters the send path) guards the
// open event, the held events and the store; pauseMutex_ (taken before Identity's lock)
// guards the pause time and the first-run flag.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "Event.h"
#include "Json.h"

namespace CorvaneSDK {

class DeviceContext;
class Env;
class Identity;
class PendingOpenStore;
class QueueManager;

class SessionTracker {
 public:
  static constexpr int64_t kSessionTimeoutMs = 30000;
  static constexpr int64_t kOpenEventHoldMs = 5000;
  static constexpr size_t kMaxHeldEvents = 100;

  // `send` is the manager's send path; `openExtras` are merged into every open event's
  // value; `store` (may be null) keeps the held open event on disk. Time and session ids
  // come from `env`.
  SessionTracker(Identity& identity, DeviceContext& context, std::function<void(EventPtr)> send,
                 Json openExtras, std::unique_ptr<PendingOpenStore> store, Env& env);
  ~SessionTracker();

  void SetFirstRun(bool firstRun);
  void MarkPause(int64_t nowMs);
  void ClearPause();
  // Starts a new session unless the current one is still fresh.
  void Check();

  // The open mutex, for the send path's decision (log lines deferred by the caller).
  std::unique_lock<std::recursive_mutex> Lock() const;
  // Caller holds Lock(). Whether the open event is being held now.
  bool Holding() const;
  // Caller holds Lock(). Takes a cacheable event to keep back; false (and `event` left to
  // the caller) when 100 are kept already.
  bool Hold(EventPtr& event);
  // Sends the open event (or, without one, the held events) now.
  void EndHold();
  // As EndHold, but only while the open event is held (Flush).
  void EndHoldIfHolding();
  // For the sending thread: true when nothing is held back, ending a hold whose time is up.
  bool ReadyToSend();
  // The open event of a run that ended during its hold goes first into `queue`.
  void DeliverLeftOver(QueueManager& queue);

  bool HasOpenEvent() const;
  size_t HeldCount() const;

 private:
  void SendHeld();
  void Persist();
  EventPtr BuildOpenEvent(bool firstOpen) const;

  Identity& identity_;
  DeviceContext& context_;
  Env& env_;
  const std::function<void(EventPtr)> send_;
  const Json openExtras_;

  mutable std::recursive_mutex openMutex_;
  EventPtr openEvent_;
  // Read without the lock by the sending thread's per-cycle check.
  std::atomic<bool> holding_{false};
  int64_t deadlineMs_ = 0;
  std::vector<EventPtr> held_;
  std::unique_ptr<PendingOpenStore> store_;

  std::mutex pauseMutex_;
  bool hasLastPause_ = false;
  int64_t lastPauseMs_ = 0;
  bool firstRun_ = false;
};

}  // namespace CorvaneSDK
