#include "CorvaneSDKAppStateObserver.h"

#include "CorvaneSDKManager.h"
#include "CorvaneSDKOperationQueue.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

const char* const kApplicationWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";
const char* const kApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
const char* const kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
const char* const kApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";
const char* const kApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";

void CorvaneSDKAppStateObserver::observe(std::weak_ptr<CorvaneSDKManager> weak,
                                         std::weak_ptr<CorvaneSDKOperationQueue> queue) {
  auto center = Platform::current()->notificationCenter;
  if (!center) return;
  std::vector<int> tokens;
  auto route = [&](const char* name, void (CorvaneSDKManager::*fn)()) {
    tokens.push_back(center->addObserver(name, [weak, fn](const Notification&) {
      if (auto self = weak.lock()) ((*self).*fn)();
    }));
  };
  route(kApplicationWillEnterForegroundNotification, &CorvaneSDKManager::applicationWillEnterForeground);
  route(kApplicationDidEnterBackgroundNotification, &CorvaneSDKManager::applicationDidEnterBackground);
  route(kApplicationDidBecomeActiveNotification, &CorvaneSDKManager::applicationDidBecomeActive);
  tokens.push_back(center->addObserver(kApplicationWillTerminateNotification, [queue](const Notification& n) {
    if (auto q = queue.lock()) q->handleAppStateNotification(n.name);
  }));
  std::lock_guard<std::mutex> lock(mutex_);
  tokens_.insert(tokens_.end(), tokens.begin(), tokens.end());
}

void CorvaneSDKAppStateObserver::stopObserving() {
  std::vector<int> tokens;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tokens.swap(tokens_);
  }
  if (auto center = Platform::current()->notificationCenter) {
    for (int token : tokens) center->removeObserver(token);
  }
}

}  // namespace Mobile
}  // namespace CorvaneSDK
