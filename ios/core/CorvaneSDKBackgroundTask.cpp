#include "CorvaneSDKBackgroundTask.h"

#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

std::shared_ptr<CorvaneSDKBackgroundTask> CorvaneSDKBackgroundTask::create(std::shared_ptr<ApplicationPort> application,
                                                                           std::string name) {
  return std::shared_ptr<CorvaneSDKBackgroundTask>(new CorvaneSDKBackgroundTask(std::move(application), std::move(name)));
}

CorvaneSDKBackgroundTask::CorvaneSDKBackgroundTask(std::shared_ptr<ApplicationPort> application, std::string name)
    : application_(std::move(application)),
      name_(std::move(name)),
      queue_(Platform::current()->dispatch->makeSerialQueue("com.corvane.sdk.backgroundTask")) {}

void CorvaneSDKBackgroundTask::begin() {
  end();
  std::weak_ptr<CorvaneSDKBackgroundTask> weak = weak_from_this();
  dispatchOn(
      *queue_,
      [this, weak] {
        if (!application_) return;
        id_ = application_->beginBackgroundTask(name_, [weak] {
          if (auto self = weak.lock()) self->end();
        });
      },
      true);
}

void CorvaneSDKBackgroundTask::end() {
  dispatchOn(
      *queue_,
      [this] {
        if (id_ == kInvalidBackgroundTask) return;
        if (application_) application_->endBackgroundTask(id_);
        id_ = kInvalidBackgroundTask;
      },
      true);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
