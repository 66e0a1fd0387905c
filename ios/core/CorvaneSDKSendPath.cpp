#include "CorvaneSDKSendPath.h"

#include "CorvaneSDKDataBuilder.h"
#include "CorvaneSDKIdentity.h"
#include "CorvaneSDKIntegrationHost.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKManagerIntegration.h"
#include "CorvaneSDKMiddleware.h"
#include "CorvaneSDKOperationQueue.h"
#include "CorvaneSDKServerConfig.h"
#include "CorvaneSDKSkanConversionContext.h"
#include "CorvaneSDKUtils.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

std::shared_ptr<CorvaneSDKSendPath> CorvaneSDKSendPath::create(Parts parts) {
  return std::shared_ptr<CorvaneSDKSendPath>(new CorvaneSDKSendPath(std::move(parts)));
}

CorvaneSDKSendPath::CorvaneSDKSendPath(Parts parts)
    : parts_(std::move(parts)), session_(Platform::current()->clock) {}

void CorvaneSDKSendPath::setSkanContext(std::shared_ptr<CorvaneSDKSkanConversionContextImpl> context) {
  skan_ = std::move(context);
}

void CorvaneSDKSendPath::run(int64_t type, std::shared_ptr<CorvaneSDKOperation> operation) {
  auto context = CorvaneSDKContext::create(parts_.host.lock());
  context->debug = CorvaneSDKLog::isDebug();
  context->operationType = type;
  context->operation = operation ? std::move(operation) : std::make_shared<CorvaneSDKOperation>();
  parts_.runner->run(context);
}

bool CorvaneSDKSendPath::hold(const CorvaneSDKEvent& event, bool started) {
  if (!session_.hold(build(event), started)) return false;
  recordForSkan(event);
  return true;
}

bool CorvaneSDKSendPath::send(const CorvaneSDKEvent& event) {
  if (session_.isOpenWait() && approximateQueueSize() >= parts_.maxQueueSize) {
    CorvaneSDKLog::debug("Queue full while the open event waits; dropping " + event.eventName);
    return false;
  }
  run(kCorvaneSDKOperationTypeLog, std::make_shared<CorvaneSDKLogEventOperation>(build(event)));
  recordForSkan(event);
  return true;
}

bool CorvaneSDKSendPath::checkHold() {
  Session::Release release;
  if (!session_.checkHold(release)) return false;
  if (!release.empty()) {
    // This runs on the engine's queue, where no middleware may run: the open event goes out
    // from the operation queue's, with the manager kept alive until it has.
    auto self = shared_from_this();
    auto host = parts_.host.lock();
    auto shared = std::make_shared<Session::Release>(std::move(release));
    parts_.queue->serialQueue()->async([self, host, shared] { self->deliver(std::move(*shared)); });
  }
  return true;
}

CorvaneSDKSendPath::Session::Start CorvaneSDKSendPath::startSession() {
  auto started = session_.generateSessionId(CorvaneSDKUtils::createUUIDString());
  if (started.firstInProcess) toSkan([](CorvaneSDKSkanConversionContextImpl& c) { c.recordSession(); });
  return started;
}

void CorvaneSDKSendPath::beginOpen(const std::string& name, int64_t trackingStatus) {
  const auto stamp = parts_.identity->stamp();
  std::weak_ptr<CorvaneSDKManagerIntegration> engine = parts_.queue->integration();
  auto payload = CorvaneSDKDataBuilder::createLogOpenData(
      [engine](const std::string& key) {
        auto e = engine.lock();
        return e ? e->getContextValue(key) : Value();
      },
      stamp.storeType, trackingStatus);
  auto open = std::make_shared<CorvaneSDKLogOperation>(name, payload, session_.sessionId(), stamp.configId,
                                                       stamp.customUserId);
  deliver(session_.beginOpen(open));
}

void CorvaneSDKSendPath::release() { deliver(session_.release()); }

void CorvaneSDKSendPath::deliver(Session::Release release) {
  if (release.open) {
    for (auto& held : release.held) release.open->addSubEvent(held);
    run(kCorvaneSDKOperationTypeLog, std::make_shared<CorvaneSDKLogEventOperation>(release.open));
    return;
  }
  for (auto& held : release.held) {
    run(kCorvaneSDKOperationTypeLog, std::make_shared<CorvaneSDKLogEventOperation>(held));
  }
}

std::shared_ptr<CorvaneSDKLogOperation> CorvaneSDKSendPath::build(const CorvaneSDKEvent& event) {
  const auto stamp = parts_.identity->stamp();
  auto op = std::make_shared<CorvaneSDKLogOperation>(event.eventName, event.value, session_.sessionId(),
                                                     stamp.configId, stamp.customUserId);
  if (event.hasRevenue) op->setRevenue(event.revenue, event.currency);
  return op;
}

void CorvaneSDKSendPath::recordForSkan(const CorvaneSDKEvent& event) {
  const std::string name = event.eventName;
  if (event.hasRevenue) {
    const double revenue =
        parts_.rates->standardRevenue(event.revenue, event.currency.value_or(parts_.rates->configCurrency()));
    toSkan([name, revenue](CorvaneSDKSkanConversionContextImpl& c) { c.recordEvent(name, revenue); });
  } else {
    toSkan([name](CorvaneSDKSkanConversionContextImpl& c) { c.recordEvent(name); });
  }
}

void CorvaneSDKSendPath::toSkan(SkanRecord record) {
  auto context = skan_;
  parts_.queue->serialQueue()->async([context, record] { record(*context); });
}

uint64_t CorvaneSDKSendPath::approximateQueueSize() {
  // Asking the engine waits for its queue (busy writing the file): the answer of the last
  // refresh is used and a new one is asked for, at most one at a time.
  if (!queueSizeRefreshing_.exchange(true)) {
    std::weak_ptr<CorvaneSDKSendPath> weak = shared_from_this();
    if (auto engine = parts_.queue->integration()) {
      std::weak_ptr<CorvaneSDKManagerIntegration> weakEngine = engine;
      engine->dispatchBackground([weak, weakEngine] {
        auto self = weak.lock();
        auto e = weakEngine.lock();
        if (!self) return;
        if (e) self->cachedQueueSize_ = e->getQueueSize();
        self->queueSizeRefreshing_ = false;
      });
    } else {
      queueSizeRefreshing_ = false;
    }
  }
  return cachedQueueSize_.load();
}

}  // namespace Mobile
}  // namespace CorvaneSDK
