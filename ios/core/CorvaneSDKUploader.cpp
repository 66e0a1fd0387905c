#include "CorvaneSDKUploader.h"

#include <algorithm>

#include "Clock.h"
#include "CorvaneSDKIntegrationHost.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKUtils.h"
#include "CorvaneSDKWireFormat.h"

namespace CorvaneSDK {
namespace Mobile {

CorvaneSDKUploader::CorvaneSDKUploader(std::shared_ptr<CorvaneSDKEventQueue> queue,
                                       std::shared_ptr<CorvaneSDKHTTPClient> httpClient,
                                       std::weak_ptr<CorvaneSDKIntegrationHost> host,
                                       std::shared_ptr<const Clock> clock, std::string description, Hooks hooks)
    : queue_(std::move(queue)),
      httpClient_(std::move(httpClient)),
      host_(std::move(host)),
      clock_(std::move(clock)),
      description_(std::move(description)),
      hooks_(std::move(hooks)) {}

void CorvaneSDKUploader::send(size_t n) {
  if (inFlight_) {
    CorvaneSDKLog::debug(description_ + " API request already in progress, not flushing again.");
    return;
  }
  if (n == 0) return;
  const int64_t now = clock_->monotonicMs();
  if (notBeforeMs_ > now) {
    CorvaneSDKLog::debug(description_ + " Every recent batch was rejected; next attempt in " +
                         std::to_string(notBeforeMs_ - now) + " ms.");
    return;
  }
  std::vector<std::string> firstSends;
  std::vector<Entry> batch = queue_->takeBatch(std::min(n, batchLimit_), heldSeq_, firstSends);
  if (batch.empty()) return;
  if (heldSeq_ != 0 && batch.front().seq == heldSeq_) heldSeq_ = 0;  // nothing else to probe with
  if (!firstSends.empty()) hooks_.firstSends(std::move(firstSends));
  sendData(batch);
}

void CorvaneSDKUploader::sendData(const std::vector<Entry>& batch) {
  // Every accepted change is on disk before a batch leaves.
  if (queue_->dirty()) queue_->persist();
  auto h = host_.lock();
  std::string body = CorvaneSDKWireFormat::batchBody(batch, hooks_.context(), h ? h->getUserId() : std::string());
  if (CorvaneSDKLog::isDebug()) {
    CorvaneSDKLog::debug(description_ + " Flushing " + std::to_string(batch.size()) + " of " +
                         std::to_string(queue_->entries().size()) + " queued API calls.");
    CorvaneSDKLog::debug("Flushing batch " + (body.size() > 2000 ? body.substr(0, 2000) + "..." : body) + ".");
  }
  const std::string url = h ? h->getHost() : std::string();
  const std::string credential = h ? h->getCredential() : std::string();
  inFlight_ = true;
  const uint64_t gen = ++uploadGen_;
  // The answer may come back inline, before the upload returns.
  auto task = httpClient_->uploadBody(std::move(body), url, credential,
                                      [answered = hooks_.answered, batch](const CorvaneSDKUploadOutcome& outcome) {
                                        answered(batch, outcome);
                                      });
  if (inFlight_ && uploadGen_ == gen) batchRequest_ = task;
  hooks_.post(kCorvaneSDKDidSendRequestNotification, CorvaneSDKWireFormat::batchList(batch), Value());
}

void CorvaneSDKUploader::endIsolationWhenCleared() {
  if (!rejecting_) return;
  const auto& q = queue_->entries();
  if (!q.empty() && q.front().seq <= suspectEndSeq_) return;
  rejecting_ = false;
  acceptedSinceRejection_ = false;
  batchLimit_ = kCorvaneSDKMaxBatchSize;
  heldSeq_ = 0;
  rejectionWaits_ = 0;
  notBeforeMs_ = 0;
}

void CorvaneSDKUploader::onUploadFinished(const std::vector<Entry>& batch, const CorvaneSDKUploadOutcome& outcome) {
  batchRequest_.reset();
  inFlight_ = false;
  auto failInfo = [&outcome](bool dropped) {
    Value info = Value::object();
    info["dropped"] = dropped;
    info["statusCode"] = outcome.status;
    return info;
  };
  auto fail = [&](Value info, bool flushAgain) {
    hooks_.post(kCorvaneSDKRequestDidFailNotification, CorvaneSDKWireFormat::batchList(batch), std::move(info));
    hooks_.finished(flushAgain);
  };
  switch (outcome.result) {
    case CorvaneSDKUploadResult::Delivered: {
      retryHeld_ = false;
      queue_->remove(batch);
      if (rejecting_) {
        acceptedSinceRejection_ = true;
        heldSeq_ = 0;
        rejectionWaits_ = 0;
        notBeforeMs_ = 0;
      }
      endIsolationWhenCleared();
      hooks_.post(kCorvaneSDKRequestDidSucceedNotification, CorvaneSDKWireFormat::batchList(batch), Value());
      hooks_.finished(true);
      return;
    }
    case CorvaneSDKUploadResult::Retry:
      retryHeld_ = true;
      fail(failInfo(false), false);
      return;
    case CorvaneSDKUploadResult::Rejected:
      break;
  }
  // Rejected: find the event the server refuses by halving the batch; drop a lone event only
  // once the server has proved healthy by accepting another batch since the rejections began.
  if (!rejecting_) {
    rejecting_ = true;
    acceptedSinceRejection_ = false;
  }
  suspectEndSeq_ = std::max_element(batch.begin(), batch.end(), [](const Entry& a, const Entry& b) {
                     return a.seq < b.seq;
                   })->seq;
  const std::string code = std::to_string(outcome.status);
  if (batch.size() > 1) {
    batchLimit_ = std::max<size_t>(1, batch.size() / 2);
    CorvaneSDKLog::debug(description_ + " Server rejected a batch of " + std::to_string(batch.size()) +
                         " events with HTTP code " + code + "; trying batches of " + std::to_string(batchLimit_) +
                         ".");
    fail(failInfo(false), true);
    return;
  }
  const Entry& lone = batch.front();
  batchLimit_ = 1;
  if (acceptedSinceRejection_) {
    Value event;
    parseJson(lone.text, event);
    const bool isMap = event.is_object();
    const std::string eId = isMap && event.contains("eId") ? dumpJson(event["eId"]) : "?";
    const std::string name = isMap && event.contains("eventName") ? dumpJson(event["eventName"]) : "?";
    CorvaneSDKLog::debug(description_ + " Dropping event " + eId + " (" + name + ") rejected with HTTP code " + code +
                         ".");
    queue_->remove(batch);
    heldSeq_ = 0;
    endIsolationWhenCleared();
    Value info = failInfo(true);
    Value ids = Value::array();
    ids.push_back(isMap && event.contains("eId") ? event["eId"] : Value());
    info["droppedEventIds"] = std::move(ids);
    fail(std::move(info), true);
    return;
  }
  size_t others = 0;
  for (const auto& e : queue_->entries()) others += e.seq != lone.seq ? 1 : 0;
  if (heldSeq_ == 0 && others > 0) {
    // Probe the server with the next event before deciding about this one.
    heldSeq_ = lone.seq;
    CorvaneSDKLog::debug(description_ + " A lone event was rejected with HTTP code " + code +
                         " before any batch was accepted; trying the next event.");
    fail(failInfo(false), true);
    return;
  }
  heldSeq_ = 0;
  ++rejectionWaits_;
  int64_t wait = kCorvaneSDKRejectionWaitMs;
  for (int i = 1; i < rejectionWaits_ && wait < kCorvaneSDKRejectionWaitMaxMs; ++i) wait *= 2;
  wait = std::min(wait, kCorvaneSDKRejectionWaitMaxMs);
  notBeforeMs_ = clock_->monotonicMs() + wait;
  CorvaneSDKLog::debug(description_ + " Every batch is rejected (HTTP code " + code +
                       "); keeping every event, next attempt in " + std::to_string(wait) + " ms.");
  fail(failInfo(false), false);
}

}  // namespace Mobile
}  // namespace CorvaneSDK

