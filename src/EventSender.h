// Uploads one batch of events to the ingestion endpoint with a PUT over one reused
// transport, retrying under the events' retry policy, and reports the outcome through a
// status that the queue manager polls.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "Env.h"
#include "Sender.h"

namespace CorvaneSDK {

class IdentitySource;

enum SenderStatus : int {
  kSenderIdle = 0,
  kSenderSending = 1,
  kSenderSucceeded = 2,
  kSenderFailed = 3,
};

// Thread contract: SendEvents, ApplyTransport and SetTimeoutMs run on one thread at a time
// (the queue manager's sending thread, or its owner before that thread starts); they own the
// transport and the request. SetStop, Status, SetStatus, LastHttpCode and Attempts
// may be called from any thread (atomics and the Interrupt, no lock). `properties` must
// outlive the sender.
class EventSender : public Sender {
 public:
  // `authorizationBase64` is base64("appId:secret"). Negative `maxRetries` and a
  // non-positive `initialRetryIntervalMs` fall back to 3 and 500 with a Warning. Waits
  // between attempts go through `env`'s clock; `env` must outlive the sender.
  EventSender(const std::string& url, int maxRetries, int initialRetryIntervalMs,
              const std::string& authorizationBase64, const IdentitySource& properties,
              Env& env = Env::Default());
  // The same over `transport` (tests hand in a double); null falls back to libcurl.
  EventSender(const std::string& url, int maxRetries, int initialRetryIntervalMs,
              const std::string& authorizationBase64, const IdentitySource& properties,
              std::unique_ptr<Transport> transport, Env& env = Env::Default());
  ~EventSender() override;
  EventSender(const EventSender&) = delete;
  EventSender& operator=(const EventSender&) = delete;

  // Proxy, CA files and peer verification of the configuration, plus the verbose switch.
  void ApplyTransport(const TransportSettings& settings);

  // Non-zero stops retrying and ends a back-off wait at once; zero allows retries again.
  void SetStop(int value) override;
  // For good (the owner is going away): also ends a running transfer, whatever the server
  // does, after a grace of kCancelGraceMs in which an answer on its way may still arrive
  // (sparing the server a repeat); an ended transfer counts as failed and stays queued.
  void Cancel();
  static constexpr int64_t kCancelGraceMs = 100;

  // Uploads the batch synchronously, through all its retries; ends with status 2 or 3.
  // `eventTexts` are the compact JSON texts of the events, in queue order.
  void SendEvents(const std::vector<std::string>& eventTexts);

  int Status() const { return status_.load(); }
  void SetStatus(int status) { status_.store(status); }
  // HTTP code of the last attempt of the last send; 0 when it ended in a transport error.
  int LastHttpCode() const { return lastHttpCode_.load(); }
  // Attempts made by the last send.
  int Attempts() const { return attempts_.load(); }
  int MaxRetries() const { return maxRetries_; }
  int InitialRetryIntervalMs() const { return initialRetryIntervalMs_; }

  // Whole-request timeout; 5000 ms unless a test shortens it. Non-positive values are ignored.
  void SetTimeoutMs(long timeoutMs);

  // The wait before retry number `power` + 1: 3^power x `initialIntervalMs`, computed in
  // 64 bits and capped at kMaxRetryWaitMs (RetryPolicy::ForEvents).
  static int64_t RetryWaitMs(int power, int initialIntervalMs);

 private:
  void OnFailedAttempt(const RetryPolicy::Attempt& attempt);

  Env& env_;
  std::unique_ptr<Transport> transport_;
  const IdentitySource& properties_;
  const std::string url_;
  std::string authorization_;  // base64 credentials, free of line breaks
  int maxRetries_;
  int initialRetryIntervalMs_;
  HttpRequest request_;  // must outlive the transfer: the transport reads its body in place

  std::atomic<int> status_{kSenderIdle};
  std::atomic<bool> cancelled_{false};
  std::atomic<int> lastHttpCode_{0};
  std::atomic<int> attempts_{0};
  // Failed attempts since the last delivery: the first one of a streak logs a Warning with
  // its cause, the delivery that ends it logs one more. Sending thread only.
  int64_t failureStreak_ = 0;
  Interrupt stopInterrupt_;
};

}  // namespace CorvaneSDK
