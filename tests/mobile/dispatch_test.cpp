// Serial queues, the queue-specific rule, delayed work and main-queue timers, on real threads
// (SerialQueue, ThreadMainQueue) and by hand (ManualQueue).
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "Dispatch.h"
#include "MobileTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using Testing::waitUntil;

TEST(MobileSerialQueue, RunsTasksOneAtATimeInOrderFromManyThreads) {
  SerialQueue queue("com.corvane.test");
  std::mutex mutex;
  std::vector<std::pair<int, int>> seen;  // (thread, sequence)
  std::atomic<int> running{0}, overlap{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        queue.async([&, t, i] {
          if (++running > 1) ++overlap;
          {
            std::lock_guard<std::mutex> lock(mutex);
            seen.emplace_back(t, i);
          }
          --running;
        });
      }
    });
  }
  for (auto& th : threads) th.join();
  queue.sync([] {});
  EXPECT_EQ(overlap.load(), 0);
  ASSERT_EQ(seen.size(), 800u);
  std::vector<int> last(4, -1);
  for (auto [t, i] : seen) {
    EXPECT_EQ(i, last[t] + 1) << "thread " << t << " out of order";
    last[t] = i;
  }
}

TEST(MobileSerialQueue, WorkSentFromInsideRunsInlineAndNestsWithoutDeadlock) {
  SerialQueue queue("com.corvane.sdk.manager");
  std::vector<int> order;
  queue.sync([&] {
    EXPECT_TRUE(queue.isCurrent());
    order.push_back(1);
    // queueEvent -> flushQueueByLength -> flush: nested dispatches run at once.
    dispatchOn(queue, [&] {
      order.push_back(2);
      dispatchOn(queue, [&] { order.push_back(3); }, true);
    }, false);
    order.push_back(4);
    queue.sync([&] { order.push_back(5); });  // a plain sync from inside would wait for itself
  });
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_FALSE(queue.isCurrent());
}

TEST(MobileSerialQueue, MarkerBelongsToTheInnermostQueue) {
  SerialQueue a("a"), b("b");
  bool aInB = true, bInB = false, aInA = false;
  a.sync([&] {
    aInA = a.isCurrent();
    b.sync([&] {
      aInB = a.isCurrent();
      bInB = b.isCurrent();
    });
  });
  EXPECT_TRUE(aInA);
  EXPECT_FALSE(aInB);
  EXPECT_TRUE(bInB);
}

TEST(MobileSerialQueue, AsyncFromOutsideReturnsBeforeTheTaskRuns) {
  SerialQueue queue("q");
  std::promise<void> gate;
  auto gateFuture = gate.get_future().share();
  std::atomic<bool> ran{false};
  queue.async([gateFuture] { gateFuture.wait(); });
  dispatchOn(queue, [&] { ran = true; }, false);
  EXPECT_FALSE(ran.load());
  gate.set_value();
  EXPECT_TRUE(waitUntil([&] { return ran.load(); }));
}

TEST(MobileSerialQueue, AThrowingTaskDoesNotStopTheQueue) {
  SerialQueue queue("q");
  queue.async([] { throw std::runtime_error("host bug"); });
  std::atomic<bool> ran{false};
  queue.sync([&] { ran = true; });
  EXPECT_TRUE(ran.load());
}

TEST(MobileSerialQueue, AfterWaitsForTheManualClock) {
  auto clock = std::make_shared<ManualClock>();
  SerialQueue queue("q", clock);
  std::atomic<int> ran{0};
  queue.after(5000, [&] { ++ran; });
  queue.sync([] {});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ran.load(), 0) << "ran before its time";
  clock->advance(4999);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ran.load(), 0);
  clock->advance(1);
  EXPECT_TRUE(waitUntil([&] { return ran.load() == 1; }));
}

TEST(MobileSerialQueue, AfterOnTheRealClockRunsInDeadlineOrder) {
  SerialQueue queue("q");
  std::mutex mutex;
  std::vector<int> order;
  queue.after(30, [&] {
    std::lock_guard<std::mutex> l(mutex);
    order.push_back(2);
  });
  queue.after(1, [&] {
    std::lock_guard<std::mutex> l(mutex);
    order.push_back(1);
  });
  ASSERT_TRUE(waitUntil([&] {
    std::lock_guard<std::mutex> l(mutex);
    return order.size() == 2;
  }));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(MobileSerialQueue, DestructionRunsQueuedWorkAndDropsDelayedWork) {
  std::atomic<int> ran{0}, delayed{0};
  {
    SerialQueue queue("q");
    for (int i = 0; i < 100; ++i) queue.async([&] { ++ran; });
    queue.after(60000, [&] { ++delayed; });
  }
  EXPECT_EQ(ran.load(), 100);
  EXPECT_EQ(delayed.load(), 0);
}

TEST(MobileSerialQueue, AQueueReleasedByItsOwnTaskDoesNotDeadlock) {
  auto queue = std::make_shared<SerialQueue>("q");
  std::atomic<bool> done{false};
  auto* raw = queue.get();
  raw->async([q = std::move(queue), &done]() mutable {
    q.reset();  // last reference, released on the queue's own thread
    done = true;
  });
  EXPECT_TRUE(waitUntil([&] { return done.load(); }));
}

TEST(MobileMainQueue, ThreadMainQueueRepeatsTimersUntilInvalidated) {
  auto clock = std::make_shared<ManualClock>();
  ThreadMainQueue main(clock);
  std::atomic<int> fired{0};
  auto timer = main.scheduleRepeating(30000, [&] {
    EXPECT_TRUE(main.isCurrent());
    ++fired;
  });
  EXPECT_EQ(main.timersCreated(), 1);
  for (int i = 1; i <= 3; ++i) {
    clock->advance(30000);
    ASSERT_TRUE(waitUntil([&] { return fired.load() == i; })) << "tick " << i;
  }
  timer->invalidate();
  clock->advance(30000);
  main.sync([] {});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  main.sync([] {});
  EXPECT_EQ(fired.load(), 3);
}

TEST(MobileMainQueue, ManualQueueRunsOnlyWhenDriven) {
  auto clock = std::make_shared<ManualClock>();
  ManualQueue main("main", clock);
  std::vector<std::string> order;
  main.async([&] { order.push_back("a"); });
  main.after(1000, [&] { order.push_back("late"); });
  main.async([&] {
    order.push_back("b");
    main.async([&] { order.push_back("c"); });  // queued meanwhile: same run
  });
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(main.pendingCount(), 2u);
  EXPECT_EQ(main.runPending(), 3);
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(main.advance(999), 0);
  EXPECT_EQ(main.advance(1), 1);
  EXPECT_EQ(order.back(), "late");
}

TEST(MobileMainQueue, ManualTimersFireAtEachIntervalWithTheClockAtTheirTime) {
  auto clock = std::make_shared<ManualClock>();
  ManualQueue main("main", clock);
  std::vector<int64_t> at;
  const int64_t start = clock->monotonicMs();
  auto timer = main.scheduleRepeating(30000, [&] { at.push_back(clock->monotonicMs() - start); });
  main.advance(95000);
  EXPECT_EQ(at, (std::vector<int64_t>{30000, 60000, 90000}));
  EXPECT_EQ(clock->monotonicMs() - start, 95000);
  timer->invalidate();
  main.advance(60000);
  EXPECT_EQ(at.size(), 3u);
  EXPECT_EQ(main.delayedCount(), 0u);
}

TEST(MobileMainQueue, ManualSyncFromAnotherThreadWaitsForTheDriver) {
  auto clock = std::make_shared<ManualClock>();
  ManualQueue main("main", clock);
  std::atomic<bool> blockerStarted{false}, release{false}, ran{false};
  main.async([&] {
    blockerStarted = true;
    while (!release) std::this_thread::yield();
  });
  std::thread driver([&] { main.runPending(); });
  ASSERT_TRUE(waitUntil([&] { return blockerStarted.load(); }));
  std::thread caller([&] { main.sync([&] { ran = true; }); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(ran.load());
  release = true;
  caller.join();
  driver.join();
  EXPECT_TRUE(ran.load());
}

TEST(MobileMainQueue, ManualSyncWithNoDriverRunsOnTheCaller) {
  auto clock = std::make_shared<ManualClock>();
  ManualQueue main("main", clock);
  std::vector<int> order;
  main.async([&] { order.push_back(1); });
  main.sync([&] {
    EXPECT_TRUE(main.isCurrent());
    order.push_back(2);
  });
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(MobileDispatchFactory, ManualDispatchHandsOutHandRunSerialQueuesByLabel) {
  auto clock = std::make_shared<ManualClock>();
  ManualDispatch dispatch(clock, true);
  auto queue = dispatch.makeSerialQueue("com.corvane.sdk");
  int ran = 0;
  queue->async([&] { ++ran; });
  auto manual = dispatch.serialQueue("com.corvane.sdk");
  ASSERT_NE(manual, nullptr);
  EXPECT_EQ(ran, 0);
  manual->runPending();
  EXPECT_EQ(ran, 1);
  ThreadDispatch threads;
  EXPECT_EQ(threads.mainQueue(), threads.mainQueue());
  std::atomic<bool> onThread{false};
  threads.makeSerialQueue("x")->sync([&] { onThread = true; });
  EXPECT_TRUE(onThread.load());
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
