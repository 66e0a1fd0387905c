// The HTTP client over real libcurl sessions against a local server: headers and method, the
// outcome table, data tasks, hostile answers (huge and endless bodies, redirects, odd content
// types, invalid UTF-8), timeouts, cancellation and release while a task runs.
#include <gtest/gtest.h>

#include <httplib.h>

#include <atomic>
#include <future>
#include <thread>

#include "CorvaneSDKHTTPClient.h"
#include "MobileTestSupport.h"
#include "TestHttpServer.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using CorvaneSDK::Test::ScriptedResponse;
using CorvaneSDK::Test::TestHttpServer;

// Waits for one completion of a task.
template <typename T>
class Result {
 public:
  void set(T value) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.push_back(std::move(value));
  }
  bool wait(size_t n = 1) {
    return Testing::waitUntil([&] {
      std::lock_guard<std::mutex> lock(mutex_);
      return values_.size() >= n;
    });
  }
  T get(size_t i = 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_.at(i);
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_.size();
  }

 private:
  std::mutex mutex_;
  std::vector<T> values_;
};

class MobileHTTPClient : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  bool uploadRetry(int status) {
    server_.Script("/v4/event", {ScriptedResponse(status)});
    Result<bool> result;
    client_->upload(Value{{"subMessages", Value::array()}}, server_.Url("/v4/event"), "Y3JlZA==",
                    [&](bool retry) { result.set(retry); });
    EXPECT_TRUE(result.wait());
    return result.get();
  }

  Testing::TestPorts ports_;
  TestHttpServer server_;
  std::shared_ptr<CorvaneSDKHTTPClient> client_ = std::make_shared<CorvaneSDKHTTPClient>();
};

TEST_F(MobileHTTPClient, UploadIsJsonPutWithBasicAuthorizationAndTheSessionHeaders) {
  Result<bool> result;
  const Value batch{{"qvUid", "u"}, {"subMessages", Value::array({Value{{"eId", "e1"}, {"text", "a\nb\x01"}}})}};
  client_->upload(batch, server_.Url("/v4/event"), "YXBwOnNlY3JldA==", [&](bool retry) { result.set(retry); });
  ASSERT_TRUE(result.wait());
  EXPECT_FALSE(result.get());
  auto requests = server_.Requests("/v4/event");
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "PUT");
  EXPECT_EQ(r.Header("Content-Type"), "application/json");
  EXPECT_EQ(r.Header("Authorization"), "Basic YXBwOnNlY3JldA==");
  EXPECT_EQ(r.Header("User-Agent"), "corvane/0.0.15-ios");
  EXPECT_EQ(r.Header("Accept"), "*/*");
  EXPECT_EQ(r.Header("Content-Encoding"), "");
  EXPECT_EQ(r.body, R"({"qvUid":"u","subMessages":[{"eId":"e1","text":"a\nb\u0001"}]})");
}

TEST_F(MobileHTTPClient, OutcomeTableDecidesRetry) {
  EXPECT_FALSE(uploadRetry(200));
  EXPECT_FALSE(uploadRetry(204));
  EXPECT_TRUE(uploadRetry(304));
  EXPECT_TRUE(uploadRetry(429));
  EXPECT_FALSE(uploadRetry(400));
  EXPECT_FALSE(uploadRetry(401));
  EXPECT_TRUE(uploadRetry(500));
  EXPECT_TRUE(uploadRetry(503));
  EXPECT_TRUE(ports_.log->contains("Server limited client with response code 429."));
  EXPECT_TRUE(ports_.log->contains("Server rejected payload with HTTP code 400."));
  EXPECT_TRUE(ports_.log->contains("Server error with HTTP code 503."));
  EXPECT_TRUE(ports_.log->contains("Server responded with unexpected HTTP code 304."));

  // Nobody listening: a transport error, retried.
  TestHttpServer closed;
  ASSERT_TRUE(closed.Start());
  const std::string url = closed.Url("/v4/event");
  closed.Stop();
  Result<bool> result;
  client_->upload(Value::object(), url, "c", [&](bool retry) { result.set(retry); });
  ASSERT_TRUE(result.wait());
  EXPECT_TRUE(result.get());
  EXPECT_TRUE(ports_.log->contains("Error uploading request "));
}

TEST_F(MobileHTTPClient, RejectedAndDeliveredAreTold) {
  server_.Script("/v4/event", {ScriptedResponse(422), ScriptedResponse(201)});
  Result<CorvaneSDKUploadOutcome> result;
  for (int i = 0; i < 2; ++i) {
    client_->uploadBody("{}", server_.Url("/v4/event"), "c", [&](const CorvaneSDKUploadOutcome& o) { result.set(o); });
    ASSERT_TRUE(result.wait(i + 1));
  }
  EXPECT_EQ(result.get(0).result, CorvaneSDKUploadResult::Rejected);
  EXPECT_EQ(result.get(0).status, 422);
  EXPECT_EQ(result.get(1).result, CorvaneSDKUploadResult::Delivered);
}

TEST_F(MobileHTTPClient, SendAnswersTextOnlyForGoodUtf8BelowThreeHundred) {
  server_.Script("/config", {ScriptedResponse(200, "{\"a\":1}", "text/html"), ScriptedResponse(200, ""),
                             ScriptedResponse(404, "missing"), ScriptedResponse(200, "bad \xff\xfe text"),
                             ScriptedResponse(503, "later")});
  Result<std::pair<std::optional<std::string>, bool>> result;
  auto request = client_->createRequest(CorvaneSDKHTTPClient::updateURL(server_.Url("/config"), Value{{"a", "x y"}}),
                                        "GET");
  for (int i = 0; i < 5; ++i) {
    client_->send(request, [&](std::optional<std::string> text, bool retry) { result.set({text, retry}); });
    ASSERT_TRUE(result.wait(i + 1));
  }
  EXPECT_EQ(result.get(0).first, std::optional<std::string>("{\"a\":1}"));  // content type is not looked at
  EXPECT_FALSE(result.get(0).second);
  EXPECT_EQ(result.get(1).first, std::nullopt);
  EXPECT_EQ(result.get(2).first, std::nullopt);
  EXPECT_FALSE(result.get(2).second);
  EXPECT_EQ(result.get(3).first, std::nullopt);
  EXPECT_EQ(result.get(4).first, std::nullopt);
  EXPECT_TRUE(result.get(4).second);
  auto requests = server_.Requests("/config");
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].params.find("a")->second, "x y");
  EXPECT_EQ(requests[0].Header("User-Agent"), "corvane/0.0.15-ios");
}

TEST_F(MobileHTTPClient, UpdateURLAppendsQueryItems) {
  EXPECT_EQ(CorvaneSDKHTTPClient::updateURL("https://h/p", Value{{"a", "1"}, {"b", 2}}), "https://h/p?a=1&b=2");
  EXPECT_EQ(CorvaneSDKHTTPClient::updateURL("https://h/p?x=0", Value{{"a", "&="}}), "https://h/p?x=0&a=%26%3D");
  EXPECT_EQ(CorvaneSDKHTTPClient::updateURL("https://h/p?x=0#f", Value{{"a", "1"}}), "https://h/p?x=0&a=1#f");
  EXPECT_EQ(CorvaneSDKHTTPClient::updateURL("https://h/p", Value::array({1})), "https://h/p");
}

// A server of hostile answers: a body over the bound, an endless chunked body, a redirect.
class HostileServer {
 public:
  HostileServer() {
    server_.Get("/huge", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(11u * 1024u * 1024u, 'x'), "application/json");
    });
    server_.Get("/endless", [this](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/json", [this](size_t, httplib::DataSink& sink) {
        static const std::string chunk(64 * 1024, 'y');
        ++chunks_;
        return sink.write(chunk.data(), chunk.size());
      });
    });
    server_.Get("/redirect", [](const httplib::Request&, httplib::Response& res) {
      res.status = 302;
      res.set_header("Location", "/target");
    });
    server_.Get("/target", [this](const httplib::Request&, httplib::Response& res) {
      ++targetHits_;
      res.set_content("followed", "text/plain");
    });
    server_.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
      std::this_thread::sleep_for(std::chrono::milliseconds(700));
      res.set_content("late", "text/plain");
    });
    server_.set_keep_alive_max_count(1);  // no idle connection holds stop() up
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    Testing::waitUntil([this] { return server_.is_running(); });
  }
  ~HostileServer() {
    server_.stop();
    thread_.join();
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::atomic<int> chunks_{0};
  std::atomic<int> targetHits_{0};

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

TEST_F(MobileHTTPClient, HostileAnswersAreBoundedAndRedirectsNotFollowed) {
  HostileServer hostile;
  Result<std::pair<std::optional<std::string>, bool>> result;
  auto send = [&](const std::string& path) {
    const size_t before = result.count();
    client_->send(client_->createRequest(hostile.url(path), "GET"),
                  [&](std::optional<std::string> text, bool retry) { result.set({text, retry}); });
    EXPECT_TRUE(result.wait(before + 1));
    return result.get(before);
  };
  auto huge = send("/huge");
  EXPECT_EQ(huge.first, std::nullopt);
  EXPECT_TRUE(huge.second);
  EXPECT_TRUE(ports_.log->contains("response body larger than 10485760 bytes"));

  auto endless = send("/endless");
  EXPECT_EQ(endless.first, std::nullopt);
  EXPECT_TRUE(endless.second);
  // About 10 MB of 64 KB chunks, not an endless read.
  EXPECT_LT(hostile.chunks_.load(), 400);

  auto redirect = send("/redirect");
  EXPECT_EQ(redirect.first, std::nullopt);
  EXPECT_TRUE(redirect.second);
  EXPECT_EQ(hostile.targetHits_.load(), 0);
  EXPECT_TRUE(ports_.log->contains("Server responded with unexpected HTTP code 302."));
}

TEST_F(MobileHTTPClient, SessionTimesOutCancelsAndFinishesOnRelease) {
  HostileServer hostile;
  HTTPSessionConfiguration configuration;
  configuration.requestTimeoutMs = 150;
  auto session = CurlHTTPSessionFactory().makeSession(configuration);
  Result<HTTPResponse> result;
  CorvaneSDKMutableRequest request;
  request.url = hostile.url("/slow");
  session->startTask(request, [&](const HTTPResponse& r) { result.set(r); });
  ASSERT_TRUE(result.wait());
  EXPECT_EQ(result.get(0).error, std::optional<std::string>("the request timed out"));

  // Cancelled: the completion still runs once, as an error.
  auto task = session->startTask(request, [&](const HTTPResponse& r) { result.set(r); });
  task->cancel();
  task->cancel();
  ASSERT_TRUE(result.wait(2));
  EXPECT_EQ(result.get(1).error, std::optional<std::string>("cancelled"));

  // Released while a task runs: the task finishes, later tasks are refused at once.
  auto client = std::make_shared<CorvaneSDKHTTPClient>();
  Result<std::pair<std::optional<std::string>, bool>> sent;
  auto slow = client->createRequest(hostile.url("/slow"), "GET");
  client->send(slow, [&](std::optional<std::string> text, bool retry) { sent.set({text, retry}); });
  auto kept = client->session();
  client.reset();
  ASSERT_TRUE(sent.wait());
  EXPECT_EQ(sent.get(0).first, std::optional<std::string>("late"));
  Result<HTTPResponse> refused;
  kept->startTask(request, [&](const HTTPResponse& r) { refused.set(r); });
  ASSERT_EQ(refused.count(), 1u);
  EXPECT_EQ(refused.get(0).error, std::optional<std::string>("session invalidated"));
}

TEST_F(MobileHTTPClient, TlsPeerIsVerified) {
  // A plain-HTTP server spoken to over https fails the handshake rather than being trusted.
  Result<bool> result;
  std::string url = server_.Url("/v4/event");
  url.replace(0, 4, "https");
  client_->upload(Value::object(), url, "c", [&](bool retry) { result.set(retry); });
  ASSERT_TRUE(result.wait());
  EXPECT_TRUE(result.get());
  EXPECT_EQ(server_.Count("/v4/event"), 0u);
}

TEST_F(MobileHTTPClient, ManualSessionDoubleRecordsAndCompletesByHand) {
  auto factory = std::make_shared<ManualHTTPSessionFactory>();
  auto ports = std::make_shared<Ports>(*Platform::current());
  ports->httpSession = factory;
  auto previous = Platform::current();
  Platform::install(ports);
  auto client = std::make_shared<CorvaneSDKHTTPClient>();
  Platform::install(previous);
  Result<bool> result;
  client->upload(Value::object(), "https://example.invalid/v4/event", "c", [&](bool retry) { result.set(retry); });
  auto session = factory->last();
  ASSERT_TRUE(session);
  ASSERT_EQ(session->pendingCount(), 1u);
  EXPECT_EQ(session->started()[0].request.valueForHeader("user-agent"), std::optional<std::string>("corvane/0.0.15-ios"));
  HTTPResponse answer;
  answer.status = 429;
  EXPECT_TRUE(session->completeNext(answer));
  ASSERT_EQ(result.count(), 1u);
  EXPECT_TRUE(result.get());
  client.reset();
  EXPECT_TRUE(session->invalidated());
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
