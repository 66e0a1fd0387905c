// Host code against the operation queue on real threads: middlewares that run operations
// through the same runner from inside context:next:, drop, change or defer operations, engine
// callbacks and notification observers that call back into the queue. Nothing may deadlock,
// no host code may run on the queue's serial queue, and the engine must get exactly the
// operations the middlewares let through.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKManagerIntegration.h"
#include "OperationQueueTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string eventNameOf(const CorvaneSDKContext& ctx) {
  auto op = std::dynamic_pointer_cast<CorvaneSDKLogEventOperation>(ctx.operation);
  return op && op->logOperation ? op->logOperation->eventName : std::string();
}

TEST(MobileOperationQueueThreads, ReentrantDroppingChangingAndDeferringMiddlewaresNeverDeadlock) {
  Testing::TestPortsOptions options;
  options.threadDispatch = true;
  options.debugLog = false;
  Testing::TestPorts ports(options);
  Testing::OperationQueueHarness h(ports, false);
  auto queue = h.queue;
  std::weak_ptr<CorvaneSDKMiddlewareRunner> weakRunner = h.runner;
  std::atomic<int> onSerialQueue{0};
  auto hostCodeRuns = [&] {
    if (queue->serialQueue()->isCurrent()) ++onSerialQueue;
  };

  std::mutex deferredMutex;
  std::vector<std::thread> deferred;
  auto reentrant = std::make_shared<CorvaneSDKBlockMiddleware>([&](auto ctx, auto next) {
    hostCodeRuns();
    const std::string name = eventNameOf(*ctx);
    if (startsWith(name, "spawn-")) {
      // Back into the manager from inside the chain: another operation, the stored user id and
      // the engine's queue size.
      if (auto runner = weakRunner.lock()) {
        runner->run(Testing::makeContext(kCorvaneSDKOperationTypeLog,
                                          std::make_shared<CorvaneSDKLogEventOperation>(
                                              Testing::makeLogOperation("child-" + name))));
        runner->run(Testing::makeContext(kCorvaneSDKOperationTypeFlush, nullptr));
      }
      EXPECT_FALSE(queue->getUserId().empty());
      (void)queue->getQueueSize();
    }
    next(ctx);
  });
  auto dropper = std::make_shared<CorvaneSDKBlockMiddleware>([&](auto ctx, auto next) {
    hostCodeRuns();
    const std::string name = eventNameOf(*ctx);
    if (startsWith(name, "drop-")) return;  // never calls next
    next(startsWith(name, "null-") ? nullptr : ctx);
  });
  auto changer = std::make_shared<CorvaneSDKBlockMiddleware>([&](auto ctx, auto next) {
    hostCodeRuns();
    if (!startsWith(eventNameOf(*ctx), "change-")) return next(ctx);
    next(ctx->modify([](CorvaneSDKContext& c) {
      c.operation = std::make_shared<CorvaneSDKLogEventOperation>(Testing::makeLogOperation("changed"));
    }));
  });
  auto deferrer = std::make_shared<CorvaneSDKBlockMiddleware>([&](auto ctx, auto next) {
    hostCodeRuns();
    if (!startsWith(eventNameOf(*ctx), "defer-")) return next(ctx);
    std::lock_guard<std::mutex> lock(deferredMutex);
    deferred.emplace_back([ctx, next] {
      std::this_thread::yield();
      next(ctx);
    });
  });
  // The app's list names the queue too; it still runs once, last.
  auto runner = queue->makeRunner({reentrant, queue, dropper, changer, deferrer});
  ASSERT_EQ(runner->middlewares().size(), 5u);
  ASSERT_EQ(runner->middlewares().back(), queue);
  weakRunner = runner;

  // Engine callbacks and the start notification are host code too; they call back in.
  std::atomic<int> hookRuns{0};
  h.host->setOnCheckReady([&] {
    hostCodeRuns();
    if (++hookRuns > 20) return;
    if (auto r = weakRunner.lock()) r->run(Testing::makeContext(kCorvaneSDKOperationTypeFlush, nullptr));
    (void)queue->getUserId();
  });
  ports.notifications->addObserver(CorvaneSDKIntegrationDidStart, [&](const Notification&) {
    hostCodeRuns();
    runner->run(Testing::makeContext(kCorvaneSDKOperationTypeLog, std::make_shared<CorvaneSDKLogEventOperation>(
                                                                      Testing::makeLogOperation("observer"))));
    (void)queue->getQueueSize();
  });

  constexpr int kThreads = 4;
  constexpr int kRounds = 12;
  const char* kinds[] = {"spawn-", "drop-", "null-", "change-", "defer-", "plain-"};
  std::vector<std::thread> hosts;
  std::atomic<int> startedThreads{0};
  for (int t = 0; t < kThreads; ++t) {
    hosts.emplace_back([&, t] {
      ++startedThreads;
      for (int r = 0; r < kRounds; ++r) {
        for (const char* kind : kinds) {
          const std::string name = kind + std::to_string(t) + "-" + std::to_string(r);
          runner->run(Testing::makeContext(kCorvaneSDKOperationTypeLog, std::make_shared<CorvaneSDKLogEventOperation>(
                                                                            Testing::makeLogOperation(name))));
        }
      }
    });
  }
  Testing::waitUntil([&] { return startedThreads.load() == kThreads; });
  queue->integration()->start();  // so that the engine asks the manager before each flush
  queue->initialize();
  for (auto& t : hosts) t.join();
  {
    std::lock_guard<std::mutex> lock(deferredMutex);
    for (auto& t : deferred) t.join();
  }

  // Per round and thread: spawn + its child, change, defer, plain; plus the observer's event.
  const uint64_t expected = kThreads * kRounds * 5 + 1;
  ASSERT_TRUE(Testing::waitUntil([&] { return queue->getQueueSize() == expected; }))
      << "engine holds " << queue->getQueueSize() << " of " << expected;
  EXPECT_EQ(onSerialQueue.load(), 0);
  EXPECT_GT(hookRuns.load(), 0);
  EXPECT_EQ(queue->pendingMessageCount(), 0u);

  // What was persisted is exactly what the middlewares let through.
  std::map<std::string, int> kindsSeen;
  ASSERT_TRUE(Testing::waitUntil([&] {
    auto stored = queue->fileStorage()->arrayForKey("corvane.sdk.queue.plist");
    if (!stored || stored->size() != expected) return false;
    kindsSeen.clear();
    for (const auto& event : *stored) {
      const std::string name = event.value("eventName", "");
      kindsSeen[name.substr(0, name.find('-'))]++;
    }
    return true;
  }));
  EXPECT_EQ(kindsSeen, (std::map<std::string, int>{{"changed", kThreads * kRounds},
                                                   {"child", kThreads * kRounds},
                                                   {"defer", kThreads * kRounds},
                                                   {"observer", 1},
                                                   {"plain", kThreads * kRounds},
                                                   {"spawn", kThreads * kRounds}}));
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
