// A harness for the operation queue tests: a small manager (CorvaneSDKIntegrationHost) with
// hooks, the queue with its real engine, a runner that ends in the queue, and helpers that run
// the hand-run queues and read which engine operations were called (from the queue's
// "Running: …" debug lines).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKHTTPClient.h"
#include "CorvaneSDKMiddleware.h"
#include "CorvaneSDKOperationQueue.h"
#include "MobileTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace Testing {

class TestIntegrationHost : public CorvaneSDKIntegrationHost {
 public:
  bool checkReady() override {
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hook = onCheckReady;
    }
    if (hook) hook();
    return ready.load();
  }
  void onSendEvent(const Value&) override { ++sent; }
  void onFinishFlush() override { ++finished; }
  std::string getUserId() override { return "user"; }
  std::string getSessionId() override { return "session"; }
  // Nothing listens there: an upload that does happen fails fast.
  std::string getHost() override { return "http://127.0.0.1:9/v4/event"; }
  std::string getCredential() override { return "YXBwOnNlY3JldA=="; }
  void setOnCheckReady(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    onCheckReady = std::move(hook);
  }

  std::atomic<bool> ready{false};
  std::atomic<int> sent{0};
  std::atomic<int> finished{0};

 private:
  std::mutex mutex_;
  std::function<void()> onCheckReady;
};

inline std::shared_ptr<CorvaneSDKLogOperation> makeLogOperation(const std::string& name) {
  return std::make_shared<CorvaneSDKLogOperation>(name, Value{{"n", name}}, "session", "default", std::nullopt);
}

inline std::shared_ptr<CorvaneSDKContext> makeContext(int64_t type, std::shared_ptr<CorvaneSDKOperation> operation) {
  return CorvaneSDKContext::create(nullptr)->modify([&](CorvaneSDKContext& c) {
    c.operationType = type;
    c.operation = std::move(operation);
  });
}

// Runs hand-run queues until none has work left (bounded: a loop of work is a test failure).
inline void drainQueues(const std::shared_ptr<ManualDispatch>& dispatch) {
  if (!dispatch) return;
  for (int round = 0; round < 1000; ++round) {
    int ran = dispatch->main().runPending();
    for (const char* label : {"com.corvane.sdk", "com.corvane.sdk.manager", "com.corvane.sdk.backgroundTask"}) {
      if (auto q = dispatch->serialQueue(label)) ran += q->runPending();
    }
    if (ran == 0) return;
  }
}

inline void drainOperationQueue(CorvaneSDKOperationQueue&, const std::shared_ptr<ManualDispatch>& dispatch) {
  drainQueues(dispatch);
}

class OperationQueueHarness {
 public:
  // With `manualSerialQueues` every queue is run by the test; otherwise the ports' dispatch
  // (threads, with TestPortsOptions::threadDispatch) is used as it is.
  OperationQueueHarness(TestPorts& ports, bool manualSerialQueues) : ports_(ports) {
    if (manualSerialQueues) {
      auto set = std::make_shared<Ports>(*Platform::current());
      dispatch = std::make_shared<ManualDispatch>(ports.clock, true);
      set->dispatch = dispatch;
      Platform::install(set);
    }
    host = std::make_shared<TestIntegrationHost>();
    auto config = std::make_shared<CorvaneSDKConfiguration>("app", "secret");
    config->debug = true;
    configuration = config;
    client = makeClient();
    queue = CorvaneSDKOperationQueue::create(host, configuration, client);
    runner = queue->makeRunner({});
  }

  static std::shared_ptr<CorvaneSDKHTTPClient> makeClient() { return std::make_shared<CorvaneSDKHTTPClient>(); }

  void log(const std::string& name) {
    run(kCorvaneSDKOperationTypeLog, std::make_shared<CorvaneSDKLogEventOperation>(makeLogOperation(name)));
  }
  void run(int64_t type, std::shared_ptr<CorvaneSDKOperation> operation = nullptr,
           CorvaneSDKMiddlewareCallback callback = nullptr) {
    runner->run(makeContext(type, std::move(operation)), std::move(callback));
  }
  std::shared_ptr<ManualQueue> serial() { return dispatch->serialQueue("com.corvane.sdk"); }
  void runSerial() { serial()->runPending(); }
  void runEngine() {
    if (auto q = dispatch->serialQueue("com.corvane.sdk.manager")) q->runPending();
  }
  void drain() { drainQueues(dispatch); }

  // The engine operations called so far, in order; a log as "log: <event name>".
  std::vector<std::string> forwarded() const {
    std::vector<std::string> out;
    for (const auto& line : ports_.log->lines()) {
      const std::string head = "Running: ";
      const auto at = line.find(head);
      const auto with = line.find(" with arguments ");
      if (at != 0 || with == std::string::npos) continue;
      std::string name = line.substr(head.size(), with - head.size());
      if (name == "log:") {
        const std::string tag = "<CorvaneSDKLogOperation: ";
        const auto t = line.find(tag, with);
        if (t != std::string::npos) name += " " + line.substr(t + tag.size(), line.find('>', t) - t - tag.size());
      }
      out.push_back(name);
    }
    return out;
  }

  TestPorts& ports_;
  std::shared_ptr<ManualDispatch> dispatch;
  std::shared_ptr<TestIntegrationHost> host;
  std::shared_ptr<const CorvaneSDKConfiguration> configuration;
  std::shared_ptr<CorvaneSDKHTTPClient> client;
  std::shared_ptr<CorvaneSDKOperationQueue> queue;
  std::shared_ptr<CorvaneSDKMiddlewareRunner> runner;
};

}  // namespace Testing
}  // namespace Mobile
}  // namespace CorvaneSDK
