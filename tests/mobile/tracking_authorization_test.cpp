// Tracking authorization: the status by release and class, the prompt with queued completions,
// the answer held while the app is not active, and the automatic prompt as an initialisation
// action; then threads requesting while the platform answers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "CorvaneSDKTrackingAuthorization.h"
#include "MobileTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

class MobileTrackingAuthorization : public ::testing::Test {
 protected:
  void make(const std::string& version = "17.0", bool present = true) {
    os = std::make_shared<FixedOSVersion>(version);
    tracking = std::make_shared<SettableTrackingManager>(present, 0);
    auth = CorvaneSDKTrackingAuthorization::create([this](int64_t s) { logged.push_back(s); },
                                                   {tracking, ports.application, os});
  }
  void SetUp() override { make(); }

  Testing::TestPorts ports;
  std::shared_ptr<FixedOSVersion> os;
  std::shared_ptr<SettableTrackingManager> tracking;
  std::shared_ptr<CorvaneSDKTrackingAuthorization> auth;
  std::vector<int64_t> logged;
};

TEST_F(MobileTrackingAuthorization, StatusByReleaseAndClass) {
  tracking->setStatus(3);
  EXPECT_EQ(auth->getTrackingAuthorizationStatus(), 3);
  make("13.7");
  tracking->setStatus(3);
  EXPECT_EQ(auth->getTrackingAuthorizationStatus(), 0);
  make("17.0", false);
  tracking->setStatus(3);
  EXPECT_EQ(auth->getTrackingAuthorizationStatus(), 0);
}

TEST_F(MobileTrackingAuthorization, BelowFourteenAnswersZeroAtOnceWithoutEvent) {
  make("13.7");
  std::vector<int64_t> answers;
  auth->requestTrackingAuthorization([&](int64_t s) { answers.push_back(s); });
  EXPECT_EQ(answers, std::vector<int64_t>{0});
  EXPECT_TRUE(logged.empty());
  EXPECT_EQ(tracking->promptsShown(), 0);
  EXPECT_FALSE(ports.log->contains("Request tracking authorization result"));
}

TEST_F(MobileTrackingAuthorization, PromptLogsAndAnswers) {
  tracking->setAnswer(3);
  std::vector<int64_t> answers;
  auth->requestTrackingAuthorization([&](int64_t s) { answers.push_back(s); });
  EXPECT_EQ(answers, std::vector<int64_t>{3});
  EXPECT_EQ(logged, std::vector<int64_t>{3});
  EXPECT_TRUE(ports.log->contains("Request tracking authorization result: 3"));
  EXPECT_FALSE(auth->isRequesting());
  auth->requestTrackingAuthorization(nullptr);  // a null completion is fine
  EXPECT_EQ(tracking->promptsShown(), 2);
  // Without the class, or without the operation, the answer is 0.
  make("17.0", false);
  auth->requestTrackingAuthorization([&](int64_t s) { answers.push_back(s); });
  tracking->setResponds(false);
  make("17.0");
  tracking->setResponds(false);
  auth->requestTrackingAuthorization([&](int64_t s) { answers.push_back(s); });
  EXPECT_EQ(answers, (std::vector<int64_t>{3, 0, 0}));
  EXPECT_EQ(tracking->promptsShown(), 0);
}

// A request while one is outstanding must not drop its completion.
TEST_F(MobileTrackingAuthorization, RequestsWhileOutstandingAreAnsweredOnceEach) {
  tracking->setHoldsPrompts(true);
  std::vector<std::string> answers;
  for (const char* who : {"first", "second", "third"}) {
    auth->requestTrackingAuthorization([&answers, who](int64_t s) { answers.push_back(who + std::to_string(s)); });
  }
  EXPECT_EQ(tracking->promptsShown(), 1);
  EXPECT_TRUE(answers.empty());
  EXPECT_EQ(tracking->answerHeld(2), 1);
  EXPECT_EQ(answers, (std::vector<std::string>{"first2", "second2", "third2"}));
  EXPECT_EQ(logged, std::vector<int64_t>{2});
  // Nothing is answered twice, and the next request prompts again.
  tracking->answerHeld(3);
  EXPECT_EQ(answers.size(), 3u);
  auth->requestTrackingAuthorization(nullptr);
  EXPECT_EQ(tracking->promptsShown(), 2);
}

TEST_F(MobileTrackingAuthorization, ReleasedWhileAPromptIsOutstandingStillAnswers) {
  tracking->setHoldsPrompts(true);
  std::vector<int64_t> answers;
  auth->requestTrackingAuthorization([&](int64_t s) { answers.push_back(s); });
  auth->requestTrackingAuthorization([&](int64_t s) { answers.push_back(s); });
  auth.reset();  // the platform's handler holds no cycle through the ports
  tracking->answerHeld(3);
  EXPECT_EQ(answers, (std::vector<int64_t>{3, 3}));
  EXPECT_TRUE(logged.empty());  // nobody left to log for
}

TEST_F(MobileTrackingAuthorization, DeniedWhileInactiveIsHeldUntilActive) {
  ports.application->setApplicationState(ApplicationState::Background);
  tracking->setAnswer(2, false);  // the platform answered without showing the prompt
  std::vector<int64_t> answers;
  auth->requestTrackingAuthorization([&](int64_t s) { answers.push_back(s); });
  EXPECT_TRUE(answers.empty());
  EXPECT_TRUE(auth->hasPendingCompletion());
  auth->requestTrackingAuthorization([&](int64_t s) { answers.push_back(10 + s); });  // queued behind it
  EXPECT_EQ(tracking->promptsShown(), 1);
  ports.application->setApplicationState(ApplicationState::Active);
  tracking->setStatus(3);  // what the user chose once the prompt really showed
  auth->applicationDidBecomeActive();
  EXPECT_EQ(answers, (std::vector<int64_t>{3, 13}));
  EXPECT_EQ(logged, std::vector<int64_t>{3});
  auth->applicationDidBecomeActive();  // reported once
  EXPECT_EQ(answers.size(), 2u);
  // Denied with a status already set, or while active, is a real answer.
  ports.application->setApplicationState(ApplicationState::Background);
  tracking->setStatus(1);
  auth->requestTrackingAuthorization([&](int64_t s) { answers.push_back(s); });
  EXPECT_EQ(answers.back(), 2);
}

TEST_F(MobileTrackingAuthorization, AutomaticPromptEndsTheActionOnce) {
  int finished = 0;
  auto action = auth->automaticPromptAction();
  // Inactive: waits for the app to become active.
  ports.application->setApplicationState(ApplicationState::Inactive);
  tracking->setHoldsPrompts(true);
  action([&] { ++finished; });
  EXPECT_TRUE(auth->hasPendingAutomaticPrompt());
  EXPECT_EQ(tracking->promptsShown(), 0);
  ports.application->setApplicationState(ApplicationState::Active);
  auth->applicationDidBecomeActive();
  EXPECT_FALSE(auth->hasPendingAutomaticPrompt());
  EXPECT_EQ(tracking->promptsShown(), 1);
  EXPECT_EQ(finished, 0);  // the next action waits for the user's answer
  // A manual request meanwhile does not take the action's completion away.
  int manual = 0;
  auth->requestTrackingAuthorization([&](int64_t) { ++manual; });
  tracking->answerHeld(3);
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(manual, 1);
  // Status already determined: the action ends at once without a prompt.
  action([&] { ++finished; });
  EXPECT_EQ(finished, 2);
  EXPECT_EQ(tracking->promptsShown(), 1);
  // Below 14.0 the action ends at once.
  make("13.0");
  auth->automaticPromptAction()([&] { ++finished; });
  EXPECT_EQ(finished, 3);
}

// The automatic prompt's completion must be answered even when it queues behind another prompt.
TEST_F(MobileTrackingAuthorization, AutomaticPromptBehindAnOutstandingPromptStillEnds) {
  tracking->setHoldsPrompts(true);
  auth->requestTrackingAuthorization(nullptr);
  int finished = 0;
  auth->runAutomaticPrompt([&] { ++finished; });
  EXPECT_EQ(tracking->promptsShown(), 1);
  tracking->answerHeld(2);
  EXPECT_EQ(finished, 1);
  // A released authorization object still ends an action handed out earlier.
  auto action = auth->automaticPromptAction();
  auth.reset();
  action([&] { ++finished; });
  EXPECT_EQ(finished, 2);
}

TEST(MobileTrackingAuthorizationThreads, ConcurrentRequestsAreEachAnsweredOnce) {
  Testing::TestPorts ports({.debugLog = false});
  auto tracking = std::make_shared<SettableTrackingManager>(true, 0);
  tracking->setHoldsPrompts(true);
  std::atomic<int> logged{0};
  auto auth = CorvaneSDKTrackingAuthorization::create([&](int64_t) { ++logged; },
                                                      {tracking, ports.application,
                                                       std::make_shared<FixedOSVersion>("17.0")});
  constexpr int kThreads = 4, kEach = 300;
  std::atomic<int> answered{0};
  std::atomic<bool> running{true};
  std::thread platform([&] {
    while (running.load()) {
      tracking->answerHeld(0);  // status stays 0, so later requests prompt again
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) auth->requestTrackingAuthorization([&](int64_t) { ++answered; });
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(Testing::waitUntil([&] { return answered.load() == kThreads * kEach; }));
  running = false;
  platform.join();
  tracking->answerHeld(0);
  EXPECT_EQ(answered.load(), kThreads * kEach);
  EXPECT_EQ(logged.load(), tracking->promptsShown());
  EXPECT_FALSE(auth->isRequesting());
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
