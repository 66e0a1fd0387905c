// The application-delegate hook: which operations a flag routes, interceptors before the app's
// own handler with ORed results, the fetch-completion combination, the registry's log lines,
// the observer, and setup that never layers a second proxy on the same delegate.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "CorvaneSDKAppDelegateProxy.h"
#include "CorvaneSDKManagerAppDelegate.h"
#include "MobileTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using Op = ApplicationDelegateOperation;

class MobileAppDelegateProxy : public ::testing::Test {
 protected:
  void SetUp() override {
    swizzler = CorvaneSDKAppDelegateSwizzler::create(ports.application);
    main = &std::static_pointer_cast<ManualDispatch>(ports.dispatch)->main();
  }
  // An app delegate whose open-URL handlers answer `answer` and count calls.
  std::shared_ptr<ApplicationDelegate> appDelegate(bool withOptionsForm = true, bool answer = false) {
    ApplicationDelegateHandlers h;
    if (withOptionsForm) {
      h.openURL = [this, answer](const std::string& url, const Value&) {
        calls.push_back("app " + url);
        return answer;
      };
    }
    h.openURLSourceApplication = [this, answer](const std::string& url, const std::string&, const Value&) {
      calls.push_back("app-source " + url);
      return answer;
    };
    return std::make_shared<ApplicationDelegate>(h);
  }
  CorvaneSDKManagerAppDelegate::Callbacks managerCallbacks() {
    CorvaneSDKManagerAppDelegate::Callbacks c;
    c.openURL = [this](const std::string& url) { calls.push_back("manager " + url); };
    c.setUserActivity = [this](const Value& a) { calls.push_back("activity " + a.value("type", "")); };
    c.onRegisteredForRemoteNotificationsWithDeviceToken = [this](const std::vector<uint8_t>& t) {
      calls.push_back("token " + std::to_string(t.size()));
    };
    c.onFailedToRegisterForRemoteNotificationsWithError = [this](const std::string& e) { calls.push_back("fail " + e); };
    return c;
  }

  Testing::TestPorts ports;
  std::shared_ptr<CorvaneSDKAppDelegateSwizzler> swizzler;
  ManualQueue* main = nullptr;
  std::vector<std::string> calls;
};

TEST_F(MobileAppDelegateProxy, NoLowBitsMeansNoProxyAndNoInterceptor) {
  auto app = appDelegate();
  ports.application->setDelegate(app);
  std::shared_ptr<CorvaneSDKManagerAppDelegate> slot;
  CorvaneSDKManagerAppDelegate::setupSwizzle(slot, 0, managerCallbacks(), swizzler);
  CorvaneSDKManagerAppDelegate::setupSwizzle(slot, 16, managerCallbacks(), swizzler);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(app->hook(), nullptr);
  EXPECT_TRUE(swizzler->interceptors().empty());
  swizzler->setupProxy(0);
  EXPECT_EQ(app->hook(), nullptr);
}

TEST_F(MobileAppDelegateProxy, FlagChoosesTheRoutedOperations) {
  auto withoutOptions = appDelegate(false);
  ports.application->setDelegate(withoutOptions);
  swizzler->setupProxy(2);
  EXPECT_TRUE(ports.log->contains("Successfully created App Delegate Proxy"));
  EXPECT_FALSE(withoutOptions->respondsTo(Op::OpenURL));  // not added without the app's own
  EXPECT_TRUE(withoutOptions->respondsTo(Op::OpenURLSourceApplication));
  EXPECT_FALSE(withoutOptions->respondsTo(Op::ContinueUserActivity));

  ApplicationDelegateHandlers h;
  h.didReceiveRemoteNotificationFetchCompletion = [](const Value&, FetchCompletionHandler) {};
  auto full = std::make_shared<ApplicationDelegate>(h);
  uint32_t all = CorvaneSDKAppDelegateProxy::routedOperationsFor(31, *full);
  for (int i = 0; i < kApplicationDelegateOperationCount; ++i) {
    bool expected = static_cast<Op>(i) != Op::OpenURL;
    EXPECT_EQ((all & (1u << i)) != 0, expected) << applicationDelegateSelector(static_cast<Op>(i));
  }
  uint32_t bare = CorvaneSDKAppDelegateProxy::routedOperationsFor(16, *withoutOptions);
  EXPECT_EQ(bare, CorvaneSDKAppDelegateProxy::bit(Op::DidReceiveRemoteNotification));
  EXPECT_EQ(CorvaneSDKAppDelegateProxy::routedOperationsFor(8, *full),
            CorvaneSDKAppDelegateProxy::bit(Op::DidRegisterForRemoteNotifications) |
                CorvaneSDKAppDelegateProxy::bit(Op::DidFailToRegisterForRemoteNotifications));
  EXPECT_EQ(CorvaneSDKAppDelegateProxy::routedOperationsFor(4 | 1, *full),
            CorvaneSDKAppDelegateProxy::bit(Op::HandleEventsForBackgroundURLSession) |
                CorvaneSDKAppDelegateProxy::bit(Op::ContinueUserActivity));
}

TEST_F(MobileAppDelegateProxy, InterceptorsFirstThenTheAppWithResultsOred) {
  auto app = appDelegate(true, false);
  ports.application->setDelegate(app);
  auto description = app->description();
  auto manager = CorvaneSDKManagerAppDelegate::init(15, managerCallbacks(), swizzler);
  ASSERT_TRUE(manager->interceptorId());
  EXPECT_EQ(ports.application->delegate(), app);  // the same object, still describing itself
  EXPECT_EQ(app->description(), description);
  EXPECT_EQ(swizzler->originalDelegate(), app);

  ApplicationDelegateHandlers yes;
  yes.openURL = [this](const std::string&, const Value&) {
    calls.push_back("yes");
    return true;
  };
  auto handling = std::make_shared<ApplicationDelegate>(yes);
  EXPECT_FALSE(app->openURL("myapp://a"));  // nobody handles it
  auto id = swizzler->registerInterceptor(handling);
  EXPECT_TRUE(app->openURL("myapp://b"));  // an interceptor did, the app did not
  EXPECT_FALSE(app->openURLSourceApplication("myapp://c", "com.other"));
  EXPECT_EQ(calls.back(), "app-source myapp://c");
  swizzler->unregisterInterceptor(id);

  app->continueUserActivity(Value::object({{"type", "web"}}));
  app->didRegisterForRemoteNotificationsWithDeviceToken({1, 2, 3});
  app->didFailToRegisterForRemoteNotificationsWithError("no network");
  int backgroundDone = 0;
  app->handleEventsForBackgroundURLSession("session", [&] { ++backgroundDone; });
  EXPECT_EQ(backgroundDone, 0);  // the interceptor does nothing with it; the app has no handler
  ASSERT_EQ(calls.size(), 10u);
  // Interceptors in the registry's order (unspecified), always before the app's own handler.
  std::vector<std::string> both{calls[2], calls[3]};
  std::sort(both.begin(), both.end());
  EXPECT_EQ(both, (std::vector<std::string>{"manager myapp://b", "yes"}));
  calls.erase(calls.begin() + 2, calls.begin() + 4);
  EXPECT_EQ(calls, (std::vector<std::string>{"manager myapp://a", "app myapp://a", "app myapp://b",
                                             "manager myapp://c", "app-source myapp://c", "activity web", "token 3",
                                             "fail no network"}));
}

// A second setup must not make every URL reach the manager twice.
TEST_F(MobileAppDelegateProxy, SetupIsIdempotentPerDelegate) {
  auto app = appDelegate();
  ports.application->setDelegate(app);
  std::shared_ptr<CorvaneSDKManagerAppDelegate> slot;
  CorvaneSDKManagerAppDelegate::setupSwizzle(slot, 2, managerCallbacks(), swizzler);
  auto firstHook = app->hook();
  CorvaneSDKManagerAppDelegate::setupSwizzle(slot, 2, managerCallbacks(), swizzler);
  CorvaneSDKManagerAppDelegate::setupSwizzle(slot, 2 | 16, managerCallbacks(), swizzler);
  EXPECT_EQ(app->hook(), firstHook);
  EXPECT_EQ(swizzler->interceptors().size(), 1u);
  EXPECT_EQ(ports.log->count("Successfully created App Delegate Proxy"), 1);
  app->openURL("myapp://once");
  EXPECT_EQ(calls, (std::vector<std::string>{"manager myapp://once", "app myapp://once"}));
  // update only changes what is routed.
  slot->update(1);
  calls.clear();
  app->openURL("myapp://direct");
  EXPECT_EQ(calls, std::vector<std::string>{"app myapp://direct"});
  EXPECT_TRUE(app->respondsTo(Op::ContinueUserActivity));
  app->continueUserActivity(Value::object({{"type", "handoff"}}));
  EXPECT_EQ(calls.back(), "activity handoff");
}

TEST_F(MobileAppDelegateProxy, FetchCompletionIsCombinedAndCalledOnceOnTheMainQueue) {
  ApplicationDelegateHandlers own;
  FetchCompletionHandler appSide;
  own.didReceiveRemoteNotificationFetchCompletion = [&](const Value&, FetchCompletionHandler done) { appSide = done; };
  auto app = std::make_shared<ApplicationDelegate>(own);
  ports.application->setDelegate(app);
  swizzler->setupProxy(16);
  std::vector<int64_t> results;
  auto record = [&](int64_t r) { results.push_back(r); };

  // One participant reports "no data", the other "failed": no data wins.
  ApplicationDelegateHandlers later;
  FetchCompletionHandler interceptorSide;
  later.didReceiveRemoteNotificationFetchCompletion = [&](const Value&, FetchCompletionHandler done) {
    interceptorSide = done;
  };
  auto interceptor = std::make_shared<ApplicationDelegate>(later);
  swizzler->registerInterceptor(interceptor);
  app->didReceiveRemoteNotificationFetchCompletion(Value::object(), record);
  ASSERT_TRUE(appSide && interceptorSide);
  appSide(kBackgroundFetchResultFailed);
  appSide(kBackgroundFetchResultNewData);  // a second answer from the same participant counts not
  main->runPending();
  EXPECT_TRUE(results.empty());
  interceptorSide(kBackgroundFetchResultNoData);
  EXPECT_TRUE(results.empty());  // on the main queue
  main->runPending();
  EXPECT_EQ(results, std::vector<int64_t>{kBackgroundFetchResultNoData});
  interceptorSide(kBackgroundFetchResultNewData);
  main->runPending();
  EXPECT_EQ(results.size(), 1u);

  // Participants answering at once: new data wins over everything.
  later.didReceiveRemoteNotificationFetchCompletion = [](const Value&, FetchCompletionHandler done) { done(0); };
  auto quick = std::make_shared<ApplicationDelegate>(later);
  swizzler->clearInterceptors();
  swizzler->registerInterceptor(quick);
  app->didReceiveRemoteNotificationFetchCompletion(Value::object(), record);
  appSide(7);  // an unknown value counts as failed
  main->runPending();
  EXPECT_EQ(results.back(), kBackgroundFetchResultNewData);

  EXPECT_EQ(CorvaneSDKAppDelegateProxy::combineFetchResults({}), kBackgroundFetchResultFailed);
  EXPECT_EQ(CorvaneSDKAppDelegateProxy::combineFetchResults({2, 2}), kBackgroundFetchResultFailed);
  EXPECT_EQ(CorvaneSDKAppDelegateProxy::combineFetchResults({2, 1, 0}), kBackgroundFetchResultNewData);
}

TEST_F(MobileAppDelegateProxy, NoParticipantGetsFailedOnce) {
  // Routed through the proxy with nobody taking part: "failed" once.
  auto app = appDelegate();
  ports.application->setDelegate(app);
  auto proxy = std::make_shared<CorvaneSDKAppDelegateProxy>(
      swizzler->interceptorRegistry(), CorvaneSDKAppDelegateProxy::bit(Op::DidReceiveRemoteNotificationFetchCompletion));
  app->setHook(proxy);
  std::vector<int64_t> results;
  app->didReceiveRemoteNotificationFetchCompletion(Value(), [&](int64_t r) { results.push_back(r); });
  main->runPending();
  EXPECT_EQ(results, std::vector<int64_t>{kBackgroundFetchResultFailed});
  // Not routed and not implemented: still answered once.
  auto plain = appDelegate();
  plain->didReceiveRemoteNotificationFetchCompletion(Value(), [&](int64_t r) { results.push_back(r); });
  plain->didReceiveRemoteNotificationFetchCompletion(Value(), nullptr);
  EXPECT_EQ(results.size(), 2u);
}

TEST_F(MobileAppDelegateProxy, RegistryLogLines) {
  EXPECT_EQ(swizzler->registerInterceptor(nullptr), std::nullopt);
  EXPECT_TRUE(ports.log->contains("AppDelegateProxy cannot add nil interceptor"));
  swizzler->unregisterInterceptor(std::nullopt);
  swizzler->unregisterInterceptor(std::string());
  EXPECT_EQ(ports.log->count("AppDelegateProxy unregister empty interceptor Id"), 2);
  swizzler->unregisterInterceptor(std::string("CorvaneAppDelegate_0x1"));
  EXPECT_TRUE(ports.log->contains(
      "AppDelegateProxy cannot unregister interceptor that was not registered, InterceptorId: CorvaneAppDelegate_0x1"));

  auto app = appDelegate();
  ports.application->setDelegate(app);
  swizzler->setupProxy(2);
  ApplicationDelegateHandlers h;
  h.openURL = [](const std::string&, const Value&) { return true; };
  auto shortLived = std::make_shared<ApplicationDelegate>(h);
  auto id = swizzler->registerInterceptor(shortLived);
  ASSERT_TRUE(id);
  EXPECT_EQ(id->rfind("CorvaneAppDelegate_0x", 0), 0u);
  EXPECT_EQ(swizzler->registerInterceptor(shortLived), id);  // same object, same entry
  EXPECT_EQ(swizzler->interceptors().size(), 1u);
  shortLived.reset();
  EXPECT_FALSE(app->openURL("myapp://x"));  // the released interceptor answers nothing
  EXPECT_TRUE(ports.log->contains("AppDelegateProxy cannot find interceptor with Id " + *id +
                                  ". Removing the interceptor"));
  EXPECT_TRUE(swizzler->interceptors().empty());

  // The manager's interceptor leaves the registry silently when released.
  auto manager = CorvaneSDKManagerAppDelegate::init(2, managerCallbacks(), swizzler);
  EXPECT_EQ(swizzler->interceptors().size(), 1u);
  ports.log->clear();
  manager.reset();
  EXPECT_TRUE(swizzler->interceptors().empty());
  EXPECT_TRUE(ports.log->lines().empty());
  auto again = CorvaneSDKManagerAppDelegate::init(2, managerCallbacks(), swizzler);
  again->deinit();
  EXPECT_TRUE(swizzler->interceptors().empty());
}

TEST_F(MobileAppDelegateProxy, NilDelegateAndReplacedDelegate) {
  swizzler->setupProxy(2);
  EXPECT_TRUE(ports.log->contains("Cannot create App Delegate Proxy because App Delegate instance is nil"));
  EXPECT_FALSE(swizzler->isObserving());

  auto first = appDelegate();
  ports.application->setDelegate(first);
  swizzler->setupProxy(2);
  EXPECT_TRUE(swizzler->isObserving());
  EXPECT_EQ(swizzler->originalDelegate(), first);
  // The app replaces its delegate: the observer forgets the proxied one and stops.
  auto second = appDelegate();
  ports.application->setDelegate(second);
  EXPECT_EQ(swizzler->originalDelegate(), nullptr);
  EXPECT_FALSE(swizzler->isObserving());
  EXPECT_EQ(second->hook(), nullptr);  // not proxied until the next setup
  swizzler->setupProxy(2);
  EXPECT_NE(second->hook(), nullptr);
  EXPECT_EQ(swizzler->originalDelegate(), second);
  EXPECT_TRUE(swizzler->isObserving());
  // An unrelated change (the same delegate set again) is no replacement.
  ports.application->setDelegate(second);
  EXPECT_EQ(swizzler->originalDelegate(), second);
}

TEST_F(MobileAppDelegateProxy, ThrowingHandlersReadAsUnhandled) {
  ApplicationDelegateHandlers bad;
  bad.openURL = [](const std::string&, const Value&) -> bool { throw std::runtime_error("app bug"); };
  auto app = std::make_shared<ApplicationDelegate>(bad);
  ports.application->setDelegate(app);
  swizzler->setupProxy(2);
  auto interceptor = std::make_shared<ApplicationDelegate>(bad);
  swizzler->registerInterceptor(interceptor);
  EXPECT_FALSE(app->openURL("myapp://boom"));
}

TEST(MobileAppDelegateProxyThreads, EventsWhileInterceptorsComeAndGo) {
  Testing::TestPorts ports({.threadDispatch = true, .debugLog = false});
  auto swizzler = CorvaneSDKAppDelegateSwizzler::create(ports.application);
  std::atomic<int> appCalls{0}, seen{0}, fetched{0};
  ApplicationDelegateHandlers own;
  own.openURL = [&](const std::string&, const Value&) {
    ++appCalls;
    return false;
  };
  own.didReceiveRemoteNotificationFetchCompletion = [](const Value&, FetchCompletionHandler done) { done(1); };
  auto app = std::make_shared<ApplicationDelegate>(own);
  ports.application->setDelegate(app);
  swizzler->setupProxy(2 | 16);
  constexpr int kThreads = 3, kEach = 300;
  std::atomic<bool> running{true};
  std::thread churn([&] {
    ApplicationDelegateHandlers h;
    h.openURL = [&](const std::string&, const Value&) {
      ++seen;
      return true;
    };
    while (running.load()) {
      auto interceptor = std::make_shared<ApplicationDelegate>(h);
      auto id = swizzler->registerInterceptor(interceptor);
      swizzler->setupProxy(2 | 16);
      if (id && (seen.load() % 2 == 0)) swizzler->unregisterInterceptor(id);
    }
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        app->openURL("myapp://t");
        app->didReceiveRemoteNotificationFetchCompletion(Value(), [&](int64_t) { ++fetched; });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  running = false;
  churn.join();
  EXPECT_EQ(appCalls.load(), kThreads * kEach);
  EXPECT_TRUE(Testing::waitUntil([&] { return fetched.load() == kThreads * kEach; }));
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
