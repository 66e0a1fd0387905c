// The middleware chain: order, change, drop, deferred and repeated next, throwing middlewares,
// modify's copy rule and re-entrant runs from inside a middleware.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "CorvaneSDKMiddleware.h"
#include "MobileTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

// Records the operation types that reach the end of the chain.
class Recorder : public CorvaneSDKMiddleware {
 public:
  void context(std::shared_ptr<CorvaneSDKContext> ctx, CorvaneSDKMiddlewareNext next) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      types.push_back(ctx->operationType);
    }
    next(ctx);
  }
  std::vector<int64_t> seen() {
    std::lock_guard<std::mutex> lock(mutex);
    return types;
  }
  std::mutex mutex;
  std::vector<int64_t> types;
};

std::shared_ptr<CorvaneSDKContext> contextOf(int64_t type) {
  return CorvaneSDKContext::create(nullptr)->modify([type](CorvaneSDKContext& c) { c.operationType = type; });
}

class MobileMiddleware : public ::testing::Test {
 protected:
  Testing::TestPorts ports_;
  std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
};

TEST_F(MobileMiddleware, ModifyChangesInPlaceUnlessDebugThenACopy) {
  auto ctx = CorvaneSDKContext::create(nullptr);
  auto same = ctx->modify([](CorvaneSDKContext& c) { c.operationType = 3; });
  EXPECT_EQ(same, ctx);
  EXPECT_EQ(ctx->operationType, 3);

  ctx->debug = true;
  auto copy = ctx->modify([](CorvaneSDKContext& c) { c.operationType = 4; c.error = "e"; });
  EXPECT_NE(copy, ctx);
  EXPECT_EQ(ctx->operationType, 3);
  EXPECT_FALSE(ctx->error);
  EXPECT_EQ(copy->operationType, 4);
  EXPECT_TRUE(copy->debug);

  // A context on the stack cannot be shared: it is copied.
  CorvaneSDKContext local;
  auto fromLocal = local.modify([](CorvaneSDKContext& c) { c.operationType = 5; });
  EXPECT_EQ(local.operationType, 0);
  EXPECT_EQ(fromLocal->operationType, 5);

  auto thrown = ctx->modify([](CorvaneSDKContext& c) {
    c.operationType = 6;
    throw std::runtime_error("host");
  });
  EXPECT_EQ(thrown->operationType, 6);
  EXPECT_TRUE(ports_.log->contains("modification threw"));
}

TEST_F(MobileMiddleware, ChainRunsInOrderAndMayChangeOrDropOperations) {
  std::vector<std::string> order;
  auto first = std::make_shared<CorvaneSDKBlockMiddleware>([&](auto ctx, auto next) {
    order.push_back("first");
    next(ctx->modify([](CorvaneSDKContext& c) { c.operationType += 10; }));
  });
  auto dropOdd = std::make_shared<CorvaneSDKBlockMiddleware>([&](auto ctx, auto next) {
    order.push_back("second");
    if (ctx->operationType % 2 == 1) next(nullptr);
    else next(ctx);
  });
  CorvaneSDKMiddlewareRunner runner({first, nullptr, dropOdd, recorder_});
  EXPECT_EQ(runner.middlewares().size(), 3u);

  std::vector<std::pair<bool, size_t>> ends;
  auto callback = [&](bool dropped, const CorvaneSDKMiddlewareList& rest) { ends.emplace_back(dropped, rest.size()); };
  runner.run(contextOf(2), callback);
  runner.run(contextOf(3), callback);
  runner.run(nullptr, callback);
  EXPECT_EQ(recorder_->seen(), (std::vector<int64_t>{12}));
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "first", "second"}));
  // Reached the end; dropped before the recorder; null from the start.
  EXPECT_EQ(ends, (std::vector<std::pair<bool, size_t>>{{false, 0}, {true, 1}, {true, 3}}));

  // Never calling next drops the operation too, and an empty block passes it on.
  CorvaneSDKMiddlewareRunner silent({std::make_shared<CorvaneSDKBlockMiddleware>([](auto, auto) {}), recorder_});
  silent.run(contextOf(7));
  CorvaneSDKMiddlewareRunner empty({std::make_shared<CorvaneSDKBlockMiddleware>(nullptr), recorder_});
  empty.run(contextOf(8));
  EXPECT_EQ(recorder_->seen(), (std::vector<int64_t>{12, 8}));
}

TEST_F(MobileMiddleware, DeferredNextRunsTheRestOnceFromAnotherThread) {
  std::vector<std::thread> threads;
  CorvaneSDKMiddlewareNext saved;
  std::shared_ptr<CorvaneSDKContext> savedContext;
  auto defer = std::make_shared<CorvaneSDKBlockMiddleware>([&](auto ctx, auto next) {
    saved = next;
    savedContext = ctx;
  });
  bool ended = false;
  CorvaneSDKMiddlewareRunner runner({defer, recorder_});
  runner.run(contextOf(5), [&](bool dropped, const CorvaneSDKMiddlewareList&) { ended = !dropped; });
  EXPECT_TRUE(recorder_->seen().empty());
  ASSERT_TRUE(saved);
  // Two threads race to call the same next: the operation goes on exactly once.
  for (int i = 0; i < 2; ++i) threads.emplace_back([&] { saved(savedContext); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(recorder_->seen(), (std::vector<int64_t>{5}));
  EXPECT_TRUE(ended);
  EXPECT_TRUE(ports_.log->contains("called next more than once"));
}

TEST_F(MobileMiddleware, ThrowingMiddlewareIsContainedAndLaterOperationsStillRun) {
  auto thrower = std::make_shared<CorvaneSDKBlockMiddleware>([](auto ctx, auto next) {
    if (ctx->operationType == 1) throw std::runtime_error("host bug");
    next(ctx);
  });
  CorvaneSDKMiddlewareRunner runner({thrower, recorder_});
  runner.run(contextOf(1));
  runner.run(contextOf(2));
  EXPECT_EQ(recorder_->seen(), (std::vector<int64_t>{2}));
  EXPECT_TRUE(ports_.log->contains("A middleware threw"));
}

TEST_F(MobileMiddleware, MiddlewareMayRunOperationsThroughTheSameRunner) {
  std::shared_ptr<CorvaneSDKMiddlewareRunner> runner;
  auto reentrant = std::make_shared<CorvaneSDKBlockMiddleware>([&](auto ctx, auto next) {
    // Before and after handing on its own operation, it runs one of its own.
    if (ctx->operationType == 1) runner->run(contextOf(100));
    next(ctx);
    if (ctx->operationType == 1) runner->run(contextOf(101));
  });
  runner = std::make_shared<CorvaneSDKMiddlewareRunner>(CorvaneSDKMiddlewareList{reentrant, recorder_});
  runner->run(contextOf(1));
  EXPECT_EQ(recorder_->seen(), (std::vector<int64_t>{100, 1, 101}));
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
