#include "LifecycleState.h"

namespace CorvaneSDK {

LifecycleState::LifecycleState(bool offline, bool sendInBackground, bool autoStart)
    : offline_(offline),
      sendingEnabled_(!offline && sendInBackground),
      sendInBackground_(sendInBackground),
      autoStart_(autoStart) {}

LifecycleState::QueueChange LifecycleState::RecomputeLocked() {
  const bool enabled = !offline_ && (foreground_ || sendInBackground_);
  const bool changed = enabled != sendingEnabled_;
  sendingEnabled_ = enabled;
  // Before the start the queue is not sending; Start resumes it then.
  if (!changed || !started_) return QueueChange::kNone;
  return enabled ? QueueChange::kResume : QueueChange::kPause;
}

LifecycleState::QueueChange LifecycleState::SetForeground(bool foreground) {
  std::lock_guard<std::mutex> lock(mutex_);
  foreground_ = foreground;
  return RecomputeLocked();
}

LifecycleState::QueueChange LifecycleState::SetOffline(bool offline) {
  std::lock_guard<std::mutex> lock(mutex_);
  offline_ = offline;
  return RecomputeLocked();
}

LifecycleState::QueueChange LifecycleState::Recompute() {
  std::lock_guard<std::mutex> lock(mutex_);
  return RecomputeLocked();
}

void LifecycleState::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  autoStart_ = false;
  started_ = false;
}

bool LifecycleState::Started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

bool LifecycleState::AutoStart() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return autoStart_;
}

void LifecycleState::Read(bool& started, bool& sendingOn) const {
  std::lock_guard<std::mutex> lock(mutex_);
  started = started_;
  sendingOn = sendingEnabled_;
}

}  // namespace CorvaneSDK
