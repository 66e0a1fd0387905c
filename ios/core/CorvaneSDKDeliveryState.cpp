#include "CorvaneSDKDeliveryState.h"

#include "CorvaneSDKOperation.h"
#include "CorvaneSDKOperationQueue.h"
#include "CorvaneSDKSendPath.h"

namespace CorvaneSDK {
namespace Mobile {

CorvaneSDKDeliveryState::CorvaneSDKDeliveryState(bool offline, bool sendInBackground,
                                                 std::shared_ptr<CorvaneSDKOperationQueue> queue,
                                                 std::shared_ptr<CorvaneSDKSendPath> sendPath)
    : queue_(std::move(queue)), sendPath_(std::move(sendPath)), offline_(offline), sendInBackground_(sendInBackground) {}

void CorvaneSDKDeliveryState::setForeground(bool foreground) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    foreground_ = foreground;
  }
  apply(false);
}

void CorvaneSDKDeliveryState::setOffline(bool offline) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    offline_ = offline;
  }
  apply(offline);
}

void CorvaneSDKDeliveryState::apply(bool immediate) {
  bool should;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    should = !offline_ && (sendInBackground_ || foreground_);
    if (should == active_) return;
    active_ = should;
  }
  if (!immediate) {
    sendPath_->run(should ? kCorvaneSDKOperationTypeResume : kCorvaneSDKOperationTypePause, nullptr);
  } else if (should) {
    queue_->resume();
  } else {
    queue_->pause();
  }
}

bool CorvaneSDKDeliveryState::active() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
