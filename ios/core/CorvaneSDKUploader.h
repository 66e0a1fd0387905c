// The delivery engine's uploads: one batch in flight at a time, the hold after an upload to be
// retried, and the isolation of events the server rejects (batches halve down to the one
// event refused; it is dropped only once the server has accepted another batch, and while
// every batch is rejected the next attempt waits, doubling per round).
// Thread contract: runs on the engine's serial queue only. The hooks are the engine's and run
// there too, except `answered`, which runs where the HTTP client answers and hands the answer
// back to onUploadFinished on the serial queue (inline when the client answers at once).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CorvaneSDKEventQueue.h"
#include "CorvaneSDKHTTPClient.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class Clock;
class CorvaneSDKIntegrationHost;
class HTTPTask;

constexpr const char* kCorvaneSDKDidSendRequestNotification = "CorvaneSDKDidSendRequest";
constexpr const char* kCorvaneSDKRequestDidSucceedNotification = "CorvaneSDKRequestDidSucceed";
constexpr const char* kCorvaneSDKRequestDidFailNotification = "CorvaneSDKRequestDidFail";
constexpr size_t kCorvaneSDKMaxBatchSize = 50;
// While every batch, even of one event, is rejected: the first wait, doubled per round, capped.
constexpr int64_t kCorvaneSDKRejectionWaitMs = 30000;
constexpr int64_t kCorvaneSDKRejectionWaitMaxMs = 600000;

class CorvaneSDKUploader {
 public:
  using Entry = CorvaneSDKQueuedEvent;
  struct Hooks {
    std::function<void(std::vector<Entry> batch, CorvaneSDKUploadOutcome outcome)> answered;
    std::function<void(const std::string& name, Value object, Value userInfo)> post;
    // The texts of events whose process number goes out for the first time.
    std::function<void(std::vector<std::string> texts)> firstSends;
    // The upload has ended; `flushAgain`: the next batch may go at once.
    std::function<void(bool flushAgain)> finished;
    std::function<Value()> context;
  };

  CorvaneSDKUploader(std::shared_ptr<CorvaneSDKEventQueue> queue, std::shared_ptr<CorvaneSDKHTTPClient> httpClient,
                     std::weak_ptr<CorvaneSDKIntegrationHost> host, std::shared_ptr<const Clock> clock,
                     std::string description, Hooks hooks);

  // Reaching the flush length starts nothing while a batch is in flight or after an upload
  // that is to be retried.
  bool holdsLengthFlush() const { return inFlight_ || retryHeld_; }
  // Sends the next batch of at most `n` from a queue that is not empty, unless one is in
  // flight or the rejection wait has not passed.
  void send(size_t n);
  void onUploadFinished(const std::vector<Entry>& batch, const CorvaneSDKUploadOutcome& outcome);
  void endIsolationWhenCleared();

 private:
  void sendData(const std::vector<Entry>& batch);

  std::shared_ptr<CorvaneSDKEventQueue> queue_;
  std::shared_ptr<CorvaneSDKHTTPClient> httpClient_;
  std::weak_ptr<CorvaneSDKIntegrationHost> host_;
  std::shared_ptr<const Clock> clock_;
  std::string description_;
  Hooks hooks_;

  std::shared_ptr<HTTPTask> batchRequest_;
  bool inFlight_ = false;
  // After an upload that is to be retried the next attempt waits for the timer, an explicit
  // flush or the background, so a failing server sees one attempt per flush interval however
  // fast the host logs.
  bool retryHeld_ = false;
  uint64_t uploadGen_ = 0;
  // Isolation of rejected events: batches shrink to `batchLimit_` while the events up to
  // `suspectEndSeq_` are not cleared.
  bool rejecting_ = false;
  bool acceptedSinceRejection_ = false;
  size_t batchLimit_ = kCorvaneSDKMaxBatchSize;
  uint64_t suspectEndSeq_ = 0;
  uint64_t heldSeq_ = 0;  // a lone rejected event passed over once to probe the server
  int rejectionWaits_ = 0;
  int64_t notBeforeMs_ = 0;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
