// The manager's ears on the platform's notification center: foreground, background and active
// go to the manager, termination to the operation queue. Both are held weakly, so a
// notification after they are gone does nothing.
//
// Threads: thread-safe. The mutex guards the observer tokens; the center is called without it
// held. Notifications arrive on whatever thread posts them.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKManager;
class CorvaneSDKOperationQueue;

class CorvaneSDKAppStateObserver {
 public:
  void observe(std::weak_ptr<CorvaneSDKManager> manager, std::weak_ptr<CorvaneSDKOperationQueue> queue);
  void stopObserving();

 private:
  std::mutex mutex_;
  std::vector<int> tokens_;  // guarded by mutex_
};

}  // namespace Mobile
}  // namespace CorvaneSDK
