// The portable tracking manager.
#include "TrackingManager.h"

namespace CorvaneSDK {
namespace Mobile {

bool TrackingManagerPort::classPresent() {
  std::call_once(lookedUp_, [this] {
    try {
      present_ = lookUpClass();
    } catch (...) {
      present_ = false;
    }
  });
  return present_;
}

bool SettableTrackingManager::respondsToSelector(const std::string& selector) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (selector == kSelTrackingAuthorizationStatus) return true;
  return selector == kSelRequestTrackingAuthorization && responds_;
}

int64_t SettableTrackingManager::trackingAuthorizationStatus() {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

void SettableTrackingManager::requestTrackingAuthorization(TrackingAuthorizationHandler handler) {
  int64_t answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++shown_;
    if (holds_) {
      held_.push_back(std::move(handler));
      return;
    }
    answer = answer_;
    if (answerUpdatesStatus_) status_ = answer;
  }
  if (!handler) return;
  try {
    handler(answer);
  } catch (...) {
  }
}

void SettableTrackingManager::setStatus(int64_t status) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = status;
}

void SettableTrackingManager::setAnswer(int64_t answer, bool updatesStatus) {
  std::lock_guard<std::mutex> lock(mutex_);
  answer_ = answer;
  answerUpdatesStatus_ = updatesStatus;
}

void SettableTrackingManager::setHoldsPrompts(bool holds) {
  std::lock_guard<std::mutex> lock(mutex_);
  holds_ = holds;
}

void SettableTrackingManager::setResponds(bool responds) {
  std::lock_guard<std::mutex> lock(mutex_);
  responds_ = responds;
}

int SettableTrackingManager::answerHeld(int64_t answer, bool updatesStatus) {
  std::vector<TrackingAuthorizationHandler> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held.swap(held_);
    if (updatesStatus) status_ = answer;
  }
  for (auto& handler : held) {
    if (!handler) continue;
    try {
      handler(answer);
    } catch (...) {
    }
  }
  return static_cast<int>(held.size());
}

int SettableTrackingManager::heldCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(held_.size());
}

int SettableTrackingManager::promptsShown() {
  std::lock_guard<std::mutex> lock(mutex_);
  return shown_;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
