#include "Application.h"

#include <vector>

namespace CorvaneSDK {
namespace Mobile {

ApplicationState SettableApplication::applicationState() {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void SettableApplication::setApplicationState(ApplicationState state) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = state;
}

BackgroundTaskIdentifier SettableApplication::beginBackgroundTask(const std::string& name,
                                                                  std::function<void()> expirationHandler) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!grants_) return kInvalidBackgroundTask;
  BackgroundTaskIdentifier id = nextTask_++;
  open_[id] = {name, std::move(expirationHandler)};
  ++begun_;
  return id;
}

void SettableApplication::endBackgroundTask(BackgroundTaskIdentifier identifier) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_.erase(identifier) > 0) ++ended_;
}

void SettableApplication::setGrantsBackgroundTasks(bool grants) {
  std::lock_guard<std::mutex> lock(mutex_);
  grants_ = grants;
}

std::map<BackgroundTaskIdentifier, std::string> SettableApplication::openBackgroundTasks() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::map<BackgroundTaskIdentifier, std::string> result;
  for (const auto& entry : open_) result[entry.first] = entry.second.first;
  return result;
}

int SettableApplication::backgroundTasksBegun() {
  std::lock_guard<std::mutex> lock(mutex_);
  return begun_;
}

int SettableApplication::backgroundTasksEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_;
}

void SettableApplication::expireBackgroundTasks() {
  std::vector<std::function<void()>> handlers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : open_) handlers.push_back(entry.second.second);
  }
  // Outside the lock: a handler ends its task through this port.
  for (auto& handler : handlers)
    if (handler) handler();
}

std::shared_ptr<ApplicationDelegate> SettableApplication::delegate() {
  std::lock_guard<std::mutex> lock(mutex_);
  return delegate_;
}

void SettableApplication::setDelegate(std::shared_ptr<ApplicationDelegate> delegate) {
  std::shared_ptr<ApplicationDelegate> previous;
  std::vector<DelegateObserver> observers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    previous = delegate_;
    delegate_ = delegate;
    for (const auto& entry : observers_) observers.push_back(entry.second);
  }
  for (auto& observer : observers) observer(previous, delegate);
}

int SettableApplication::addDelegateObserver(DelegateObserver observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  int token = nextObserver_++;
  observers_[token] = std::move(observer);
  return token;
}

void SettableApplication::removeDelegateObserver(int token) {
  std::lock_guard<std::mutex> lock(mutex_);
  observers_.erase(token);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
