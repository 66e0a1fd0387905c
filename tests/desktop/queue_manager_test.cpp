// Queue manager against a real local server and real files, with time injected.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "Event.h"
#include "EventSender.h"
#include "FakeClock.h"
#include "FileIO.h"
#include "LogCapture.h"
#include "FixedProperties.h"
#include "PropertiesGetter.h"
#include "QueueFile.h"
#include "QueueManager.h"
#include "TempDir.h"
#include "TestHttpServer.h"

using namespace CorvaneSDK;
using namespace CorvaneSDK::Test;

namespace {

struct Props : Test::FixedProperties {
  Props() {
    appId = "a";
    userId = "u";
    bundleId = "";
    appVersion = "1";
    buildNumber = "1";
  }
};

struct Monitor : QueueManagerMonitor {
  std::atomic<bool> canSend{true};
  std::mutex mutex;
  std::map<std::string, int> dispatched;  // eventName -> count
  std::atomic<int> empties{0};
  std::function<void(Event*)> onDispatch;
  bool CanSend() override { return canSend; }
  void OnEventDispatch(Event* e) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++dispatched[e->eventName];
    }
    if (onDispatch) onDispatch(e);
  }
  void OnQueueEmpty() override { ++empties; }
  int Dispatched(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    return dispatched[name];
  }
};

Event* Named(const std::string& name, size_t padding = 0) {
  Event* e = Event::Acquire(name);
  if (padding > 0) e->SetStringValue(std::string(padding, 'x'));
  e->Stamp("s", "c", "");
  return e;
}

class QueueManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  std::unique_ptr<QueueManager> Make(QueueSettings settings = QueueSettings(), bool file = true,
                                     int maxRetries = 0) {
    sender_.reset(new EventSender(server_.Url("/v4/event"), maxRetries, 500, "YTpi", props_));
    return std::unique_ptr<QueueManager>(
        new QueueManager(settings, &monitor_, sender_.get(), file ? dir_.path() : ""));
  }

  // Names of the events in each batch the server received.
  std::vector<std::vector<std::string>> Batches() {
    std::vector<std::vector<std::string>> out;
    for (const auto& r : server_.Requests("/v4/event")) {
      Json body;
      if (!ParseJson(r.body, body)) continue;
      std::vector<std::string> names;
      for (const auto& e : body["subMessages"]) names.push_back(e["eventName"]);
      out.push_back(names);
    }
    return out;
  }

  template <typename P>
  bool WaitUntil(P predicate, int ms = 10000) {
    for (int i = 0; i < ms; ++i) {
      if (predicate()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return predicate();
  }

  TempDir dir_;
  TestHttpServer server_;
  Props props_;
  Monitor monitor_;
  std::unique_ptr<EventSender> sender_;
};

}  // namespace

TEST_F(QueueManagerTest, ThreeEventsUploadTogetherAndSurviveInTheFileUntilSent) {
  ScopedFakeClock clock;
  monitor_.canSend = false;
  auto q = Make();
  q->Initialize();
  q->AddEvent(Named("a"));
  q->AddEvent(Named("b"));
  q->AddEvent(Named("c"));
  QueueFile file(JoinPath(dir_.path(), ".event_queue"));
  ASSERT_TRUE(file.Init());
  EXPECT_EQ(file.Count(), 3u);
  file.Close();
  q->Resume();
  monitor_.canSend = true;
  ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
  auto batches = Batches();
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0], (std::vector<std::string>{"a", "b", "c"}));
  // Told after the batch left the queue, outside the queue lock.
  EXPECT_TRUE(WaitUntil([&] { return monitor_.empties.load() >= 1; }));
  q->Destroy();
  QueueFile after(JoinPath(dir_.path(), ".event_queue"));
  ASSERT_TRUE(after.Init());
  EXPECT_EQ(after.Count(), 0u);
}

TEST_F(QueueManagerTest, OneEventWaitsForTheSendDelayAfterAnUpload) {
  ScopedFakeClock clock(false);
  QueueSettings s;
  s.queueCheckInterval = 10;
  s.sendDelay = 1000;
  auto q = Make(s);
  q->Initialize();
  q->AddEvent(Named("first"));
  q->Resume();  // next send time = now: the lone event goes at once
  ASSERT_TRUE(WaitUntil([&] {
    clock->Advance(10);
    return server_.Count("/v4/event") == 1 && q->Count() == 0;
  }));
  q->AddEvent(Named("second"));
  for (int i = 0; i < 50; ++i) {
    clock->Advance(10);  // 500 ms of fake time: still inside the send delay
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(server_.Count("/v4/event"), 1u);
  ASSERT_TRUE(WaitUntil([&] {
    clock->Advance(10);
    return server_.Count("/v4/event") == 2;
  }));
}

TEST_F(QueueManagerTest, BatchesRespectCountAndByteLimits) {
  ScopedFakeClock clock;
  monitor_.canSend = false;
  auto q = Make();
  q->Initialize();
  for (int i = 0; i < 120; ++i) q->AddEvent(Named("small"));
  for (int i = 0; i < 4; ++i) q->AddEvent(Named("big", 200000));
  q->Resume();
  monitor_.canSend = true;
  ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
  size_t total = 0;
  for (const auto& r : server_.Requests("/v4/event")) {
    Json body;
    ASSERT_TRUE(ParseJson(r.body, body));
    EXPECT_LE(body["subMessages"].size(), 50u);
    size_t bytes = 0;
    for (const auto& e : body["subMessages"]) bytes += DumpJson(e).size();
    EXPECT_LE(bytes, QueueManager::kMaxBatchBytes);
    total += body["subMessages"].size();
  }
  EXPECT_EQ(total, 124u);
}

TEST_F(QueueManagerTest, CapDropsTheOldestFromMemoryAndFile) {
  auto q = Make();
  q->Initialize();
  for (int i = 0; i < 5001; ++i) {
    Event* e = Event::Acquire("e");
    e->SetIntValue(i);
    q->AddEvent(e);
  }
  EXPECT_EQ(q->Count(), 5000u);
  Json first;
  ASSERT_TRUE(ParseJson(q->Texts().front(), first));
  EXPECT_EQ(first["value"]["value"], 1);
  q->Destroy();
  QueueFile file(JoinPath(dir_.path(), ".event_queue"));
  ASSERT_TRUE(file.Init());
  EXPECT_EQ(file.Count(), 5000u);
}

TEST_F(QueueManagerTest, StartupKeepsTheNewest5000) {
  {
    QueueFile file(JoinPath(dir_.path(), ".event_queue"));
    ASSERT_TRUE(file.Init());
    for (int i = 0; i < 6000; ++i) {
      const std::string text = "{\"eId\":\"" + std::to_string(i) + "\",\"eventName\":\"old\"}";
      ASSERT_TRUE(file.Add(text.data(), static_cast<uint32_t>(text.size())));
    }
    file.Close();
  }
  auto q = Make();
  q->Initialize();
  ASSERT_EQ(q->Count(), 5000u);
  Json first;
  ASSERT_TRUE(ParseJson(q->Texts().front(), first));
  EXPECT_EQ(first["eId"], "1000");
}

TEST_F(QueueManagerTest, CorruptElementKeepsWhatWasReadAndDropsTheFile) {
  const std::string path = JoinPath(dir_.path(), ".event_queue");
  {
    QueueFile file(path);
    ASSERT_TRUE(file.Init());
    for (const char* t : {"{\"eventName\":\"a\"}", "{\"eventName\":\"b\"}", "{\"eventName\":\"c\"}",
                          "{\"eventName\":\"d\"}"}) {
      ASSERT_TRUE(file.Add(t, static_cast<uint32_t>(std::strlen(t))));
    }
    file.Close();
  }
  // Zero the length of the third element: 16 + (4 + 17) * 2 = 58.
  std::string bytes = ReadFileBytes(path);
  bytes.replace(58, 4, std::string(4, '\0'));
  ASSERT_TRUE(WriteFileBytes(path, bytes));
  LogCapture capture(kLogError);
  auto q = Make();
  q->Initialize();
  EXPECT_EQ(q->Count(), 2u);
  EXPECT_FALSE(q->HasFile());
  EXPECT_FALSE(CorvaneSDK::FileExists(path));
  EXPECT_TRUE(capture.Contains("Cannot init queue file"));
  q->AddEvent(Named("memory"));  // the queue goes on in memory
  EXPECT_EQ(q->Count(), 3u);
}

TEST_F(QueueManagerTest, NonEventElementsAreSkippedTheirNeighboursKept) {
  const std::string path = JoinPath(dir_.path(), ".event_queue");
  {
    QueueFile file(path);
    ASSERT_TRUE(file.Init());
    for (const char* t : {"{\"eventName\":\"a\"}", "[1,2,3]", "not json", "{\"eventName\":\"b\"}"}) {
      ASSERT_TRUE(file.Add(t, static_cast<uint32_t>(std::strlen(t))));
    }
    file.Close();
  }
  auto q = Make();
  q->Initialize();
  EXPECT_EQ(q->Count(), 2u);
  EXPECT_TRUE(q->HasFile());
}

TEST_F(QueueManagerTest, DispatchOncePerEventEvenWhenTheBatchIsResent) {
  ScopedFakeClock clock;
  server_.Script("/v4/event", {ScriptedResponse{503}, ScriptedResponse{503}});
  auto q = Make();
  q->Initialize();
  q->AddEvent(Named("once"));
  q->Resume();
  ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
  EXPECT_EQ(server_.Count("/v4/event"), 3u);
  EXPECT_EQ(monitor_.Dispatched("once"), 1);
}

TEST_F(QueueManagerTest, DispatchCallbackMayEnqueueWithoutDeadlock) {
  ScopedFakeClock clock;
  std::atomic<int> added{0};
  QueueManager* raw = nullptr;
  monitor_.onDispatch = [&](Event* e) {
    if (e->eventName == "trigger" && added++ == 0) raw->AddEvent(Named("from-callback"));
  };
  auto q = Make();
  raw = q.get();
  q->Initialize();
  q->AddEvent(Named("trigger"));
  q->Resume();
  ASSERT_TRUE(WaitUntil([&] { return monitor_.Dispatched("from-callback") == 1 && q->Count() == 0; }));
}

TEST_F(QueueManagerTest, OversizedEventIsDroppedAtEnqueue) {
  LogCapture capture(kLogError);
  auto q = Make();
  q->Initialize();
  EXPECT_FALSE(q->AddEvent(Named("huge", 500000)));
  EXPECT_EQ(q->Count(), 0u);
  EXPECT_TRUE(capture.Contains("Dropping event huge"));
}

TEST_F(QueueManagerTest, PermanentRejectionHalvesBatchesAndDropsOnlyTheBadEvent) {
  ScopedFakeClock clock;
  // The server refuses any batch holding "bad" with 400.
  server_.SetHandler("/v4/event", [](const RecordedRequest& r) {
    ScriptedResponse answer;
    answer.status = r.body.find("\"bad\"") != std::string::npos ? 400 : 204;
    return answer;
  });
  monitor_.canSend = false;
  auto q = Make();
  q->Initialize();
  for (int i = 0; i < 3; ++i) q->AddEvent(Named("good"));
  q->AddEvent(Named("bad"));
  for (int i = 0; i < 4; ++i) q->AddEvent(Named("good"));
  LogCapture capture(kLogError);
  q->Resume();
  monitor_.canSend = true;
  ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
  int good = 0;
  for (const auto& r : server_.Requests("/v4/event")) {
    Json body;
    ASSERT_TRUE(ParseJson(r.body, body));
    if (r.body.find("\"bad\"") != std::string::npos) continue;
    good += static_cast<int>(body["subMessages"].size());
  }
  EXPECT_EQ(good, 7);
  EXPECT_TRUE(capture.Contains("Dropping event bad"));
  EXPECT_EQ(q->BatchLimit(), 50);  // back to the flush send size after a success
}

TEST_F(QueueManagerTest, RefusedCredentialsKeepEventsAndSlowDown) {
  ScopedFakeClock clock;
  server_.SetDefault("/v4/event", ScriptedResponse{401});
  auto q = Make();
  q->Initialize();
  q->AddEvent(Named("kept"));
  q->Resume();
  ASSERT_TRUE(server_.WaitForCount("/v4/event", 2));
  EXPECT_EQ(q->Count(), 1u);
  // Each retry waited the credentials delay on the injected clock.
  EXPECT_GE(clock->TotalSleptMs(), QueueManager::kAuthRetryDelayMs);
  server_.SetDefault("/v4/event", ScriptedResponse{204});
  ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
}

TEST_F(QueueManagerTest, PauseResumePauseActsAsOnePauseAndDestroyJoins) {
  ScopedFakeClock clock;
  auto q = Make();
  q->Initialize();
  q->Pause();
  q->Resume();
  q->Pause();
  q->AddEvent(Named("held"));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(server_.Count("/v4/event"), 0u);
  // A slow server: Destroy during the upload settles or keeps the batch, and returns.
  server_.SetDefault("/v4/event", ScriptedResponse{204, "", "text/plain", 300});
  q->Resume();
  ASSERT_TRUE(server_.WaitForCount("/v4/event", 1));
  q->Destroy();
  q->AddEvent(Named("after"));  // ignored after Destroy, released
  EXPECT_EQ(q->Count(), 0u);
}

TEST_F(QueueManagerTest, OutOfRangeSettingsFallBackToDefaults) {
  LogCapture capture(kLogWarning);
  QueueSettings s;
  s.flushSendSize = 0;
  s.queueCheckInterval = -5;
  auto q = Make(s);
  EXPECT_EQ(q->BatchLimit(), 50);
  EXPECT_TRUE(capture.Contains("out of range"));
}

TEST_F(QueueManagerTest, FailedWritesSwitchToMemoryOnly) {
  auto q = Make();
  q->Initialize();
  q->AddEvent(Named("before"));
  LogCapture capture(kLogError);
  SetFileFaultInjector([](FileOp op, const std::string&) { return op == FileOp::Write; });
  q->AddEvent(Named("during"));
  SetFileFaultInjector(nullptr);
  EXPECT_FALSE(q->HasFile());
  EXPECT_EQ(q->Count(), 2u);
  EXPECT_TRUE(capture.Contains("continuing in memory only"));
}

TEST_F(QueueManagerTest, PauseDuringAnUploadSettlesItSoNothingIsSentTwice) {
  ScopedFakeClock clock;
  server_.SetDefault("/v4/event", ScriptedResponse{204, "", "text/plain", 200});
  auto q = Make();
  q->Initialize();
  q->AddEvent(Named("in-flight"));
  q->Resume();
  ASSERT_TRUE(server_.WaitForCount("/v4/event", 1));
  q->Pause();  // arrives while the server is still answering
  ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
  server_.SetDefault("/v4/event", ScriptedResponse{204});
  q->Resume();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(server_.Count("/v4/event"), 1u);
}
