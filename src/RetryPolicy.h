// The one retry policy of the senders: how many attempts, how long to wait between them,
// and which answers are worth another attempt. Event uploads grow their wait threefold;
// the configuration requests wait a fixed 5000 ms. Immutable after construction; Run may
// be called from any thread.
#pragma once

#include <cstdint>
#include <functional>

#include "Transport.h"

namespace CorvaneSDK {

class Clock;
class Interrupt;

constexpr int kDefaultMaxRetries = 3;
constexpr int kDefaultRetryIntervalMs = 500;
// Longest single back-off wait; 3^power grows past any useful wait within a few retries.
constexpr int64_t kMaxRetryWaitMs = 5 * 60 * 1000;
// The configuration requests: at most this many attempts, this far apart.
constexpr int kFetchAttempts = 4;
constexpr int64_t kFetchRetryIntervalMs = 5000;

class RetryPolicy {
 public:
  enum class Verdict { Success, Final, Retry };

  // Event uploads: 1 + `maxRetries` attempts; the wait after failed attempt n is
  // 3^(n-1) x `initialIntervalMs`, capped at kMaxRetryWaitMs. 408 and 429 are retried like
  // a 5xx; any other 4xx would fail again unchanged. Negative `maxRetries` and a
  // non-positive interval fall back to the defaults (the caller warns).
  static RetryPolicy ForEvents(int maxRetries, int initialIntervalMs);
  // Configuration requests: kFetchAttempts attempts kFetchRetryIntervalMs apart; 429 is
  // retried, any other 4xx fails at once.
  static RetryPolicy ForConfig();

  // 2xx succeeds; a permanent 4xx is final; a transport error, 3xx, 5xx, a retried 4xx or
  // an over-long body is worth another attempt.
  Verdict Classify(const HttpResponse& response) const;
  int MaxAttempts() const { return maxAttempts_; }
  // The wait after failed attempt `attempt` (1-based), computed in 64 bits and capped.
  int64_t WaitAfterAttemptMs(int attempt) const;

  // One failed attempt, as the observer of Run sees it.
  struct Attempt {
    int number = 0;           // 1-based
    const HttpResponse* response = nullptr;
    Verdict verdict = Verdict::Retry;  // Final or Retry
    bool attemptsLeft = false;         // the policy allows another attempt
    bool willRetry = false;            // ... and it will be made (not final, not stopped)
    int64_t waitMs = 0;                // before the next attempt, when there is one
  };
  struct Outcome {
    bool ok = false;
    bool cancelled = false;  // ended by `stop` or an aborted transfer, not by the server
    int attempts = 0;
    HttpResponse last;       // of the last attempt made
  };

  // Performs `request` until it succeeds, is refused for good, runs out of attempts or is
  // stopped. `stop` (may be null) ends the wait between attempts and prevents further ones;
  // when `stopEndsTransfer`, it also aborts a running transfer. Waits go through `clock`.
  // `onFailure` (may be empty) sees every failed attempt that was not cancelled, before the
  // wait. The first attempt is always made: callers check `stop` beforehand when it matters.
  Outcome Run(Transport& transport, const HttpRequest& request, Clock& clock, Interrupt* stop,
              bool stopEndsTransfer, const std::function<void(const Attempt&)>& onFailure) const;

 private:
  RetryPolicy(int maxAttempts, int64_t initialWaitMs, int growth, bool retryTimeoutAnswer)
      : maxAttempts_(maxAttempts),
        initialWaitMs_(initialWaitMs),
        growth_(growth),
        retryTimeoutAnswer_(retryTimeoutAnswer) {}

  int maxAttempts_;
  int64_t initialWaitMs_;
  int growth_;               // factor between consecutive waits
  bool retryTimeoutAnswer_;  // 408 counts as "try later"
};

}  // namespace CorvaneSDK
