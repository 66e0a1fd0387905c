// The notification port (NSNotificationCenter's default center on Apple). Posting is
// synchronous: observers run on the posting thread, outside the centre's lock, so an
// observer may post, add or remove observers. Callers that must post on the main thread
// hop there first.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

struct Notification {
  std::string name;
  Value object;    // null when none
  Value userInfo;  // null when none
};

using NotificationObserver = std::function<void(const Notification&)>;

class NotificationCenter {
 public:
  virtual ~NotificationCenter() = default;
  virtual void post(const Notification& notification) = 0;
  // An empty name observes every notification. Returns a token for removeObserver.
  virtual int addObserver(const std::string& name, NotificationObserver observer) = 0;
  virtual void removeObserver(int token) = 0;
};

// The portable centre, and the double: tests observe what was posted.
class DefaultNotificationCenter : public NotificationCenter {
 public:
  void post(const Notification& notification) override;
  int addObserver(const std::string& name, NotificationObserver observer) override;
  void removeObserver(int token) override;

 private:
  std::mutex mutex_;
  int next_ = 1;
  std::map<int, std::pair<std::string, NotificationObserver>> observers_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
