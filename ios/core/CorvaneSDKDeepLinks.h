// The deep link and device token the host hands over: a URL passes the deep-link check and the
// configuration's payload filters, the same URL twice in a row counts once, and the filtered
// URL is kept with its click time. Before initialisation the last deep link and the token wait
// here; `markInitialized` hands them on, and from then on each goes out as it comes.
//
// Threads: thread-safe; any thread may call. The mutex guards every field, including the
// initialised flag, so an item cannot slip between "wait" and "hand on". The callbacks run on
// the caller's thread without the mutex held.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKDeepLinks {
 public:
  using DeepLinkOut = std::function<void(const std::string& url, uint64_t clickTimeMs)>;
  using TokenOut = std::function<void(const std::string& hex)>;

  CorvaneSDKDeepLinks(std::vector<std::pair<std::string, std::string>> payloadFilters,
                      DeepLinkOut onDeepLink, TokenOut onDeviceToken);

  // False for an invalid URL or the one accepted last.
  bool open(const std::string& url, bool resetUserActivity);
  void setUserActivity(const Value& activity);
  void setDeviceToken(const std::string& hex);
  // Sends the deep link that waited, then the token.
  void markInitialized();
  std::string deepLinkURL() const;
  // Lower-case hexadecimal text of a device token.
  static std::string hexOf(const std::vector<uint8_t>& bytes);

 private:
  const std::vector<std::pair<std::string, std::string>> filters_;
  const DeepLinkOut onDeepLink_;
  const TokenOut onDeviceToken_;
  mutable std::mutex mutex_;
  bool initialized_ = false;
  std::optional<std::string> lastURL_;
  std::optional<Value> userActivity_;
  std::optional<std::string> deepLinkURL_;
  uint64_t clickTime_ = 0;
  std::optional<std::string> pendingDeepLink_;
  std::optional<std::string> deviceToken_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
