// Attempt loop shared by the event, SDK-config and remote-config senders.
#include "RetryPolicy.h"

#include <algorithm>
#include <climits>

#include "Clock.h"

namespace CorvaneSDK {

RetryPolicy RetryPolicy::ForEvents(int maxRetries, int initialIntervalMs) {
  if (maxRetries < 0) maxRetries = kDefaultMaxRetries;
  if (initialIntervalMs <= 0) initialIntervalMs = kDefaultRetryIntervalMs;
  // 1 + maxRetries without overflow: INT_MAX retries are as good as endless.
  const int attempts = maxRetries == INT_MAX ? maxRetries : maxRetries + 1;
  return RetryPolicy(attempts, initialIntervalMs, 3, true);
}

RetryPolicy RetryPolicy::ForConfig() {
  return RetryPolicy(kFetchAttempts, kFetchRetryIntervalMs, 1, false);
}

RetryPolicy::Verdict RetryPolicy::Classify(const HttpResponse& response) const {
  if (!response.completed) return Verdict::Retry;
  const int code = response.httpCode;
  if (code >= 200 && code <= 299) return Verdict::Success;
  const bool tryLater = code == 429 || (retryTimeoutAnswer_ && code == 408);
  if (code >= 400 && code <= 499 && !tryLater) return Verdict::Final;
  return Verdict::Retry;
}

int64_t RetryPolicy::WaitAfterAttemptMs(int attempt) const {
  int64_t wait = initialWaitMs_;
  for (int i = 1; i < attempt && wait < kMaxRetryWaitMs && growth_ > 1; ++i) wait *= growth_;
  return std::min(wait, kMaxRetryWaitMs);
}

RetryPolicy::Outcome RetryPolicy::Run(Transport& transport, const HttpRequest& request,
                                      Clock& clock, Interrupt* stop, bool stopEndsTransfer,
                                      const std::function<void(const Attempt&)>& onFailure) const {
  Outcome outcome;
  for (int number = 1;; ++number) {
    outcome.last = transport.Perform(request, stopEndsTransfer ? stop : nullptr);
    outcome.attempts = number;
    const HttpResponse& response = outcome.last;
    if (response.aborted ||
        (!response.completed && stopEndsTransfer && stop != nullptr && stop->IsSet())) {
      outcome.cancelled = true;
      break;
    }
    Attempt attempt;
    attempt.number = number;
    attempt.response = &response;
    attempt.verdict = Classify(response);
    if (attempt.verdict == Verdict::Success) {
      outcome.ok = true;
      break;
    }
    attempt.attemptsLeft = number < maxAttempts_;
    attempt.willRetry = attempt.verdict == Verdict::Retry && attempt.attemptsLeft &&
                        (stop == nullptr || !stop->IsSet());
    attempt.waitMs = WaitAfterAttemptMs(number);
    if (onFailure) onFailure(attempt);
    if (!attempt.willRetry) break;
    if (!clock.Sleep(attempt.waitMs, stop) || (stop != nullptr && stop->IsSet())) {
      outcome.cancelled = true;
      break;
    }
  }
  return outcome;
}

}  // namespace CorvaneSDK
