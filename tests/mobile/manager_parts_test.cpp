// The manager's own parts on the manual clock and main queue: session and open event, the
// initialisation actions, and the SDK config / remote config / rates against a real local
// HTTP server, with real user-defaults storage.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <openssl/hmac.h>

#include "CorvaneSDKDeepLinks.h"
#include "CorvaneSDKDelegates.h"
#include "CorvaneSDKInitializationSequence.h"
#include "CorvaneSDKServerConfig.h"
#include "CorvaneSDKSession.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "MobileTestSupport.h"
#include "TestHttpServer.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using Testing::TestPorts;
using Test::ScriptedResponse;
using Test::TestHttpServer;

struct Op {
  std::string name;
};
using Session = CorvaneSDKSessionT<Op>;
std::shared_ptr<Op> op(const std::string& name) { return std::make_shared<Op>(Op{name}); }

ManualQueue& mainOf(TestPorts& ports) { return static_cast<ManualDispatch&>(*ports.dispatch).main(); }

TEST(MobileManagerSession, KeptWithin30000MsOfThePauseAndRenewedAfter) {
  TestPorts ports;
  Session session(ports.clock);
  auto first = session.generateSessionId("s1");
  EXPECT_TRUE(first.isNew);
  EXPECT_TRUE(first.firstInProcess);
  session.pause();
  ports.clock->advance(30000);
  EXPECT_FALSE(session.generateSessionId("s2").isNew);
  EXPECT_EQ(session.sessionId(), "s1");
  session.pause();
  ports.clock->advance(30001);
  auto third = session.generateSessionId("s3");
  EXPECT_TRUE(third.isNew);
  EXPECT_FALSE(third.firstInProcess);
  EXPECT_EQ(session.sessionId(), "s3");
  // After stop the next start is a new session, however soon.
  session.clearPause();
  EXPECT_TRUE(session.generateSessionId("s4").isNew);
}

TEST(MobileManagerSession, WallClockChangesNeitherSplitSessionsNorStallTheOpenHold) {
  TestPorts ports;
  Session session(ports.clock);
  session.generateSessionId("s1");
  session.beginOpen(op("qvsdk_open"));
  session.pause();
  // The user moves the wall clock a day forward: the session and the hold go by elapsed time.
  ports.clock->setWallMs(ports.clock->wallMs() + 86400000LL);
  ports.clock->advance(1000);
  EXPECT_FALSE(session.generateSessionId("s2").isNew);
  Session::Release out;
  EXPECT_FALSE(session.checkHold(out));
  // ... and a day back: the hold still ends 5000 ms after it began.
  ports.clock->setWallMs(ports.clock->wallMs() - 2 * 86400000LL);
  ports.clock->advance(4000);
  ASSERT_TRUE(session.checkHold(out));
  ASSERT_TRUE(out.open);
  EXPECT_EQ(out.open->name, "qvsdk_open");
}

TEST(MobileManagerSession, OpenHoldKeeps100EventsFor5000Ms) {
  TestPorts ports;
  Session session(ports.clock);
  EXPECT_TRUE(session.beginOpen(op("qvsdk_first_open")).empty());
  for (int i = 0; i < 100; ++i) EXPECT_TRUE(session.hold(op("e" + std::to_string(i)), true));
  EXPECT_FALSE(session.hold(op("e100"), true));  // the 101st goes on its own
  Session::Release out;
  ports.clock->advance(4999);
  EXPECT_FALSE(session.checkHold(out));
  ports.clock->advance(1);
  ASSERT_TRUE(session.checkHold(out));
  ASSERT_TRUE(out.open);
  ASSERT_EQ(out.held.size(), 100u);
  EXPECT_EQ(out.held.front()->name, "e0");
  EXPECT_EQ(out.held.back()->name, "e99");
  // Hold over: started events are no longer held, and nothing is left to send.
  EXPECT_FALSE(session.hold(op("late"), true));
  EXPECT_TRUE(session.checkHold(out));
  EXPECT_TRUE(out.empty());
  // Before start, events are held even without an open event.
  EXPECT_TRUE(session.hold(op("early"), false));
}

TEST(MobileManagerSession, PendingOpenEventAtANewSessionComesBackWithItsHeldEvents) {
  TestPorts ports;
  Session session(ports.clock);
  session.beginOpen(op("qvsdk_first_open"));
  session.hold(op("a"), true);
  session.hold(op("b"), true);
  auto previous = session.beginOpen(op("qvsdk_open"));
  ASSERT_TRUE(previous.open);
  EXPECT_EQ(previous.open->name, "qvsdk_first_open");
  ASSERT_EQ(previous.held.size(), 2u);
  EXPECT_EQ(previous.held[1]->name, "b");
  auto rest = session.release();
  ASSERT_TRUE(rest.open);
  EXPECT_EQ(rest.open->name, "qvsdk_open");
  EXPECT_TRUE(rest.held.empty());
  EXPECT_FALSE(session.isOpenWait());
}

TEST(MobileManagerInitializationSequence, RunsActionsOneAtATimeInOrderOnTheMainQueue) {
  TestPorts ports;
  auto& main = mainOf(ports);
  auto sequence = CorvaneSDKInitializationSequence::create(ports.dispatch->mainQueue());
  std::vector<std::string> seen;
  std::vector<CorvaneSDKInitializationSequence::Done> pending;
  sequence->setHandler(0, [&](const CorvaneSDKInitializationAction& a, CorvaneSDKInitializationSequence::Done done) {
    EXPECT_TRUE(main.isCurrent());
    seen.push_back("track" + (a.data ? a.data->dump() : std::string()));
    pending.push_back(done);
  });
  sequence->setHandler(1, [&](const CorvaneSDKInitializationAction&, CorvaneSDKInitializationSequence::Done done) {
    seen.push_back("notify");
    done();
    done();  // a second answer is ignored
  });
  std::vector<CorvaneSDKInitializationAction> actions(4);
  actions[0].type = 0;
  actions[1].type = 7;  // unknown: skipped
  actions[2].type = 1;
  actions[3].type = 0;
  actions[3].data = Value{{"k", 1}};
  sequence->begin(actions);
  bool finished = false;
  sequence->whenFinished([&] { finished = true; });
  EXPECT_TRUE(seen.empty());  // nothing before the main queue runs
  main.runPending();
  ASSERT_EQ(seen.size(), 1u);
  main.advance(3000);  // the first action has not answered: nothing else starts, not finished
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_FALSE(finished);
  pending[0]();
  main.runPending();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1], "notify");
  EXPECT_EQ(seen[2], "track{\"k\":1}");
  EXPECT_EQ(sequence->index(), 3u);
  pending[1]();
  EXPECT_TRUE(sequence->isFinished());
  EXPECT_FALSE(finished);  // noticed at the next 1 s check
  main.advance(1000);
  EXPECT_TRUE(finished);
}

TEST(MobileManagerInitializationSequence, NoActionsFinishesAtOnce) {
  TestPorts ports;
  auto sequence = CorvaneSDKInitializationSequence::create(ports.dispatch->mainQueue());
  sequence->begin(std::vector<CorvaneSDKInitializationAction>());
  EXPECT_FALSE(sequence->hasActions());
  bool finished = false;
  sequence->whenFinished([&] { finished = true; });
  mainOf(ports).runPending();
  EXPECT_TRUE(finished);
}

TEST(MobileManagerDelegates, ListsKeepOrderWithoutDuplicatesAndPendingDelegatesMoveIn) {
  struct Counter : CorvaneSDKLifecycleDelegate {
    explicit Counter(std::vector<int>& l, int n) : log(l), id(n) {}
    void onStart() override { log.push_back(id); }
    std::vector<int>& log;
    int id;
  };
  std::vector<int> log;
  CorvaneSDKPendingItems pending;
  auto a = std::make_shared<Counter>(log, 1);
  auto b = std::make_shared<Counter>(log, 2);
  pending.delegates().lifecycle.add(a);
  pending.delegates().lifecycle.add(b);
  pending.delegates().lifecycle.add(a);
  pending.setOpenURL("app://one");
  pending.setOpenURL("app://two");
  CorvaneSDKDelegates lists;
  lists.takeFrom(pending.delegates());
  EXPECT_EQ(pending.delegates().lifecycle.size(), 0u);
  lists.lifecycle.each([](CorvaneSDKLifecycleDelegate& d) { d.onStart(); });
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  lists.lifecycle.remove(a);
  EXPECT_EQ(lists.lifecycle.size(), 1u);
  auto taken = pending.take();
  EXPECT_EQ(taken.openURL.value_or(""), "app://two");
  EXPECT_FALSE(pending.take().openURL.has_value());
}

// The HTTP client's outcome rules over cpp-httplib, for the parts tested here without it.
CorvaneSDKRequestFunction httpRequest() {
  return [](const CorvaneSDKConfigRequest& request, CorvaneSDKConfigAnswer answer) {
    const size_t slash = request.url.find('/', 7);
    httplib::Client client(request.url.substr(0, slash));
    client.set_connection_timeout(5);
    httplib::Headers headers;
    for (const auto& h : request.headers) headers.emplace(h.first, h.second);
    const std::string path = slash == std::string::npos ? "/" : request.url.substr(slash);
    auto result = request.method == "POST" ? client.Post(path, headers, request.body, "application/json")
                                           : client.Get(path, headers);
    if (!result) return answer(std::nullopt, true);
    const int status = result->status;
    if (status < 300) return answer(result->body, false);
    answer(std::nullopt, status == 429 || status < 400 || status >= 500);
  };
}

TEST(MobileManagerDeepLinks, ALinkOpenedAsInitialisationEndsIsNeitherLostNorSentTwice) {
  TestPorts ports;
  std::mutex mutex;
  std::vector<std::string> sent;
  int tokens = 0;
  CorvaneSDKDeepLinks links(
      {},
      [&](const std::string& url, uint64_t) {
        std::lock_guard<std::mutex> lock(mutex);
        sent.push_back(url);
      },
      [&](const std::string&) {
        std::lock_guard<std::mutex> lock(mutex);
        ++tokens;
      });
  links.setDeviceToken("ab");
  links.setDeviceToken("ab");  // the same token counts once
  std::atomic<bool> go{false};
  std::thread opener([&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < 200; ++i) links.open("game://level?id=" + std::to_string(i), false);
  });
  go = true;
  links.markInitialized();
  opener.join();
  links.markInitialized();  // a second end of initialisation hands nothing on again
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(tokens, 1);
  // Before initialisation only the last link waits; whichever side of the end each link fell
  // on, the last one arrives, and none arrives twice.
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), "game://level?id=199");
  auto unique = sent;
  std::sort(unique.begin(), unique.end());
  EXPECT_EQ(std::unique(unique.begin(), unique.end()), unique.end());
}

struct MobileServerConfig : ::testing::Test {
  TestPorts ports;
  TestHttpServer server;
  std::shared_ptr<CorvaneSDKUserDefaultsStorage> storage;
  CorvaneSDKServerConfigSettings settings;

  void SetUp() override {
    ASSERT_TRUE(server.Start());
    storage = std::make_shared<CorvaneSDKUserDefaultsStorage>(ports.defaults->standard(), std::nullopt, nullptr);
    settings.appId = "app";
    settings.credential = CorvaneSDKServerConfig::credentialFor("app", "secret");
    settings.configUrl = server.Url("/v1/public/config");
    settings.remoteConfigUrl = server.Url("/rc/fetch");
    settings.useSkanConversionSchema = true;
    settings.appVersion = "1.2";
    settings.platform = "iOS";
    settings.bundleId = "com.example.game";
    settings.buildNumber = "42";
    settings.skanSchemaKey = "corvane.sdk.skanConversionSchema";
  }
  std::shared_ptr<CorvaneSDKServerConfig> make() {
    auto config = CorvaneSDKServerConfig::create(settings, std::make_shared<CorvaneSDKUserDefaultsConfigStore>(storage),
                                                 httpRequest(), ports.dispatch->mainQueue());
    config->restore();
    return config;
  }
  // Runs the fetch to its end, moving the manual clock through the retry delays.
  void fetch(CorvaneSDKServerConfig& config) {
    std::atomic<bool> done{false};
    config.fetch([&] { done = true; });
    for (int i = 0; i < 20 && !done; ++i) mainOf(ports).advance(CorvaneSDKServerConfig::kRetryDelayMs);
    ASSERT_TRUE(done.load());
  }
};

TEST_F(MobileServerConfig, TriedFourTimesThenStoredValuesAreUsed) {
  server.SetDefault("/v1/public/config",
                    ScriptedResponse(200, R"({"sdk_config":{"appId":"app","appSecret":"secret","x":1},)"
                                          R"("sdk_config_hash":"h1","currency":"EUR","exchange_rates":{"EUR":1,"USD":0.9},)"
                                          R"("exchange_rate_timestamp":77})"));
  auto first = make();
  fetch(*first);
  ASSERT_TRUE(first->sdkConfig());
  EXPECT_EQ((*first->sdkConfig())["hash"], "h1");

  server.ClearRequests();
  server.SetDefault("/v1/public/config", ScriptedResponse(503));
  // The retries wait on the monotonic clock: a wall clock set a day back changes nothing.
  ports.clock->setWallMs(ports.clock->wallMs() - 86400000LL);
  auto second = make();  // a new start restores what the first stored
  EXPECT_EQ(second->configCurrency(), "EUR");
  fetch(*second);
  EXPECT_EQ(server.Count("/v1/public/config"), 4u);
  EXPECT_EQ(second->sdkConfigTries(), 4);
  ASSERT_TRUE(second->sdkConfig());
  EXPECT_EQ((*second->sdkConfig())["x"], 1);
  EXPECT_EQ(second->exchangeRates()["USD"], 0.9);
  // The second request told the server what it already has.
  auto request = server.Requests("/v1/public/config").front();
  EXPECT_EQ(request.params["app_id"], "app");
  EXPECT_EQ(request.params["platform"], "ios");
  EXPECT_EQ(request.params["version"], "1.2");
  EXPECT_EQ(request.params["currency"], "EUR");
  EXPECT_EQ(request.params["sdk_config_hash"], "h1");
  EXPECT_EQ(request.params["exchange_rate_timestamp"], "77");
  EXPECT_EQ(request.params.count("crypto_exchange_rate_timestamp"), 0u);
}

TEST_F(MobileServerConfig, ARejectingAnswerIsNotRetried) {
  server.SetDefault("/v1/public/config", ScriptedResponse(404));
  auto config = make();
  fetch(*config);
  EXPECT_EQ(server.Count("/v1/public/config"), 1u);
  EXPECT_FALSE(config->sdkConfig());
  EXPECT_EQ(config->configCurrency(), "USD");
  EXPECT_EQ(config->exchangeRates(), (Value{{"USD", 1}}));
}

TEST_F(MobileServerConfig, AnotherAppsConfigIsIgnoredAndAbsentRatesAreKept) {
  server.Script("/v1/public/config",
                {ScriptedResponse(200, R"({"sdk_config":{"appId":"app","appSecret":"secret","v":1},)"
                                       R"("exchange_rates":{"USD":1,"GBP":0.8},"crypto_exchange_rates":{"BTC":60000},)"
                                       R"("crypto_exchange_rate_timestamp":5})"),
                 ScriptedResponse(200, R"({"sdk_config":{"appId":"other","appSecret":"secret","v":2},)"
                                       R"("exchange_rates":"bad","currency":7})"),
                 ScriptedResponse(200, R"({"sdk_config":{"appId":"app","appSecret":"wrong","v":3}})")});
  auto config = make();
  fetch(*config);
  fetch(*config);
  fetch(*config);
  ASSERT_TRUE(config->sdkConfig());
  EXPECT_EQ((*config->sdkConfig())["v"], 1);
  EXPECT_EQ(config->exchangeRates()["GBP"], 0.8);
  EXPECT_EQ(config->cryptoExchangeRates()["BTC"], 60000);
  EXPECT_EQ(config->cryptoExchangeRateTimestamp(), 5u);
  EXPECT_EQ(config->configCurrency(), "USD");
  EXPECT_EQ(make()->cryptoExchangeRates()["BTC"], 60000);
}

TEST_F(MobileServerConfig, StoredOnlyWhenOnlineConfigIsOffAndSkanUnused) {
  settings.useSkanConversionSchema = false;
  settings.disableOnlineSdkConfig = true;
  auto config = make();
  bool done = false;
  config->fetch([&] { done = true; });
  EXPECT_TRUE(done);
  EXPECT_EQ(server.Count("/v1/public/config"), 0u);
}

TEST_F(MobileServerConfig, RemoteConfigSignedPostThenDocumentKeptAcrossStarts) {
  server.SetDefault("/rc/fetch", ScriptedResponse(200, "{\"message\":\"" + server.Url("/doc/1") + "\"}"));
  server.Script("/doc/1", {ScriptedResponse(503), ScriptedResponse(200, R"({"feature":true})")});
  auto config = make();
  std::string answer;
  std::atomic<bool> done{false};
  config->fetchRemoteConfig("user-1", [&](const std::string& text) {
    answer = text;
    done = true;
  });
  for (int i = 0; i < 10 && !done; ++i) mainOf(ports).advance(CorvaneSDKServerConfig::kRetryDelayMs);
  ASSERT_TRUE(done.load());
  EXPECT_EQ(answer, R"({"feature":true})");
  EXPECT_EQ(server.Count("/doc/1"), 2u);
  EXPECT_EQ(config->sdkConfigTries(), 0);  // the document's retry is not an SDK config try
  auto post = server.Requests("/rc/fetch").at(0);
  EXPECT_EQ(post.method, "POST");
  Value body;
  ASSERT_TRUE(parseJson(post.body, body));
  EXPECT_EQ(body, (Value{{"bundleId", "com.example.game"}, {"platform", "iOS"}, {"buildNumber", 42}, {"qvUid", "user-1"}}));
  // The token is an HS256 JWT signed with the 9-byte key.
  const std::string token = post.Header("Quorvel-Token");
  const size_t dot = token.rfind('.');
  ASSERT_NE(dot, std::string::npos);
  const std::string key = CorvaneSDKServerConfig::tokenKey();
  ASSERT_EQ(key.size(), 9u);
  unsigned char mac[32];
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), 9, reinterpret_cast<const unsigned char*>(token.data()), dot, mac, &length);
  EXPECT_EQ(token.substr(dot + 1),
            CorvaneSDKServerConfig::base64Url(std::string(reinterpret_cast<char*>(mac), length)));

  // The next start knows the document; an unchanged location is not fetched again.
  auto again = make();
  done = false;
  again->fetchRemoteConfig("user-1", [&](const std::string& text) {
    answer = text;
    done = true;
  });
  ASSERT_TRUE(done.load());
  EXPECT_EQ(answer, R"({"feature":true})");
  EXPECT_EQ(server.Count("/doc/1"), 2u);
}

TEST(MobileManagerServerConfig, CredentialAndQueryEncoding) {
  EXPECT_EQ(CorvaneSDKServerConfig::credentialFor("app", "secret"), "YXBwOnNlY3JldA==");
  EXPECT_EQ(CorvaneSDKServerConfig::base64Url("\xfb\xff"), "-_8");
  EXPECT_EQ(CorvaneSDKServerConfig::appendQuery("http://h/p?a=1#f", {{"b c", "d&e"}}), "http://h/p?a=1&b%20c=d%26e#f");
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
