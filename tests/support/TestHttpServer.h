// A real HTTP server on 127.0.0.1 (ephemeral port) for end-to-end tests. It records every
// request and answers each path from a script of responses, then from a default answer.
// Thread-safe: tests read records while the server thread writes them.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace CorvaneSDK {
namespace Test {

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string query;  // raw query text, without "?"
  std::map<std::string, std::string> params;
  std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
  std::string body;
  std::string Header(const std::string& name) const;  // case-insensitive, first match
};

struct ScriptedResponse {
  ScriptedResponse(int code = 204, std::string text = std::string(),
                   std::string type = "application/json", int delay = 0)
      : status(code), body(std::move(text)), contentType(std::move(type)), delayMs(delay) {}
  int status;
  std::string body;
  std::string contentType;
  int delayMs;  // real delay before answering
};

class TestHttpServer {
 public:
  TestHttpServer();
  ~TestHttpServer();

  // Starts listening; returns false when no port could be bound.
  bool Start();
  void Stop();
  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string Url(const std::string& path) const;

  // Answers queued for `path` (any method), used in order; then the default for the path.
  void Script(const std::string& path, std::vector<ScriptedResponse> responses);
  void SetDefault(const std::string& path, ScriptedResponse response);
  // Full control: when set for a path, it answers instead of the script.
  using Handler = std::function<ScriptedResponse(const RecordedRequest&)>;
  void SetHandler(const std::string& path, Handler handler);

  std::vector<RecordedRequest> Requests() const;
  std::vector<RecordedRequest> Requests(const std::string& path) const;
  size_t Count(const std::string& path) const;
  void ClearRequests();
  // Waits (real time) until `path` has at least `count` requests; false on timeout.
  bool WaitForCount(const std::string& path, size_t count, int timeoutMs = 10000) const;

 private:
  ScriptedResponse Answer(const RecordedRequest& request);

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::vector<RecordedRequest> requests_;
  std::map<std::string, std::deque<ScriptedResponse>> scripts_;
  std::map<std::string, ScriptedResponse> defaults_;
  std::map<std::string, Handler> handlers_;
};

}  // namespace Test
}  // namespace CorvaneSDK
