// The delivery engine: event maps, the flush triggers and timer, background tasks and
// notifications, around the queue and the uploader.
#include "CorvaneSDKManagerIntegration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "CorvaneSDKBackgroundTask.h"
#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKHTTPClient.h"
#include "CorvaneSDKIntegrationHost.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "CorvaneSDKUtils.h"
#include "CorvaneSDKWireFormat.h"
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
  e->flushAt_ = configuration->flushAt;
  e->flushInterval_ = configuration->flushInterval;
  e->maxQueueSize_ = configuration->maxQueueSize;
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<void*>(e.get()));
  e->description_ = std::string("<") + address + ":CorvaneSDKManagerIntegration, " + configuration->appId + ">";
  if (!httpClient) httpClient = std::make_shared<CorvaneSDKHTTPClient>();
  httpClient->setHttpSessionDelegate(configuration->httpSessionDelegate);
  if (!fileStorage) fileStorage = CorvaneSDKFileStorage::forConfiguration(*configuration);
  e->userDefaultsStorage_ = std::move(userDefaultsStorage);
  e->context_ = std::make_unique<CorvaneSDKDeviceContext>(*configuration, e->description_);
  e->serialQueue_ = ports->dispatch->makeSerialQueue("com.corvane.sdk.manager");
  e->queue_ = std::make_shared<CorvaneSDKEventQueue>(std::move(fileStorage), e->serialQueue_, e->maxQueueSize_,
                                                     e->description_);
  e->callbackQueue_ = ports->dispatch->makeSerialQueue("com.corvane.sdk.manager.callbacks");
  e->mainQueue_ = ports->dispatch->mainQueue();
  e->backgroundTask_ = CorvaneSDKBackgroundTask::create(configuration->application, kCorvaneSDKFlushBackgroundTaskName);
  // The uploader is the engine's own: its hooks run only while the engine lives.
  CorvaneSDKManagerIntegration* raw = e.get();
  std::weak_ptr<CorvaneSDKManagerIntegration> weak = e;
  CorvaneSDKUploader::Hooks hooks;
  hooks.answered = [weak](std::vector<CorvaneSDKQueuedEvent> batch, CorvaneSDKUploadOutcome outcome) {
    auto self = weak.lock();
    if (!self) return;
    self->dispatchBackground([self, batch, outcome] { self->uploader_->onUploadFinished(batch, outcome); });
  };
  hooks.post = [raw](const std::string& name, Value object, Value userInfo) {
    raw->post(name, std::move(object), std::move(userInfo));
  };
  hooks.firstSends = [raw](std::vector<std::string> texts) {
    raw->callManager([texts](CorvaneSDKIntegrationHost& manager) {
      for (const auto& text : texts) {
        Value map;
        if (parseJson(text, map)) manager.onSendEvent(map);
      }
    });
  };
  hooks.finished = [raw](bool flushAgain) { raw->onFinishSend(flushAgain); };
  hooks.context = [raw] { return raw->contextSnapshot(); };
  e->uploader_ = std::make_unique<CorvaneSDKUploader>(e->queue_, std::move(httpClient), e->manager_, ports->clock,
                                                      e->description_, std::move(hooks));
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
}

// ---- Events ----

Value CorvaneSDKManagerIntegration::generateDictionary(const CorvaneSDKLogOperation& event, bool addProcessId) {
  std::function<int32_t()> next;
  if (addProcessId) next = [this] { return queue_->nextProcessId(); };
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
  CorvaneSDKQueuedEvent entry = std::move(*queued);
  auto self = shared_from_this();
  dispatchBackground([self, entry = std::move(entry)]() mutable {
    if (CorvaneSDKLog::isDebug()) {
      CorvaneSDKLog::debug(self->description_ + " Enqueueing action: " + brief(entry.text));
    }
    try {
      self->queue_->push(std::move(entry));
      self->flushQueueByLength();
    } catch (const std::exception& ex) {
      CorvaneSDKLog::debug(self->description_ + " Error writing payload: " + ex.what());
    } catch (...) {
      CorvaneSDKLog::debug(self->description_ + " Error writing payload: unknown error");
    }
  });
}

size_t CorvaneSDKManagerIntegration::getQueueSize() {
  size_t n = 0;
  dispatchBackgroundAndWait([this, &n] { n = queue_->entries().size(); });
  return n;
}

Value CorvaneSDKManagerIntegration::queueSnapshot() {
  Value list;
  dispatchBackgroundAndWait([this, &list] { list = queue_->snapshot(); });
  return list;
}

// ---- Flushing ----

void CorvaneSDKManagerIntegration::flushQueueByLength() {
  if (!hasStarted_ || isPaused_) return;
  auto self = shared_from_this();
  dispatchBackground([self] {
    if (self->uploader_->holdsLengthFlush()) return;
    const size_t length = self->queue_->entries().size();
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
  const auto& q = queue_->entries();
  uploader_->endIsolationWhenCleared();
  if (q.empty()) {
    backgroundTask_->end();
    return;
  }
  uploader_->send(n);
}

void CorvaneSDKManagerIntegration::onFinishSend(bool flushAgain) {
  backgroundTask_->end();
  if (queue_->entries().empty()) {
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
  backgroundTask_->end();
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

// ---- Background work ----

void CorvaneSDKManagerIntegration::applicationDidEnterBackground() {
  if (!hasStarted_ || isPaused_) return;
  // The task begins on the serial queue, behind work already queued: a flush queued earlier
  // that finds the queue empty would otherwise end the task this flush needs.
  auto self = shared_from_this();
  dispatchBackground([self] {
    if (!self->hasStarted_ || self->isPaused_) return;
    self->backgroundTask_->begin();
    self->flushOnQueue(kCorvaneSDKMaxBatchSize);
  });
}

void CorvaneSDKManagerIntegration::applicationWillTerminate() {
  dispatchBackgroundAndWait([this] {
    if (!queue_->entries().empty() || queue_->dirty()) queue_->persist();
  });
}

}  // namespace Mobile
}  // namespace CorvaneSDK
