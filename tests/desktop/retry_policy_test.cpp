// The one retry policy over a scripted transport and the fake clock: the documented
// timings of the event and configuration senders, what is retried, and stopping.
#include "RetryPolicy.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "Clock.h"
#include "FakeClock.h"

namespace CorvaneSDK {
namespace {

using Test::FakeClock;

// Answers from a script, then the last answer again; counts the transfers.
class ScriptedTransport : public Transport {
 public:
  explicit ScriptedTransport(std::deque<HttpResponse> script) : script_(std::move(script)) {}
  HttpResponse Perform(const HttpRequest&, Interrupt* cancel) override {
    ++performed;
    lastCancel = cancel;
    if (onPerform) onPerform(performed);
    HttpResponse r = script_.front();
    if (script_.size() > 1) script_.pop_front();
    return r;
  }
  bool Ready() const override { return true; }
  void Apply(const TransportSettings&) override {}
  void SetTimeoutMs(long) override {}
  void Abort(int64_t) override {}

  int performed = 0;
  Interrupt* lastCancel = nullptr;
  std::function<void(int)> onPerform;

 private:
  std::deque<HttpResponse> script_;
};

HttpResponse Code(int code) {
  HttpResponse r;
  r.completed = true;
  r.httpCode = code;
  return r;
}

HttpResponse TransportError() {
  HttpResponse r;
  r.failure = "Could not connect";
  return r;
}

struct Seen {
  std::vector<int64_t> waits;
  std::vector<bool> retries;
  std::function<void(const RetryPolicy::Attempt&)> Observer() {
    return [this](const RetryPolicy::Attempt& a) {
      waits.push_back(a.waitMs);
      retries.push_back(a.willRetry);
    };
  }
};

TEST(RetryPolicy, EventUploadsWaitThreefoldLongerEachTimeUpToTheCap) {
  FakeClock clock;
  ScriptedTransport transport({Code(503)});
  Seen seen;
  const auto outcome = RetryPolicy::ForEvents(3, 500).Run(transport, HttpRequest(), clock, nullptr,
                                                          false, seen.Observer());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.attempts, 4);
  EXPECT_EQ(transport.performed, 4);
  EXPECT_EQ(seen.waits, (std::vector<int64_t>{500, 1500, 4500, 13500}));
  EXPECT_EQ(seen.retries, (std::vector<bool>{true, true, true, false}));
  EXPECT_EQ(clock.TotalSleptMs(), 500 + 1500 + 4500);
  const RetryPolicy events = RetryPolicy::ForEvents(100, 500);
  EXPECT_EQ(events.WaitAfterAttemptMs(6), 121500);
  EXPECT_EQ(events.WaitAfterAttemptMs(7), kMaxRetryWaitMs);
  EXPECT_EQ(RetryPolicy::ForEvents(1, 2147483647).WaitAfterAttemptMs(2), kMaxRetryWaitMs);
  // Out-of-range settings take the defaults: 3 retries, 500 ms.
  EXPECT_EQ(RetryPolicy::ForEvents(-1, 0).MaxAttempts(), kDefaultMaxRetries + 1);
  EXPECT_EQ(RetryPolicy::ForEvents(-1, 0).WaitAfterAttemptMs(1), kDefaultRetryIntervalMs);
}

TEST(RetryPolicy, ConfigRequestsMakeFourAttemptsFiveSecondsApart) {
  FakeClock clock;
  ScriptedTransport transport({TransportError(), Code(500), Code(429), Code(200)});
  Seen seen;
  Interrupt cancel;
  const auto outcome =
      RetryPolicy::ForConfig().Run(transport, HttpRequest(), clock, &cancel, true, seen.Observer());
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.attempts, 4);
  EXPECT_EQ(seen.waits, (std::vector<int64_t>{5000, 5000, 5000}));
  EXPECT_EQ(clock.TotalSleptMs(), 15000);
  EXPECT_EQ(transport.lastCancel, &cancel);  // the cancel reaches a running transfer

  ScriptedTransport failing({Code(503)});
  EXPECT_EQ(RetryPolicy::ForConfig().Run(failing, HttpRequest(), clock, nullptr, false, {}).attempts,
            kFetchAttempts);
}

TEST(RetryPolicy, PermanentRefusalsEndAtOnceAnd408OnlyForConfig) {
  FakeClock clock;
  for (int code : {400, 401, 403, 404, 413}) {
    ScriptedTransport transport({Code(code), Code(200)});
    const auto outcome = RetryPolicy::ForEvents(3, 500).Run(transport, HttpRequest(), clock,
                                                            nullptr, false, {});
    EXPECT_FALSE(outcome.ok) << code;
    EXPECT_EQ(outcome.attempts, 1) << code;
  }
  const RetryPolicy events = RetryPolicy::ForEvents(3, 500);
  const RetryPolicy config = RetryPolicy::ForConfig();
  EXPECT_EQ(events.Classify(Code(408)), RetryPolicy::Verdict::Retry);
  EXPECT_EQ(config.Classify(Code(408)), RetryPolicy::Verdict::Final);
  EXPECT_EQ(config.Classify(Code(429)), RetryPolicy::Verdict::Retry);
  EXPECT_EQ(config.Classify(Code(302)), RetryPolicy::Verdict::Retry);
  EXPECT_EQ(config.Classify(Code(204)), RetryPolicy::Verdict::Success);
  EXPECT_EQ(config.Classify(TransportError()), RetryPolicy::Verdict::Retry);
  EXPECT_EQ(clock.TotalSleptMs(), 0);
}

TEST(RetryPolicy, StopEndsTheRetriesAndAnAbortedTransferIsNotAFailure) {
  FakeClock clock;
  Interrupt stop;
  ScriptedTransport transport({Code(503)});
  transport.onPerform = [&](int n) {
    if (n == 2) stop.Set();
  };
  Seen seen;
  const auto stopped =
      RetryPolicy::ForEvents(5, 500).Run(transport, HttpRequest(), clock, &stop, false, seen.Observer());
  EXPECT_EQ(stopped.attempts, 2);
  EXPECT_EQ(seen.retries, (std::vector<bool>{true, false}));
  EXPECT_EQ(transport.lastCancel, nullptr);  // the event stop lets a transfer finish

  HttpResponse aborted;
  aborted.aborted = true;
  ScriptedTransport abortedTransport({aborted});
  Seen none;
  const auto cancelled = RetryPolicy::ForConfig().Run(abortedTransport, HttpRequest(), clock,
                                                      nullptr, true, none.Observer());
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_EQ(cancelled.attempts, 1);
  EXPECT_TRUE(none.waits.empty());
}

}  // namespace
}  // namespace CorvaneSDK
