// The delivery engine against servers on 127.0.0.1 built to misbehave: 5xx and 429 storms,
// silence, reset connections, slow answers, redirects and one poison event inside a batch.
// Every fault keeps the request rate at one attempt per flush tick and loses nothing but the
// poison event; once the fault clears each event arrives exactly once. Server time is real,
// the engine's timer runs on a hand-driven main queue.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

#include "EngineHarness.h"
#include "RawTcpServer.h"
#include "TempDir.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using CorvaneSDK::Test::RecordedRequest;
using CorvaneSDK::Test::ScriptedResponse;

// The eIds of an upload body (none when it does not parse).
std::vector<std::string> EventIds(const std::string& body) {
  std::vector<std::string> ids;
  Value parsed;
  if (!parseJson(body, parsed) || !parsed.is_object() || !parsed["subMessages"].is_array()) return ids;
  for (const auto& e : parsed["subMessages"]) ids.push_back(e.value("eId", std::string()));
  return ids;
}

// What the server accepted, by eId, and how many requests it saw. Thread-safe.
class Ledger {
 public:
  void request() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++requests_;
  }
  void accept(const std::string& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& id : EventIds(body)) ++accepted_[id];
  }
  size_t requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  std::map<std::string, int> accepted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
  }

 private:
  mutable std::mutex mutex_;
  size_t requests_ = 0;
  std::map<std::string, int> accepted_;
};

// A TCP server that resets every connection, holds every request unanswered, redirects it
// elsewhere, or answers 204 (recording the events). The mode is read per request.
class RawServer : public RawTcpServer {
 public:
  enum class Mode { kReset, kSilent, kRedirect, kHealthy };

  explicit RawServer(Ledger& ledger) : ledger_(ledger) {}
  ~RawServer() override { Stop(); }

  bool start() { return Start(); }
  void stop() { Stop(); }
  void setMode(Mode mode) { mode_ = mode; }
  void setRedirect(const std::string& location) { location_ = location; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(Port()) + "/v4/event"; }

 private:
  void Serve(int fd) override {
    std::string buffer, body;
    while (Running()) {
      if (mode_.load() == Mode::kReset) {
        ledger_.request();
        ResetOnClose(fd);
        break;
      }
      if (!ReadRequest(fd, buffer, body)) break;
      ledger_.request();
      if (mode_.load() == Mode::kSilent) {
        // Hold the connection until the client gives up on it.
        char c;
        while (Running()) {
          pollfd p{fd, POLLIN, 0};
          if (::poll(&p, 1, 20) > 0 && ::recv(fd, &c, 1, 0) <= 0) break;
        }
        break;
      }
      if (mode_.load() == Mode::kRedirect) {
        if (!SendAll(fd, "HTTP/1.1 307 Temporary Redirect\r\nLocation: " + location_ +
                             "\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n")) {
          break;
        }
        continue;
      }
      ledger_.accept(body);
      if (!SendAll(fd, "HTTP/1.1 204 No Content\r\nConnection: keep-alive\r\n\r\n")) break;
    }
  }

  Ledger& ledger_;
  std::atomic<Mode> mode_{Mode::kHealthy};
  std::string location_;  // set before start
};

class MobileEngineFaults : public Testing::EngineTest {
 protected:
  // A short request timeout, so that a silent server costs a fraction of a second.
  std::shared_ptr<CorvaneSDKManagerIntegration> faultEngine(uint64_t flushAt) {
    auto configuration = std::make_shared<CorvaneSDKConfiguration>("app-1", "secret");
    configuration->application = ports.application;
    configuration->flushAt = flushAt;
    storage = std::make_shared<CorvaneSDKFileStorage>(ports.root() + "/store", nullptr);
    auto defaults = std::make_shared<CorvaneSDKUserDefaultsStorage>(ports.defaults->standard(), std::nullopt, nullptr);
    auto client = std::make_shared<CorvaneSDKHTTPClient>([](const std::string& url) {
      auto request = std::make_shared<CorvaneSDKMutableRequest>();
      request->url = url;
      request->timeoutMs = 300;
      return request;
    });
    return CorvaneSDKManagerIntegration::create(manager, configuration, client, storage, defaults);
  }

  // Waits until every upload started so far has ended (its outcome posted).
  bool settled(CorvaneSDKManagerIntegration& engine) {
    return Testing::waitUntil([&] {
      engine.getQueueSize();
      const int started = postedCount(kCorvaneSDKDidSendRequestNotification);
      return started == postedCount(kCorvaneSDKRequestDidFailNotification) +
                            postedCount(kCorvaneSDKRequestDidSucceedNotification);
    });
  }

  std::vector<std::string> logEvents(CorvaneSDKManagerIntegration& engine, int n, const std::string& name = "e") {
    std::vector<std::string> ids;
    for (int i = 0; i < n; ++i) {
      auto event = op(name + std::to_string(i));
      ids.push_back(event->eId);
      engine.log(event);
    }
    return ids;
  }

  // While the fault lasts: reaching the flush length starts one attempt, then nothing until
  // the timer however much the host logs (`logMore`, called after each failed attempt); each
  // of `ticks` timer periods adds exactly one attempt.
  void expectOneAttemptPerTick(CorvaneSDKManagerIntegration& engine, const std::function<size_t()>& attempts,
                               int ticks, const std::function<void()>& logMore) {
    ASSERT_TRUE(Testing::waitUntil([&] { return attempts() >= 1; }));
    ASSERT_TRUE(settled(engine));
    logMore();
    ASSERT_TRUE(settled(engine));
    EXPECT_EQ(attempts(), 1u) << "logging during the fault must not add attempts";
    for (int i = 1; i <= ticks; ++i) {
      main().advance(30000);
      ASSERT_TRUE(Testing::waitUntil([&] { return attempts() >= static_cast<size_t>(1 + i); }));
      ASSERT_TRUE(settled(engine));
      logMore();
      ASSERT_TRUE(settled(engine));
      EXPECT_EQ(attempts(), static_cast<size_t>(1 + i)) << "tick " << i;
    }
  }

  // After the fault: the next tick delivers everything, each event once.
  void expectAllDeliveredOnce(CorvaneSDKManagerIntegration& engine, const Ledger& ledger,
                              const std::vector<std::string>& ids) {
    main().advance(30000);
    ASSERT_TRUE(Testing::waitUntil([&] { return manager->finished.load() == 1; }));
    const auto accepted = ledger.accepted();
    EXPECT_EQ(accepted.size(), ids.size());
    for (const auto& id : ids) {
      auto it = accepted.find(id);
      ASSERT_NE(it, accepted.end()) << "lost " << id;
      EXPECT_EQ(it->second, 1) << "duplicated " << id;
    }
    EXPECT_EQ(engine.getQueueSize(), 0u);
    auto stored = storage->arrayForKey(kCorvaneSDKQueueStorageKey);
    EXPECT_TRUE(!stored || stored->empty());
  }
};

TEST_F(MobileEngineFaults, ServerErrorAndThrottleStormsCostOneAttemptPerTick) {
  for (int code : {500, 503, 429}) {
    SCOPED_TRACE(code);
    Ledger ledger;
    std::atomic<bool> storm{true};
    server.SetHandler("/v4/event", [&](const RecordedRequest& r) {
      ledger.request();
      if (storm) return ScriptedResponse(code, "{}");
      ledger.accept(r.body);
      return ScriptedResponse(200);
    });
    manager->finished = 0;
    auto engine = faultEngine(20);
    engine->start();
    auto ids = logEvents(*engine, 100);
    auto more = [&] {
      // One at a time, each after the engine has taken the last: every one could trigger.
      for (int i = 0; i < 20; ++i) {
        auto next = logEvents(*engine, 1, "more");
        ids.push_back(next[0]);
        engine->getQueueSize();
      }
    };
    expectOneAttemptPerTick(*engine, [&] { return ledger.requests(); }, 5, more);
    EXPECT_EQ(engine->getQueueSize(), 220u);
    const size_t before = ledger.requests();
    storm = false;
    expectAllDeliveredOnce(*engine, ledger, ids);
    EXPECT_EQ(ledger.requests() - before, 5u);  // 50 at a time, back to back
    engine->pause();
    server.ClearRequests();
  }
}

TEST_F(MobileEngineFaults, SilentAndResettingServersCostOneAttemptPerTick) {
  for (auto mode : {RawServer::Mode::kSilent, RawServer::Mode::kReset}) {
    SCOPED_TRACE(mode == RawServer::Mode::kSilent ? "silent" : "reset");
    Ledger ledger;
    RawServer raw(ledger);
    ASSERT_TRUE(raw.start());
    raw.setMode(mode);
    manager->url = raw.url();
    manager->finished = 0;
    auto engine = faultEngine(20);
    engine->start();
    auto ids = logEvents(*engine, 40);
    auto more = [&] {
      for (int i = 0; i < 10; ++i) {
        ids.push_back(logEvents(*engine, 1, "more")[0]);
        engine->getQueueSize();
      }
    };
    expectOneAttemptPerTick(*engine, [&] { return ledger.requests(); }, 3, more);
    EXPECT_TRUE(ledger.accepted().empty());
    raw.setMode(RawServer::Mode::kHealthy);
    expectAllDeliveredOnce(*engine, ledger, ids);
    engine->pause();
  }
}

TEST_F(MobileEngineFaults, RedirectIsNotFollowedAndKeepsTheEvents) {
  Ledger ledger;
  Ledger elsewhere;
  server.SetHandler("/elsewhere", [&](const RecordedRequest& r) {
    elsewhere.request();
    elsewhere.accept(r.body);
    return ScriptedResponse(200);
  });
  RawServer raw(ledger);
  raw.setRedirect(server.Url("/elsewhere"));
  ASSERT_TRUE(raw.start());
  raw.setMode(RawServer::Mode::kRedirect);
  manager->url = raw.url();
  auto engine = faultEngine(20);
  engine->start();
  auto ids = logEvents(*engine, 45);
  auto more = [&] {
    for (int i = 0; i < 5; ++i) {
      ids.push_back(logEvents(*engine, 1, "more")[0]);
      engine->getQueueSize();
    }
  };
  expectOneAttemptPerTick(*engine, [&] { return ledger.requests(); }, 2, more);
  EXPECT_EQ(elsewhere.requests(), 0u);
  EXPECT_TRUE(ports.log->contains("Server responded with unexpected HTTP code 307."));
  raw.setMode(RawServer::Mode::kHealthy);
  expectAllDeliveredOnce(*engine, ledger, ids);
  EXPECT_EQ(elsewhere.requests(), 0u);
}

TEST_F(MobileEngineFaults, SlowAnswersKeepOneUploadInFlightAndDeliverOnce) {
  Ledger ledger;
  std::atomic<int> inFlight{0};
  std::atomic<int> mostInFlight{0};
  server.SetHandler("/v4/event", [&](const RecordedRequest& r) {
    const int now = ++inFlight;
    int seen = mostInFlight.load();
    while (now > seen && !mostInFlight.compare_exchange_weak(seen, now)) {
    }
    ledger.request();
    std::this_thread::sleep_for(std::chrono::milliseconds(120));  // slower than the logging, within the timeout
    ledger.accept(r.body);
    --inFlight;
    return ScriptedResponse(200);
  });
  auto engine = faultEngine(10);
  engine->start();
  std::vector<std::string> ids;
  for (int round = 0; round < 6; ++round) {
    auto more = logEvents(*engine, 40, "r" + std::to_string(round) + "-");
    ids.insert(ids.end(), more.begin(), more.end());
  }
  ASSERT_TRUE(Testing::waitUntil([&] { return engine->getQueueSize() == 0 && manager->finished.load() >= 1; }));
  EXPECT_EQ(mostInFlight.load(), 1);
  const auto accepted = ledger.accepted();
  EXPECT_EQ(accepted.size(), ids.size());
  for (const auto& id : ids) EXPECT_EQ(accepted.count(id) ? accepted.at(id) : 0, 1) << id;
  for (size_t size : batchSizes()) EXPECT_LE(size, kCorvaneSDKMaxBatchSize);
}

TEST_F(MobileEngineFaults, PoisonEventAmidServerErrorsIsTheOnlyLoss) {
  Ledger ledger;
  std::atomic<int> seen{0};
  server.SetHandler("/v4/event", [&](const RecordedRequest& r) {
    ledger.request();
    if (++seen % 3 == 0) return ScriptedResponse(503);
    if (r.body.find("\"poison\"") != std::string::npos) return ScriptedResponse(400, "{}");
    ledger.accept(r.body);
    return ScriptedResponse(200);
  });
  auto engine = faultEngine(1000);
  std::vector<std::string> good;
  std::string poison;
  for (int i = 0; i < 120; ++i) {
    auto event = op(i == 37 ? "poison" : "good");
    if (i == 37) {
      poison = event->eId;
    } else {
      good.push_back(event->eId);
    }
    engine->log(event);
  }
  engine->start();
  engine->flush();
  // Each 503 waits for the next tick; the isolation itself runs back to back.
  int ticks = 0;
  while (manager->finished.load() == 0 && ticks < 40) {
    ASSERT_TRUE(settled(*engine));
    if (manager->finished.load() != 0) break;
    main().advance(30000);
    ++ticks;
  }
  ASSERT_EQ(manager->finished.load(), 1) << "queue left: " << engine->getQueueSize();
  const auto accepted = ledger.accepted();
  EXPECT_EQ(accepted.count(poison), 0u);
  EXPECT_EQ(accepted.size(), good.size());
  for (const auto& id : good) EXPECT_EQ(accepted.count(id) ? accepted.at(id) : 0, 1) << id;
  // Isolating one event among 120 takes a handful of halvings, not one request per event.
  EXPECT_LE(ledger.requests(), 40u);
  EXPECT_TRUE(ports.log->contains("Dropping event \"" + poison + "\""));
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
