// Every network request of the mobile framework, over one HTTP session: the batch upload of
// the delivery engine and the plain requests of the configuration fetches. Each answer becomes
// delivered, retry later or give up; the client never retries by itself.
// Thread contract: thread-safe; completions run on the session's thread. Releasing the client
// lets running tasks finish and invalidates the session.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "HTTPSession.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

enum class CorvaneSDKUploadResult { Delivered, Retry, Rejected };

struct CorvaneSDKUploadOutcome {
  CorvaneSDKUploadResult result = CorvaneSDKUploadResult::Retry;
  int status = 0;  // 0 for a transport error
  bool retry() const { return result == CorvaneSDKUploadResult::Retry; }
};

class CorvaneSDKHTTPClient {
 public:
  using RequestFactory = std::function<std::shared_ptr<CorvaneSDKMutableRequest>(const std::string& url)>;

  // A plain request for the URL.
  static RequestFactory defaultRequestFactory();
  // `initWithRequestFactory`: none takes the default. The session comes from the installed
  // HTTP session port, with "Accept: */*" and "User-Agent: corvane/<version>".
  explicit CorvaneSDKHTTPClient(RequestFactory factory = nullptr);
  static std::shared_ptr<CorvaneSDKHTTPClient> initWithRequestFactory(RequestFactory factory);
  ~CorvaneSDKHTTPClient();
  CorvaneSDKHTTPClient(const CorvaneSDKHTTPClient&) = delete;
  CorvaneSDKHTTPClient& operator=(const CorvaneSDKHTTPClient&) = delete;

  void setHttpSessionDelegate(std::weak_ptr<CorvaneSDKHTTPSessionDelegate> delegate);

  // Never null: a factory that answers none is replaced by a plain request.
  std::shared_ptr<CorvaneSDKMutableRequest> createRequest(const std::string& url, const std::string& method);
  // `url` with one query item per entry of the map appended (form-encoded); entries that are
  // not strings are written as their JSON text. A non-map leaves the URL as it is.
  static std::string updateURL(const std::string& url, const Value& parameters);
  // Every byte but the unreserved ones (letters, digits, "-_.~") as %XX.
  static std::string percentEncode(const std::string& text);

  // PUT of the batch as JSON with Basic authorization; the completion gets `retry`.
  std::shared_ptr<HTTPTask> upload(const Value& batch, const std::string& host, const std::string& credential,
                                   std::function<void(bool retry)> completion);
  // The same with a body already serialised, and the outcome in full (rejected vs delivered).
  std::shared_ptr<HTTPTask> uploadBody(std::string body, const std::string& host, const std::string& credential,
                                       std::function<void(const CorvaneSDKUploadOutcome&)> completion);
  // A data task: the body as UTF-8 text on a status below 300, else none; `retry` by the table.
  std::shared_ptr<HTTPTask> send(const std::shared_ptr<CorvaneSDKMutableRequest>& request,
                                 std::function<void(std::optional<std::string> text, bool retry)> completion);

  // The outcome table: transport error and 3xx, 429 and 5xx retry; 4xx gives up; below 300
  // is delivered. Logs the table's debug line.
  static CorvaneSDKUploadOutcome classify(const HTTPResponse& response, bool dataTask);

  const std::shared_ptr<HTTPSession>& session() const { return session_; }

 private:
  RequestFactory factory_;
  std::shared_ptr<HTTPSession> session_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
