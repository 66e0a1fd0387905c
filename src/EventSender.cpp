// Event upload: PUT of the batch body, 2xx succeeds, a permanent 4xx fails at once, anything
// else is retried after 3^power x the initial interval. The response body is ignored.
#include "EventSender.h"

#include <exception>
#include <sstream>

#include "Event.h"
#include "Logger.h"
#include "IdentitySnapshot.h"

namespace CorvaneSDK {

EventSender::EventSender(const std::string& url, int maxRetries, int initialRetryIntervalMs,
                         const std::string& authorizationBase64, const IdentitySource& properties,
                         Env& env)
    : EventSender(url, maxRetries, initialRetryIntervalMs, authorizationBase64, properties,
                  nullptr, env) {}

EventSender::EventSender(const std::string& url, int maxRetries, int initialRetryIntervalMs,
                         const std::string& authorizationBase64, const IdentitySource& properties,
                         std::unique_ptr<Transport> transport, Env& env)
    : env_(env),
      transport_(transport ? std::move(transport) : MakeCurlTransport(TransportSettings())),
      properties_(properties),
      url_(url),
      maxRetries_(maxRetries),
      initialRetryIntervalMs_(initialRetryIntervalMs) {
  if (maxRetries_ < 0) {
    CORVANE_LOG_WARNING("Max retries " << maxRetries_ << " is out of range; using "
                                       << kDefaultMaxRetries);
    maxRetries_ = kDefaultMaxRetries;
  }
  if (initialRetryIntervalMs_ <= 0) {
    CORVANE_LOG_WARNING("Initial retry interval " << initialRetryIntervalMs_
                                                  << " ms is out of range; using "
                                                  << kDefaultRetryIntervalMs << " ms");
    initialRetryIntervalMs_ = kDefaultRetryIntervalMs;
  }
  authorization_ = WithoutLineBreaks(authorizationBase64);
  if (authorization_.size() != authorizationBase64.size()) {
    CORVANE_LOG_WARNING("Line breaks removed from the authorization value");
  }
  if (transport_->Ready() && !IsHttpUrl(url_)) {
    CORVANE_LOG_WARNING("Event endpoint \"" << url_
                                            << "\" is not an http(s) URL; uploads will fail");
  }
}

EventSender::~EventSender() = default;

void EventSender::ApplyTransport(const TransportSettings& settings) {
  transport_->Apply(settings);
}

void EventSender::SetStop(int value) {
  if (value != 0) {
    stopInterrupt_.Set();
  } else {
    stopInterrupt_.Clear();
  }
}

void EventSender::Cancel() {
  cancelled_.store(true);
  SetStop(1);
  transport_->Abort(kCancelGraceMs);
}

void EventSender::SetTimeoutMs(long timeoutMs) { transport_->SetTimeoutMs(timeoutMs); }

int64_t EventSender::RetryWaitMs(int power, int initialIntervalMs) {
  if (power < 0) power = 0;
  if (power > 1000) power = 1000;  // capped long before; keeps power + 1 in range
  return RetryPolicy::ForEvents(0, initialIntervalMs).WaitAfterAttemptMs(power + 1);
}

void EventSender::OnFailedAttempt(const RetryPolicy::Attempt& attempt) {
  const HttpResponse& response = *attempt.response;
  attempts_.store(attempt.number);
  lastHttpCode_.store(response.httpCode);
  if (!response.completed) CORVANE_LOG_VERBOSE("SendEvents: transfer failed: " << response.failure);
  if (attempt.verdict == RetryPolicy::Verdict::Final) {
    CORVANE_LOG_DEBUG("Sending failed with http code:  " << response.httpCode);
    return;
  }
  ++failureStreak_;
  std::ostringstream next;
  if (attempt.willRetry) {
    next << "next attempt in " << attempt.waitMs << " ms";
  } else {
    next << "the events stay queued and are sent again after the send delay";
  }
  if (failureStreak_ == 1) {
    CORVANE_LOG_WARNING("Event upload to " << UrlWithoutCredentials(url_) << " failed: "
                                           << response.failure << "; " << next.str());
  } else {
    CORVANE_LOG_DEBUG("Event upload failed again (" << failureStreak_ << " in a row): "
                                                   << response.failure << "; " << next.str());
  }
}

void EventSender::SendEvents(const std::vector<std::string>& eventTexts) {
  CORVANE_LOG_DEBUG("SendEvents: start");
  status_.store(kSenderSending);
  attempts_.store(0);
  lastHttpCode_.store(0);
  if (cancelled_.load()) {
    status_.store(kSenderFailed);
    return;
  }
  if (!transport_->Ready()) {
    CORVANE_LOG_ERROR("SendEvents: no transfer handle; the batch stays queued");
    status_.store(kSenderFailed);
    return;
  }
  try {
    request_ = BuildEventRequest(url_, authorization_, BuildBatchBody(properties_.Snapshot(), eventTexts));
  } catch (const std::exception& e) {
    CORVANE_LOG_ERROR("SendEvents: cannot build the batch body: " << e.what());
    status_.store(kSenderFailed);
    return;
  }
  const RetryPolicy policy = RetryPolicy::ForEvents(maxRetries_, initialRetryIntervalMs_);
  const RetryPolicy::Outcome outcome =
      policy.Run(*transport_, request_, env_.GetClock(), &stopInterrupt_, false,
                 [this](const RetryPolicy::Attempt& attempt) { OnFailedAttempt(attempt); });
  attempts_.store(outcome.attempts);
  lastHttpCode_.store(outcome.last.httpCode);
  if (outcome.ok) {
    CORVANE_LOG_DEBUG("Sent event successful");
    if (failureStreak_ > 0) {
      CORVANE_LOG_WARNING("Event upload to " << UrlWithoutCredentials(url_)
                                             << " delivered again after " << failureStreak_
                                             << (failureStreak_ == 1 ? " failure" : " failures"));
      failureStreak_ = 0;
    }
    status_.store(kSenderSucceeded);
    return;
  }
  if (outcome.last.aborted) {
    CORVANE_LOG_DEBUG("SendEvents: upload cancelled; the batch stays queued");
  }
  status_.store(kSenderFailed);
}

}  // namespace CorvaneSDK
