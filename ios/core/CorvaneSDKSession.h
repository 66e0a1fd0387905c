// The manager's session and open event: the session id with its 30 s return window, and the
// open event held for 5 s so that early events travel inside it. Every deadline is read on
// the monotonic clock, so a wall clock set back or forward neither stalls the hold nor splits
// a session.
//
// Threads: thread-safe. One mutex (the open-event lock) guards every field; nothing is called
// out while it is held: what must be sent is handed back to the caller, which sends it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Clock.h"

namespace CorvaneSDK {
namespace Mobile {

constexpr int64_t OPEN_LOCK_WAIT_TIME = 5000;             // ms
constexpr size_t MAX_OPEN_SUB_EVENT_COUNT = 100;
constexpr int64_t MAX_SESSION_INTERRUPTED_TIME = 30000;   // ms
constexpr int64_t INITIALIZATION_ACTION_CHECK_INTERVAL = 1000000000LL;  // ns
constexpr int64_t CURRENT_TIME_OFFSET = 5000;             // ms
// EPS (0.00001) lives with the conversion schema, which uses it.

// `Op` is the log operation; the hold only keeps and hands back pointers to it.
template <typename Op>
class CorvaneSDKSessionT {
 public:
  using OpPtr = std::shared_ptr<Op>;
  // An open event with the events held under it, or the held events alone (no open event).
  struct Release {
    OpPtr open;
    std::vector<OpPtr> held;
    bool empty() const { return !open && held.empty(); }
  };
  struct Start {
    bool isNew = false;              // a new session id was made
    bool firstInProcess = false;     // ... and it is the first of this process
    std::string sessionId;
  };

  explicit CorvaneSDKSessionT(std::shared_ptr<const Clock> clock) : clock_(std::move(clock)) {}

  // Keeps the session when it was paused at most 30000 ms ago; else makes `newId` current.
  Start generateSessionId(const std::string& newId) {
    std::lock_guard<std::mutex> lock(mutex_);
    Start out;
    const int64_t now = clock_->monotonicMs();
    if (sessionId_ && pauseTime_ && now - *pauseTime_ <= MAX_SESSION_INTERRUPTED_TIME) {
      out.sessionId = *sessionId_;
      return out;
    }
    out.firstInProcess = !everHadSession_;
    everHadSession_ = true;
    pauseTime_ = now;
    sessionId_ = newId;
    out.isNew = true;
    out.sessionId = newId;
    return out;
  }
  std::string sessionId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessionId_.value_or(std::string());
  }
  bool hasSession() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessionId_.has_value();
  }
  // Going to the background starts the return window.
  void pause() {
    std::lock_guard<std::mutex> lock(mutex_);
    pauseTime_ = clock_->monotonicMs();
  }
  // After stop the next start always makes a new session.
  void clearPause() {
    std::lock_guard<std::mutex> lock(mutex_);
    pauseTime_.reset();
  }

  // Holds `open` for 5000 ms. An open event still pending from an earlier session is not
  // dropped: it comes back with its held events, to be sent before the new one.
  Release beginOpen(OpPtr open) {
    std::lock_guard<std::mutex> lock(mutex_);
    Release previous;
    if (openEvent_) {
      previous.open = std::move(openEvent_);
      previous.held.swap(held_);
    }
    openEvent_ = std::move(open);
    openWait_ = true;
    openWaitEnd_ = clock_->monotonicMs() + OPEN_LOCK_WAIT_TIME;
    return previous;
  }

  // An event that may travel inside the open event: held while the hold runs (or tracking has
  // not started) and fewer than 100 are held. False: the caller logs it on its own.
  bool hold(OpPtr op, bool started) {
    std::lock_guard<std::mutex> lock(mutex_);
    if ((openWait_ || !started) && held_.size() < MAX_OPEN_SUB_EVENT_COUNT) {
      held_.push_back(std::move(op));
      return true;
    }
    return false;
  }

  bool isOpenWait() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return openWait_;
  }
  size_t heldCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_.size();
  }
  bool hasOpenEvent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return openEvent_ != nullptr;
  }

  // The readiness part of the hold: false while it runs; once past, the hold ends and what it
  // kept comes back in `out` (empty when there was nothing).
  bool checkHold(Release& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (openWait_) {
      if (clock_->monotonicMs() < openWaitEnd_) return false;
      openWait_ = false;
    }
    out = takeLocked();
    return true;
  }

  // Ends the hold now (stop) and hands back what it kept.
  Release release() {
    std::lock_guard<std::mutex> lock(mutex_);
    openWait_ = false;
    return takeLocked();
  }

 private:
  Release takeLocked() {
    Release out;
    out.open = std::move(openEvent_);
    openEvent_.reset();
    out.held.swap(held_);
    return out;
  }

  std::shared_ptr<const Clock> clock_;
  mutable std::mutex mutex_;
  std::optional<std::string> sessionId_;
  std::optional<int64_t> pauseTime_;  // monotonic ms
  bool everHadSession_ = false;
  bool openWait_ = false;
  int64_t openWaitEnd_ = 0;  // monotonic ms
  OpPtr openEvent_;
  std::vector<OpPtr> held_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
