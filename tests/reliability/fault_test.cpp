// Network faults against purpose-built servers on 127.0.0.1 (5xx, 429, hangs, resets, slow
// and early answers, DNS and TLS failures): no crash, every event delivered once by eId when
// the fault clears, and requests within the back-off schedule. Time is faked; servers real.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "TestEnv.h"
#include "RawTcpServer.h"
#include "TestHttpServer.h"
#include "sdk_harness.h"

namespace CorvaneSDK {
namespace Test {
namespace {

// A TCP server that speaks just enough HTTP/1.1 to misbehave on purpose. Each connection
// runs on its own thread; the mode is read per request. Thread-safe.
class RawServer : public RawTcpServer {
 public:
  enum class Mode {
    kHealthy,   // reads the request, answers 204, keeps the connection
    kReset,     // accepts and resets the connection at once
    kHang,      // reads the request and never answers until the mode changes
    kEarly204,  // answers 204 after the headers, then reads the body
  };

  ~RawServer() override { Stop(); }

  void SetMode(Mode mode) { mode_ = mode; }
  std::string Url(const std::string& scheme = "http") const {
    return scheme + "://127.0.0.1:" + std::to_string(Port()) + "/v4/event";
  }
  // Fake monotonic time of every request (for kReset: every connection).
  std::vector<int64_t> Times() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return times_;
  }
  size_t Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return times_.size();
  }
  int Truncated() const { return truncated_; }
  LabelLedger& ledger() { return ledger_; }

 private:
  void Stamp() {
    std::lock_guard<std::mutex> lock(mutex_);
    times_.push_back(GetClock().MonotonicMs());
  }

  void Serve(int fd) override {
    static const std::string k204 = "HTTP/1.1 204 No Content\r\nConnection: keep-alive\r\n\r\n";
    std::string buffer, head;
    for (;;) {
      if (mode_ == Mode::kReset) {
        Stamp();
        ResetOnClose(fd);
        break;
      }
      if (!ReadHead(fd, buffer, head)) break;
      Stamp();
      const Mode mode = mode_;
      const size_t length = ContentLength(head);
      if (mode == Mode::kHang) {
        Fill(fd, buffer, length);
        while (Running() && mode_ == Mode::kHang) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        break;  // the client sees its connection closed without an answer
      }
      if (mode == Mode::kEarly204 && !SendAll(fd, k204)) break;
      if (!Fill(fd, buffer, length)) {
        ++truncated_;
        break;
      }
      ledger_.Record(buffer.substr(0, length));
      buffer.erase(0, length);
      if (mode == Mode::kHealthy && !SendAll(fd, k204)) break;
    }
  }

  std::atomic<Mode> mode_{Mode::kHealthy};
  std::atomic<int> truncated_{0};
  mutable std::mutex mutex_;
  std::vector<int64_t> times_;
  LabelLedger ledger_;
};

// Captures log lines with the fake time they were written at. Thread-safe.
class TimedCapture : public LogChannel {
 public:
  TimedCapture() { ::CorvaneSDK::Test::ProcessEnv().SetLogSink(this); }
  ~TimedCapture() override { ::CorvaneSDK::Test::ProcessEnv().SetLogSink(nullptr); }
  void WriteLine(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(GetClock().MonotonicMs(), line);
  }
  // Times of the lines that contain `text`.
  std::vector<int64_t> Times(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int64_t> out;
    for (const auto& l : lines_) {
      if (l.second.find(text) != std::string::npos) out.push_back(l.first);
    }
    return out;
  }
  std::string First(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& l : lines_) {
      if (l.second.find(text) != std::string::npos) return l.second;
    }
    return std::string();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<int64_t, std::string>> lines_;
};

// Declared right after a test's server: destroys the manager before the server goes away,
// so the server never waits out an idle keep-alive connection of the SDK.
struct DestroyManagerFirst {
  ~DestroyManagerFirst() { CorvaneSDKManager_Destroy(); }
};

class FaultTest : public SdkHarness {
 protected:
  static void SetUpTestSuite() { ::signal(SIGPIPE, SIG_IGN); }

  // The status storm case: `codes` are answered in turn until `attempts` requests came,
  // then the server heals.
  void StatusStorm(const std::vector<int>& codes, size_t attempts, const char* what) {
    SwitchServer server;
    DestroyManagerFirst destroyFirst;
    ASSERT_TRUE(server.Start());
    server.SetStatus(codes[0]);
    Init(Data(server.Url()));
    const auto labels = Log("storm-", 8);
    for (size_t i = 0; server.Requests() < attempts; ++i) {
      server.SetStatus(codes[i % codes.size()]);
      ASSERT_TRUE(WaitUntil([&] { return server.Requests() > i; })) << what << ": no retry came";
    }
    const std::vector<int64_t> storm = server.Times();
    server.SetStatus(204);
    ASSERT_TRUE(WaitUntil([&] { return server.ledger().Has(labels); })) << what;
    const double rate = ExpectRetrySchedule(storm, kCheckIntervalMs, what);
    EXPECT_EQ(server.ledger().Duplicates(), 0);
    EXPECT_EQ(server.ledger().Corrupt(), 0);
    std::printf("%s: %zu requests over %.1f s of SDK time during the fault (%.1f/min; the "
                "schedule allows 4 per %.2f s), %zu more after it cleared, %d/%zu events "
                "delivered once\n",
                what, storm.size(), (storm.back() - storm.front()) / 1000.0, rate,
                (6500 + kCheckIntervalMs) / 1000.0, server.Requests() - storm.size(),
                static_cast<int>(labels.size()) - server.ledger().Missing(labels), labels.size());
  }

  // An upload that can never succeed against `host`: the attempts (seen as transfer
  // failures in the log) follow the schedule; a restart against `healed` delivers.
  void UnreachableThenHealed(const std::string& host, ::InitializationData* healed,
                             SwitchServer& server, const char* what) {
    std::vector<std::string> labels;
    std::vector<int64_t> attempts;
    std::string sample;
    {
      TimedCapture capture;
      ::InitializationData* data = Data(host);
      InitializationData_SetLogLevel(data, 4);  // attempts show as "transfer failed" lines
      Init(data);
      labels = Log("unreachable-", 6);
      ASSERT_TRUE(WaitUntil([&] { return capture.Times("SendEvents: transfer failed").size() >= 9; }))
          << what;
      CorvaneSDKManager_Destroy();
      attempts = capture.Times("SendEvents: transfer failed");
      sample = capture.First("SendEvents: transfer failed");
    }
    const double rate = ExpectRetrySchedule(attempts, kCheckIntervalMs, what);
    Init(healed);
    ASSERT_TRUE(WaitUntil([&] { return server.ledger().Has(labels); })) << what;
    EXPECT_EQ(server.ledger().Duplicates(), 0);
    std::printf("%s: %zu failed attempts over %.1f s of SDK time (%.1f/min), e.g. \"%s\"; after "
                "a restart with the fault cleared, %d/%zu events delivered once\n",
                what, attempts.size(), (attempts.back() - attempts.front()) / 1000.0, rate,
                sample.substr(sample.find("SendEvents")).c_str(),
                static_cast<int>(labels.size()) - server.ledger().Missing(labels), labels.size());
  }
};

TEST_F(FaultTest, ServerErrorStormIsRetriedOnScheduleAndDeliversOnceItEnds) {
  StatusStorm({500, 502, 503, 504}, 13, "5xx storm");
}

TEST_F(FaultTest, TooManyRequestsIsRetriedOnScheduleAndDeliversOnceItEnds) {
  StatusStorm({429}, 13, "429");
}

TEST_F(FaultTest, ServerThatNeverAnswersTimesOutAndDeliversOnceItAnswers) {
  RawServer server;
  DestroyManagerFirst destroyFirst;
  ASSERT_TRUE(server.Start());
  server.SetMode(RawServer::Mode::kHang);
  ::InitializationData* data = Data(server.Url());
  InitializationData_SetMaxRetries(data, 0);  // one 5 s attempt per cycle keeps this short
  Init(data);
  const auto labels = Log("hang-", 5);
  ASSERT_TRUE(WaitUntil([&] { return server.Requests() >= 1; }));
  const auto first = std::chrono::steady_clock::now();
  // The first attempt hangs until libcurl's 5 s transfer timeout; only then comes the next.
  ASSERT_TRUE(WaitUntil([&] { return server.Requests() >= 2; }, 20000));
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
  EXPECT_GE(waited, 4.5) << "the next attempt came before the transfer timeout";
  server.SetMode(RawServer::Mode::kHealthy);  // the hanging connection is closed unanswered
  ASSERT_TRUE(WaitUntil([&] { return server.ledger().Has(labels); }));
  EXPECT_EQ(server.ledger().Duplicates(), 0);
  std::printf("never answers: the second attempt came %.2f s (real) after the first; %zu "
              "requests in all; %d/%zu events delivered once after the server answered\n",
              waited, server.Requests(),
              static_cast<int>(labels.size()) - server.ledger().Missing(labels), labels.size());
}

TEST_F(FaultTest, ConnectionResetsAreRetriedOnScheduleAndDeliverOnceTheyStop) {
  RawServer server;
  DestroyManagerFirst destroyFirst;
  ASSERT_TRUE(server.Start());
  server.SetMode(RawServer::Mode::kReset);
  Init(Data(server.Url()));
  const auto labels = Log("reset-", 8);
  ASSERT_TRUE(WaitUntil([&] { return server.Requests() >= 13; }));
  const std::vector<int64_t> resets = server.Times();
  server.SetMode(RawServer::Mode::kHealthy);
  ASSERT_TRUE(WaitUntil([&] { return server.ledger().Has(labels); }));
  const double rate = ExpectRetrySchedule(resets, kCheckIntervalMs, "connection resets");
  EXPECT_EQ(server.ledger().Duplicates(), 0);
  std::printf("connection resets: %zu connections reset over %.1f s of SDK time (%.1f/min); "
              "%d/%zu events delivered once after the resets stopped\n",
              resets.size(), (resets.back() - resets.front()) / 1000.0, rate,
              static_cast<int>(labels.size()) - server.ledger().Missing(labels), labels.size());
}

TEST_F(FaultTest, SlowAnswersDeliverEverythingOnceWithOneUploadAtATime) {
  SwitchServer server;
  DestroyManagerFirst destroyFirst;
  ASSERT_TRUE(server.Start());
  server.SetDelay(400);  // real time, well inside the 5 s transfer timeout
  ::InitializationData* data = Data(server.Url());
  InitializationData_SetFlushSendSize(data, 10);
  Init(data);
  const auto labels = Log("slow-", 40);
  ASSERT_TRUE(WaitUntil([&] { return server.ledger().Has(labels); }, 30000));
  EXPECT_EQ(server.ledger().Duplicates(), 0);
  EXPECT_EQ(server.PeakInFlight(), 1);
  // Every request was accepted, so none can have been a retry: at most the open event's
  // upload comes on top of the 40 / 10 batches.
  EXPECT_LE(server.Requests(), 5u);
  std::printf("slow answers (400 ms): %zu requests, at most %d in flight, %d/%zu events "
              "delivered once\n",
              server.Requests(), server.PeakInFlight(),
              static_cast<int>(labels.size()) - server.ledger().Missing(labels), labels.size());
}

TEST_F(FaultTest, AnswerBeforeTheBodyIsReadStillDeliversWholeBatches) {
  RawServer server;
  DestroyManagerFirst destroyFirst;
  ASSERT_TRUE(server.Start());
  server.SetMode(RawServer::Mode::kEarly204);
  Init(Data(server.Url()));
  // About 300 KB per batch: far more than the socket buffers take, so the 204 reaches
  // libcurl while it is still sending.
  const auto labels = Log("early-", 60, 6000);
  ASSERT_TRUE(WaitUntil([&] { return server.ledger().Has(labels); }));
  EXPECT_EQ(server.Truncated(), 0) << "a batch body was cut short after the early answer";
  EXPECT_EQ(server.ledger().Duplicates(), 0);
  const auto more = Log("after-", 5);
  ASSERT_TRUE(WaitUntil([&] { return server.ledger().Has(more); }));
  std::printf("204 before the body: %zu requests, %d truncated bodies, %d/%zu events "
              "delivered once\n",
              server.Requests(), server.Truncated(),
              static_cast<int>(labels.size()) - server.ledger().Missing(labels), labels.size());
}

TEST_F(FaultTest, UnresolvableHostIsRetriedOnScheduleAndEventsWaitForAGoodHost) {
  SwitchServer server;
  DestroyManagerFirst destroyFirst;
  ASSERT_TRUE(server.Start());
  UnreachableThenHealed("http://nonexistent.invalid/v4/event", Data(server.Url()), server,
                        "DNS failure");
}

TEST_F(FaultTest, SelfSignedServerFailsVerificationAndDeliversOnceTrusted) {
  const std::string cert = dir_.File("cert.pem"), key = dir_.File("key.pem");
  const std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
      " -addext subjectAltName=IP:127.0.0.1 -keyout '" + key + "' -out '" + cert +
      "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "openssl command not available";
  httplib::SSLServer tls(cert.c_str(), key.c_str());
  ASSERT_TRUE(tls.is_valid());
  LabelLedger ledger;
  std::atomic<int> served{0};
  tls.Put("/v4/event", [&](const httplib::Request& req, httplib::Response& res) {
    ++served;
    ledger.Record(req.body);
    res.status = 204;
  });
  const int port = tls.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread thread([&] { tls.listen_after_bind(); });
  const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/v4/event";

  std::vector<std::string> labels;
  std::vector<int64_t> attempts;
  std::string sample;
  {
    TimedCapture capture;
    ::InitializationData* data = Data(url);  // verification on, no CA for this server
    InitializationData_SetLogLevel(data, 4);
    Init(data);
    labels = Log("tls-", 6);
    EXPECT_TRUE(WaitUntil([&] { return capture.Times("SendEvents: transfer failed").size() >= 9; }));
    CorvaneSDKManager_Destroy();
    attempts = capture.Times("SendEvents: transfer failed");
    sample = capture.First("SendEvents: transfer failed");
  }
  EXPECT_EQ(served, 0) << "an upload went through an unverified connection";
  const double rate = ExpectRetrySchedule(attempts, kCheckIntervalMs, "TLS failure");
  // The fault clears: the host now trusts the server's certificate.
  ::InitializationData* data = Data(url);
  InitializationData_SetSendCertificateAuthority(data, cert.c_str());
  Init(data);
  EXPECT_TRUE(WaitUntil([&] { return ledger.Has(labels); }));
  EXPECT_EQ(ledger.Duplicates(), 0);
  CorvaneSDKManager_Destroy();
  tls.stop();
  thread.join();
  std::printf("TLS failure (self-signed, verification on): %zu failed attempts over %.1f s of "
              "SDK time (%.1f/min), e.g. \"%s\"; trusted at the next start: %d/%zu events "
              "delivered once\n",
              attempts.size(), attempts.empty() ? 0.0 : (attempts.back() - attempts.front()) / 1000.0,
              rate, sample.empty() ? "" : sample.substr(sample.find("SendEvents")).c_str(),
              static_cast<int>(labels.size()) - ledger.Missing(labels), labels.size());
}

TEST_F(FaultTest, HttpsToAPlainHttpServerFailsAndDeliversOverHttp) {
  SwitchServer server;
  DestroyManagerFirst destroyFirst;
  ASSERT_TRUE(server.Start());
  std::string https = server.Url();
  https.replace(0, 4, "https");
  UnreachableThenHealed(https, Data(server.Url()), server, "TLS to a plain HTTP server");
  EXPECT_EQ(server.Requests(), server.ledger().Uploads()) << "a TLS handshake reached the handler";
}

}  // namespace
}  // namespace Test
}  // namespace CorvaneSDK
