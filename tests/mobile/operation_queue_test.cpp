// The operation queue as the last middleware: type dispatch, the message queue replayed in order
// at initialize, reset before the engine is ready, the app-state table and the stored values,
// against the real delivery engine on hand-run queues.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKManagerIntegration.h"
#include "CorvaneSDKOperationQueue.h"
#include "CorvaneSDKUserDefaultsStorage.h"
#include "OperationQueueTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using Testing::OperationQueueHarness;

class MobileOperationQueue : public ::testing::Test {
 protected:
  MobileOperationQueue() : ports_(options()), h_(ports_, /*manualSerialQueues=*/true) {}
  ~MobileOperationQueue() override { h_.drain(); }
  static Testing::TestPortsOptions options() {
    Testing::TestPortsOptions o;
    o.manualHttp = true;
    return o;
  }
  Testing::TestPorts ports_;
  OperationQueueHarness h_;
};

TEST_F(MobileOperationQueue, LogsBeforeInitializeAreReplayedInOrderBeforeAnyLaterCall) {
  int started = 0;
  ports_.notifications->addObserver(CorvaneSDKIntegrationDidStart, [&](const Notification&) { ++started; });
  h_.log("first");
  h_.log("second");
  h_.log("third");
  h_.runSerial();
  EXPECT_EQ(ports_.log->count("Queueing: log:"), 3);
  EXPECT_EQ(h_.queue->pendingMessageCount(), 3u);
  EXPECT_TRUE(h_.forwarded().empty());

  h_.queue->initialize();
  EXPECT_EQ(started, 1);
  // Later calls arrive before the replay has run; they still go after it.
  h_.log("fourth");
  h_.run(kCorvaneSDKOperationTypeFlush);
  h_.runSerial();
  EXPECT_EQ(h_.forwarded(), (std::vector<std::string>{"log: first", "log: second", "log: third", "log: fourth",
                                                      "flush"}));
  EXPECT_EQ(h_.queue->pendingMessageCount(), 0u);
  h_.runEngine();
  EXPECT_EQ(h_.queue->getQueueSize(), 4u);

  h_.queue->initialize();
  EXPECT_EQ(started, 1);
}

TEST_F(MobileOperationQueue, UndefinedTypeOnlyLogsAndUnknownTypesDoNothing) {
  h_.queue->initialize();
  h_.runSerial();
  std::vector<bool> ended;
  auto end = [&](bool dropped, const CorvaneSDKMiddlewareList&) { ended.push_back(dropped); };
  h_.run(kCorvaneSDKOperationTypeUndefined, nullptr, end);
  EXPECT_EQ(ports_.log->count("[ERROR]: Received context with undefined event type <CorvaneSDKContext: type 0"), 1);
  const size_t lines = ports_.log->lines().size();
  h_.run(13, nullptr, end);
  h_.run(1000, std::make_shared<CorvaneSDKOpenURLOperation>(), end);
  EXPECT_EQ(h_.serial()->pendingCount(), 0u);
  EXPECT_EQ(ports_.log->lines().size(), lines);
  // Operations of the wrong class for their type are not forwarded.
  h_.run(kCorvaneSDKOperationTypeLog, std::make_shared<CorvaneSDKOpenURLOperation>(), end);
  h_.run(kCorvaneSDKOperationTypeOpenURL, nullptr, end);
  EXPECT_EQ(h_.serial()->pendingCount(), 0u);
  EXPECT_EQ(ports_.log->count("Ignoring operation of type"), 2);
  // The queue ends the chain with the same context every time.
  EXPECT_EQ(ended, (std::vector<bool>(5, false)));
}

TEST_F(MobileOperationQueue, EveryTypeReachesItsNamedEngineOperation) {
  h_.queue->initialize();
  auto remote = std::make_shared<CorvaneSDKRemoteNotificationOperation>();
  remote->actionIdentifier = "act";
  remote->userInfo = {{"k", "v"}};
  remote->error = "denied";
  remote->deviceToken = {0xde, 0xad};
  auto activity = std::make_shared<CorvaneSDKContinueUserActivityOperation>();
  activity->activity = {{"webpageURL", "https://example.com/x"}};
  auto open = std::make_shared<CorvaneSDKOpenURLOperation>();
  open->url = "corvane://open?a=1";
  open->urlOptions = {{"source", "app"}};
  h_.run(kCorvaneSDKOperationTypePause);
  h_.run(kCorvaneSDKOperationTypeResume);
  h_.run(kCorvaneSDKOperationTypeReceivedRemoteNotification, remote);
  h_.run(kCorvaneSDKOperationTypeFailedToRegisterForRemoteNotifications, remote);
  h_.run(kCorvaneSDKOperationTypeRegisteredForRemoteNotifications, remote);
  h_.run(kCorvaneSDKOperationTypeHandleActionWithIdentifier, remote);
  h_.run(kCorvaneSDKOperationTypeContinueUserActivity, activity);
  h_.run(kCorvaneSDKOperationTypeOpenURL, open);
  h_.runSerial();
  EXPECT_EQ(h_.forwarded(),
            (std::vector<std::string>{"pause", "resume", "receivedRemoteNotification:",
                                      "failedToRegisterForRemoteNotificationsWithError:",
                                      "registeredForRemoteNotificationsWithDeviceToken:",
                                      "handleActionWithIdentifier:forRemoteNotification:", "continueUserActivity:",
                                      "openURL:options:"}));
  EXPECT_TRUE(ports_.log->contains("Running: handleActionWithIdentifier:forRemoteNotification: with arguments (act, "
                                   "{\"k\":\"v\"}) on integration: CorvaneSDK"));
  EXPECT_TRUE(ports_.log->contains("Running: registeredForRemoteNotificationsWithDeviceToken: with arguments "
                                   "({length = 2, bytes = 0xdead})"));
  EXPECT_TRUE(ports_.log->contains("with arguments (corvane://open?a=1, {\"source\":\"app\"})"));
  // A name the engine does not have, or arguments that do not fit, reach nothing.
  h_.queue->callWithSelector("selfDestruct");
  h_.queue->callWithSelector("openURL:options:", {Value(1)});
  h_.runSerial();
  EXPECT_TRUE(ports_.log->contains("has no operation selfDestruct"));
  EXPECT_TRUE(ports_.log->contains("does not take the arguments"));
  h_.runEngine();
}

TEST_F(MobileOperationQueue, ResetClearsFileStorageBeforeTheEngineIsReady) {
  h_.queue->setSdkConfig(Value{{"appId", "app"}});
  h_.queue->setGdprForgetMe(true);
  const std::string before = h_.queue->getUserId();
  ASSERT_TRUE(std::filesystem::exists(h_.queue->fileStorage()->urlForKey("corvane.sdk.sdkConfig")));
  h_.run(kCorvaneSDKOperationTypeReset);
  EXPECT_NE(h_.queue->getUserId(), before);
  EXPECT_EQ(h_.queue->loadUserId(), h_.queue->getUserId());
  h_.runSerial();
  EXPECT_FALSE(std::filesystem::exists(h_.queue->fileStorage()->urlForKey("corvane.sdk.sdkConfig")));
  EXPECT_FALSE(h_.queue->getSdkConfig());
  EXPECT_TRUE(h_.queue->getGdprForgetMe());  // user defaults survive a reset
  // The engine's reset waits for initialize.
  EXPECT_EQ(h_.queue->pendingMessageCount(), 1u);
  EXPECT_TRUE(h_.forwarded().empty());
  h_.queue->initialize();
  h_.runSerial();
  EXPECT_EQ(h_.forwarded(), (std::vector<std::string>{"reset"}));
}

TEST_F(MobileOperationQueue, OnlyBackgroundAndTerminateNotificationsReachTheEngine) {
  h_.queue->initialize();
  for (const char* name : {"UIApplicationDidBecomeActiveNotification", "UIApplicationWillEnterForegroundNotification",
                           "", CorvaneSDKApplicationDidEnterBackgroundNotification,
                           CorvaneSDKApplicationWillTerminateNotification}) {
    auto op = std::make_shared<CorvaneSDKApplicationLifecycleOperation>();
    op->notificationName = name;
    h_.run(kCorvaneSDKOperationTypeApplicationLifecycle, op);
  }
  h_.runSerial();
  EXPECT_EQ(ports_.log->count("Application state change notification: "), 5);
  EXPECT_EQ(h_.forwarded(), (std::vector<std::string>{"applicationDidEnterBackground", "applicationWillTerminate"}));
  h_.runEngine();
  ports_.application->expireBackgroundTasks();
  h_.drain();
}

TEST_F(MobileOperationQueue, StoredValuesLiveUnderTheirKeysAndSurviveANewQueue) {
  EXPECT_TRUE(h_.queue->isFirstOpen());
  const std::string userId = h_.queue->getUserId();
  EXPECT_EQ(userId.size(), 36u);
  EXPECT_FALSE(h_.queue->getGdprForgetMe());
  EXPECT_FALSE(h_.queue->getRemoteConfig());
  EXPECT_FALSE(h_.queue->getConfigCurrency());
  EXPECT_EQ(h_.queue->getExchangeRateTimestamp(), 0u);

  h_.queue->setGdprForgetMe(true);
  h_.queue->setDisableThirdPartySharing(true);
  h_.queue->setDisableThirdPartySharingCoppa(false);
  h_.queue->setRemoteConfig(Value{{"flag", true}});
  h_.queue->setRemoteConfigPath("https://rc.example/doc.json");
  h_.queue->setSdkConfig(Value{{"appId", "app"}, {"hash", "h"}});
  h_.queue->setConfigCurrency("EUR");
  h_.queue->setSkanConversionContext(Value{{"fine", 3}});
  h_.queue->setSkanConversionSchema(Value{{"skan_version", 4}});
  h_.queue->setExchangeRates(Value{{"EUR", 1.0}, {"USD", 1.1}});
  h_.queue->setExchangeRateTimestamp(1764990000ull);
  h_.queue->setCryptoExchangeRates(Value{{"ETH", 0.0003}});
  h_.queue->setCryptoExchangeRateTimestamp(18446744073709551615ull);
  h_.queue->setSkanConversionSchema(Value::array({1}));  // not a map: kept as it was

  auto again = CorvaneSDKOperationQueue::create(h_.host, h_.configuration, h_.client);
  EXPECT_FALSE(again->isFirstOpen());
  EXPECT_EQ(again->getUserId(), userId);
  EXPECT_TRUE(again->getGdprForgetMe());
  EXPECT_TRUE(again->getDisableThirdPartySharing());
  EXPECT_FALSE(again->getDisableThirdPartySharingCoppa());
  EXPECT_EQ(again->getRemoteConfig(), (Value{{"flag", true}}));
  EXPECT_EQ(again->getRemoteConfigPath(), "https://rc.example/doc.json");
  EXPECT_EQ((*again->getSdkConfig())["hash"], "h");
  EXPECT_EQ(again->getConfigCurrency(), "EUR");
  EXPECT_EQ(again->getSkanConversionContext(), (Value{{"fine", 3}}));
  EXPECT_EQ(again->getSkanConversionSchema(), (Value{{"skan_version", 4}}));
  EXPECT_EQ((*again->getExchangeRates())["USD"], 1.1);
  EXPECT_EQ(again->getExchangeRateTimestamp(), 1764990000ull);
  EXPECT_EQ((*again->getCryptoExchangeRates())["ETH"], 0.0003);
  EXPECT_EQ(again->getCryptoExchangeRateTimestamp(), 18446744073709551615ull);
  // The documented keys, in the documented storages.
  auto defaults = again->userDefaultsStorage();
  EXPECT_EQ(defaults->stringForKey("corvane.sdk.userId"), userId);
  EXPECT_TRUE(defaults->boolForKey("corvane.sdk.gdprForgetMe"));
  for (const char* key : {"corvane.sdk.remoteConfig", "corvane.sdk.remoteConfigPath", "corvane.sdk.sdkConfig",
                          "corvane.sdk.configCurrency", "corvane.sdk.skanConversionContext",
                          "corvane.sdk.skanConversionSchema", "corvane.sdk.exchangeRates",
                          "corvane.sdk.exchangeRateTimestamp", "corvane.sdk.cryptoExchangeRates",
                          "corvane.sdk.cryptoExchangeRateTimestamp"}) {
    EXPECT_TRUE(std::filesystem::exists(again->fileStorage()->urlForKey(key))) << key;
  }

  // A damaged file reads as none; none and the empty text remove a key.
  again->fileStorage()->setData(std::string("[1,2"), "corvane.sdk.remoteConfig");
  again->fileStorage()->setJSON(Value::array({1}), "corvane.sdk.sdkConfig");
  EXPECT_FALSE(again->getRemoteConfig());
  EXPECT_FALSE(again->getSdkConfig());
  again->setConfigCurrency(std::string());
  again->setExchangeRates(std::nullopt);
  EXPECT_FALSE(again->getConfigCurrency());
  EXPECT_FALSE(again->getExchangeRates());
  Testing::drainOperationQueue(*again, h_.dispatch);
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
