// The configuration requests' attempt loop and its log lines.
#include "Sender.h"

#include "Clock.h"
#include "Logger.h"

namespace CorvaneSDK {

Sender::~Sender() = default;

namespace {

// One Warning per request with the cause; Debug for the retries that follow.
void LogFetchFailure(const char* what, const RetryPolicy::Attempt& attempt) {
  const HttpResponse& response = *attempt.response;
  const std::string& url = response.effectiveUrl;
  if (attempt.verdict == RetryPolicy::Verdict::Final) {
    CORVANE_LOG_INFO(what << " to " << url << " failed with http code: " << response.httpCode);
    return;
  }
  if (!response.completed && response.overflowed) {
    CORVANE_LOG_WARNING(what << ": response longer than " << kMaxResponseBytes
                             << " bytes refused");
  }
  const std::string& cause = response.failure;
  const bool last = !attempt.attemptsLeft;
  if (attempt.number == 1) {
    // Once per request: the retries that follow fail the same way, as a rule.
    if (last) {
      CORVANE_LOG_WARNING(what << " to " << url << " failed: " << cause);
    } else {
      CORVANE_LOG_WARNING(what << " to " << url << " failed: " << cause << "; next attempt in "
                               << attempt.waitMs << " ms (" << kFetchAttempts
                               << " attempts at most)");
    }
  } else {
    CORVANE_LOG_DEBUG(what << ": attempt " << attempt.number << " failed: " << cause);
  }
  if (last && attempt.number > 1) {
    CORVANE_LOG_WARNING(what << " to " << url << " gave up after " << attempt.number
                             << " attempts; last cause: " << cause);
  }
}

}  // namespace

FetchOutcome PerformWithRetries(Transport& transport, const HttpRequest& request,
                                Interrupt& cancel, const char* what, Clock& clock) {
  FetchOutcome outcome;
  if (cancel.IsSet()) {
    CORVANE_LOG_DEBUG(what << ": cancelled");
    return outcome;
  }
  const auto onFailure = [what](const RetryPolicy::Attempt& attempt) {
    LogFetchFailure(what, attempt);
  };
  RetryPolicy::Outcome run =
      RetryPolicy::ForConfig().Run(transport, request, clock, &cancel, true, onFailure);
  if (run.cancelled) CORVANE_LOG_DEBUG(what << ": cancelled");
  outcome.ok = run.ok;
  outcome.httpCode = run.last.httpCode;
  outcome.attempts = run.attempts;
  if (run.ok) outcome.body = std::move(run.last.body);
  return outcome;
}

}  // namespace CorvaneSDK
