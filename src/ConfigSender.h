// The SDK configuration request: a GET of the config URL with the app id, platform, app
// version and stored configuration hash as percent-encoded query members, retried under
// RetryPolicy::ForConfig (four attempts 5000 ms apart), with the response body bounded.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Clock.h"
#include "Env.h"
#include "Sender.h"

namespace CorvaneSDK {

// Thread contract: Fetch and SetTimeoutMs run on one thread at a time (the SDK-config
// worker); Cancel, SetStop, Status, Attempts and LastHttpCode are safe from any thread.
// lastUrlMutex_ guards lastUrl_. The owner must not destroy the sender while Fetch runs:
// Cancel it, then join the thread that called Fetch (Cancel makes that bounded).
class ConfigSender : public Sender {
 public:
  // Waits between attempts go through `env`'s clock; `env` must outlive the sender.
  ConfigSender(const std::string& url, const TransportSettings& transport,
               Env& env = Env::Default());
  // The same over `transport` (tests hand in a double); null falls back to libcurl.
  ConfigSender(const std::string& url, std::unique_ptr<Transport> transport,
               Env& env = Env::Default());
  ~ConfigSender() override;
  ConfigSender(const ConfigSender&) = delete;
  ConfigSender& operator=(const ConfigSender&) = delete;

  // GETs the configuration; true with the response body in `body` on a 2xx answer. On
  // failure `body` is empty. "version" and "sdk_config_hash" are sent only when non-empty.
  bool Fetch(const std::string& appId, const std::string& platform, const std::string& appVersion,
             const std::string& hash, std::string& body);

  // Ends a retry wait and a running transfer at once; every later Fetch fails at once.
  void Cancel();
  // Non-zero cancels; zero allows fetching again.
  void SetStop(int value) override;

  int Status() const { return status_.load(); }  // 1 running, 2 succeeded, 3 failed
  int Attempts() const { return attempts_.load(); }
  int LastHttpCode() const { return lastHttpCode_.load(); }
  // The full URL of the last Fetch; empty when it could not be built.
  std::string LastUrl() const;

  // Whole-request timeout; 5000 ms unless a test shortens it. Non-positive values are ignored.
  void SetTimeoutMs(long timeoutMs);

  // BuildUrlWithQuery and PercentEncode of HttpRequests.h.
  static bool BuildUrl(const std::string& base,
                       const std::vector<std::pair<std::string, std::string>>& query,
                       std::string& out) {
    return BuildUrlWithQuery(base, query, out);
  }
  static std::string PercentEncode(const std::string& value) {
    return CorvaneSDK::PercentEncode(value);
  }

 private:
  Env& env_;
  const std::string url_;
  std::unique_ptr<Transport> transport_;
  Interrupt cancel_;
  std::atomic<int> status_{0};
  std::atomic<int> attempts_{0};
  std::atomic<int> lastHttpCode_{0};
  mutable std::mutex lastUrlMutex_;
  std::string lastUrl_;
};

}  // namespace CorvaneSDK
