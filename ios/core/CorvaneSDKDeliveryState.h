// Whether the delivery engine should run: not offline, and in the foreground unless the
// configuration sends in the background. A change pauses or resumes the operation queue,
// through the middleware chain (so middlewares see it) or, when it cannot wait, at once.
//
// Threads: thread-safe; any thread may call. The mutex guards the flags; the queue and the
// chain are called without it held.
#pragma once

#include <memory>
#include <mutex>

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKOperationQueue;
class CorvaneSDKSendPath;

class CorvaneSDKDeliveryState {
 public:
  CorvaneSDKDeliveryState(bool offline, bool sendInBackground, std::shared_ptr<CorvaneSDKOperationQueue> queue,
                          std::shared_ptr<CorvaneSDKSendPath> sendPath);

  void setForeground(bool foreground);
  // Going offline pauses at once.
  void setOffline(bool offline);
  // Pauses or resumes when the wanted state changed.
  void apply(bool immediate);
  bool active() const;

 private:
  const std::shared_ptr<CorvaneSDKOperationQueue> queue_;
  const std::shared_ptr<CorvaneSDKSendPath> sendPath_;
  mutable std::mutex mutex_;
  bool offline_;
  const bool sendInBackground_;
  bool foreground_ = true;
  bool active_ = true;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
