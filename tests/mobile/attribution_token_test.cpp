// The attribution token: one fetch at a time on the main queue, the retry 5 s later on the
// injected clock, an event per new token, a failure clearing silently; and the SKAdNetwork
// registration by release.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "CorvaneSDKAttributionToken.h"
#include "MobileTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

class MobileAttributionToken : public ::testing::Test {
 protected:
  void make(const std::string& version = "17.0", bool present = true) {
    os = std::make_shared<FixedOSVersion>(version);
    ads = std::make_shared<SettableAdServices>(present);
    token = CorvaneSDKAttributionToken::create([this](const std::string& t) { events.push_back(t); },
                                               {ads, dispatch->mainQueue(), os});
  }
  void SetUp() override {
    dispatch = std::static_pointer_cast<ManualDispatch>(ports.dispatch);
    make();
  }
  ManualQueue& main() { return dispatch->main(); }

  Testing::TestPorts ports;
  std::shared_ptr<ManualDispatch> dispatch;
  std::shared_ptr<FixedOSVersion> os;
  std::shared_ptr<SettableAdServices> ads;
  std::shared_ptr<CorvaneSDKAttributionToken> token;
  std::vector<std::string> events;
};

TEST_F(MobileAttributionToken, OneFetchAtATimeOnTheMainQueue) {
  ads->setResult(AttributionTokenResult::success("tok-1"));
  token->fetchAppleAttributionToken();
  token->fetchAppleAttributionToken();  // a second session while the first fetch is under way
  EXPECT_EQ(ads->calls(), 0);           // nothing until the main queue runs
  EXPECT_TRUE(token->isFetching());
  main().runPending();
  EXPECT_EQ(ads->calls(), 1);
  EXPECT_EQ(events, std::vector<std::string>{"tok-1"});
  EXPECT_FALSE(token->isFetching());
  // The same token again: no second event; a different one: an event.
  token->fetchAppleAttributionToken();
  main().runPending();
  EXPECT_EQ(events.size(), 1u);
  ads->setResult(AttributionTokenResult::success("tok-2"));
  token->fetchAppleAttributionToken();
  main().runPending();
  EXPECT_EQ(events, (std::vector<std::string>{"tok-1", "tok-2"}));
  EXPECT_EQ(token->appleAttributionToken(), std::optional<std::string>("tok-2"));
}

TEST_F(MobileAttributionToken, ErrorIsRetriedOnceAfterFiveSeconds) {
  ads->enqueue(AttributionTokenResult::failure(1, "network"));
  ads->enqueue(AttributionTokenResult::success("late"));
  token->fetchAppleAttributionToken();
  main().runPending();
  EXPECT_EQ(ads->calls(), 1);
  EXPECT_TRUE(token->isFetching());
  token->fetchAppleAttributionToken();  // still under way during the wait
  main().advance(4999);
  EXPECT_EQ(ads->calls(), 1);
  main().advance(1);
  EXPECT_EQ(ads->calls(), 2);
  EXPECT_EQ(events, std::vector<std::string>{"late"});
  EXPECT_FALSE(token->isFetching());
}

TEST_F(MobileAttributionToken, FailureOnTheRetryClearsTheTokenSilently) {
  ads->enqueue(AttributionTokenResult::success("old"));
  token->fetchAppleAttributionToken();
  main().runPending();
  ads->enqueue(AttributionTokenResult::failure(2));
  ads->enqueue(AttributionTokenResult::failure(2));
  token->fetchAppleAttributionToken();
  main().advance(5000);
  EXPECT_EQ(ads->calls(), 3);
  EXPECT_EQ(token->appleAttributionToken(), std::nullopt);
  EXPECT_EQ(events, std::vector<std::string>{"old"});
  EXPECT_FALSE(token->isFetching());
  main().advance(60000);
  EXPECT_EQ(ads->calls(), 3);  // one retry only
  // The same token after a failure is new again.
  ads->enqueue(AttributionTokenResult::success("old"));
  token->fetchAppleAttributionToken();
  main().runPending();
  EXPECT_EQ(events, (std::vector<std::string>{"old", "old"}));
}

TEST_F(MobileAttributionToken, NotSupportedOldReleasesMissingClassAndEmptyTokens) {
  ads->setResult(AttributionTokenResult::failure(kAdServicesErrorNotSupported));
  token->fetchAppleAttributionToken();
  main().advance(10000);
  EXPECT_EQ(ads->calls(), 1);  // no retry for "not supported"
  EXPECT_FALSE(token->isFetching());

  make("14.2");
  token->fetchAppleAttributionToken();
  EXPECT_FALSE(token->isFetching());
  main().advance(10000);
  EXPECT_EQ(ads->calls(), 0);

  make("14.3", false);
  token->fetchAppleAttributionToken();
  main().advance(10000);
  EXPECT_EQ(ads->calls(), 0);
  EXPECT_FALSE(token->isFetching());
  EXPECT_TRUE(events.empty());

  make("17.0");
  ads->enqueue(AttributionTokenResult::success(""));
  ads->enqueue(AttributionTokenResult::success(""));
  token->fetchAppleAttributionToken();
  main().advance(5000);
  EXPECT_EQ(ads->calls(), 2);
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(token->isFetching());

  // Released while a retry waits: the retry does nothing.
  ads->enqueue(AttributionTokenResult::failure(1));
  token->fetchAppleAttributionToken();
  main().runPending();
  token.reset();
  main().advance(5000);
  EXPECT_EQ(ads->calls(), 3);
}

TEST_F(MobileAttributionToken, RegistrationByRelease) {
  struct Case {
    const char* version;
    bool present;
    bool called;
  } cases[] = {{"11.2", true, false}, {"11.3", true, true}, {"14.0", true, true}, {"16.0.3", true, true},
               {"16.1", true, false}, {"17.0", true, false}, {"15.0", false, false}};
  for (const auto& c : cases) {
    auto version = std::make_shared<FixedOSVersion>(c.version);
    auto skan = std::make_shared<RecordingSKAdNetwork>(c.present, version);
    EXPECT_EQ(CorvaneSDKAdNetworkRegistration::registerAppForAdNetworkAttribution(skan, version), c.called)
        << c.version;
    EXPECT_EQ(skan->calls().size(), c.called ? 1u : 0u) << c.version;
    if (c.called) {
      EXPECT_EQ(skan->calls()[0].selector, kSelRegisterApp);
    }
  }
  // A class that does not answer the operation.
  auto version = std::make_shared<FixedOSVersion>("14.0");
  auto skan = std::make_shared<RecordingSKAdNetwork>(true, version);
  skan->setResponds(std::set<std::string>{kSelUpdateConversionValue});
  EXPECT_FALSE(CorvaneSDKAdNetworkRegistration::registerAppForAdNetworkAttribution(skan, version));
  // The installed pair (portable) by default.
  auto portable = std::make_shared<PortableSKAdNetwork>(version);
  auto pair = std::make_shared<SKAdNetworkPorts>();
  pair->skAdNetwork = portable;
  pair->osVersion = version;
  SKAdNetworkPlatform::install(pair);
  EXPECT_TRUE(CorvaneSDKAdNetworkRegistration::registerAppForAdNetworkAttribution());
  EXPECT_EQ(portable->registrations(), 1);
  SKAdNetworkPlatform::install(nullptr);
}

TEST(MobileAttributionTokenThreads, SessionsFromManyThreadsStartOneFetch) {
  Testing::TestPorts ports({.threadDispatch = true, .debugLog = false});
  auto ads = std::make_shared<SettableAdServices>();
  ads->setResult(AttributionTokenResult::success("tok"));
  std::atomic<int> events{0};
  auto token = CorvaneSDKAttributionToken::create([&](const std::string&) { ++events; },
                                                  {ads, nullptr, std::make_shared<FixedOSVersion>("17.0")});
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 50; ++i) token->fetchAppleAttributionToken();
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(Testing::waitUntil([&] { return !token->isFetching(); }));
  // Fetches may follow one another but never overlap; the same token gives one event.
  EXPECT_GE(ads->calls(), 1);
  EXPECT_EQ(events.load(), 1);
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
