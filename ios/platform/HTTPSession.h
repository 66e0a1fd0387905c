// The HTTP session port (NSURLSession on Apple): one session per client, its own thread for
// completions, tasks that can be cancelled, finish-and-invalidate on release.
// CurlHTTPSession is the portable implementation (one libcurl multi handle driven by a thread
// of the session's own); ManualHTTPSession is the double, completed by hand by the test.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace CorvaneSDK {
namespace Mobile {

using HTTPHeaders = std::vector<std::pair<std::string, std::string>>;

// A request as the client builds it (NSMutableURLRequest). Headers set here win over the
// session's additional headers of the same name.
struct CorvaneSDKMutableRequest {
  std::string url;
  std::string method = "GET";
  HTTPHeaders headers;
  std::string body;
  // 0 takes the session's request timeout.
  int64_t timeoutMs = 0;
  void setValue(const std::string& value, const std::string& header);
  std::optional<std::string> valueForHeader(const std::string& header) const;  // case-insensitive
};

// What a finished task reports. `error` is set for transport failures (no answer, cancelled,
// timed out, body over the bound); otherwise `status` holds the HTTP code.
struct HTTPResponse {
  int status = 0;
  HTTPHeaders headers;
  std::string body;
  std::optional<std::string> error;
};

using HTTPCompletion = std::function<void(const HTTPResponse&)>;

// The host's session delegate (NSURLSessionDelegate), weakly held. Called on the session's
// thread; it must not wait for the code that started the task.
class CorvaneSDKHTTPSessionDelegate {
 public:
  virtual ~CorvaneSDKHTTPSessionDelegate() = default;
  virtual void didCompleteTask(const CorvaneSDKMutableRequest& request, const HTTPResponse& response) {
    (void)request;
    (void)response;
  }
};

class HTTPTask {
 public:
  virtual ~HTTPTask() = default;
  // The completion still runs once, with the error "cancelled". Thread-safe; idempotent.
  virtual void cancel() = 0;
  virtual uint64_t taskIdentifier() const = 0;
};

struct HTTPSessionConfiguration {
  HTTPHeaders additionalHeaders;
  // Without progress for this long a task fails (the platform's request timeout).
  int64_t requestTimeoutMs = 60000;
  // A task fails when it takes longer than this in all.
  int64_t resourceTimeoutMs = 600000;
  // Response bodies beyond this many bytes end the task with an error.
  size_t maxBodyBytes = 10u * 1024u * 1024u;
};

// Thread-safe. Completions run on the session's thread, each exactly once; a task started
// after invalidation completes at once, on the caller's thread, with an error.
class HTTPSession {
 public:
  virtual ~HTTPSession() = default;
  // Data and upload tasks alike: the request's body is sent when it has one.
  virtual std::shared_ptr<HTTPTask> startTask(const CorvaneSDKMutableRequest& request, HTTPCompletion completion) = 0;
  // Running tasks finish, new ones are refused, then the session's thread ends.
  virtual void finishTasksAndInvalidate() = 0;
  virtual void setDelegate(std::weak_ptr<CorvaneSDKHTTPSessionDelegate> delegate) = 0;
};

// The request as it goes out: the session's headers, the request's own over them, and the
// session's timeout when the request has none.
CorvaneSDKMutableRequest withSessionHeaders(const CorvaneSDKMutableRequest& request,
                                            const HTTPSessionConfiguration& configuration);

class HTTPSessionFactory {
 public:
  virtual ~HTTPSessionFactory() = default;
  virtual std::shared_ptr<HTTPSession> makeSession(const HTTPSessionConfiguration& configuration) = 0;
};

// libcurl: TLS peer and host verification on, no redirects followed, http and https only.
class CurlHTTPSessionFactory : public HTTPSessionFactory {
 public:
  std::shared_ptr<HTTPSession> makeSession(const HTTPSessionConfiguration& configuration) override;
};

// The double: tasks wait until the test completes them; completions run on the test's thread.
class ManualHTTPSession : public HTTPSession, public std::enable_shared_from_this<ManualHTTPSession> {
 public:
  struct Started {
    CorvaneSDKMutableRequest request;  // with the session's additional headers applied
    uint64_t identifier = 0;
  };
  explicit ManualHTTPSession(HTTPSessionConfiguration configuration);
  std::shared_ptr<HTTPTask> startTask(const CorvaneSDKMutableRequest& request, HTTPCompletion completion) override;
  void finishTasksAndInvalidate() override;
  void setDelegate(std::weak_ptr<CorvaneSDKHTTPSessionDelegate> delegate) override;

  std::vector<Started> started() const;
  size_t pendingCount() const;
  // Completes the oldest pending task; false when none is pending.
  bool completeNext(const HTTPResponse& response);
  bool invalidated() const { return invalidated_.load(); }
  const HTTPSessionConfiguration& configuration() const { return configuration_; }

 private:
  friend class ManualHTTPTask;
  bool complete(uint64_t identifier, const HTTPResponse& response);
  HTTPSessionConfiguration configuration_;
  mutable std::mutex mutex_;
  std::vector<Started> started_;
  std::vector<std::pair<uint64_t, std::pair<CorvaneSDKMutableRequest, HTTPCompletion>>> pending_;
  uint64_t next_ = 1;
  std::atomic<bool> invalidated_{false};
  std::weak_ptr<CorvaneSDKHTTPSessionDelegate> delegate_;
};

// Hands out ManualHTTPSessions and keeps them for the test.
class ManualHTTPSessionFactory : public HTTPSessionFactory {
 public:
  std::shared_ptr<HTTPSession> makeSession(const HTTPSessionConfiguration& configuration) override;
  std::shared_ptr<ManualHTTPSession> last() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<ManualHTTPSession>> sessions_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
