// ConfigSender against a real local HTTP server: query members in order and encoded,
// the attempt loop, the response bound, cancellation and URLs that cannot be used.
// Needs libcurl: left out of builds without the HTTP senders.

#include "ConfigSender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "FakeClock.h"
#include "LogCapture.h"
#include "TestHttpServer.h"
#include "Version.h"

namespace CorvaneSDK {
namespace {

using Test::LogCapture;
using Test::ScopedFakeClock;
using Test::ScriptedResponse;
using Test::TestHttpServer;

const char kPath[] = "/v1/public/config";

ScriptedResponse Answer(int status, const std::string& body = "") {
  ScriptedResponse r;
  r.status = status;
  r.body = body;
  return r;
}

class ConfigSenderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }
  TestHttpServer server_;
};

TEST_F(ConfigSenderTest, QueryMembersInOrderAndTheBodyReturned) {
  ScopedFakeClock clock;
  server_.SetDefault(kPath, Answer(200, R"({"sdk_config_hash":"h1"})"));
  ConfigSender sender(server_.Url(kPath), TransportSettings{});
  std::string body;
  ASSERT_TRUE(sender.Fetch("app-1", "Linux", "1.0", "abc123", body));
  EXPECT_EQ(body, R"({"sdk_config_hash":"h1"})");
  EXPECT_EQ(sender.Status(), 2);
  const auto requests = server_.Requests(kPath);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].query, "app_id=app-1&platform=Linux&version=1.0&sdk_config_hash=abc123");
  EXPECT_EQ(requests[0].Header("User-Agent"), std::string(CorvaneSDK::kUserAgent));
  EXPECT_EQ(requests[0].Header("Accept"), "*/*");
  EXPECT_FALSE(requests[0].Header("Accept-Encoding").empty());
  EXPECT_EQ(sender.LastUrl(), server_.Url(kPath) + "?" + requests[0].query);
}

TEST_F(ConfigSenderTest, EmptyVersionAndHashAreLeftOut) {
  ScopedFakeClock clock;
  ConfigSender sender(server_.Url(kPath), TransportSettings{});
  std::string body = "stale";
  EXPECT_TRUE(sender.Fetch("app-1", "Linux", "", "", body));
  EXPECT_EQ(body, "");  // 204
  const auto requests = server_.Requests(kPath);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].query, "app_id=app-1&platform=Linux");
  EXPECT_EQ(requests[0].params.count("sdk_config_hash"), 0u);
}

TEST_F(ConfigSenderTest, ValuesCannotBreakOrForgeTheQuery) {
  ScopedFakeClock clock;
  ConfigSender sender(server_.Url(kPath), TransportSettings{});
  std::string body;
  ASSERT_TRUE(sender.Fetch("my app&platform=iOS", "Linux", "1.0 beta#2+x", "h/=?%", body));
  const auto requests = server_.Requests(kPath);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].query,
            "app_id=my%20app%26platform%3DiOS&platform=Linux&version=1.0%20beta%232%2Bx"
            "&sdk_config_hash=h%2F%3D%3F%25");
  const auto& params = requests[0].params;
  ASSERT_EQ(params.size(), 4u);
  EXPECT_EQ(params.at("app_id"), "my app&platform=iOS");
  EXPECT_EQ(params.at("platform"), "Linux");
  EXPECT_EQ(params.at("version"), "1.0 beta#2+x");
  EXPECT_EQ(params.at("sdk_config_hash"), "h/=?%");
}

TEST_F(ConfigSenderTest, NonAsciiAndControlBytesAreEncoded) {
  EXPECT_EQ(ConfigSender::PercentEncode("a-b.c_d~e"), "a-b.c_d~e");
  EXPECT_EQ(ConfigSender::PercentEncode(std::string("\xc3\xa9\x00\n\xff", 5)), "%C3%A9%00%0A%FF");
}

TEST_F(ConfigSenderTest, ExistingQueryAndFragmentOfTheBaseAreKept) {
  const std::vector<std::pair<std::string, std::string>> query = {{"app_id", "a b"}, {"p", "L"}};
  std::string url;
  ASSERT_TRUE(ConfigSender::BuildUrl("http://127.0.0.1:9/c?env=dev#top", query, url));
  EXPECT_EQ(url, "http://127.0.0.1:9/c?env=dev&app_id=a%20b&p=L#top");
  ASSERT_TRUE(ConfigSender::BuildUrl("https://h/c?", query, url));
  EXPECT_EQ(url, "https://h/c?app_id=a%20b&p=L");
  ASSERT_TRUE(ConfigSender::BuildUrl("http://h", query, url));
  EXPECT_EQ(url, "http://h?app_id=a%20b&p=L");
}

TEST_F(ConfigSenderTest, UnusableUrlFailsWithoutARequest) {
  ScopedFakeClock clock;
  for (const char* url : {"", "not a url", "file:///etc/passwd", "ftp://127.0.0.1/x"}) {
    LogCapture log(kLogError);
    ConfigSender sender(url, TransportSettings{});
    std::string body = "stale";
    EXPECT_FALSE(sender.Fetch("a", "Linux", "", "", body)) << url;
    EXPECT_EQ(sender.Status(), 3) << url;
    EXPECT_EQ(sender.Attempts(), 0) << url;
    EXPECT_EQ(body, "");
    EXPECT_EQ(sender.LastUrl(), "");
    EXPECT_TRUE(log.Contains("not a valid http(s) URL")) << url;
  }
  EXPECT_EQ(clock->SleepCalls(), 0);
}

TEST_F(ConfigSenderTest, NotFoundIsNotRetried) {
  ScopedFakeClock clock;
  server_.SetDefault(kPath, Answer(404, "missing"));
  ConfigSender sender(server_.Url(kPath), TransportSettings{});
  std::string body = "stale";
  EXPECT_FALSE(sender.Fetch("a", "Linux", "", "", body));
  EXPECT_EQ(body, "");
  EXPECT_EQ(sender.Status(), 3);
  EXPECT_EQ(sender.Attempts(), 1);
  EXPECT_EQ(sender.LastHttpCode(), 404);
  EXPECT_EQ(clock->SleepCalls(), 0);
}

TEST_F(ConfigSenderTest, TooManyRequestsAndUnavailableMakeFourAttemptsFiveSecondsApart) {
  for (int code : {429, 503}) {
    ScopedFakeClock clock;
    server_.ClearRequests();
    server_.SetDefault(kPath, Answer(code, "busy"));
    ConfigSender sender(server_.Url(kPath), TransportSettings{});
    std::string body = "stale";
    EXPECT_FALSE(sender.Fetch("a", "Linux", "", "", body)) << code;
    EXPECT_EQ(body, "");
    EXPECT_EQ(server_.Count(kPath), 4u) << code;
    EXPECT_EQ(sender.Attempts(), 4);
    EXPECT_EQ(clock->SleepCalls(), 3);
    EXPECT_EQ(clock->TotalSleptMs(), 15000);
  }
}

TEST_F(ConfigSenderTest, SuccessOnTheLastAttempt) {
  ScopedFakeClock clock;
  server_.Script(kPath, {Answer(503), Answer(429), Answer(500), Answer(200, "{}")});
  ConfigSender sender(server_.Url(kPath), TransportSettings{});
  std::string body;
  EXPECT_TRUE(sender.Fetch("a", "Linux", "", "", body));
  EXPECT_EQ(body, "{}");
  EXPECT_EQ(sender.Attempts(), 4);
}

TEST_F(ConfigSenderTest, ResponseBodyIsBounded) {
  ScopedFakeClock clock;
  ConfigSender sender(server_.Url(kPath), TransportSettings{});
  std::string body;
  // Exactly at the bound is kept. JSON is compressed by the server, so the bound applies to
  // the decoded bytes: a small compressed answer cannot inflate past it.
  server_.Script(kPath, {Answer(200, std::string(kMaxResponseBytes, 'a'))});
  ASSERT_TRUE(sender.Fetch("a", "Linux", "", "", body));
  EXPECT_EQ(body.size(), kMaxResponseBytes);

  LogCapture log(kLogWarning);
  server_.ClearRequests();
  server_.SetDefault(kPath, Answer(200, std::string(kMaxResponseBytes + 1, 'a')));
  EXPECT_FALSE(sender.Fetch("a", "Linux", "", "", body));
  EXPECT_EQ(body, "");
  EXPECT_EQ(sender.Status(), 3);
  EXPECT_EQ(server_.Count(kPath), 4u);
  EXPECT_EQ(log.CountContaining("response longer than"), 4);
}

TEST_F(ConfigSenderTest, CancelEndsTheWaitAndLaterFetchesFailAtOnce) {
  ScopedFakeClock clock(false);  // only the cancel can end a wait
  server_.SetDefault(kPath, Answer(503));
  ConfigSender sender(server_.Url(kPath), TransportSettings{});
  bool result = true;
  std::thread fetching([&] {
    std::string body;
    result = sender.Fetch("a", "Linux", "", "", body);
  });
  ASSERT_TRUE(server_.WaitForCount(kPath, 1));
  for (int i = 0; i < 5000 && clock->SleepCalls() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sender.Cancel();
  fetching.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(sender.Attempts(), 1);
  EXPECT_EQ(sender.Status(), 3);

  std::string body;
  EXPECT_FALSE(sender.Fetch("a", "Linux", "", "", body));
  EXPECT_EQ(server_.Count(kPath), 1u);

  sender.SetStop(0);  // re-armed
  server_.SetDefault(kPath, Answer(200, "{}"));
  EXPECT_TRUE(sender.Fetch("a", "Linux", "", "", body));
}

TEST_F(ConfigSenderTest, CancelAbortsARunningTransfer) {
  server_.SetDefault(kPath, ScriptedResponse{200, "{}", "application/json", 1500});
  ConfigSender sender(server_.Url(kPath), TransportSettings{});
  sender.SetTimeoutMs(60000);
  bool result = true;
  std::thread fetching([&] {
    std::string body;
    result = sender.Fetch("a", "Linux", "", "", body);
  });
  ASSERT_TRUE(server_.WaitForCount(kPath, 1));
  sender.Cancel();
  fetching.join();  // ends within libcurl's progress interval, not after the server's answer
  EXPECT_FALSE(result);
  EXPECT_EQ(sender.Attempts(), 1);
}

TEST_F(ConfigSenderTest, VerboseTraceShowsTheRequestAndAnswer) {
  ScopedFakeClock clock;
  LogCapture log(kLogVerbose);
  ConfigSender sender(server_.Url(kPath), TransportSettings{});
  std::string body;
  ASSERT_TRUE(sender.Fetch("a", "Linux", "", "", body));
  EXPECT_TRUE(log.Contains("curl > GET /v1/public/config?app_id=a&platform=Linux"));
  EXPECT_TRUE(log.Contains("curl < HTTP/1.1 204"));
}

}  // namespace
}  // namespace CorvaneSDK

