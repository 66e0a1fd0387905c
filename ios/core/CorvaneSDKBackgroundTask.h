// The one background task the delivery engine keeps open while a flush may still need time:
// beginning one ends the open one first, and the platform's expiration ends it too.
//
// Threads: thread-safe; any thread may call. The task id lives on a serial queue of its own
// ("com.corvane.sdk.backgroundTask"); `begin` and `end` wait for it, so neither the engine's
// serial queue nor the main queue ever sees a half-begun task.
#pragma once

#include <memory>
#include <string>

#include "Application.h"
#include "Dispatch.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKBackgroundTask : public std::enable_shared_from_this<CorvaneSDKBackgroundTask> {
 public:
  // Without an application port nothing begins.
  static std::shared_ptr<CorvaneSDKBackgroundTask> create(std::shared_ptr<ApplicationPort> application,
                                                          std::string name);
  void begin();
  void end();

 private:
  CorvaneSDKBackgroundTask(std::shared_ptr<ApplicationPort> application, std::string name);

  const std::shared_ptr<ApplicationPort> application_;
  const std::string name_;
  const std::shared_ptr<DispatchQueue> queue_;
  BackgroundTaskIdentifier id_ = kInvalidBackgroundTask;  // on queue_ only
};

}  // namespace Mobile
}  // namespace CorvaneSDK
