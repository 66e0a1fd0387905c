#include "SendPath.h"

#include "Env.h"
#include "Event.h"
#include "Identity.h"
#include "InitializationSequence.h"
#include "InterfaceState.h"
#include "LifecycleState.h"
#include "Logger.h"
#include "QueueManager.h"
#include "SessionTracker.h"

namespace CorvaneSDK {

SendPath::SendPath(Identity& identity, LifecycleState& lifecycle, SessionTracker& session,
                   QueueManager& queue, const InitializationSequence& init,
                   const std::atomic<bool>& abandoned, bool autoStart, Env& env)
    : identity_(identity),
      lifecycle_(lifecycle),
      session_(session),
      queue_(queue),
      init_(init),
      abandoned_(abandoned),
      env_(env),
      autoStartPending_(autoStart),
      notStartedDrops_(10000, &env) {}

void SendPath::Send(EventPtr event, int64_t loggedAtMs) {
  if (!event) return;
  const bool early = (event->flags & kEventFlagEarly) != 0;
  // Auto start on: the host believes the SDK runs once Initialize returned, so what it logs
  // before the automatic start waits for it, in order and with its own time.
  if (!abandoned_ && autoStartPending_.load() &&
      (event->flags & (kEventFlagEarly | kEventFlagClosing)) == 0 && !lifecycle_.Started()) {
    CacheEvent(std::move(event), loggedAtMs != 0 ? loggedAtMs : env_.GetClock().WallMs());
    return;
  }
  // Early events (the COPPA sharing event) may come during initialization, once the queue
  // has been started.
  if (abandoned_ || (!init_.Initialized() && !(early && init_.Initializing()))) return;
  Logger::DeferScope deferOpen;
  std::unique_lock<std::recursive_mutex> open = session_.Lock();
  const bool started = lifecycle_.Started();
  if (identity_.Forgotten()) return;
  if ((event->flags & kEventFlagCacheable) != 0 && (session_.Holding() || !started)) {
    if (session_.Hold(event)) return;
  } else if ((event->flags & kEventFlagClosing) != 0) {
    identity_.SetForgotten();
  } else if (!started && !early) {
    event.reset();
    if (const uint64_t dropped = notStartedDrops_.Add()) {
      CORVANE_LOG_WARNING("Dropped " << dropped
                                     << " event(s): tracking has not started; call "
                                        "CorvaneSDKManager_Start first");
    }
    return;
  }
  identity_.Stamp(*event, env_);
  if (loggedAtMs != 0) event->timeInMs = loggedAtMs;
  queue_.AddEvent(std::move(event));
}

bool SendPath::WaitForEmptyQueue(int timeoutMs) {
  const size_t queued = queue_.Count();
  if (queued == 0) return true;
  bool started = false, enabled = false;
  lifecycle_.Read(started, enabled);
  const char* why = nullptr;
  if (!started) {
    why = "the manager is not started (call CorvaneSDKManager_Start)";
  } else if (!enabled) {
    why = "sending is off (offline, or paused with send in background off)";
  } else if (identity_.ConfigId().empty()) {
    why = "the config id is empty (call CorvaneSDKManager_SetConfigId)";
  } else if (InCallback()) {
    // The upload thread itself may be the caller; it cannot wait for itself.
    why = "it was called from inside an SDK callback";
  }
  if (why != nullptr) {
    CORVANE_LOG_WARNING("Flush: " << queued << " events stay queued because " << why);
    return false;
  }
  return queue_.WaitUntilEmpty(timeoutMs, abandoned_);
}

void SendPath::DrainCached() {
  for (CachedEvent& cached : TakeCachedEvents()) Send(std::move(cached.event), cached.loggedAtMs);
}

}  // namespace CorvaneSDK
