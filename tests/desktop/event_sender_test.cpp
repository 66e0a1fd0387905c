// EventSender against a real local HTTP server: outcomes per status code, the back-off
// sequence and its cap, the stop flag and interruptible waits, headers, body, timeouts,
// transport settings and the masking of secrets in verbose output. TLS is in
// event_sender_tls_test.cpp.
// Needs libcurl: left out of builds without the HTTP senders.

#include "EventSender.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "Crypto.h"
#include "Event.h"
#include "FakeClock.h"
#include "LogCapture.h"
#include "FixedProperties.h"
#include "IdentitySnapshot.h"
#include "TempDir.h"
#include "TestEnv.h"
#include "TestHttpServer.h"
#include "Version.h"

namespace CorvaneSDK {
namespace {

using Test::LogCapture;
using Test::ScopedFakeClock;
using Test::ScriptedResponse;
using Test::TestHttpServer;

struct FakeProperties : Test::FixedProperties {};

// Records the length of every sleep and returns at once (or reports an interrupt).
class RecordingClock : public Clock {
 public:
  RecordingClock() { ::CorvaneSDK::Test::ProcessEnv().SetClock(this); }
  ~RecordingClock() override { ::CorvaneSDK::Test::ProcessEnv().SetClock(nullptr); }
  int64_t WallMs() override { return 1765000000000LL; }
  int64_t MonotonicMs() override { return 1000; }
  bool Sleep(int64_t ms, Interrupt* interrupt) override {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.push_back(ms);
    return !(interrupt != nullptr && interrupt->IsSet());
  }
  std::vector<int64_t> Sleeps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<int64_t> sleeps_;
};

const char kPath[] = "/v4/event";
const std::vector<std::string> kBatch = {R"({"eventName":"a","eId":"1"})",
                                         R"({"eventName":"b","eId":"2"})"};

class EventSenderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  std::unique_ptr<EventSender> MakeSender(int maxRetries = 3, int intervalMs = 500) {
    return std::make_unique<EventSender>(server_.Url(kPath), maxRetries, intervalMs,
                                         Base64Encode("a:b"), properties_);
  }

  FakeProperties properties_;
  TestHttpServer server_;
};

ScriptedResponse Answer(int code) {
  ScriptedResponse r;
  r.status = code;
  return r;
}

TEST_F(EventSenderTest, NoContentIsSuccess) {
  ScopedFakeClock clock;
  auto sender = MakeSender();
  sender->SendEvents(kBatch);
  EXPECT_EQ(sender->Status(), kSenderSucceeded);
  EXPECT_EQ(sender->Attempts(), 1);
  EXPECT_EQ(sender->LastHttpCode(), 204);
  EXPECT_EQ(clock->TotalSleptMs(), 0);
}

TEST_F(EventSenderTest, OkIsSuccessAndResponseBodyIsIgnored) {
  ScopedFakeClock clock;
  server_.SetDefault(kPath, ScriptedResponse{200, R"({"unexpected":[1,2,3]})"});
  auto sender = MakeSender();
  sender->SendEvents(kBatch);
  EXPECT_EQ(sender->Status(), kSenderSucceeded);
  EXPECT_EQ(sender->Attempts(), 1);
}

TEST_F(EventSenderTest, TooManyRequestsAndUnavailableAreRetriedWithGrowingWaits) {
  RecordingClock clock;
  server_.Script(kPath, {Answer(429), Answer(503), Answer(429), Answer(204)});
  auto sender = MakeSender();
  sender->SendEvents(kBatch);
  EXPECT_EQ(sender->Status(), kSenderSucceeded);
  EXPECT_EQ(sender->Attempts(), 4);
  EXPECT_EQ(server_.Count(kPath), 4u);
  EXPECT_EQ(clock.Sleeps(), (std::vector<int64_t>{500, 1500, 4500}));
}

TEST_F(EventSenderTest, ExhaustedRetriesFail) {
  ScopedFakeClock clock;
  server_.SetDefault(kPath, Answer(503));
  auto sender = MakeSender();
  sender->SendEvents(kBatch);
  EXPECT_EQ(sender->Status(), kSenderFailed);
  EXPECT_EQ(sender->Attempts(), 4);
  EXPECT_EQ(server_.Count(kPath), 4u);
  EXPECT_EQ(sender->LastHttpCode(), 503);
  EXPECT_EQ(clock->TotalSleptMs(), 500 + 1500 + 4500);
}

TEST_F(EventSenderTest, PermanentRejectionsEndAfterOneAttempt) {
  for (int code : {400, 401, 403, 404, 413}) {
    ScopedFakeClock clock;
    LogCapture log(kLogDebug);
    server_.ClearRequests();
    server_.SetDefault(kPath, Answer(code));
    auto sender = MakeSender();
    sender->SendEvents(kBatch);
    EXPECT_EQ(sender->Status(), kSenderFailed) << code;
    EXPECT_EQ(sender->Attempts(), 1) << code;
    EXPECT_EQ(server_.Count(kPath), 1u) << code;
    EXPECT_EQ(sender->LastHttpCode(), code);
    EXPECT_EQ(clock->TotalSleptMs(), 0) << code;
    EXPECT_TRUE(log.Contains("Sending failed with http code:  " + std::to_string(code)));
  }
}

TEST_F(EventSenderTest, RequestTimeoutIsRetried) {
  ScopedFakeClock clock;
  server_.Script(kPath, {Answer(408), Answer(408)});
  auto sender = MakeSender();
  sender->SendEvents(kBatch);
  EXPECT_EQ(sender->Status(), kSenderSucceeded);
  EXPECT_EQ(sender->Attempts(), 3);
}

TEST_F(EventSenderTest, ZeroRetriesMakesExactlyOneAttempt) {
  ScopedFakeClock clock;
  server_.SetDefault(kPath, Answer(503));
  auto sender = MakeSender(0, 500);
  sender->SendEvents(kBatch);
  EXPECT_EQ(sender->Status(), kSenderFailed);
  EXPECT_EQ(server_.Count(kPath), 1u);
  EXPECT_EQ(clock->SleepCalls(), 0);
}

TEST_F(EventSenderTest, OutOfRangeSettingsFallBackToDefaults) {
  LogCapture log(kLogWarning);
  auto sender = MakeSender(-1, 0);
  EXPECT_EQ(sender->MaxRetries(), kDefaultMaxRetries);
  EXPECT_EQ(sender->InitialRetryIntervalMs(), kDefaultRetryIntervalMs);
  EXPECT_EQ(log.CountContaining("out of range"), 2);
}

TEST_F(EventSenderTest, BackOffIsComputedIn64BitsAndCapped) {
  EXPECT_EQ(EventSender::RetryWaitMs(0, 500), 500);
  EXPECT_EQ(EventSender::RetryWaitMs(5, 500), 121500);
  EXPECT_EQ(EventSender::RetryWaitMs(6, 500), kMaxRetryWaitMs);
  EXPECT_EQ(EventSender::RetryWaitMs(1000, 500), kMaxRetryWaitMs);
  EXPECT_EQ(EventSender::RetryWaitMs(1, 2147483647), kMaxRetryWaitMs);

  RecordingClock clock;
  server_.SetDefault(kPath, Answer(503));
  auto sender = MakeSender(8, 500);
  sender->SendEvents(kBatch);
  EXPECT_EQ(sender->Attempts(), 9);
  EXPECT_EQ(clock.Sleeps(),
            (std::vector<int64_t>{500, 1500, 4500, 13500, 40500, 121500, 300000, 300000}));
}

TEST_F(EventSenderTest, StopSetBeforeTheRetryDecisionPreventsFurtherAttempts) {
  ScopedFakeClock clock;
  server_.SetDefault(kPath, Answer(503));
  auto sender = MakeSender();
  sender->SetStop(1);
  sender->SendEvents(kBatch);
  EXPECT_EQ(sender->Status(), kSenderFailed);
  EXPECT_EQ(server_.Count(kPath), 1u);
  EXPECT_EQ(clock->SleepCalls(), 0);

  // Clearing the stop allows retries again.
  sender->SetStop(0);
  server_.ClearRequests();
  sender->SendEvents(kBatch);
  EXPECT_EQ(server_.Count(kPath), 4u);
}

TEST_F(EventSenderTest, StopDuringTheWaitEndsItAtOnce) {
  // A clock that never advances by itself: only the stop can end the 500 ms wait.
  ScopedFakeClock clock(false);
  server_.SetDefault(kPath, Answer(503));
  auto sender = MakeSender();
  std::thread sending([&] { sender->SendEvents(kBatch); });
  ASSERT_TRUE(server_.WaitForCount(kPath, 1));
  for (int i = 0; i < 5000 && clock->SleepCalls() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(clock->SleepCalls(), 1);
  sender->SetStop(1);
  sending.join();
  EXPECT_EQ(sender->Status(), kSenderFailed);
  EXPECT_EQ(sender->Attempts(), 1);
  EXPECT_EQ(server_.Count(kPath), 1u);
}

TEST_F(EventSenderTest, StopEndsARealWaitOfMinutes) {
  server_.SetDefault(kPath, Answer(503));
  auto sender = MakeSender(3, 10 * 60 * 1000);
  std::thread sending([&] { sender->SendEvents(kBatch); });
  ASSERT_TRUE(server_.WaitForCount(kPath, 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  sender->SetStop(1);
  sending.join();  // would hang for minutes without the interrupt
  EXPECT_EQ(sender->Status(), kSenderFailed);
  EXPECT_EQ(server_.Count(kPath), 1u);
}

TEST_F(EventSenderTest, SendsPutWithTheBatchBodyAndHeaders) {
  ScopedFakeClock clock;
  auto sender = MakeSender();
  sender->SendEvents(kBatch);
  const auto requests = server_.Requests(kPath);
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "PUT");
  EXPECT_EQ(r.body, BuildBatchBody(properties_, kBatch));
  EXPECT_EQ(r.Header("Authorization"), "Basic YTpi");
  EXPECT_EQ(r.Header("Authorization"), "Basic " + Base64Encode("a:b"));
  EXPECT_EQ(r.Header("User-Agent"), std::string(CorvaneSDK::kUserAgent));
  EXPECT_EQ(r.Header("Accept"), "*/*");
  EXPECT_EQ(r.Header("Content-Type"), "application/json");
  EXPECT_FALSE(r.Header("Accept-Encoding").empty());
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
  EXPECT_TRUE(r.Header("Expect").empty());
}

TEST_F(EventSenderTest, LargeBatchGoesOutWhole) {
  ScopedFakeClock clock;
  std::vector<std::string> batch;
  for (int i = 0; i < 50; ++i) {
    batch.push_back(R"({"eventName":"e","payload":")" + std::string(9000, 'x') + "\"}");
  }
  auto sender = MakeSender();
  sender->SendEvents(batch);
  EXPECT_EQ(sender->Status(), kSenderSucceeded);
  const auto requests = server_.Requests(kPath);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body, BuildBatchBody(properties_, batch));
}

TEST_F(EventSenderTest, VerboseTraceKeepsHeaderOrderAndMasksTheAuthorization) {
  ScopedFakeClock clock;
  LogCapture log(kLogVerbose);
  auto sender = MakeSender();
  sender->SendEvents(kBatch);
  ASSERT_EQ(sender->Status(), kSenderSucceeded);
  // The outgoing header block is traced line by line in the order sent.
  std::vector<std::string> order;
  for (const auto& line : log.Lines()) {
    for (const char* name : {"curl > Accept: ", "curl > User-Agent: ", "curl > Authorization: ",
                             "curl > Content-Type: "}) {
      if (line.find(name) != std::string::npos) order.push_back(name);
    }
  }
  EXPECT_EQ(order, (std::vector<std::string>{"curl > Accept: ", "curl > User-Agent: ",
                                             "curl > Authorization: ", "curl > Content-Type: "}));
  EXPECT_TRUE(log.Contains(std::string("curl > User-Agent: ") + CorvaneSDK::kUserAgent));
  EXPECT_TRUE(log.Contains("curl > Authorization: Basic ***"));
  EXPECT_FALSE(log.Contains("YTpi"));
}

TEST(EventSenderTrace, MaskSecretsHidesCredentialValuesOnly) {
  EXPECT_EQ(MaskSecrets("PUT /v4/event HTTP/1.1\r\nHost: h\r\nauthorization: Basic YTpi\r\n"
                        "Quorvel-Token: aaa.bbb.ccc\r\nProxy-Authorization: Bearer t0k\r\n"
                        "Accept: */*\r\n\r\n"),
            "PUT /v4/event HTTP/1.1\r\nHost: h\r\nauthorization: Basic ***\r\n"
            "Quorvel-Token: ***\r\nProxy-Authorization: Bearer ***\r\nAccept: */*\r\n\r\n");
  EXPECT_EQ(MaskSecrets("Authorization:YTpi"), "Authorization:***");
  EXPECT_EQ(MaskSecrets("X-Authorization: kept"), "X-Authorization: kept");
  EXPECT_EQ(MaskSecrets("no colon\nAuthorization: Basic"), "no colon\nAuthorization: ***");
  EXPECT_EQ(MaskSecrets(""), "");
}

TEST_F(EventSenderTest, NoVerboseTraceBelowVerboseLevel) {
  ScopedFakeClock clock;
  LogCapture log(kLogDebug);
  auto sender = MakeSender();
  sender->SendEvents(kBatch);
  EXPECT_TRUE(log.Contains("SendEvents: start"));
  EXPECT_TRUE(log.Contains("Sent event successful"));
  EXPECT_FALSE(log.Contains("curl >"));
}

TEST_F(EventSenderTest, UnansweredRequestTimesOutAndCountsAsFailedAttempt) {
  ScopedFakeClock clock;
  server_.Script(kPath, {ScriptedResponse{204, "", "application/json", 600}});
  auto sender = MakeSender();
  sender->SetTimeoutMs(150);
  sender->SendEvents(kBatch);
  EXPECT_EQ(sender->Status(), kSenderSucceeded);
  EXPECT_EQ(sender->Attempts(), 2);
  EXPECT_EQ(clock->TotalSleptMs(), 500);
}

TEST_F(EventSenderTest, ConnectionRefusedIsRetriedThenFails) {
  ScopedFakeClock clock;
  const std::string url = server_.Url(kPath);
  server_.Stop();  // nothing listens on the port any more
  EventSender sender(url, 3, 500, Base64Encode("a:b"), properties_);
  sender.SendEvents(kBatch);
  EXPECT_EQ(sender.Status(), kSenderFailed);
  EXPECT_EQ(sender.Attempts(), 4);
  EXPECT_EQ(sender.LastHttpCode(), 0);
}

TEST_F(EventSenderTest, InvalidEndpointFailsWithoutCrashing) {
  ScopedFakeClock clock;
  LogCapture log(kLogWarning);
  EventSender sender("not a url", 0, 500, Base64Encode("a:b"), properties_);
  EXPECT_TRUE(log.Contains("not an http(s) URL"));
  sender.SendEvents(kBatch);
  EXPECT_EQ(sender.Status(), kSenderFailed);
  EXPECT_EQ(sender.LastHttpCode(), 0);
}

TEST_F(EventSenderTest, HugeResponseBodyIsDiscarded) {
  ScopedFakeClock clock;
  server_.SetDefault(kPath,
                     ScriptedResponse{200, std::string(12 * 1024 * 1024, 'z'), "text/plain"});
  auto sender = MakeSender();
  sender->SendEvents(kBatch);
  EXPECT_EQ(sender->Status(), kSenderSucceeded);
}

TEST_F(EventSenderTest, HeaderInjectionInTheAuthorizationIsRemoved) {
  ScopedFakeClock clock;
  LogCapture log(kLogWarning);
  EventSender sender(server_.Url(kPath), 0, 500, "YTpi\r\nX-Forged: 1", properties_);
  sender.SendEvents(kBatch);
  const auto requests = server_.Requests(kPath);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].Header("X-Forged").empty());
  EXPECT_TRUE(log.Contains("Line breaks removed"));
}

TEST_F(EventSenderTest, ProxySettingRoutesTheRequest) {
  // The local server plays the proxy: an absolute-form request for a host that does not exist.
  ScopedFakeClock clock;
  EventSender sender("http://ingest.invalid/v4/event", 0, 500, Base64Encode("a:b"), properties_);
  TransportSettings settings;
  settings.proxy = server_.Url("");
  sender.ApplyTransport(settings);
  sender.SendEvents(kBatch);
  EXPECT_EQ(sender.Status(), kSenderSucceeded);
  const auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].path.find("ingest.invalid/v4/event"), std::string::npos);
}

}  // namespace
}  // namespace CorvaneSDK

