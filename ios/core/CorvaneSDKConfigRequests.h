// Requests to the config endpoints with their retry rule: a try that brings no answer and that
// the client marks for retry is repeated 5 s later on the main queue, up to a budget of retries.
// A 2xx body ends it; so does a refusal the client does not mark for retry.
//
// Threads: thread-safe; holds no mutable state. Answers may arrive on any thread; retries are
// scheduled on the main queue; `done` runs once, on whichever thread ended the request. Retries
// hold this object weakly: once it is gone, `done` gets no answer.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Dispatch.h"

namespace CorvaneSDK {
namespace Mobile {

struct CorvaneSDKConfigRequest {
  std::string method;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};
// Answers once: the body of a 2xx answer, or none with `retry` as the client judged it.
using CorvaneSDKConfigAnswer = std::function<void(std::optional<std::string> text, bool retry)>;
using CorvaneSDKRequestFunction = std::function<void(const CorvaneSDKConfigRequest&, CorvaneSDKConfigAnswer)>;

// The encodings the config requests use.
class CorvaneSDKConfigEncoding {
 public:
  static std::string base64(const std::string& bytes);
  static std::string base64Url(const std::string& bytes);
  // "app:secret" -> its Basic credential.
  static std::string credentialFor(const std::string& appId, const std::string& appSecret);
  // `url` with `items` appended to its query, each name and value percent-encoded.
  static std::string appendQuery(const std::string& url, const std::vector<std::pair<std::string, std::string>>& items);
};

class CorvaneSDKConfigRequests : public std::enable_shared_from_this<CorvaneSDKConfigRequests> {
 public:
  static constexpr int64_t kRetryDelayMs = 5000;
  using Done = std::function<void(std::optional<std::string> body)>;

  static std::shared_ptr<CorvaneSDKConfigRequests> create(CorvaneSDKRequestFunction request,
                                                          std::shared_ptr<MainQueue> main);
  // `onTry` (optional) runs before each try, the first included.
  void send(const CorvaneSDKConfigRequest& request, int retries, Done done, std::function<void()> onTry = nullptr);

 private:
  CorvaneSDKConfigRequests(CorvaneSDKRequestFunction request, std::shared_ptr<MainQueue> main);

  const CorvaneSDKRequestFunction request_;
  const std::shared_ptr<MainQueue> main_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
