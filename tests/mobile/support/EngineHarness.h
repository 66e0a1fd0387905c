// What the delivery engine's tests share: a manager double, an engine over real files and a
// real local server, and readers of what the server received.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKHTTPClient.h"
#include "CorvaneSDKIntegrationHost.h"
#include "CorvaneSDKManagerIntegration.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "MobileTestSupport.h"
#include "TestHttpServer.h"

namespace CorvaneSDK {
namespace Mobile {
namespace Testing {

class FakeManager : public CorvaneSDKIntegrationHost {
 public:
  bool checkReady() override { return ready.load(); }
  void onSendEvent(const Value& event) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sent_.push_back(event);
    }
    if (onSend) onSend(event);
  }
  void onFinishFlush() override {
    ++finished;
    if (onFinish) onFinish();
  }
  std::string getUserId() override { return "user-1"; }
  std::string getSessionId() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessionId;
  }
  std::string getHost() override { return url; }
  std::string getCredential() override { return "YXBwOnNlY3JldA=="; }

  std::vector<Value> sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }
  void setSessionId(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessionId = id;
  }

  std::atomic<bool> ready{true};
  std::atomic<int> finished{0};
  std::string url;
  std::function<void(const Value&)> onSend;
  std::function<void()> onFinish;

 private:
  std::mutex mutex_;
  std::vector<Value> sent_;
  std::string sessionId = "session-1";
};

struct Posted {
  std::string name;
  Value object;
  Value userInfo;
  std::thread::id thread;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start());
    manager->url = server.Url("/v4/event");
    ports.notifications->addObserver("", [this](const Notification& n) {
      std::lock_guard<std::mutex> lock(postedMutex_);
      posted_.push_back({n.name, n.object, n.userInfo, std::this_thread::get_id()});
    });
  }

  std::shared_ptr<CorvaneSDKManagerIntegration> makeEngine(
      const std::function<void(CorvaneSDKConfiguration&)>& tweak = nullptr,
      std::shared_ptr<CorvaneSDKCrypto> crypto = nullptr) {
    auto configuration = std::make_shared<CorvaneSDKConfiguration>("app-1", "secret");
    configuration->application = ports.application;
    if (tweak) tweak(*configuration);
    storage = std::make_shared<CorvaneSDKFileStorage>(ports.root() + "/store", crypto);
    auto defaults = std::make_shared<CorvaneSDKUserDefaultsStorage>(ports.defaults->standard(), std::nullopt, nullptr);
    return CorvaneSDKManagerIntegration::create(manager, configuration, std::make_shared<CorvaneSDKHTTPClient>(),
                                                storage, defaults);
  }

  static std::shared_ptr<CorvaneSDKLogOperation> op(const std::string& name, std::optional<Value> value = std::nullopt) {
    return std::make_shared<CorvaneSDKLogOperation>(name, std::move(value), "session-1", "cfg-1", std::nullopt);
  }

  ManualQueue& main() { return static_cast<ManualDispatch&>(*ports.dispatch).main(); }

  // Notifications posted so far (runs the main queue first).
  std::vector<Posted> posted() {
    main().runPending();
    std::lock_guard<std::mutex> lock(postedMutex_);
    return posted_;
  }
  int postedCount(const std::string& name) {
    int n = 0;
    for (const auto& p : posted()) n += p.name == name ? 1 : 0;
    return n;
  }

  // The events of every upload, in arrival order.
  std::vector<Value> uploads() {
    std::vector<Value> bodies;
    for (const auto& r : server.Requests("/v4/event")) {
      Value body;
      EXPECT_TRUE(parseJson(r.body, body)) << r.body.substr(0, 200);
      bodies.push_back(body);
    }
    return bodies;
  }
  std::vector<size_t> batchSizes() {
    std::vector<size_t> sizes;
    for (const auto& b : uploads()) sizes.push_back(b["subMessages"].size());
    return sizes;
  }
  // eIds of the events in uploads that the server answered with a code below 300.
  std::multiset<std::string> delivered(const std::function<bool(const std::string& body)>& accepted) {
    std::multiset<std::string> ids;
    for (const auto& r : server.Requests("/v4/event")) {
      if (!accepted(r.body)) continue;
      Value body;
      parseJson(r.body, body);
      for (const auto& e : body["subMessages"]) ids.insert(e["eId"].get<std::string>());
    }
    return ids;
  }

  Testing::TestPorts ports;
  CorvaneSDK::Test::TestHttpServer server;
  std::shared_ptr<FakeManager> manager = std::make_shared<FakeManager>();
  std::shared_ptr<CorvaneSDKFileStorage> storage;

 private:
  std::mutex postedMutex_;
  std::vector<Posted> posted_;
};

}  // namespace Testing
}  // namespace Mobile
}  // namespace CorvaneSDK
