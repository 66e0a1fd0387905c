// Initialisation actions, one at a time on the main queue.
#include "CorvaneSDKInitializationSequence.h"

#include <atomic>

#include "CorvaneSDKLog.h"

namespace CorvaneSDK {
namespace Mobile {

std::shared_ptr<CorvaneSDKInitializationSequence> CorvaneSDKInitializationSequence::create(
    std::shared_ptr<MainQueue> main) {
  return std::shared_ptr<CorvaneSDKInitializationSequence>(new CorvaneSDKInitializationSequence(std::move(main)));
}

void CorvaneSDKInitializationSequence::setHandler(int64_t type, Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handlers_[type] = std::move(handler);
}

void CorvaneSDKInitializationSequence::begin(
    const std::optional<std::vector<CorvaneSDKInitializationAction>>& actions) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    actions_ = actions.value_or(std::vector<CorvaneSDKInitializationAction>());
    index_ = 0;
    if (actions_.empty()) return;
  }
  std::weak_ptr<CorvaneSDKInitializationSequence> weak = shared_from_this();
  main_->async([weak] {
    if (auto self = weak.lock()) self->runNext();
  });
}

bool CorvaneSDKInitializationSequence::hasActions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !actions_.empty();
}

size_t CorvaneSDKInitializationSequence::index() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index_;
}

bool CorvaneSDKInitializationSequence::isFinished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index_ >= actions_.size();
}

void CorvaneSDKInitializationSequence::runNext() {
  CorvaneSDKInitializationAction action;
  Handler handler;
  size_t at = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index_ >= actions_.size()) return;
    at = index_;
    action = actions_[at];
    auto found = handlers_.find(action.type);
    if (found != handlers_.end()) handler = found->second;
  }
  if (!handler) {
    CorvaneSDKLog::debug("Skipping initialization action of type " + std::to_string(action.type));
    advance(at);
    return;
  }
  // The handler may answer from any thread, and more than once; only the first answer counts.
  auto answered = std::make_shared<std::atomic<bool>>(false);
  std::weak_ptr<CorvaneSDKInitializationSequence> weak = shared_from_this();
  handler(action, [weak, answered, at] {
    if (answered->exchange(true)) return;
    if (auto self = weak.lock()) self->advance(at);
  });
}

void CorvaneSDKInitializationSequence::advance(size_t from) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index_ != from) return;
    ++index_;
    if (index_ >= actions_.size()) return;
  }
  std::weak_ptr<CorvaneSDKInitializationSequence> weak = shared_from_this();
  main_->async([weak] {
    if (auto self = weak.lock()) self->runNext();
  });
}

void CorvaneSDKInitializationSequence::whenFinished(std::function<void()> finished) {
  bool none;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    none = actions_.empty();
  }
  if (none) {
    dispatchOn(*main_, std::move(finished), false);
    return;
  }
  std::weak_ptr<CorvaneSDKInitializationSequence> weak = shared_from_this();
  main_->after(kCheckIntervalMs, [weak, finished] {
    if (auto self = weak.lock()) self->check(finished);
  });
}

void CorvaneSDKInitializationSequence::check(std::function<void()> finished) {
  if (isFinished()) {
    finished();
    return;
  }
  std::weak_ptr<CorvaneSDKInitializationSequence> weak = shared_from_this();
  main_->after(kCheckIntervalMs, [weak, finished] {
    if (auto self = weak.lock()) self->check(finished);
  });
}

}  // namespace Mobile
}  // namespace CorvaneSDK
