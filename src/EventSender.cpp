// Event upload: PUT of the batch body, 2xx succeeds, a permanent 4xx fails at once, anything
// else is retried after 3^power x the initial interval. The response body is ignored.
#include "EventSender.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <sstream>

#include "Event.h"
#include "Logger.h"
#include "IdentitySnapshot.h"
#include "Version.h"

namespace CorvaneSDK {

namespace {

// 408 and 429 say "try later", like a 5xx; every other 4xx would fail again unchanged.
bool IsFinalRejection(long code) {
  return code >= 400 && code <= 499 && code != 408 && code != 429;
}

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string WithoutLineBreaks(const std::string& text) {
  std::string out = text;
  out.erase(std::remove_if(out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }),
            out.end());
  return out;
}

}  // namespace

EventSender::EventSender(const std::string& url, int maxRetries, int initialRetryIntervalMs,
                         const std::string& authorizationBase64, const IdentitySource& properties)
    : properties_(properties),
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
  // A line break in a header value would let it forge further headers.
  const std::string authorization = WithoutLineBreaks(authorizationBase64);
  if (authorization.size() != authorizationBase64.size()) {
    CORVANE_LOG_WARNING("Line breaks removed from the authorization value");
  }
  if (headers_.Append("Accept: */*") && headers_.Append(std::string("User-Agent: ") + kUserAgent) &&
      headers_.Append("Authorization: Basic " + authorization)) {
    headers_.Append("Content-Type: application/json");
  }
  CURL* h = handle_.get();
  if (h == nullptr) return;
  multi_ = curl_multi_init();
  if (multi_ == nullptr) {
    CORVANE_LOG_WARNING("Cannot create a libcurl multi handle; a stop waits for the transfer");
  }
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers_.get());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &DiscardBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
  if (!IsHttpUrl(url_)) {
    CORVANE_LOG_WARNING("Event endpoint \"" << url_
                                            << "\" is not an http(s) URL; uploads will fail");
  }
}

EventSender::~EventSender() {
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

void EventSender::ApplyTransport(const TransportSettings& settings) {
  CorvaneSDK::ApplyTransport(handle_.get(), settings);
}

void EventSender::SetStop(int value) {
  stop_.store(value);
  if (value != 0) {
    stopInterrupt_.Set();
  } else {
    stopInterrupt_.Clear();
  }
}

void EventSender::Cancel() {
  cancelDeadlineMs_.store(SteadyMs() + kCancelGraceMs);
  cancelled_.store(true);
  SetStop(1);
  // Wakes a running transfer's poll (or the next one), which then sees the flag.
  if (multi_ != nullptr) curl_multi_wakeup(multi_);
}

void EventSender::SetTimeoutMs(long timeoutMs) {
  if (timeoutMs > 0 && handle_) curl_easy_setopt(handle_.get(), CURLOPT_TIMEOUT_MS, timeoutMs);
}

int64_t EventSender::RetryWaitMs(int power, int initialIntervalMs) {
  int64_t wait = initialIntervalMs > 0 ? initialIntervalMs : kDefaultRetryIntervalMs;
  for (int i = 0; i < power && wait < kMaxRetryWaitMs; ++i) wait *= 3;
  return std::min(wait, kMaxRetryWaitMs);
}

void EventSender::SendEvents(const std::vector<std::string>& eventTexts) {
  CORVANE_LOG_DEBUG("SendEvents: start");
  status_.store(kSenderSending);
  attempts_.store(0);
  lastHttpCode_.store(0);
  CURL* h = handle_.get();
  if (cancelled_.load()) {
    status_.store(kSenderFailed);
    return;
  }
  if (h == nullptr || headers_.get() == nullptr) {
    CORVANE_LOG_ERROR("SendEvents: no transfer handle; the batch stays queued");
    status_.store(kSenderFailed);
    return;
  }
  try {
    body_ = BuildBatchBody(properties_.Snapshot(), eventTexts);
  } catch (const std::exception& e) {
    CORVANE_LOG_ERROR("SendEvents: cannot build the batch body: " << e.what());
    status_.store(kSenderFailed);
    return;
  }
  ApplyVerbose(h);  // follows a log level changed since construction
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "PUT");
  curl_easy_setopt(h, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  char errors[CURL_ERROR_SIZE];
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errors);
  struct ClearErrorBuffer {
    CURL* handle;
    ~ClearErrorBuffer() { curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr); }
  } clearErrors{h};

  for (int power = 0;; ++power) {
    errors[0] = '\0';
    // The size is given, not taken from a terminating zero: the body is never cut short.
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body_.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
    const CURLcode rc = Perform(h);
    attempts_.store(power + 1);
    if (rc == CURLE_OK) {
      long code = 0;
      curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
      lastHttpCode_.store(static_cast<int>(code));
      if (code >= 200 && code <= 299) {
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
      if (IsFinalRejection(code)) {
        CORVANE_LOG_DEBUG("Sending failed with http code:  " << code);
        status_.store(kSenderFailed);
        return;
      }
    } else {
      lastHttpCode_.store(0);
      if (rc == CURLE_ABORTED_BY_CALLBACK) {
        CORVANE_LOG_DEBUG("SendEvents: upload cancelled; the batch stays queued");
        break;
      }
      CORVANE_LOG_VERBOSE("SendEvents: transfer failed: " << curl_easy_strerror(rc));
    }
    const bool retry = int64_t{maxRetries_} >= int64_t{power} + 1 && stop_.load() == 0;
    const int64_t waitMs = RetryWaitMs(power, initialRetryIntervalMs_);
    if (stop_.load() == 0 || rc != CURLE_ABORTED_BY_CALLBACK) {
      ++failureStreak_;
      const std::string cause = DescribeFailure(h, rc, lastHttpCode_.load(), errors);
      std::ostringstream next;
      if (retry) {
        next << "next attempt in " << waitMs << " ms";
      } else {
        next << "the events stay queued and are sent again after the send delay";
      }
      if (failureStreak_ == 1) {
        CORVANE_LOG_WARNING("Event upload to " << UrlWithoutCredentials(url_) << " failed: "
                                               << cause << "; " << next.str());
      } else {
        CORVANE_LOG_DEBUG("Event upload failed again (" << failureStreak_ << " in a row): "
                                                       << cause << "; " << next.str());
      }
    }
    if (!retry) break;
    if (!GetClock().Sleep(waitMs, &stopInterrupt_)) break;
    if (stop_.load() != 0) break;
  }
  status_.store(kSenderFailed);
}

CURLcode EventSender::Perform(CURL* h) {
  if (multi_ == nullptr || curl_multi_add_handle(multi_, h) != CURLM_OK) {
    return curl_easy_perform(h);
  }
  CURLcode result = CURLE_ABORTED_BY_CALLBACK;
  for (;;) {
    int running = 0;
    const CURLMcode mc = curl_multi_perform(multi_, &running);
    if (mc != CURLM_OK) {
      CORVANE_LOG_VERBOSE("SendEvents: " << curl_multi_strerror(mc));
      result = CURLE_SEND_ERROR;
      break;
    }
    bool done = false;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) {
        result = msg->data.result;
        done = true;
      }
    }
    if (done) break;
    if (running == 0) {
      result = CURLE_SEND_ERROR;
      break;
    }
    // Bounded by libcurl's own timers (the 5 s transfer timeout among them).
    int waitMs = 1000;
    if (cancelled_.load()) {
      const int64_t left = cancelDeadlineMs_.load() - SteadyMs();
      if (left <= 0) break;
      waitMs = static_cast<int>(std::min<int64_t>(left, waitMs));
    }
    curl_multi_poll(multi_, nullptr, 0, waitMs, nullptr);
  }
  curl_multi_remove_handle(multi_, h);
  return result;
}

}  // namespace CorvaneSDK
