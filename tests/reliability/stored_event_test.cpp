// Events whose value sits at the nesting bound of the host API (64 levels) must survive the
// queue like any other: their dispatch callback runs, and a restart before the upload
// reloads them. The queue keeps the whole event object, one level deeper than the value.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "LogCapture.h"
#include "sdk_harness.h"

namespace CorvaneSDK {
namespace Test {
namespace {

std::string Nested(int levels) { return std::string(levels, '[') + std::string(levels, ']'); }

std::atomic<int> g_deepDispatches{0};
void CountDeep(const char* name, const char*, int) {
  if (name != nullptr && std::strcmp(name, "deep_value") == 0) ++g_deepDispatches;
}

class StoredEventTest : public SdkHarness {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  void LogDeep(int levels) {
    CorvaneSDKEvent e = CorvaneSDKEvent_Get("deep_value");
    CorvaneSDKEvent_SetJsonValue(e, Nested(levels).c_str());
    CorvaneSDKManager_LogEvent(CorvaneSDKManager_GetInstance(), e);
  }

  SwitchServer server_;
};

TEST_F(StoredEventTest, ValueAtTheDepthBoundSurvivesARestartBeforeItsUpload) {
  LogCapture capture(kLogWarning);
  server_.SetStatus(503);
  Init(Data(server_.Url()));
  LogDeep(64);  // accepted: the host API takes values of up to 64 levels
  const auto after = Log("after-deep-", 1);
  ASSERT_EQ(ReadQueueHeader(QueuePath()).count, 2u);
  CorvaneSDKManager_Destroy();

  server_.SetStatus(204);
  Init(Data(server_.Url()));
  ASSERT_TRUE(WaitUntil([&] { return server_.ledger().Has(after); }));
  EXPECT_FALSE(capture.Contains("Skipping a queued element that is not an event"))
      << "the reload refused the stored deep event: it is lost";
  EXPECT_TRUE(server_.BodyContains("\"eventName\":\"deep_value\""));
}

TEST_F(StoredEventTest, ValueAtTheDepthBoundRunsItsSendEventCallback) {
  g_deepDispatches = 0;
  CorvaneSDKManager_AddSendEventCallback(CountDeep, 1);
  Init(Data(server_.Url()));
  LogDeep(64);
  const auto after = Log("after-deep-", 1);
  ASSERT_TRUE(WaitUntil([&] { return server_.ledger().Has(after); }));
  EXPECT_TRUE(server_.BodyContains("\"eventName\":\"deep_value\""));
  EXPECT_EQ(g_deepDispatches, 1) << "the send-event callback never saw the deep event";
}

TEST_F(StoredEventTest, ValueOneLevelBelowTheBoundSurvivesARestart) {
  server_.SetStatus(503);
  Init(Data(server_.Url()));
  LogDeep(63);
  const auto after = Log("after-deep-", 1);
  CorvaneSDKManager_Destroy();
  server_.SetStatus(204);
  Init(Data(server_.Url()));
  ASSERT_TRUE(WaitUntil([&] { return server_.ledger().Has(after); }));
  EXPECT_TRUE(server_.BodyContains("\"eventName\":\"deep_value\""));
}

}  // namespace
}  // namespace Test
}  // namespace CorvaneSDK
