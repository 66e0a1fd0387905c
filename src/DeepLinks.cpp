// Deep links and the push token.
#include "DeepLinks.h"

#include <utility>

#include "Callbacks.h"
#include "Env.h"
#include "Event.h"

namespace CorvaneSDK {

DeepLinks::DeepLinks(std::function<void(EventPtr)> send, const Callbacks& callbacks,
                     const std::string& pendingUrl, const std::string& pendingToken, Env& env)
    : send_(std::move(send)), callbacks_(callbacks), env_(env), token_(pendingToken) {
  if (!pendingUrl.empty()) {
    url_ = pendingUrl;
    urlTimeMs_ = env_.GetClock().WallMs();
  }
}

void DeepLinks::Open(const std::string& url, bool report) {
  if (url.empty()) return;
  const int64_t time = env_.GetClock().WallMs();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    url_ = url;
    urlTimeMs_ = time;
  }
  if (!report) return;
  SendDeepLink(url, time);
  Callbacks::RunText(callbacks_.Snapshot().deepLink, url);
}

std::string DeepLinks::Url() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return url_;
}

void DeepLinks::SetPushToken(const std::string& token, bool report) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (token.empty() || token == token_) return;
    token_ = token;
  }
  if (!report) return;
  SendPushToken(token);
  Callbacks::RunText(callbacks_.Snapshot().pushToken, token);
}

std::string DeepLinks::PushToken() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return token_;
}

void DeepLinks::Pending(std::string& url, int64_t& timeMs, std::string& token) const {
  std::lock_guard<std::mutex> lock(mutex_);
  url = url_;
  timeMs = urlTimeMs_;
  token = token_;
}

void DeepLinks::Report(const std::string& url, int64_t timeMs, const std::string& token) {
  if (!url.empty()) SendDeepLink(url, timeMs);
  if (!token.empty()) SendPushToken(token);
}

void DeepLinks::SendDeepLink(const std::string& url, int64_t timeMs) {
  EventPtr event = Event::Acquire("qvsdk_deep_link");
  event->value = Json::object({{"url", url}, {"click_time", timeMs}});
  event->flags = kEventFlagCacheable;
  send_(std::move(event));
}

void DeepLinks::SendPushToken(const std::string& token) {
  EventPtr event = Event::Acquire("qvsdk_push_token");
  event->value = Json::object({{"token", token}});
  event->flags = kEventFlagEarly;
  send_(std::move(event));
}

}  // namespace CorvaneSDK
