// Sessions and the open event's hold.
#include "SessionTracker.h"

#include <utility>

#include "DeviceContext.h"
#include "Env.h"
#include "Event.h"
#include "Identity.h"
#include "Logger.h"
#include "PendingOpenStore.h"
#include "QueueManager.h"
#include "Random.h"

namespace CorvaneSDK {

SessionTracker::SessionTracker(Identity& identity, DeviceContext& context,
                               std::function<void(EventPtr)> send, Json openExtras,
                               std::unique_ptr<PendingOpenStore> store, Env& env)
    : identity_(identity), context_(context), env_(env), send_(std::move(send)),
      openExtras_(std::move(openExtras)), store_(std::move(store)) {}

SessionTracker::~SessionTracker() {
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  openEvent_.reset();
  held_.clear();
}

void SessionTracker::SetFirstRun(bool firstRun) {
  std::lock_guard<std::mutex> lock(pauseMutex_);
  firstRun_ = firstRun;
}

void SessionTracker::MarkPause(int64_t nowMs) {
  std::lock_guard<std::mutex> lock(pauseMutex_);
  hasLastPause_ = true;
  lastPauseMs_ = nowMs;
}

void SessionTracker::ClearPause() {
  std::lock_guard<std::mutex> lock(pauseMutex_);
  hasLastPause_ = false;
  lastPauseMs_ = 0;
}

void SessionTracker::Check() {
  const int64_t now = env_.GetClock().MonotonicMs();
  bool firstRun;
  {
    std::lock_guard<std::mutex> lock(pauseMutex_);
    if (!identity_.SessionId().empty() && hasLastPause_ && now - lastPauseMs_ <= kSessionTimeoutMs) {
      return;
    }
    hasLastPause_ = true;
    lastPauseMs_ = now;
    identity_.SetSessionId(NewUuid(env_));
    firstRun = firstRun_;
  }
  const bool forgotten = identity_.Forgotten();
  context_.Refresh();
  if (forgotten) return;
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  // A still-pending open event (unsent while sending was off) goes out with its held
  // events before the new session's one replaces it.
  if (openEvent_ != nullptr) {
    holding_ = false;
    SendHeld();
  }
  holding_ = true;
  deadlineMs_ = now + kOpenEventHoldMs;
  openEvent_ = BuildOpenEvent(firstRun);
  {
    std::lock_guard<std::mutex> pause(pauseMutex_);
    firstRun_ = false;
  }
  Persist();
}

EventPtr SessionTracker::BuildOpenEvent(bool firstOpen) const {
  EventPtr event = Event::Acquire(firstOpen ? "qvsdk_first_open" : "qvsdk_open");
  Json data = context_.OpenEventData();
  for (auto it = openExtras_.begin(); it != openExtras_.end(); ++it) data[it.key()] = it.value();
  event->value = std::move(data);
  return event;
}

std::unique_lock<std::recursive_mutex> SessionTracker::Lock() const {
  return std::unique_lock<std::recursive_mutex>(openMutex_);
}

bool SessionTracker::Holding() const { return holding_ && openEvent_ != nullptr; }

bool SessionTracker::Hold(EventPtr& event) {
  if (held_.size() >= kMaxHeldEvents) return false;
  held_.push_back(std::move(event));
  if (Holding()) Persist();
  return true;
}

// Caller holds openMutex_. Writes the open event as it would be sent now, held events
// attached, so that a run that dies before the hold ends still delivers it next time.
void SessionTracker::Persist() {
  if (!store_ || openEvent_ == nullptr) return;
  EventPtr copy = Event::FromJsonTree(openEvent_->ToJsonText());
  if (!copy) return;
  const std::string advertisingId = context_.AdvertisingId();
  if (!advertisingId.empty() && copy->value.is_object()) copy->value["advertising_id"] = advertisingId;
  for (const EventPtr& e : held_) {
    EventPtr held = Event::FromJsonTree(e->ToJsonText());
    if (held) copy->subEvents.push_back(std::move(held));
  }
  identity_.Stamp(*copy, env_);
  const std::string text = copy->ToJsonText();
  copy.reset();
  store_->Save(text);
}

void SessionTracker::DeliverLeftOver(QueueManager& queue) {
  if (!store_) return;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  const std::string text = store_->LeftOver();
  if (!text.empty()) {
    EventPtr event = Event::FromJsonTree(text);
    if (!event || event->eventName.empty()) {
      CORVANE_LOG_WARNING("Dropping a damaged stored open event (" << text.size() << " bytes)");
    } else if (!identity_.Forgotten()) {
      // Unchanged: its eId lets the server drop a repeat.
      CORVANE_LOG_INFO("Delivering the open event of a run that ended during its hold");
      queue.AddEvent(std::move(event));
    }
  }
  store_->Clear();
}

// Caller holds openMutex_.
void SessionTracker::SendHeld() {
  EventPtr open = std::move(openEvent_);
  std::vector<EventPtr> held;
  held.swap(held_);
  if (open) {
    const std::string advertisingId = context_.AdvertisingId();
    if (!advertisingId.empty() && open->value.is_object()) {
      open->value["advertising_id"] = advertisingId;
    }
    const std::string session = identity_.SessionId();
    for (EventPtr& e : held) {
      if (e->id.empty()) e->id = session;
      open->subEvents.push_back(std::move(e));
    }
    send_(std::move(open));
    // In the queue now (or dropped by the send path): nothing left to deliver next time.
    if (store_) store_->Clear();
    return;
  }
  // No open event: each held event goes by itself; what cannot go yet stays held.
  for (EventPtr& e : held) send_(std::move(e));
}

void SessionTracker::EndHold() {
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  holding_ = false;
  SendHeld();
}

void SessionTracker::EndHoldIfHolding() {
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  if (!Holding()) return;
  holding_ = false;
  SendHeld();
}

bool SessionTracker::ReadyToSend() {
  // The sending thread asks every cycle; taking the lock that every host call holds would
  // make those calls wait for it, or spend a wake-up on it. A hold that begins just after
  // this check is no different from one that begins just after the locked check.
  if (!holding_.load(std::memory_order_acquire)) return true;
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  if (!holding_) return true;
  if (env_.GetClock().MonotonicMs() < deadlineMs_) return false;
  holding_ = false;
  SendHeld();
  return true;
}

bool SessionTracker::HasOpenEvent() const {
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  return openEvent_ != nullptr;
}

size_t SessionTracker::HeldCount() const {
  Logger::DeferScope deferOpen;
  std::lock_guard<std::recursive_mutex> lock(openMutex_);
  return held_.size();
}

}  // namespace CorvaneSDK
