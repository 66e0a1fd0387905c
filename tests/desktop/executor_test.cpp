// The background executor: order, delayed tasks on the SDK clock, and the join.
#include "Executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "FakeClock.h"

namespace CorvaneSDK {
namespace {

// What the tasks did, in order, with a wait for a count.
struct Trace {
  std::mutex mutex;
  std::condition_variable cv;
  std::string text;
  void Add(char c) {
    std::lock_guard<std::mutex> lock(mutex);
    text += c;
    cv.notify_all();
  }
  std::string WaitFor(size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait_for(lock, std::chrono::seconds(20), [&] { return text.size() >= n; });
    return text;
  }
  std::string Now() {
    std::lock_guard<std::mutex> lock(mutex);
    return text;
  }
};

TEST(Executor, RunsPostedTasksInOrderOnOneThread) {
  Executor executor("test executor");
  Trace trace;
  std::atomic<int> off{0};
  for (char c : std::string("abcdef")) {
    ASSERT_TRUE(executor.Post([&, c] {
      if (!executor.OnWorkerThread()) ++off;
      trace.Add(c);
    }));
  }
  EXPECT_EQ(trace.WaitFor(6), "abcdef");
  EXPECT_EQ(off.load(), 0);
  EXPECT_FALSE(executor.OnWorkerThread());
}

TEST(Executor, DelayedTasksRunWhenTheClockReachesThemInDueOrder) {
  CorvaneSDK::Test::ScopedFakeClock clock(false);
  Executor executor("test executor");
  Trace trace;
  ASSERT_TRUE(executor.PostDelayed(5000, [&] { trace.Add('c'); }));
  ASSERT_TRUE(executor.PostDelayed(1000, [&] { trace.Add('b'); }));
  ASSERT_TRUE(executor.Post([&] { trace.Add('a'); }));
  EXPECT_EQ(trace.WaitFor(1), "a");
  clock->Advance(999);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(trace.Now(), "a");  // not due yet
  clock->Advance(1);
  EXPECT_EQ(trace.WaitFor(2), "ab");
  // A task posted now runs before the later delayed one.
  ASSERT_TRUE(executor.Post([&] { trace.Add('x'); }));
  EXPECT_EQ(trace.WaitFor(3), "abx");
  clock->Advance(4000);
  EXPECT_EQ(trace.WaitFor(4), "abxc");
}

TEST(Executor, JoinWaitsForTheRunningTaskAndDropsTheRest) {
  Executor executor("test executor");
  std::mutex gate;
  std::unique_lock<std::mutex> hold(gate);
  Trace trace;
  ASSERT_TRUE(executor.Post([&] {
    trace.Add('r');
    std::lock_guard<std::mutex> wait(gate);
    trace.Add('e');
  }));
  std::shared_ptr<int> captured = std::make_shared<int>(1);
  ASSERT_TRUE(executor.Post([&, captured] { trace.Add('d'); }));
  ASSERT_TRUE(executor.PostDelayed(10, [&, captured] { trace.Add('l'); }));
  EXPECT_EQ(trace.WaitFor(1), "r");
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    hold.unlock();
  });
  EXPECT_TRUE(executor.Join(20000));
  release.join();
  EXPECT_EQ(trace.Now(), "re");
  EXPECT_EQ(captured.use_count(), 1);  // the dropped tasks released what they held
  EXPECT_FALSE(executor.Post([&] { trace.Add('z'); }));
  EXPECT_TRUE(executor.Join(0));
}

TEST(Executor, JoinIsBoundedAndAJoinFromATaskOnlyStops) {
  auto executor = std::make_shared<Executor>("test executor");
  std::atomic<bool> release{false};
  Trace trace;
  ASSERT_TRUE(executor->Post([&] {
    trace.Add('s');
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }));
  EXPECT_EQ(trace.WaitFor(1), "s");
  EXPECT_FALSE(executor->Join(20));  // the task still runs: the wait gives up
  release = true;

  // The last owner dropped inside a task: the executor is destroyed on its own thread.
  auto self = std::make_shared<Executor>("test executor");
  std::atomic<bool> joined{true};
  ASSERT_TRUE(self->Post([&joined, keep = self]() mutable {
    joined = keep->Join(1000);
    keep.reset();
  }));
  self.reset();
  for (int i = 0; i < 20000 && joined.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(joined.load());
  EXPECT_TRUE(executor->Join(20000));
}

TEST(Executor, AnExceptionEndsOnlyItsTask) {
  Executor executor("test executor");
  Trace trace;
  ASSERT_TRUE(executor.Post([] { throw std::runtime_error("boom"); }));
  ASSERT_TRUE(executor.Post([&] { trace.Add('n'); }));
  EXPECT_EQ(trace.WaitFor(1), "n");
}

}  // namespace
}  // namespace CorvaneSDK
