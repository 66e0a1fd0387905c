// The delivery engine: event maps, the queue and its file, batches, isolation of rejected
// events, the flush timer, background tasks and notifications.
#include "CorvaneSDKManagerIntegration.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "CorvaneJSONSerializer.h"
#include "CorvaneSDKBackgroundTask.h"
#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKDeviceContext.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKHTTPClient.h"
#include "CorvaneSDKIntegrationHost.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "CorvaneSDKUtils.h"
#include "CorvaneSDKWireFormat.h"
#include "CorvaneSDKVersion.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {

std::string brief(const std::string& text) { return text.size() > 2000 ? text.substr(0, 2000) + "..." : text; }

}  // namespace

std::shared_ptr<CorvaneSDKManagerIntegration> CorvaneSDKManagerIntegration::create(
    std::weak_ptr<CorvaneSDKIntegrationHost> manager, std::shared_ptr<const CorvaneSDKConfiguration> configuration,
    std::shared_ptr<CorvaneSDKHTTPClient> httpClient, std::shared_ptr<CorvaneSDKFileStorage> fileStorage,
    std::shared_ptr<CorvaneSDKUserDefaultsStorage> userDefaultsStorage) {
  std::shared_ptr<CorvaneSDKManagerIntegration> e(new CorvaneSDKManagerIntegration());
  auto ports = Platform::current();
  if (!configuration) configuration = std::make_shared<CorvaneSDKConfiguration>();
  e->manager_ = std::move(manager);
  e->configuration_ = configuration;
  e->appId_ = configuration->appId;
  e->flushAt_ = configuration->flushAt;
  e->flushInterval_ = configuration->flushInterval;
  e->maxQueueSize_ = configuration->maxQueueSize;
  e->application_ = configuration->application;
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<void*>(e.get()));
  e->description_ = std::string("<") + address + ":CorvaneSDKManagerIntegration, " + e->appId_ + ">";
  e->httpClient_ = httpClient ? std::move(httpClient) : std::make_shared<CorvaneSDKHTTPClient>();
  e->httpClient_->setHttpSessionDelegate(configuration->httpSessionDelegate);
  e->fileStorage_ = fileStorage ? std::move(fileStorage) : CorvaneSDKFileStorage::forConfiguration(*configuration);
  e->userDefaultsStorage_ = std::move(userDefaultsStorage);
  e->context_ = std::make_unique<CorvaneSDKDeviceContext>(*configuration, e->description_);
  e->clock_ = ports->clock;
  e->serialQueue_ = ports->dispatch->makeSerialQueue("com.corvane.sdk.manager");
  e->callbackQueue_ = ports->dispatch->makeSerialQueue("com.corvane.sdk.manager.callbacks");
  e->mainQueue_ = ports->dispatch->mainQueue();
  e->backgroundTask_ = CorvaneSDKBackgroundTask::create(e->application_, kCorvaneSDKFlushBackgroundTaskName);
  auto defaults = e->userDefaultsStorage_;
  e->serialQueue_->async([defaults] {
    // The queue's old home is dropped, not migrated.
    if (defaults) defaults->removeKey(kCorvaneSDKLegacyQueueDefaultsKey);
  });
  return e;
}

CorvaneSDKManagerIntegration::~CorvaneSDKManagerIntegration() {
  {
    std::lock_guard<std::mutex> lock(timerMutex_);
    if (flushTimer_) flushTimer_->invalidate();
  }
  // No task refers to the engine any more: whatever waited for its write is written now.
  if (dirty_ && fileStorage_) persistQueue();
}

std::shared_ptr<CorvaneSDKIntegrationHost> CorvaneSDKManagerIntegration::host() const { return manager_.lock(); }

std::string CorvaneSDKManagerIntegration::description() const { return description_; }

// ---- Events ----

Value CorvaneSDKManagerIntegration::generateDictionary(const CorvaneSDKLogOperation& event, bool addProcessId) {
  std::function<int32_t()> next;
  if (addProcessId) next = [this] { return ++lastProcessId_; };
  return CorvaneSDKWireFormat::eventMap(
      event, next,
      [this] {
        auto h = host();
        return h ? h->getSessionId() : std::string();
      },
      description_);
}

void CorvaneSDKManagerIntegration::log(std::shared_ptr<const CorvaneSDKLogOperation> event) {
  if (!event) {
    CorvaneSDKLog::debug(description_ + " Ignoring a null event");
    return;
  }
  enqueueEvent(generateDictionary(*event, true));
}

void CorvaneSDKManagerIntegration::enqueueEvent(Value map) {
  auto queued = CorvaneSDKWireFormat::queuedEvent(std::move(map), description_);
  if (!queued) return;
  Entry entry = std::move(*queued);
  auto self = shared_from_this();
  dispatchBackground([self, entry = std::move(entry)]() mutable {
    if (CorvaneSDKLog::isDebug()) {
      CorvaneSDKLog::debug(self->description_ + " Enqueueing action: " + brief(entry.text));
    }
    try {
      self->queueEvent(std::move(entry));
    } catch (const std::exception& ex) {
      CorvaneSDKLog::debug(self->description_ + " Error writing payload: " + ex.what());
    } catch (...) {
      CorvaneSDKLog::debug(self->description_ + " Error writing payload: unknown error");
    }
  });
}

// ---- Queue (serial queue) ----

std::deque<CorvaneSDKManagerIntegration::Entry>& CorvaneSDKManagerIntegration::queue() {
  if (loaded_) return queue_;
  loaded_ = true;
  std::optional<Value> stored;
  if (auto data = fileStorage_->dataForKey(kCorvaneSDKQueueStorageKey)) {
    Value parsed;
    if (parseJson(*data, parsed)) {
      stored = std::move(parsed);
    } else if (parseJson(validUtf8(*data), parsed)) {
      // A damaged byte inside a string costs that character, not the queue.
      CorvaneSDKLog::debug(description_ + " The stored queue held invalid UTF-8; it was replaced");
      stored = std::move(parsed);
      dirty_ = true;
    } else {
      // Garbage is logged and read as absent; an older property list is converted here.
      stored = fileStorage_->jsonForKey(kCorvaneSDKQueueStorageKey);
    }
  }
  if (stored && !stored->is_array()) {
    CorvaneSDKLog::debug(description_ + " The stored queue is not a list; starting with an empty queue");
    dirty_ = true;
  } else if (stored) {
    preprocessQueue(*stored);
  }
  return queue_;
}

void CorvaneSDKManagerIntegration::preprocessQueue(Value& list) {
  size_t skipped = 0;
  for (auto& element : list) {
    if (!element.is_object()) {
      ++skipped;
      continue;
    }
    // Process numbers belong to the process that made them.
    element.erase("processId");
    Entry entry;
    entry.seq = nextSeq_++;
    entry.text = CorvaneJSONSerializer::dataWithRootObject(element);
    entry.text.shrink_to_fit();
    queue_.push_back(std::move(entry));
    element = Value();  // the text is all that is kept
  }
  list = Value();
  if (skipped > 0) {
    CorvaneSDKLog::debug(description_ + " Left out " + std::to_string(skipped) +
                         " stored queue element(s) that are not events");
    dirty_ = true;
  }
  if (maxQueueSize_ > 0 && queue_.size() > maxQueueSize_) {
    const size_t extra = queue_.size() - maxQueueSize_;
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(extra));
    CorvaneSDKLog::debug(description_ + " The stored queue held " + std::to_string(extra) +
                         " event(s) beyond the queue bound; the oldest were dropped");
    dirty_ = true;
  }
}

void CorvaneSDKManagerIntegration::queueEvent(Entry entry) {
  auto& q = queue();
  if (maxQueueSize_ > 0) {
    const size_t keep = static_cast<size_t>(maxQueueSize_ - 1);
    if (q.size() >= keep && q.size() - keep > 0) {
      const size_t extra = q.size() - keep;
      q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(extra));
      CorvaneSDKLog::debug(description_ + " Queue full; dropped the " + std::to_string(extra) + " oldest event(s)");
    }
  }
  entry.seq = nextSeq_++;
  q.push_back(std::move(entry));
  schedulePersist();
  flushQueueByLength();
}

void CorvaneSDKManagerIntegration::schedulePersist() {
  dirty_ = true;
  if (persistScheduled_) return;
  persistScheduled_ = true;
  // Behind every change already waiting on the queue: one write covers them all.
  auto self = shared_from_this();
  serialQueue_->async([self] {
    self->persistScheduled_ = false;
    if (self->dirty_) self->persistQueue();
  });
}

void CorvaneSDKManagerIntegration::persistQueue() {
  auto& q = queue();
  size_t size = 2 + q.size();
  for (const auto& e : q) size += e.text.size();
  std::string out;
  out.reserve(size);
  out += '[';
  bool first = true;
  for (const auto& e : q) {
    if (!first) out += ',';
    first = false;
    out += e.text;
  }
  out += ']';
  dirty_ = false;
  fileStorage_->setData(out, kCorvaneSDKQueueStorageKey);
  ++persistCount_;
}

size_t CorvaneSDKManagerIntegration::getQueueSize() {
  size_t n = 0;
  dispatchBackgroundAndWait([this, &n] { n = queue().size(); });
  return n;
}

Value CorvaneSDKManagerIntegration::queueSnapshot() {
  Value list = Value::array();
  dispatchBackgroundAndWait([this, &list] {
    for (const auto& e : queue()) {
      Value v;
      parseJson(e.text, v);
      if (e.processId) {
        Value withId = Value::object();
        withId["processId"] = e.processId;
        for (auto& item : v.items()) withId[item.key()] = item.value();
        v = std::move(withId);
      }
      list.push_back(std::move(v));
    }
  });
  return list;
}

void CorvaneSDKManagerIntegration::dispatchBackground(Task task) { dispatchOn(*serialQueue_, std::move(task), false); }

void CorvaneSDKManagerIntegration::dispatchBackgroundAndWait(Task task) {
  dispatchOn(*serialQueue_, std::move(task), true);
}

// ---- Flushing ----

void CorvaneSDKManagerIntegration::flushQueueByLength() {
  if (!hasStarted_ || isPaused_) return;
  auto self = shared_from_this();
  dispatchBackground([self] {
    if (self->inFlight_ || self->retryHeld_) return;
    const size_t length = self->queue().size();
    if (CorvaneSDKLog::isDebug()) {
      CorvaneSDKLog::debug(self->description_ + " Length is " + std::to_string(length) + ".");
    }
    if (length >= self->flushAt_) self->flush();
  });
}

void CorvaneSDKManagerIntegration::flush() { flushWithMaxSize(kCorvaneSDKMaxBatchSize); }

void CorvaneSDKManagerIntegration::flushWithMaxSize(size_t n) {
  if (!hasStarted_ || isPaused_) return;
  auto self = shared_from_this();
  dispatchBackground([self, n] { self->flushOnQueue(n); });
}

void CorvaneSDKManagerIntegration::flushOnQueue(size_t n) {
  auto h = host();
  if (!h || !h->checkReady()) return;
  auto& q = queue();
  endIsolationWhenCleared();
  if (q.empty()) {
    endBackgroundTask();
    return;
  }
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
  const size_t limit = std::min(n, batchLimit_);
  std::vector<size_t> chosen;
  for (size_t i = 0; i < q.size() && chosen.size() < limit; ++i) {
    if (heldSeq_ != 0 && q[i].seq == heldSeq_) continue;
    chosen.push_back(i);
  }
  if (chosen.empty()) {
    heldSeq_ = 0;  // nothing else to probe with
    chosen.push_back(0);
  }
  std::vector<Entry> batch;
  batch.reserve(chosen.size());
  std::vector<std::string> reports;
  for (size_t i : chosen) {
    Entry& e = q[i];
    if (e.processId != 0) {
      const int32_t pid = e.processId;
      e.processId = 0;
      if (pid > curProcessId_) {
        curProcessId_ = pid;
        reports.push_back(e.text);
      }
    }
    batch.push_back(e);
  }
  if (!reports.empty()) {
    callManager([reports](CorvaneSDKIntegrationHost& manager) {
      for (const auto& text : reports) {
        Value map;
        if (parseJson(text, map)) manager.onSendEvent(map);
      }
    });
  }
  sendData(batch);
}

void CorvaneSDKManagerIntegration::sendData(const std::vector<Entry>& batch) {
  // Every accepted change is on disk before a batch leaves.
  if (dirty_) persistQueue();
  auto h = host();
  std::string body = CorvaneSDKWireFormat::batchBody(batch, contextSnapshot(), h ? h->getUserId() : std::string());
  if (CorvaneSDKLog::isDebug()) {
    CorvaneSDKLog::debug(description_ + " Flushing " + std::to_string(batch.size()) + " of " +
                         std::to_string(queue().size()) + " queued API calls.");
    CorvaneSDKLog::debug("Flushing batch " + brief(body) + ".");
  }
  const std::string url = h ? h->getHost() : std::string();
  const std::string credential = h ? h->getCredential() : std::string();
  inFlight_ = true;
  const uint64_t gen = ++uploadGen_;
  std::weak_ptr<CorvaneSDKManagerIntegration> weak = weak_from_this();
  auto task = httpClient_->uploadBody(std::move(body), url, credential,
                                      [weak, batch](const CorvaneSDKUploadOutcome& outcome) {
                                        auto self = weak.lock();
                                        if (!self) return;
                                        self->dispatchBackground(
                                            [self, batch, outcome] { self->onUploadFinished(batch, outcome); });
                                      });
  if (inFlight_ && uploadGen_ == gen) batchRequest_ = task;
  post(kCorvaneSDKDidSendRequestNotification, CorvaneSDKWireFormat::batchList(batch), Value());
}

void CorvaneSDKManagerIntegration::removeBatch(const std::vector<Entry>& batch) {
  if (batch.empty()) return;
  auto& q = queue();
  std::vector<uint64_t> seqs;
  seqs.reserve(batch.size());
  for (const auto& e : batch) seqs.push_back(e.seq);
  std::sort(seqs.begin(), seqs.end());
  const uint64_t last = seqs.back();
  auto end = std::find_if(q.begin(), q.end(), [last](const Entry& e) { return e.seq > last; });
  auto kept = std::remove_if(q.begin(), end,
                             [&seqs](const Entry& e) { return std::binary_search(seqs.begin(), seqs.end(), e.seq); });
  q.erase(kept, end);
  schedulePersist();
}

void CorvaneSDKManagerIntegration::endIsolationWhenCleared() {
  if (!rejecting_) return;
  const auto& q = queue_;
  if (!q.empty() && q.front().seq <= suspectEndSeq_) return;
  rejecting_ = false;
  acceptedSinceRejection_ = false;
  batchLimit_ = kCorvaneSDKMaxBatchSize;
  heldSeq_ = 0;
  rejectionWaits_ = 0;
  notBeforeMs_ = 0;
}

void CorvaneSDKManagerIntegration::onUploadFinished(const std::vector<Entry>& batch,
                                                    const CorvaneSDKUploadOutcome& outcome) {
  batchRequest_.reset();
  inFlight_ = false;
  auto failInfo = [&outcome](bool dropped) {
    Value info = Value::object();
    info["dropped"] = dropped;
    info["statusCode"] = outcome.status;
    return info;
  };
  switch (outcome.result) {
    case CorvaneSDKUploadResult::Delivered: {
      retryHeld_ = false;
      removeBatch(batch);
      if (rejecting_) {
        acceptedSinceRejection_ = true;
        heldSeq_ = 0;
        rejectionWaits_ = 0;
        notBeforeMs_ = 0;
      }
      endIsolationWhenCleared();
      post(kCorvaneSDKRequestDidSucceedNotification, CorvaneSDKWireFormat::batchList(batch), Value());
      onFinishSend(true, true);
      return;
    }
    case CorvaneSDKUploadResult::Retry:
      retryHeld_ = true;
      post(kCorvaneSDKRequestDidFailNotification, CorvaneSDKWireFormat::batchList(batch), failInfo(false));
      onFinishSend(false, false);
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
    post(kCorvaneSDKRequestDidFailNotification, CorvaneSDKWireFormat::batchList(batch), failInfo(false));
    onFinishSend(false, true);
    return;
  }
  const Entry& lone = batch.front();
  batchLimit_ = 1;
  if (acceptedSinceRejection_) {
    Value event;
    parseJson(lone.text, event);
    const std::string eId = event.is_object() && event.contains("eId") ? dumpJson(event["eId"]) : "?";
    const std::string name = event.is_object() && event.contains("eventName") ? dumpJson(event["eventName"]) : "?";
    CorvaneSDKLog::debug(description_ + " Dropping event " + eId + " (" + name + ") rejected with HTTP code " + code +
                         ".");
    removeBatch(batch);
    heldSeq_ = 0;
    endIsolationWhenCleared();
    Value info = failInfo(true);
    Value ids = Value::array();
    ids.push_back(event.is_object() && event.contains("eId") ? event["eId"] : Value());
    info["droppedEventIds"] = std::move(ids);
    post(kCorvaneSDKRequestDidFailNotification, CorvaneSDKWireFormat::batchList(batch), std::move(info));
    onFinishSend(false, true);
    return;
  }
  size_t others = 0;
  for (const auto& e : queue()) others += e.seq != lone.seq ? 1 : 0;
  if (heldSeq_ == 0 && others > 0) {
    // Probe the server with the next event before deciding about this one.
    heldSeq_ = lone.seq;
    CorvaneSDKLog::debug(description_ + " A lone event was rejected with HTTP code " + code +
                         " before any batch was accepted; trying the next event.");
    post(kCorvaneSDKRequestDidFailNotification, CorvaneSDKWireFormat::batchList(batch), failInfo(false));
    onFinishSend(false, true);
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
  post(kCorvaneSDKRequestDidFailNotification, CorvaneSDKWireFormat::batchList(batch), failInfo(false));
  onFinishSend(false, false);
}

void CorvaneSDKManagerIntegration::onFinishSend(bool success, bool flushAgain) {
  (void)success;
  batchRequest_.reset();
  inFlight_ = false;
  endBackgroundTask();
  if (queue().empty()) {
    callManager([](CorvaneSDKIntegrationHost& manager) { manager.onFinishFlush(); });
    return;
  }
  // After a delivery (or while isolating a rejected event) the next batch goes at once; after
  // a failure it waits for the timer or the next trigger.
  if (flushAgain) flush();
}

void CorvaneSDKManagerIntegration::post(const std::string& name, Value object, Value userInfo) {
  auto center = Platform::current()->notificationCenter;
  if (!center || !mainQueue_) return;
  auto notification = std::make_shared<Notification>();
  notification->name = name;
  notification->object = std::move(object);
  notification->userInfo = std::move(userInfo);
  mainQueue_->async([center, notification] {
    center->post(*notification);
    CorvaneSDKLog::debug("sent notification " + notification->name);
  });
}

void CorvaneSDKManagerIntegration::callManager(std::function<void(CorvaneSDKIntegrationHost&)> call) {
  std::weak_ptr<CorvaneSDKIntegrationHost> weak = manager_;
  callbackQueue_->async([weak, call] {
    if (auto manager = weak.lock()) call(*manager);
  });
}

// ---- Timer and state ----

void CorvaneSDKManagerIntegration::addFlushScheduler() {
  const double seconds = flushInterval_;
  if (!std::isfinite(seconds) || seconds <= 0) {
    CorvaneSDKLog::debug(description_ + " No flush timer: the flush interval is not a positive number");
  } else {
    const double ms = std::min(seconds * 1000.0, 1e12);
    std::weak_ptr<CorvaneSDKManagerIntegration> weak = weak_from_this();
    auto timer = mainQueue_->scheduleRepeating(std::max<int64_t>(static_cast<int64_t>(ms), 10), [weak] {
      if (auto self = weak.lock()) self->flush();
    });
    std::shared_ptr<Timer> previous;
    {
      std::lock_guard<std::mutex> lock(timerMutex_);
      previous = std::move(flushTimer_);
      flushTimer_ = std::move(timer);
    }
    if (previous) previous->invalidate();
  }
  // Fired once at once: it finds out on the serial queue whether anything waits.
  flush();
}

void CorvaneSDKManagerIntegration::removeFlushScheduler() {
  endBackgroundTask();
  std::shared_ptr<Timer> timer;
  {
    std::lock_guard<std::mutex> lock(timerMutex_);
    timer = std::move(flushTimer_);
  }
  if (timer) timer->invalidate();
}

void CorvaneSDKManagerIntegration::start() {
  if (hasStarted_.exchange(true)) return;
  if (!isPaused_) addFlushScheduler();
}

void CorvaneSDKManagerIntegration::pause() {
  if (isPaused_.exchange(true)) return;
  if (hasStarted_) removeFlushScheduler();
}

void CorvaneSDKManagerIntegration::resume() {
  if (!isPaused_.exchange(false)) return;
  if (hasStarted_) addFlushScheduler();
}

void CorvaneSDKManagerIntegration::reset() {}

// ---- Background work ----

void CorvaneSDKManagerIntegration::beginBackgroundTask() {
  if (hasStarted_ && !isPaused_) backgroundTask_->begin();
}

void CorvaneSDKManagerIntegration::endBackgroundTask() { backgroundTask_->end(); }

void CorvaneSDKManagerIntegration::applicationDidEnterBackground() {
  if (!hasStarted_ || isPaused_) return;
  // The task begins on the serial queue, behind work already queued: a flush queued earlier
  // that finds the queue empty would otherwise end the task this flush needs.
  auto self = shared_from_this();
  dispatchBackground([self] {
    if (!self->hasStarted_ || self->isPaused_) return;
    self->beginBackgroundTask();
    self->flushOnQueue(kCorvaneSDKMaxBatchSize);
  });
}

void CorvaneSDKManagerIntegration::applicationWillTerminate() {
  dispatchBackgroundAndWait([this] {
    if (!queue().empty() || dirty_) persistQueue();
  });
}

void CorvaneSDKManagerIntegration::receivedRemoteNotification(const Value&) {}
void CorvaneSDKManagerIntegration::failedToRegisterForRemoteNotificationsWithError(const std::string&) {}
void CorvaneSDKManagerIntegration::registeredForRemoteNotificationsWithDeviceToken(const std::vector<uint8_t>&) {}
void CorvaneSDKManagerIntegration::handleActionWithIdentifier(const std::string&, const Value&) {}
void CorvaneSDKManagerIntegration::continueUserActivity(const Value&) {}
void CorvaneSDKManagerIntegration::openURL(const std::string&, const Value&) {}

}  // namespace Mobile
}  // namespace CorvaneSDK
