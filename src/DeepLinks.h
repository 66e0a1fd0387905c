// Deep links and the push token: the last URL the host opened the app with (and when), the
// push token, their events and their callbacks. Before initialization has finished they are
// only kept; the finish step reports them. Thread-safe: mutex_ guards the values and is
// never held while sending or calling out.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "Event.h"

namespace CorvaneSDK {

class Callbacks;
class Env;

class DeepLinks {
 public:
  // `send` is the manager's send path; `pendingUrl`/`pendingToken` came before the manager.
  // Click times come from `env`'s clock.
  DeepLinks(std::function<void(EventPtr)> send, const Callbacks& callbacks,
            const std::string& pendingUrl, const std::string& pendingToken, Env& env);

  // Keeps the URL; when `report`, sends its event and runs the deep-link callbacks.
  void Open(const std::string& url, bool report);
  std::string Url() const;
  // Keeps a new token; when `report`, sends its event and runs the push-token callbacks.
  void SetPushToken(const std::string& token, bool report);
  std::string PushToken() const;

  // The values kept so far (the finish step takes them), and their events without callbacks.
  void Pending(std::string& url, int64_t& timeMs, std::string& token) const;
  void Report(const std::string& url, int64_t timeMs, const std::string& token);

 private:
  void SendDeepLink(const std::string& url, int64_t timeMs);
  void SendPushToken(const std::string& token);

  const std::function<void(EventPtr)> send_;
  const Callbacks& callbacks_;
  Env& env_;
  mutable std::mutex mutex_;
  std::string url_, token_;
  int64_t urlTimeMs_ = 0;  // Unix ms
};

}  // namespace CorvaneSDK
