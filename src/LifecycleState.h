// The manager's lifecycle flags: started, offline, foreground, auto start, and whether
// sending is on (not offline, and in the foreground or sending in the background). Each
// change reports what the queue must do, so that the caller tells the queue after the lock
// is gone.
// Thread contract: every member is thread-safe; one mutex, held only for copies, never while
// calling out (except the `refuse` check of Start, which reads Identity under its own lock).
#pragma once

#include <mutex>

namespace CorvaneSDK {

class LifecycleState {
 public:
  // What the queue must do after a change: nothing, resume or pause sending.
  enum class QueueChange { kNone, kResume, kPause };

  LifecycleState(bool offline, bool sendInBackground, bool autoStart);

  QueueChange SetForeground(bool foreground);
  QueueChange SetOffline(bool offline);
  // The sending flag recomputed with no input changed (after the queue was started).
  QueueChange Recompute();

  // Marks started unless it is already or `refuse()` says no; true when it was marked.
  // `sendingOn` gets whether sending is on.
  template <typename Refuse>
  bool Start(Refuse&& refuse, bool& sendingOn) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_ || refuse()) return false;
    started_ = true;
    sendingOn = sendingEnabled_;
    return true;
  }
  // Clears started and auto start (a stopped manager never starts by itself again).
  void Stop();

  bool Started() const;
  bool AutoStart() const;
  // Started and sending, read together.
  void Read(bool& started, bool& sendingOn) const;

 private:
  QueueChange RecomputeLocked();

  mutable std::mutex mutex_;
  bool started_ = false, offline_, foreground_ = false, sendingEnabled_;
  const bool sendInBackground_;
  bool autoStart_;
};

}  // namespace CorvaneSDK
