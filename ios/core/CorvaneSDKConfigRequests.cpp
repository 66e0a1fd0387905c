#include "CorvaneSDKConfigRequests.h"

namespace CorvaneSDK {
namespace Mobile {

std::shared_ptr<CorvaneSDKConfigRequests> CorvaneSDKConfigRequests::create(CorvaneSDKRequestFunction request,
                                                                           std::shared_ptr<MainQueue> main) {
  return std::shared_ptr<CorvaneSDKConfigRequests>(new CorvaneSDKConfigRequests(std::move(request), std::move(main)));
}

CorvaneSDKConfigRequests::CorvaneSDKConfigRequests(CorvaneSDKRequestFunction request, std::shared_ptr<MainQueue> main)
    : request_(std::move(request)), main_(std::move(main)) {}

void CorvaneSDKConfigRequests::send(const CorvaneSDKConfigRequest& request, int retries, Done done,
                                    std::function<void()> onTry) {
  if (onTry) onTry();
  std::weak_ptr<CorvaneSDKConfigRequests> weak = shared_from_this();
  request_(request, [weak, request, retries, done, onTry](std::optional<std::string> text, bool retry) {
    if (text) {
      done(std::move(text));
      return;
    }
    auto self = weak.lock();
    if (!self || !retry || retries < 1) {
      done(std::nullopt);
      return;
    }
    self->main_->after(kRetryDelayMs, [weak, request, retries, done, onTry] {
      if (auto again = weak.lock()) {
        again->send(request, retries - 1, done, onTry);
      } else {
        done(std::nullopt);
      }
    });
  });
}

}  // namespace Mobile
}  // namespace CorvaneSDK
