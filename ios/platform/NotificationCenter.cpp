#include "NotificationCenter.h"

#include <vector>

namespace CorvaneSDK {
namespace Mobile {

void DefaultNotificationCenter::post(const Notification& notification) {
  std::vector<NotificationObserver> matching;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : observers_)
      if (entry.second.first.empty() || entry.second.first == notification.name)
        matching.push_back(entry.second.second);
  }
  for (auto& observer : matching) {
    // Host code: whatever it throws stays here.
    try {
      observer(notification);
    } catch (...) {
    }
  }
}

int DefaultNotificationCenter::addObserver(const std::string& name, NotificationObserver observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  int token = next_++;
  observers_[token] = {name, std::move(observer)};
  return token;
}

void DefaultNotificationCenter::removeObserver(int token) {
  std::lock_guard<std::mutex> lock(mutex_);
  observers_.erase(token);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
