// CorvaneSDKManager end to end: a real local HTTP server for the SDK config and the uploads,
// real files and libcurl, real serial-queue threads, and the hand-run main queue and clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CorvaneSDKEvent.h"
#include "CorvaneSDKManager.h"
#include "CorvaneSDKMiddleware.h"
#include "CorvaneSDKOperationQueue.h"
#include "AttributionPlatform.h"
#include "CorvaneSDKSkanConversionContext.h"
#include "CorvaneSDKTrackingAuthorization.h"
#include "MobileTestSupport.h"
#include "TestHttpServer.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using Test::ScriptedResponse;
using Test::TestHttpServer;
using Testing::TestPorts;
using Testing::waitUntil;

const char* kValidConfig =
    R"({"sdk_config":{"appId":"app","appSecret":"secret","thirdPartySettings":{"facebookAppId":"fb-1"}},)"
    R"("sdk_config_hash":"h1"})";

class MobileManager : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Start());
    server.SetDefault("/v4/event", ScriptedResponse(200, "{}"));
    server.SetDefault("/v1/public/config", ScriptedResponse(200, kValidConfig));
  }
  void TearDown() override { CorvaneSDKManager::shutdown(); }

  std::shared_ptr<CorvaneSDKConfiguration> config() {
    auto c = CorvaneSDKConfiguration::configurationWithAppId("app", "secret");
    c->host = server.Url("/v4/event");
    c->configUrl = server.Url("/v1/public/config");
    c->flushAt = 1;
    c->flushInterval = 1000;  // flushes come from the events and from flush()
    return c;
  }
  ManualQueue& main() { return static_cast<ManualDispatch&>(*ports.dispatch).main(); }
  // Runs the main queue until `condition` holds.
  bool pump(const std::function<bool()>& condition) {
    return waitUntil([&] {
      main().runPending();
      return condition();
    });
  }
  std::shared_ptr<CorvaneSDKManager> init(std::shared_ptr<CorvaneSDKConfiguration> c) {
    auto m = CorvaneSDKManager::initialize(c);
    EXPECT_TRUE(m);
    if (!m) return m;
    EXPECT_TRUE(pump([&] { return m->isInitialized(); }));
    return m;
  }
  // Every event map the server accepted, sub-events listed after their parent.
  std::vector<Value> uploaded() {
    std::vector<Value> out;
    for (const auto& r : server.Requests("/v4/event")) {
      Value body;
      if (!parseJson(r.body, body) || !body.contains("subMessages")) continue;
      for (const auto& e : body["subMessages"]) out.push_back(e);
    }
    return out;
  }
  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const auto& e : uploaded()) out.push_back(e.value("eventName", ""));
    return out;
  }
  bool hasUploaded(const std::string& name) {
    for (const auto& n : names()) {
      if (n == name) return true;
    }
    return false;
  }
  // Ends the open-event hold and lets the engine deliver what waits.
  void endHold(CorvaneSDKManager& m) {
    main().advance(OPEN_LOCK_WAIT_TIME);
    m.flush();
  }

  TestPorts ports;
  TestHttpServer server;
};

TEST_F(MobileManager, FirstOpenThenLaterOpensAcrossARestart) {
  auto m = init(config());
  EXPECT_TRUE(m->hasStarted());
  const std::string userId = m->getUserId();
  EXPECT_EQ(userId.size(), 36u);
  endHold(*m);
  ASSERT_TRUE(pump([&] { return hasUploaded("qvsdk_first_open"); }));
  auto body = server.Requests("/v4/event").front();
  EXPECT_EQ(body.method, "PUT");
  EXPECT_EQ(body.Header("Authorization"), "Basic YXBwOnNlY3JldA==");
  Value batch;
  ASSERT_TRUE(parseJson(body.body, batch));
  EXPECT_EQ(batch["qvUid"], userId);
  EXPECT_EQ(batch["subMessages"][0]["id"], m->getSessionId());
  EXPECT_EQ(batch["subMessages"][0]["cfgId"], "default");
  ASSERT_TRUE(pump([&] { return m->getQueueSize() == 0; }));  // the answer was processed

  CorvaneSDKManager::shutdown();
  server.ClearRequests();
  auto again = init(config());
  EXPECT_NE(again.get(), m.get());
  EXPECT_EQ(again->getUserId(), userId);
  endHold(*again);
  ASSERT_TRUE(pump([&] { return hasUploaded("qvsdk_open"); }));
  EXPECT_FALSE(hasUploaded("qvsdk_first_open"));
  // A second initialize changes nothing.
  EXPECT_EQ(CorvaneSDKManager::initialize(config()), again);
}

TEST_F(MobileManager, SessionKeptAt30000MsAndRenewedAt30001Ms) {
  auto m = init(config());
  const std::string first = m->getSessionId();
  ASSERT_FALSE(first.empty());
  m->applicationDidEnterBackground();
  main().advance(MAX_SESSION_INTERRUPTED_TIME);
  m->applicationWillEnterForeground();
  EXPECT_EQ(m->getSessionId(), first);
  m->applicationDidEnterBackground();
  // A wall clock moved back a day does not count: only elapsed time does.
  ports.clock->setWallMs(ports.clock->wallMs() - 86400000LL);
  main().advance(MAX_SESSION_INTERRUPTED_TIME + 1);
  m->applicationWillEnterForeground();
  const std::string second = m->getSessionId();
  EXPECT_NE(second, first);
  endHold(*m);
  ASSERT_TRUE(pump([&] { return hasUploaded("qvsdk_open"); }));
  for (const auto& e : uploaded()) {
    if (e["eventName"] == "qvsdk_open") {
      EXPECT_EQ(e["id"], second);
    }
  }
}

TEST_F(MobileManager, HeldOpenEventCarries100SubEventsAndThe101stGoesAlone) {
  auto m = init(config());
  for (int i = 0; i < 101; ++i) EXPECT_TRUE(m->log("early" + std::to_string(i), kCorvaneSDKEventFlagOpenSubEvent));
  // Nothing leaves while the open event waits.
  main().advance(OPEN_LOCK_WAIT_TIME - 1);
  m->flush();
  ASSERT_TRUE(pump([&] { return m->getQueueSize() == 1; }));
  EXPECT_EQ(server.Count("/v4/event"), 0u);
  main().advance(1);
  m->flush();
  ASSERT_TRUE(pump([&] { return hasUploaded("qvsdk_first_open") && hasUploaded("early100"); }));
  EXPECT_FALSE(hasUploaded("early99"));  // only inside the open event
  for (const auto& e : uploaded()) {
    if (e["eventName"] != "qvsdk_first_open") continue;
    ASSERT_EQ(e["subEvents"].size(), 100u);
    EXPECT_EQ(e["subEvents"][0]["eventName"], "early0");
    EXPECT_EQ(e["subEvents"][99]["eventName"], "early99");
    EXPECT_EQ(e["subEvents"][99]["id"], e["id"]);
  }
}

TEST_F(MobileManager, OpenEventStillHeldAtANewSessionIsSentWithItsEvents) {
  auto m = init(config());
  m->log("held", kCorvaneSDKEventFlagOpenSubEvent);
  // No flush asked for readiness while the hold ran; the app goes away for longer than a session.
  m->applicationDidEnterBackground();
  main().advance(MAX_SESSION_INTERRUPTED_TIME + 1);
  m->applicationWillEnterForeground();
  endHold(*m);
  ASSERT_TRUE(pump([&] { return hasUploaded("qvsdk_first_open") && hasUploaded("qvsdk_open"); }));
  for (const auto& e : uploaded()) {
    if (e["eventName"] == "qvsdk_first_open") {
      ASSERT_EQ(e["subEvents"].size(), 1u);
      EXPECT_EQ(e["subEvents"][0]["eventName"], "held");
    }
  }
}

TEST_F(MobileManager, WaitConfigIdQueuesUntilAConfigIdArrives) {
  auto c = config();
  c->waitConfigId = true;
  auto m = init(c);
  EXPECT_EQ(m->getConfigId(), "");
  EXPECT_TRUE(m->log("level"));
  endHold(*m);
  ASSERT_TRUE(pump([&] { return m->getQueueSize() >= 1; }));
  main().advance(1000);
  m->flush();
  EXPECT_EQ(server.Count("/v4/event"), 0u);
  m->setConfigId("cfg-7");
  m->flush();
  ASSERT_TRUE(pump([&] { return hasUploaded("level") && hasUploaded("qvsdk_first_open"); }));
  for (const auto& e : uploaded()) EXPECT_EQ(e["cfgId"], "") << e.dump();  // stamped when logged
}

TEST_F(MobileManager, ConfigIdFromTheSdkConfigsMobileSettings) {
  server.SetDefault("/v1/public/config",
                    ScriptedResponse(200, R"({"sdk_config":{"appId":"app","appSecret":"secret",)"
                                          R"("iosSettings":{"configId":"cfg-9"}}})"));
  auto c = config();
  c->waitConfigId = true;
  auto m = init(c);
  EXPECT_EQ(m->getConfigId(), "cfg-9");
  m->log("level");
  endHold(*m);
  ASSERT_TRUE(pump([&] { return hasUploaded("level"); }));
  for (const auto& e : uploaded()) {
    if (e["eventName"] == "level") {
      EXPECT_EQ(e["cfgId"], "cfg-9");
    }
  }
}

TEST_F(MobileManager, ForceDisableFlagSendsTheEventThenStopsAfterTheEmptyFlush) {
  auto m = init(config());
  endHold(*m);
  ASSERT_TRUE(pump([&] { return hasUploaded("qvsdk_first_open"); }));
  EXPECT_TRUE(m->log("goodbye", kCorvaneSDKEventFlagForceDisable));
  EXPECT_FALSE(m->log("after"));
  ASSERT_TRUE(pump([&] { return hasUploaded("goodbye") && !m->hasStarted(); }));
  m->start();
  EXPECT_FALSE(m->hasStarted());
  EXPECT_FALSE(m->log("later", kCorvaneSDKEventFlagBeforeStart));
  EXPECT_FALSE(hasUploaded("after"));
}

TEST_F(MobileManager, OfflineKeepsEventsQueuedUntilBackOnline) {
  auto m = init(config());
  endHold(*m);
  ASSERT_TRUE(pump([&] { return hasUploaded("qvsdk_first_open"); }));
  m->setOffline(true);
  EXPECT_FALSE(m->isIntegrationActive());
  EXPECT_TRUE(m->log("a"));
  EXPECT_TRUE(m->log("b"));
  m->flush();
  ASSERT_TRUE(pump([&] { return m->getQueueSize() == 2; }));
  EXPECT_FALSE(hasUploaded("a"));
  m->setOffline(false);
  m->flush();
  ASSERT_TRUE(pump([&] { return hasUploaded("a") && hasUploaded("b"); }));
}

TEST_F(MobileManager, SdkConfigTriedFourTimesThenTheStoredOneIsUsed) {
  auto m = init(config());
  EXPECT_EQ(m->getThirdPartyId("facebookAppId").value_or(""), "fb-1");
  CorvaneSDKManager::shutdown();
  server.ClearRequests();
  server.SetDefault("/v1/public/config", ScriptedResponse(503));
  auto again = CorvaneSDKManager::initialize(config());
  // Each retry waits 5 s of the main queue's clock; the clock moves in 1 s steps.
  ASSERT_TRUE(pump([&] {
    if (server.Count("/v1/public/config") < 4) main().advance(1000);
    return again->isInitialized();
  }));
  EXPECT_EQ(server.Count("/v1/public/config"), 4u);
  EXPECT_EQ(again->getThirdPartyId("facebookAppId").value_or(""), "fb-1");
  EXPECT_EQ(server.Requests("/v1/public/config")[0].params["sdk_config_hash"], "h1");
}

TEST_F(MobileManager, AnotherAppsSdkConfigIsIgnored) {
  server.SetDefault("/v1/public/config",
                    ScriptedResponse(200, R"({"sdk_config":{"appId":"other","appSecret":"secret",)"
                                          R"("thirdPartySettings":{"facebookAppId":"theirs"}}})"));
  auto c = config();
  c->facebookAppId = "ours";
  auto m = init(c);
  EXPECT_EQ(m->getThirdPartyId("facebookAppId").value_or(""), "ours");
  EXPECT_FALSE(m->serverConfig()->sdkConfig());
}

TEST_F(MobileManager, RestartKeepsQueueUserIdSdkConfigSchemaAndContext) {
  const char* answer =
      R"({"sdk_config":{"appId":"app","appSecret":"secret"},"sdk_config_hash":"h1","schema_hash":"s1",)"
      R"("schema":{"window_one":{"fine_cv_mappings":[{"fine_cv":9,"value_mappings":[{"mapping_type":"session"}]}]}},)"
      R"("currency":"EUR"})";
  server.SetDefault("/v1/public/config", ScriptedResponse(200, answer));
  auto c = config();
  c->useSkanConversionSchema = true;
  c->offline = true;
  auto m = init(c);
  const std::string userId = m->getUserId();
  m->log("kept1");
  m->log("kept2");
  endHold(*m);
  ASSERT_TRUE(pump([&] { return m->getQueueSize() >= 2; }));
  ASSERT_TRUE(m->serverConfig()->schema());
  ASSERT_TRUE(pump([&] {
    auto stored = m->operationQueue()->getSkanConversionContext();
    return stored && stored->value("session_count", 0) == 1;
  }));
  CorvaneSDKManager::shutdown();
  m.reset();

  server.SetDefault("/v1/public/config", ScriptedResponse(503));
  auto again = CorvaneSDKManager::initialize(c);
  EXPECT_EQ(again->getUserId(), userId);
  EXPECT_GE(again->getQueueSize(), 3u);
  EXPECT_TRUE(again->serverConfig()->sdkConfig());
  EXPECT_EQ(again->serverConfig()->configCurrency(), "EUR");
  ASSERT_TRUE(again->serverConfig()->schema());
  EXPECT_EQ(again->serverConfig()->schema()->schemaHash(), "s1");
  EXPECT_EQ(again->skanContext()->sessionCount(), 1);
}

TEST_F(MobileManager, DeepLinksGoThroughBothFiltersAndDelegatesSeeSentEvents) {
  struct Links : CorvaneSDKDeepLinkDelegate, CorvaneSDKSendEventDelegate {
    void onDeepLink(const std::string& url) override { urls.push_back(url); }
    void onSendEvent(const Value& event) override {
      std::lock_guard<std::mutex> lock(mutex);
      sent.push_back(event);
    }
    std::mutex mutex;
    std::vector<std::string> urls;
    std::vector<Value> sent;
  };
  auto links = std::make_shared<Links>();
  CorvaneSDKManager::addDeepLinkDelegate(links);  // before initialisation: kept and moved in
  CorvaneSDKManager::addSendEventDelegate(links);
  EXPECT_TRUE(CorvaneSDKManager::openURL("fb1234://authorize#access_token=secret"));
  auto m = init(config());
  EXPECT_EQ(m->getDeepLinkURL(), "fb1234://authorize#access_token=((redacted/fb-auth-token))");
  EXPECT_FALSE(CorvaneSDKManager::openURL("fb123456://authorize#access_token=x"));  // the deep-link filter
  EXPECT_TRUE(CorvaneSDKManager::openURL("game://level?id=3"));
  EXPECT_FALSE(CorvaneSDKManager::openURL("game://level?id=3"));  // the same link again
  ASSERT_EQ(links->urls.size(), 2u);
  endHold(*m);
  ASSERT_TRUE(pump([&] { return hasUploaded("qvsdk_first_open"); }));
  // Deep links travel inside the open event; the delegate sees each event once, with an id.
  ASSERT_TRUE(pump([&] {
    std::lock_guard<std::mutex> lock(links->mutex);
    return links->sent.size() == 3;
  }));
  std::lock_guard<std::mutex> lock(links->mutex);
  for (const auto& e : links->sent) EXPECT_EQ(e["id"], m->getSessionId());
  EXPECT_EQ(links->sent[0]["eventName"], "qvsdk_first_open");
  EXPECT_EQ(links->sent[1]["eventName"], "qvsdk_deep_link");
  EXPECT_EQ(links->sent[1]["value"]["url"], "fb1234://authorize#access_token=((redacted/fb-auth-token))");
  EXPECT_EQ(links->sent[2]["value"]["id"], "3");
}

TEST_F(MobileManager, MiddlewareDropsAndChangesOperations) {
  auto c = config();
  c->middlewares.push_back(std::make_shared<CorvaneSDKBlockMiddleware>(
      [](std::shared_ptr<CorvaneSDKContext> context, CorvaneSDKMiddlewareNext next) {
        auto log = std::dynamic_pointer_cast<CorvaneSDKLogEventOperation>(context->operation);
        if (log && log->logOperation->eventName == "secret") return next(nullptr);
        if (log && log->logOperation->eventName == "rename") {
          auto op = std::make_shared<CorvaneSDKLogOperation>(*log->logOperation);
          op->eventName = "renamed";
          return next(context->modify(
              [op](CorvaneSDKContext& ctx) { ctx.operation = std::make_shared<CorvaneSDKLogEventOperation>(op); }));
        }
        next(context);
      }));
  auto m = init(c);
  m->log("secret");
  m->log("rename");
  m->log("plain");
  endHold(*m);
  ASSERT_TRUE(pump([&] { return hasUploaded("plain") && hasUploaded("renamed"); }));
  EXPECT_FALSE(hasUploaded("secret"));
  EXPECT_FALSE(hasUploaded("rename"));
}

TEST_F(MobileManager, TypedEventsCarryTheCatalogueNamesAndPayloads) {
  auto m = init(config());
  endHold(*m);
  EXPECT_TRUE(m->logLevelStart(3, "cave"));
  EXPECT_TRUE(m->logAdImpression("unit", 1));
  EXPECT_TRUE(m->logPurchase("gems", 0.99, 2, "USD", true));
  ASSERT_TRUE(pump([&] { return hasUploaded("qvsdk_iap_success_payment"); }));
  for (const auto& e : uploaded()) {
    if (e["eventName"] == "qvsdk_level_attempt") {
      EXPECT_EQ(e["value"]["level"], 3);
    }
    if (e["eventName"] == "qvsdk_ad_impression") {
      EXPECT_EQ(e["value"]["placement"], "fullscreen");
    }
    if (e["eventName"] == "qvsdk_iap_success_payment") {
      EXPECT_DOUBLE_EQ(e["value"]["__revenue__"]["revenue"].get<double>(), 1.98);
    }
  }
  EXPECT_TRUE(hasUploaded("qvsdk_level_attempt"));
  EXPECT_TRUE(hasUploaded("qvsdk_ad_impression"));
}

TEST_F(MobileManager, InitialisationWaitsForItsActionsOneSecondCheckAtATime) {
  auto tracking = std::make_shared<SettableTrackingManager>(true, 0);
  tracking->setHoldsPrompts(true);
  auto attribution = std::make_shared<AttributionPorts>(AttributionPlatform::portable());
  attribution->trackingManager = tracking;
  AttributionPlatform::install(attribution);
  auto c = config();
  c->addInitializationAction(0);
  c->addInitializationAction(1, Value{{"authorizationOptions", 7}});  // answered at once: not granted
  auto m = CorvaneSDKManager::initialize(c);
  ASSERT_TRUE(pump([&] { return tracking->heldCount() == 1; }));  // the automatic prompt is up
  main().advance(3000);
  EXPECT_FALSE(m->isInitialized());
  EXPECT_EQ(tracking->answerHeld(3), 1);
  EXPECT_FALSE(m->isInitialized());  // noticed at the next 1 s check
  ASSERT_TRUE(pump([&] {
    main().advance(200);
    return m->isInitialized();
  }));
  EXPECT_TRUE(m->hasStarted());
  endHold(*m);
  ASSERT_TRUE(pump([&] { return hasUploaded("qvsdk_tracking_authorization_status") || hasUploaded("qvsdk_first_open"); }));
  for (const auto& e : uploaded()) {
    if (e["eventName"] == "qvsdk_first_open") {
      EXPECT_EQ(e["value"]["tracking_status"], "authorized");
    }
  }
  AttributionPlatform::install(nullptr);
}

TEST_F(MobileManager, RemoteConfigBesideTheSdkConfigEndpoint) {
  server.SetDefault("/rc/fetch", ScriptedResponse(200, "{\"message\":\"" + server.Url("/doc/7") + "\"}"));
  server.SetDefault("/doc/7", ScriptedResponse(200, R"({"speed":2})"));
  auto m = init(config());
  std::atomic<bool> done{false};
  std::string text;
  m->fetchRemoteConfig([&](const std::string& t) {
    text = t;
    done = true;
  });
  ASSERT_TRUE(pump([&] { return done.load(); }));
  EXPECT_EQ(text, R"({"speed":2})");
  Value body;
  ASSERT_TRUE(parseJson(server.Requests("/rc/fetch").at(0).body, body));
  EXPECT_EQ(body["qvUid"], m->getUserId());
  EXPECT_EQ(m->operationQueue()->getRemoteConfigPath().value_or(""), server.Url("/doc/7"));
}

TEST_F(MobileManager, ClassLevelNamesAndTheCustomUserId) {
  EXPECT_EQ(CorvaneSDKManager::version(), "0.0.15-ios");
  EXPECT_EQ(CorvaneSDKManager::resolveModuleClassName("Adjust"), "CorvaneSDKAdjustModule");
  EXPECT_EQ(CorvaneSDKManager::resolveModuleClassName("Custom"), "Custom");
  CorvaneSDKManager::addModuleClassNameMap("Custom", "MyCustomModule");
  EXPECT_EQ(CorvaneSDKManager::getModuleClassNameMap().at("Custom"), "MyCustomModule");
  EXPECT_FALSE(CorvaneSDKManager::sharedInstance());
  EXPECT_FALSE(CorvaneSDKManager::initialize(std::shared_ptr<CorvaneSDKConfiguration>()));

  auto c = config();
  c->customUserId = "player-1";
  auto m = init(c);
  m->log("mine");
  m->setCustomUserId("");
  m->log("nobody");
  endHold(*m);
  ASSERT_TRUE(pump([&] { return hasUploaded("mine") && hasUploaded("nobody"); }));
  for (const auto& e : uploaded()) {
    if (e["eventName"] == "mine") {
      EXPECT_EQ(e["customUid"], "player-1");
    }
    if (e["eventName"] == "nobody") {
      EXPECT_FALSE(e.contains("customUid"));
    }
  }
}

TEST_F(MobileManager, PendingLaunchOptionsAndUserActivityReachTheEngineBeforeAnyEvent) {
  struct Seen {
    std::mutex mutex;
    std::vector<int64_t> types;
    std::string notificationName;
    Value launchOptions, activity;
  };
  auto seen = std::make_shared<Seen>();
  auto c = config();
  c->middlewares.push_back(std::make_shared<CorvaneSDKBlockMiddleware>(
      [seen](std::shared_ptr<CorvaneSDKContext> context, CorvaneSDKMiddlewareNext next) {
        {
          std::lock_guard<std::mutex> lock(seen->mutex);
          seen->types.push_back(context->operationType);
          if (auto l = std::dynamic_pointer_cast<CorvaneSDKApplicationLifecycleOperation>(context->operation)) {
            seen->notificationName = l->notificationName;
            seen->launchOptions = l->launchOptions;
          }
          if (auto a = std::dynamic_pointer_cast<CorvaneSDKContinueUserActivityOperation>(context->operation)) {
            seen->activity = a->activity;
          }
        }
        next(context);
      }));
  const Value launch{{"url", "app://launched"}};
  const Value activity{{"activityType", "browsing"}, {"webpageURL", "https://example.com/item/4"}};
  CorvaneSDKManager::setLaunchOptions(launch);
  CorvaneSDKManager::setUserActivity(activity);
  auto m = init(c);
  endHold(*m);
  ASSERT_TRUE(pump([&] { return hasUploaded("qvsdk_first_open"); }));
  {
    std::lock_guard<std::mutex> lock(seen->mutex);
    ASSERT_GE(seen->types.size(), 3u);
    EXPECT_EQ(seen->types[0], kCorvaneSDKOperationTypeApplicationLifecycle);
    EXPECT_EQ(seen->types[1], kCorvaneSDKOperationTypeContinueUserActivity);
    EXPECT_EQ(seen->notificationName, "UIApplicationDidFinishLaunchingNotification");
    EXPECT_EQ(seen->launchOptions, launch);
    EXPECT_EQ(seen->activity, activity);
  }
  // The engine is handed the activity before the first event.
  const auto lines = ports.log->lines();
  size_t activityAt = lines.size(), firstLogAt = lines.size();
  for (size_t n = 0; n < lines.size(); ++n) {
    if (activityAt == lines.size() && lines[n].find("Running: continueUserActivity:") != std::string::npos &&
        lines[n].find("example.com/item/4") != std::string::npos) {
      activityAt = n;
    }
    if (firstLogAt == lines.size() && lines[n].find("Running: log:") != std::string::npos) firstLogAt = n;
  }
  EXPECT_LT(activityAt, lines.size());
  EXPECT_LT(activityAt, firstLogAt);
}

TEST_F(MobileManager, LaunchOptionsFromTheConfigurationAndANonMapActivity) {
  auto types = std::make_shared<std::vector<int64_t>>();
  auto mutex = std::make_shared<std::mutex>();
  auto c = config();
  c->launchOptions = Value{{"source", "config"}};
  c->middlewares.push_back(std::make_shared<CorvaneSDKBlockMiddleware>(
      [types, mutex](std::shared_ptr<CorvaneSDKContext> context, CorvaneSDKMiddlewareNext next) {
        {
          std::lock_guard<std::mutex> lock(*mutex);
          types->push_back(context->operationType);
        }
        next(context);
      }));
  CorvaneSDKManager::setUserActivity(Value("not a map"));
  auto m = init(c);
  std::lock_guard<std::mutex> lock(*mutex);
  ASSERT_FALSE(types->empty());
  EXPECT_EQ(types->front(), kCorvaneSDKOperationTypeApplicationLifecycle);
  EXPECT_EQ(std::count(types->begin(), types->end(), kCorvaneSDKOperationTypeContinueUserActivity), 0);
  EXPECT_TRUE(ports.log->contains("Ignoring a user activity that is not a map"));
}

TEST_F(MobileManager, ConfiguredModulesLoadByClassNameAndMissingOrExcludedOnesAreSkipped) {
  struct Recorded : PlatformModule {
    Value data;
  };
  auto make = [](const Value& data) {
    auto module = std::make_shared<Recorded>();
    module->data = data;
    return module;
  };
  ports.moduleClasses->registerClass("CorvaneSDKAdjustModule", make);
  ports.moduleClasses->registerClass("MyModule", make);
  ports.moduleClasses->registerClass("CorvaneSDKTenjinModule", make);
  ports.moduleClasses->registerClass("Throws", [](const Value&) -> std::shared_ptr<PlatformModule> {
    throw std::runtime_error("broken module");
  });
  auto c = config();
  c->addModule("Adjust", Value{{"token", "t-1"}});
  c->addModule("MyModule");
  c->addModule("Singular");
  c->addModule("Tenjin");
  c->addModule("Throws");
  c->addExcludedModuleName("Tenjin");
  auto m = init(c);

  auto adjust = std::dynamic_pointer_cast<Recorded>(m->getModule("Adjust"));
  ASSERT_TRUE(adjust);
  EXPECT_EQ(adjust->data, Value({{"token", "t-1"}}));
  EXPECT_EQ(m->getModule("CorvaneSDKAdjustModule"), adjust);
  auto mine = std::dynamic_pointer_cast<Recorded>(m->getModule("MyModule"));
  ASSERT_TRUE(mine);
  EXPECT_EQ(mine->data, Value::object());
  EXPECT_FALSE(m->getModule("Singular"));
  EXPECT_TRUE(ports.log->contains("Module class not found: CorvaneSDKSingularModule"));
  EXPECT_FALSE(m->getModule("Tenjin"));
  EXPECT_FALSE(m->getModule("Throws"));
  EXPECT_TRUE(ports.log->contains("Module Throws could not be created"));
  EXPECT_FALSE(m->getModule("Unknown"));
  EXPECT_TRUE(m->hasStarted());
}

TEST_F(MobileManager, NotificationAuthorizationActionWaitsForItsAnswerAndRegistersWhenGranted) {
  ports.userNotifications->setHoldsRequests(true);
  auto c = config();
  c->addInitializationAction(1, Value{{"authorizationOptions", 6}, {"registerRemote", true}});
  auto m = CorvaneSDKManager::initialize(c);
  ASSERT_TRUE(pump([&] { return ports.userNotifications->heldCount() == 1; }));
  EXPECT_EQ(ports.userNotifications->requestedOptions(), std::vector<int64_t>{6});
  main().advance(3000);
  EXPECT_FALSE(m->isInitialized());
  EXPECT_EQ(ports.userNotifications->answerHeld(true), 1);
  ASSERT_TRUE(pump([&] {
    main().advance(200);
    return m->isInitialized();
  }));
  EXPECT_EQ(ports.userNotifications->remoteRegistrations(), 1);
}

// A platform that answers every request twice: granted, then with an error.
class TwiceAnsweringNotifications : public SettableUserNotifications {
 public:
  void requestAuthorization(int64_t options, NotificationAuthorizationHandler handler) override {
    SettableUserNotifications::requestAuthorization(options, [](bool, const std::optional<std::string>&) {});
    handler(true, std::nullopt);
    handler(false, std::string("second answer"));
  }
};

TEST_F(MobileManager, NotificationAuthorizationActionEndsOnceWhateverTheAnswer) {
  auto twice = std::make_shared<TwiceAnsweringNotifications>();
  auto installed = std::make_shared<Ports>(*Platform::current());
  installed->userNotifications = twice;
  Platform::install(installed);
  auto tracking = std::make_shared<SettableTrackingManager>(true, 0);
  auto attribution = std::make_shared<AttributionPorts>(AttributionPlatform::portable());
  attribution->trackingManager = tracking;
  AttributionPlatform::install(attribution);
  auto c = config();
  c->addInitializationAction(1, Value{{"authorizationOptions", 7}, {"registerRemote", true}});
  c->addInitializationAction(0);
  c->addInitializationAction(1, Value{{"authorizationOptions", "not a number"}, {"registerRemote", "yes"}});
  auto m = CorvaneSDKManager::initialize(c);
  ASSERT_TRUE(pump([&] {
    main().advance(200);
    return m->isInitialized();
  }));
  AttributionPlatform::install(nullptr);
  EXPECT_EQ(twice->requestedOptions(), (std::vector<int64_t>{7, 0}));
  EXPECT_EQ(twice->remoteRegistrations(), 1);  // only the first action asked, and only once
  EXPECT_EQ(tracking->promptsShown(), 1);      // the action between ran once
}

TEST_F(MobileManager, NotificationAuthorizationDeniedOrMissingStillFinishesInitialisation) {
  ports.userNotifications->setAnswer(false, std::string("denied by the user"));
  auto c = config();
  c->addInitializationAction(1, Value{{"registerRemote", true}});
  auto initAndCheck = [&] {
    auto made = CorvaneSDKManager::initialize(c);
    EXPECT_TRUE(made && pump([&] {
                  main().advance(200);
                  return made->isInitialized();
                }));
    return made;
  };
  auto m = initAndCheck();
  EXPECT_EQ(ports.userNotifications->remoteRegistrations(), 0);
  EXPECT_TRUE(ports.log->contains("Notification authorization failed: denied by the user"));
  CorvaneSDKManager::shutdown();

  auto installed = std::make_shared<Ports>(*Platform::current());
  installed->userNotifications = std::make_shared<SettableUserNotifications>(false);
  Platform::install(installed);
  m = initAndCheck();
  EXPECT_TRUE(ports.log->contains("Notification authorization is not available"));
  EXPECT_EQ(ports.userNotifications->requestedOptions().size(), 1u);  // only the first manager asked
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
