// Queue manager against a real local server and real files, with time injected.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <fstream>
#endif

#include <algorithm>
#include <cctype>
#include <atomic>
#include <set>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "Env.h"
#include "Event.h"
#include "EventSender.h"
#include "FakeClock.h"
#include "FileIO.h"
#include "LogCapture.h"
#include "FixedProperties.h"
#include "IdentitySnapshot.h"
#include "QueueFile.h"
#include "QueueManager.h"
#include "TempDir.h"
#include "TestEnv.h"
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

EventPtr Named(const std::string& name, size_t padding = 0) {
  EventPtr e = Event::Acquire(name);
  if (padding > 0) e->SetStringValue(std::string(padding, 'x'));
  e->Stamp("s", "c", "", ::CorvaneSDK::Env::Default());
  return e;
}

class QueueManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()); }

  std::unique_ptr<QueueManager> Make(QueueSettings settings = QueueSettings(), bool file = true,
                                     int maxRetries = 0) {
    sender_.reset(new EventSender(server_.Url("/v4/event"), maxRetries, 500, "YTpi", props_));
    return std::unique_ptr<QueueManager>(
        new QueueManager(settings, &monitor_, sender_.get(), file ? Folder() : ""));
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

  // The save folder; a test may switch to a sub-folder per case.
  std::string Folder() const { return folder_.empty() ? dir_.path() : folder_; }
  std::string QueuePath() const { return JoinPath(Folder(), ".event_queue"); }
  void UseFolder(const std::string& name) {
    folder_ = dir_.File(name);
    ASSERT_TRUE(std::filesystem::create_directory(folder_));
  }

  // A queue file holding `texts` in order.
  void WriteQueue(const std::vector<std::string>& texts) {
    QueueFile file(QueuePath());
    ASSERT_TRUE(file.Init());
    for (const auto& t : texts) ASSERT_TRUE(file.Add(t.data(), static_cast<uint32_t>(t.size())));
    ASSERT_TRUE(file.Close());
  }

  // Event names in the queue file, read as the next start would; "!" when it is unusable.
  std::vector<std::string> FileNames() {
    QueueFile file(QueuePath());
    std::vector<std::string> texts;
    if (!file.Init() || !file.ReadAll(texts, nullptr)) return {"!"};
    std::vector<std::string> names;
    for (const auto& t : texts) {
      Json e;
      names.push_back(ParseJson(t, e) && e.is_object() ? e.value("eventName", "?") : "?");
    }
    return names;
  }

  std::vector<std::string> CorruptCopies() {
    std::vector<std::string> out;
    for (const auto& name : ListFolder(Folder())) {
      if (name.rfind(".event_queue.corrupt-", 0) == 0) out.push_back(name);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // The ring length the queue file's header gives; 0 when it cannot be read.
  uint32_t HeaderLength() {
    const std::string b = ReadFileBytes(QueuePath());
    if (b.size() < 4) return 0;
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length = (length << 8) | static_cast<unsigned char>(b[i]);
    return length;
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
  std::string folder_;
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
    EventPtr e = Event::Acquire("e");
    e->SetIntValue(i);
    q->AddEvent(std::move(e));
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

// Twenty 19-byte events, each element 23 bytes from offset 16; one damage per case.
TEST_F(QueueManagerTest, DamagedFileKeepsEveryElementWalkableFromTheFirstAndIsMovedAside) {
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    size_t kept;
  };
  auto put32 = [](std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (24 - 8 * i));
  };
  const std::vector<Case> cases = {
      {"cut in the middle of the 10th element", [](std::string& b) { b.resize(16 + 9 * 23 + 10); },
       9},
      {"a wrong last position", [&](std::string& b) { put32(b, 12, 16 + 3 * 23); }, 20},
      {"a count one too high", [&](std::string& b) { put32(b, 4, 21); }, 20},
      {"a zero length in the 3rd element", [&](std::string& b) { put32(b, 16 + 2 * 23, 0); }, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseFolder(c.what);
    std::vector<std::string> texts;
    for (int i = 0; i < 20; ++i) {
      texts.push_back("{\"eventName\":\"e" + std::string(i < 10 ? "0" : "") + std::to_string(i) +
                      "\"}");
    }
    WriteQueue(texts);
    std::string bytes = ReadFileBytes(QueuePath());
    c.damage(bytes);
    ASSERT_TRUE(WriteFileBytes(QueuePath(), bytes));
    {
      auto q = Make();
      q->Initialize();
      EXPECT_EQ(q->Count(), c.kept);
      EXPECT_TRUE(q->HasFile()) << "the run must stay durable";
      q->AddEvent(Named("new"));
    }
    std::vector<std::string> expected(c.kept);
    for (size_t i = 0; i < c.kept; ++i) {
      expected[i] = "e" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    }
    expected.push_back("new");
    EXPECT_EQ(FileNames(), expected);
    ASSERT_EQ(CorruptCopies().size(), 1u);
    EXPECT_EQ(ReadFileBytes(JoinPath(Folder(), CorruptCopies()[0])), bytes)
        << "the damaged file is kept as it was";
  }
}

#ifndef _WIN32
TEST_F(QueueManagerTest, WhatIsNotARegularFileIsMovedAsideNeverOpenedOrFollowed) {
  const std::string outside = JoinPath(dir_.path(), "outside");
  ASSERT_TRUE(WriteFileBytes(outside, "not yours"));
  const std::vector<std::pair<const char*, std::function<bool(const std::string&)>>> kinds = {
      {"folder", [](const std::string& p) { return ::mkdir(p.c_str(), 0700) == 0; }},
      {"FIFO", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; }},
      {"link out of the folder",
       [&](const std::string& p) { return ::symlink(outside.c_str(), p.c_str()) == 0; }},
  };
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.first);
    UseFolder(kind.first);
    ASSERT_TRUE(kind.second(QueuePath()));
    {
      auto q = Make();
      q->Initialize();
      EXPECT_TRUE(q->HasFile());
      q->AddEvent(Named("kept"));
    }
    EXPECT_EQ(FileNames(), std::vector<std::string>{"kept"});
    EXPECT_EQ(CorruptCopies().size(), 1u);
  }
  EXPECT_EQ(ReadFileBytes(outside), "not yours");
}
#endif

TEST_F(QueueManagerTest, OnlyTheNewestDamagedCopiesAreKept) {
  for (const char* old : {"1000", "2000", "3000", "4000"}) {
    ASSERT_TRUE(WriteFileBytes(QueuePath() + ".corrupt-" + old, old));
  }
  ASSERT_TRUE(WriteFileBytes(QueuePath(), "damaged"));
  auto q = Make();
  q->Initialize();
  EXPECT_TRUE(q->HasFile());
  std::set<std::string> contents;
  for (const auto& name : CorruptCopies()) contents.insert(ReadFileBytes(JoinPath(Folder(), name)));
  EXPECT_EQ(contents, (std::set<std::string>{"3000", "4000", "damaged"}));
}

TEST_F(QueueManagerTest, NonEventElementsKeepFileAndMemoryInStepAcrossARestart) {
  ScopedFakeClock clock;
  WriteQueue({"[0]", "{\"eventName\":\"a\"}", "[1,2,3]", "not json", "{\"eventName\":\"b\"}",
              "{\"eventName\":\"c\"}", "7"});
  monitor_.canSend = false;
  {
    auto q = Make();
    q->Initialize();
    EXPECT_EQ(q->Count(), 3u);
    EXPECT_TRUE(q->HasFile());
    q->Resume();
    monitor_.canSend = true;
    ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
  }
  EXPECT_EQ(Batches(), (std::vector<std::vector<std::string>>{{"a", "b", "c"}}));
  // A clean restart sends nothing again.
  EXPECT_EQ(FileNames(), std::vector<std::string>{});
  auto again = Make();
  again->Initialize();
  EXPECT_EQ(again->Count(), 0u);
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

// What the dispatch changed goes back to the queue for every event of the batch, so that a
// resent batch carries it, and the events are dispatched once.
TEST_F(QueueManagerTest, TextsChangedByTheDispatchAreKeptForEveryEventOfTheBatch) {
  ScopedFakeClock clock;
  server_.Script("/v4/event", {ScriptedResponse{503}});
  monitor_.onDispatch = [](Event* e) { e->SetStringValue("seen-" + e->eventName); };
  auto q = Make();
  q->Initialize();
  for (int i = 0; i < 5; ++i) q->AddEvent(Named("e" + std::to_string(i)));
  q->Resume();
  ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
  const auto requests = server_.Requests("/v4/event");
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& r : requests) {
    Json body;
    ASSERT_TRUE(ParseJson(r.body, body));
    ASSERT_EQ(body["subMessages"].size(), 5u);
    for (const auto& e : body["subMessages"]) {
      EXPECT_EQ(e["value"]["value"], "seen-" + e["eventName"].get<std::string>());
    }
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(monitor_.Dispatched("e" + std::to_string(i)), 1);
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

TEST_F(QueueManagerTest, FailedWriteKeepsTheFileAndCatchesUpWithoutLossOrRepeat) {
  ScopedFakeClock clock;
  monitor_.canSend = false;
  auto q = Make();
  q->Initialize();
  q->AddEvent(Named("before"));
  LogCapture capture(kLogError);
  ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector([](FileOp op, const std::string&) { return op == FileOp::Write; });
  q->AddEvent(Named("during"));
  ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector(nullptr);
  EXPECT_FALSE(q->HasFile());
  EXPECT_EQ(q->Count(), 2u);
  EXPECT_TRUE(capture.Contains("continuing in memory only"));
  EXPECT_EQ(FileNames(), std::vector<std::string>{"before"}) << "the file is kept as last written";
  q->AddEvent(Named("after"));
  // The sending thread tries the file again after a while, even while nothing may be sent.
  q->Resume();
  ASSERT_TRUE(WaitUntil([&] { return q->HasFile(); }));
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"before", "during", "after"}));
  monitor_.canSend = true;
  ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
  q->Destroy();
  EXPECT_EQ(FileNames(), std::vector<std::string>{});
}

TEST_F(QueueManagerTest, EventsDeliveredWhileTheFileLagsAreNotSentAgainAfterARestart) {
  ScopedFakeClock clock;
  monitor_.canSend = false;
  auto q = Make();
  q->Initialize();
  q->AddEvent(Named("a"));
  q->AddEvent(Named("b"));
  ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector([](FileOp op, const std::string&) { return op == FileOp::Write; });
  q->AddEvent(Named("c"));
  q->Resume();
  monitor_.canSend = true;
  ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"a", "b"})) << "removals could not be written";
  ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector(nullptr);
  q->Destroy();  // one more try brings the file in step
  EXPECT_EQ(FileNames(), std::vector<std::string>{});
  auto again = Make();
  again->Initialize();
  EXPECT_EQ(again->Count(), 0u);
}

TEST_F(QueueManagerTest, CapDropsTheOldestWhileABatchIsInFlightWithACountedWarning) {
  ScopedFakeClock clock(false);
  std::atomic<bool> release{false}, arrived{false};
  server_.SetHandler("/v4/event", [&](const RecordedRequest&) {
    arrived = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ScriptedResponse{204};
  });
  auto q = Make();
  q->Initialize();
  auto numbered = [](int i) {
    EventPtr e = Event::Acquire("e");
    e->SetIntValue(i);
    return e;
  };
  q->AddEvent(numbered(0));
  q->Resume();
  ASSERT_TRUE(WaitUntil([&] { return arrived.load(); }));  // event 0 is in flight
  monitor_.canSend = false;
  LogCapture capture(kLogWarning);
  size_t peak = 0;
  for (int i = 1; i <= 5010; ++i) {
    q->AddEvent(numbered(i));
    peak = std::max(peak, q->Count());
  }
  EXPECT_EQ(peak, QueueManager::kMaxQueuedEvents);
  EXPECT_EQ(capture.CountContaining("Event queue full"), 1) << "at most one line per 10 s";
  clock->Advance(QueueManager::kDropWarningIntervalMs);
  q->AddEvent(numbered(5011));
  EXPECT_EQ(capture.CountContaining("Event queue full"), 2);
  EXPECT_TRUE(capture.Contains("dropped the 11 oldest events (12 in total)"));
  release = true;
  // The accepted batch held only event 0, already dropped: nothing else leaves the queue.
  ASSERT_TRUE(WaitUntil([&] { return sender_->Status() == kSenderIdle; }));
  EXPECT_EQ(q->Count(), QueueManager::kMaxQueuedEvents);
  Json first;
  ASSERT_TRUE(ParseJson(q->Texts().front(), first));
  EXPECT_EQ(first["value"]["value"], 12);
  q->Destroy();
  QueueFile file(QueuePath());
  ASSERT_TRUE(file.Init());
  EXPECT_EQ(file.Count(), QueueManager::kMaxQueuedEvents);
}

TEST_F(QueueManagerTest, ByteBoundDropsTheOldest) {
  LogCapture capture(kLogWarning);
  auto q = Make();
  q->Initialize();
  const size_t padding = 450000;
  for (int i = 0; i < 40; ++i) {
    EventPtr e = Named("big", padding);
    e->eventName = "big" + std::to_string(i);
    q->AddEvent(std::move(e));
  }
  size_t bytes = 0;
  for (const auto& t : q->Texts()) bytes += t.size();
  EXPECT_LE(bytes, QueueManager::kMaxQueuedBytes);
  EXPECT_GT(bytes + padding + 1000, QueueManager::kMaxQueuedBytes) << "only what was needed went";
  Json last;
  ASSERT_TRUE(ParseJson(q->Texts().back(), last));
  EXPECT_EQ(last["eventName"], "big39");
  EXPECT_TRUE(capture.Contains("Event queue full"));
  const size_t kept = q->Count();
  q->Destroy();
  EXPECT_EQ(FileNames().size(), kept);
}

TEST_F(QueueManagerTest, EveryUploadRejectedKeepsEveryEventAndBacksOff) {
  ScopedFakeClock clock;
  server_.SetDefault("/v4/event", ScriptedResponse{404});
  monitor_.canSend = false;
  auto q = Make();
  q->Initialize();
  for (int i = 0; i < 5; ++i) q->AddEvent(Named("e" + std::to_string(i)));
  LogCapture capture(kLogWarning);
  q->Resume();
  monitor_.canSend = true;
  ASSERT_TRUE(server_.WaitForCount("/v4/event", 12));
  EXPECT_EQ(q->Count(), 5u);
  EXPECT_TRUE(capture.Contains("HTTP 404"));
  EXPECT_TRUE(capture.Contains("it should end with \"/v4/event\""));
  // 500, 1500, 4500, ... ms between the lone retries, from the sender's retry interval.
  EXPECT_GE(clock->TotalSleptMs(), 500 + 1500 + 4500 + 13500);
  const size_t rejected = server_.Count("/v4/event");
  server_.SetDefault("/v4/event", ScriptedResponse{204});
  ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
  // Every event was kept for the server that accepts again.
  std::set<std::string> sent;
  const auto batches = Batches();
  for (size_t i = rejected; i < batches.size(); ++i) sent.insert(batches[i].begin(), batches[i].end());
  EXPECT_EQ(sent, (std::set<std::string>{"e0", "e1", "e2", "e3", "e4"}));
}

TEST_F(QueueManagerTest, RejectedEventAtTheHeadIsDroppedOnlyOnceOthersAreAccepted) {
  ScopedFakeClock clock;
  server_.SetHandler("/v4/event", [](const RecordedRequest& r) {
    ScriptedResponse answer;
    answer.status = r.body.find("\"bad\"") != std::string::npos ? 400 : 204;
    return answer;
  });
  monitor_.canSend = false;
  auto q = Make();
  q->Initialize();
  q->AddEvent(Named("bad"));
  q->AddEvent(Named("good1"));
  q->AddEvent(Named("good2"));
  LogCapture capture(kLogError);
  q->Resume();
  monitor_.canSend = true;
  ASSERT_TRUE(WaitUntil([&] { return q->Count() == 0; }));
  EXPECT_TRUE(capture.Contains("Dropping event bad"));
  std::vector<std::string> accepted;
  for (const auto& batch : Batches()) {
    if (std::find(batch.begin(), batch.end(), "bad") == batch.end()) {
      accepted.insert(accepted.end(), batch.begin(), batch.end());
    }
  }
  std::sort(accepted.begin(), accepted.end());
  EXPECT_EQ(accepted, (std::vector<std::string>{"good1", "good2"}));
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

namespace {
// Records the data syncs of one file and the threads they ran on; `fail` refuses them.
struct SyncRecorder {
  explicit SyncRecorder(std::string path) : path_(std::move(path)) {
    ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector([this](FileOp op, const std::string& p) {
      if (op != FileOp::Sync || p != path_) return false;
      std::lock_guard<std::mutex> lock(mutex_);
      threads_.push_back(std::this_thread::get_id());
      return fail_.load();
    });
  }
  ~SyncRecorder() { ::CorvaneSDK::Test::ProcessEnv().SetFileFaultInjector(nullptr); }
  size_t Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_.size();
  }
  std::vector<std::thread::id> Threads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }
  std::atomic<bool> fail_{false};

 private:
  std::string path_;
  mutable std::mutex mutex_;
  std::vector<std::thread::id> threads_;
};
}  // namespace

// The file is synced to the disk within the interval of a change, on an SDK thread, once
// per interval however many events came, and not at all while nothing changes.
TEST_F(QueueManagerTest, ChangedFileIsSyncedWithinTheIntervalOffTheCallingThread) {
  ScopedFakeClock clock(false);
  SyncRecorder syncs(QueuePath());
  monitor_.canSend = false;
  QueueSettings s;
  s.syncInterval = 1000;
  auto q = Make(s);
  q->Initialize();
  // Less than half the ring: a fuller one is grown ahead after the sync, a change synced in
  // turn.
  for (int i = 0; i < 10; ++i) q->AddEvent(Named("e"));
  clock->Advance(999);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(syncs.Count(), 0u);  // not before the interval
  clock->Advance(1);
  ASSERT_TRUE(WaitUntil([&] { return syncs.Count() == 1; }));
  EXPECT_NE(syncs.Threads()[0], std::this_thread::get_id());

  clock->Advance(5000);  // nothing changed since: no sync
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(syncs.Count(), 1u);

  q->AddEvent(Named("later"));
  ASSERT_TRUE(WaitUntil([&] {
    clock->Advance(100);
    return syncs.Count() == 2;
  }));
  q->Destroy();
  EXPECT_EQ(syncs.Count(), 2u);  // nothing left to sync at the end
  EXPECT_EQ(FileNames().size(), 11u);
}

// A ring more than half full is grown off the calling thread, with room prepared two
// doublings ahead, once a background pass runs (here the data sync's): the adds that follow
// find their room ready, and every event stays in order.
TEST_F(QueueManagerTest, TheRingGrowsAheadOfTheAddsOffTheCallingThread) {
  if (!RandomAccessFile::kMapsFiles) {
    GTEST_SKIP() << "positioned writes: growth stays with the add";
  }
  ScopedFakeClock clock(false);
  monitor_.canSend = false;
  auto q = Make();
  q->Initialize();
  auto headerLength = [&] {
    const std::string b = ReadFileBytes(QueuePath());
    if (b.size() < 4) return 0u;
    return (static_cast<uint32_t>(static_cast<unsigned char>(b[0])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[3]));
  };
  size_t used = QueueFile::kHeaderLength;
  int added = 0;
  while (used <= 2200) {
    q->AddEvent(Named("e" + std::to_string(added++), 400));
    used = QueueFile::kHeaderLength;
    for (const auto& t : q->Texts()) used += 4 + t.size();
  }
  ASSERT_LT(used, 4096u);
  EXPECT_EQ(headerLength(), 4096u);  // no add needed growth
  ASSERT_TRUE(WaitUntil([&] {
    clock->Advance(100);
    return headerLength() == 8192u;
  }));
  EXPECT_GE(RegularFileSize(QueuePath()), 16384);
  for (int i = 0; i < 4; ++i) q->AddEvent(Named("e" + std::to_string(added++), 400));
  EXPECT_EQ(headerLength(), 8192u);
  q->Destroy();
  std::vector<std::string> expected;
  for (int i = 0; i < added; ++i) expected.push_back("e" + std::to_string(i));
  EXPECT_EQ(FileNames(), expected);
}

// Once a burst has drained, the file made anew gets the room that burst needed before the
// next one comes, so that its adds grow the ring without allocating; the header still says
// 4096. The room follows the last burst (a small one shrinks it again) and is bounded, so an
// empty queue keeps no long file.
TEST_F(QueueManagerTest, AFileMadeAnewGetsTheRoomOfTheLastBurstBeforeTheNextOne) {
  if (!RandomAccessFile::kMapsFiles) {
    GTEST_SKIP() << "positioned writes: growth stays with the add";
  }
  ScopedFakeClock clock(false);
  QueueSettings settings;
  settings.queueCheckInterval = 10;
  settings.sendDelay = 10;
  auto q = Make(settings);
  q->Initialize();
  q->Resume();
  int added = 0;
  auto drained = [&] {
    monitor_.canSend = true;
    return WaitUntil([&] {
      clock->Advance(100);
      return q->Count() == 0;
    });
  };
  // Queued while sending is off, then drained.
  auto burst = [&](int events, size_t padding) {
    monitor_.canSend = false;
    for (int i = 0; i < events; ++i) q->AddEvent(Named("e" + std::to_string(added++), padding));
    const uint32_t reached = HeaderLength();
    EXPECT_TRUE(drained());
    return reached;
  };
  auto roomPrepared = [&](int64_t bytes, bool exactly) {
    return WaitUntil([&] {
      clock->Advance(100);
      const int64_t size = RegularFileSize(QueuePath());
      return exactly ? size == bytes : size >= bytes;
    });
  };

  const uint32_t first = burst(60, 400);
  ASSERT_GE(first, 32768u);
  EXPECT_TRUE(roomPrepared(first, false)) << RegularFileSize(QueuePath());
  EXPECT_EQ(HeaderLength(), 4096u);

  // The next burst grows the ring into that room.
  monitor_.canSend = false;
  for (int i = 0; i < 60; ++i) q->AddEvent(Named("n" + std::to_string(i), 400));
  EXPECT_GT(HeaderLength(), 4096u);
  EXPECT_EQ(FileNames().size(), 60u);
  ASSERT_TRUE(drained());

  // A small burst: the room shrinks back with it.
  EXPECT_EQ(burst(3, 10), 4096u);
  EXPECT_TRUE(roomPrepared(4096, true)) << RegularFileSize(QueuePath());

  // A burst beyond the bound: the empty file gets the bound only.
  const uint32_t large = burst(700, 4000);
  ASSERT_GT(large, QueueManager::kMaxRoomAheadBytes);
  EXPECT_TRUE(roomPrepared(QueueManager::kMaxRoomAheadBytes, true))
      << RegularFileSize(QueuePath());
  q->Destroy();
  EXPECT_EQ(FileNames(), std::vector<std::string>());
}

#ifdef __linux__
namespace {

// How many of the first `length` bytes' pages the process's mapping of `path` has present.
size_t PresentPages(const std::string& path, uint64_t length) {
  size_t present = 0;
  std::ifstream maps("/proc/self/maps");
  std::string line;
  uintptr_t start = 0;
  while (std::getline(maps, line)) {
    if (line.size() > path.size() &&
        line.compare(line.size() - path.size(), std::string::npos, path) == 0) {
      start = static_cast<uintptr_t>(std::stoull(line.substr(0, line.find('-')), nullptr, 16));
    }
  }
  const int fd = ::open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  if (start == 0 || fd < 0) {
    if (fd >= 0) ::close(fd);
    return present;
  }
  std::vector<uint64_t> entries(length / 4096);
  const ssize_t want = static_cast<ssize_t>(entries.size() * sizeof(uint64_t));
  if (::pread(fd, entries.data(), want, static_cast<off_t>(start / 4096 * 8)) == want) {
    for (uint64_t e : entries) present += (e >> 63) & 1;
  }
  ::close(fd);
  return present;
}

// Dirty KiB of the process's mapping of `path`: what the next sync writes back.
long MappedDirtyKiB(const std::string& path) {
  std::ifstream smaps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  long dirty = 0;
  while (std::getline(smaps, line)) {
    if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
        line.find('-') != std::string::npos && line.find(' ') > line.find('-')) {
      inside = line.size() > path.size() &&
               line.compare(line.size() - path.size(), std::string::npos, path) == 0;
    } else if (inside && (line.rfind("Shared_Dirty:", 0) == 0 ||
                          line.rfind("Private_Dirty:", 0) == 0)) {
      dirty += std::atol(line.c_str() + line.find(':') + 1);
    }
  }
  return dirty;
}

// Page faults taken by the calling thread while `work` runs.
long ThreadFaults(const std::function<void()>& work) {
  struct rusage before, after;
  ::getrusage(RUSAGE_THREAD, &before);
  work();
  ::getrusage(RUSAGE_THREAD, &after);
  return (after.ru_minflt + after.ru_majflt) - (before.ru_minflt + before.ru_majflt);
}

}  // namespace

// The room for a burst is in memory before the burst comes: the first burst after start
// finds room made for it, and a burst like the last one finds the room that one needed.
// Their adds store into pages made ready off the host's thread and grow the ring without
// allocating (each fault costs the calling thread tens of microseconds on a loaded machine).
TEST_F(QueueManagerTest, ABurstFindsTheFilesPagesReady) {
  if (!RandomAccessFile::kMapsFiles) {
    GTEST_SKIP() << "positioned writes: no mapping to prepare";
  }
  ScopedFakeClock clock(false);
  QueueSettings settings;
  settings.queueCheckInterval = 10;
  settings.sendDelay = 10;
  settings.syncInterval = 0;  // a sync would leave the pages read-only until re-armed
  auto q = Make(settings);
  q->Initialize();
  q->Resume();
  auto burst = [&](const char* prefix, int events) {
    monitor_.canSend = false;
    for (int i = 0; i < events; ++i) q->AddEvent(Named(prefix + std::to_string(i), 400));
  };
  auto drained = [&] {
    monitor_.canSend = true;
    return WaitUntil([&] {
      clock->Advance(100);
      return q->Count() == 0;
    });
  };
  auto ready = [&](uint64_t length) {
    return WaitUntil([&] {
      clock->Advance(100);
      return PresentPages(QueuePath(), length) == length / 4096;
    });
  };
  // Without the pages made ready, the stores of the second burst alone fault about 80 times.
  // (A sanitizer's shadow memory faults on its own.)
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  constexpr long kMostFaults = 30;
#else
  constexpr long kMostFaults = 1L << 30;
#endif

  // The first burst, about 200 KB, goes into the room made at start. (Its own faults are
  // mostly the heap's: recycled text storage comes with the first upload.)
  constexpr uint64_t kFirst = QueueManager::kFirstRoomBytes;
  ASSERT_TRUE(ready(kFirst)) << PresentPages(QueuePath(), kFirst) << " of " << kFirst / 4096;
  burst("f", 400);
  EXPECT_GT(HeaderLength(), 64u * 1024);
  EXPECT_EQ(FileNames().size(), 400u);
  ASSERT_TRUE(drained());

  // A larger burst grows past that room, and sets the room for the next one.
  burst("a", 1100);  // about 600 KB
  const uint32_t reached = HeaderLength();
  ASSERT_GE(reached, 512u * 1024);
  ASSERT_TRUE(drained());
  ASSERT_TRUE(ready(reached)) << PresentPages(QueuePath(), reached) << " of " << reached / 4096;
  EXPECT_LT(ThreadFaults([&] { burst("b", 1100); }), kMostFaults) << "burst like the last";
  EXPECT_EQ(FileNames().size(), 1100u);
  ASSERT_TRUE(drained());
  q->Destroy();
}

// A sync leaves the pages it wrote back read-only, and with the queue empty between bursts
// it usually comes then: it re-arms the empty file's whole room, or the next burst would
// fault on every page past a window. (What that burst does not fill is written back once
// more, as zeros; the room follows the last burst, so that is little.)
TEST_F(QueueManagerTest, ASyncReArmsTheWholeRoomOfAnEmptyFile) {
  if (!RandomAccessFile::kMapsFiles) {
    GTEST_SKIP() << "positioned writes: no mapping to prepare";
  }
  ScopedFakeClock clock(false);
  QueueSettings settings;
  settings.queueCheckInterval = 10;
  settings.sendDelay = 10;
  settings.syncInterval = 50;
  SyncRecorder syncs(QueuePath());
  syncs.fail_ = true;  // kept dirty until the room is in
  auto q = Make(settings);
  q->Initialize();
  q->Resume();
  monitor_.canSend = false;
  for (int i = 0; i < 1100; ++i) q->AddEvent(Named("a" + std::to_string(i), 400));
  const uint32_t room = HeaderLength();
  ASSERT_GE(room, 512u * 1024);
  monitor_.canSend = true;
  ASSERT_TRUE(WaitUntil([&] {
    clock->Advance(100);
    return q->Count() == 0 && PresentPages(QueuePath(), room) == room / 4096;
  }));
  EXPECT_GE(MappedDirtyKiB(QueuePath()), static_cast<long>(room / 1024) - 8);

  syncs.fail_ = false;
  const size_t failed = syncs.Count();
  ASSERT_TRUE(WaitUntil([&] {
    clock->Advance(100);
    return syncs.Count() > failed;
  }));
  // The sync task re-arms right after its sync; give it time to.
  for (int i = 0; i < 10; ++i) {
    clock->Advance(100);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Brought in writable again (dirty), not just the 128 KiB window.
  EXPECT_GE(MappedDirtyKiB(QueuePath()), static_cast<long>(room / 1024) - 8)
      << "of a " << room / 1024 << " KiB room";
  q->Destroy();
}
#endif

// A failed sync is reported once and tried again; a change not synced yet is synced when
// the queue is destroyed; interval 0 never syncs.
TEST_F(QueueManagerTest, FailedSyncIsRetriedAndDestroySyncsWhatIsLeft) {
  ScopedFakeClock clock(false);
  LogCapture capture(kLogWarning);
  monitor_.canSend = false;
  {
    SyncRecorder syncs(QueuePath());
    syncs.fail_ = true;
    auto q = Make();
    q->Initialize();
    q->AddEvent(Named("a"));
    ASSERT_TRUE(WaitUntil([&] {
      clock->Advance(100);
      return syncs.Count() >= 3;
    }));
    syncs.fail_ = false;
    const size_t before = syncs.Count();
    ASSERT_TRUE(WaitUntil([&] {
      clock->Advance(100);
      return syncs.Count() > before;
    }));
    q->AddEvent(Named("b"));
    q->Destroy();  // before the interval has passed
    EXPECT_GE(syncs.Count(), before + 2);
    EXPECT_EQ(syncs.Threads().back(), std::this_thread::get_id());
  }
  size_t warnings = 0;
  for (const auto& line : capture.Lines()) warnings += line.find("Queue file sync failed") != std::string::npos;
  EXPECT_EQ(warnings, 1u);

  UseFolder("off");
  SyncRecorder syncs(QueuePath());
  QueueSettings off;
  off.syncInterval = 0;
  auto q = Make(off);
  q->Initialize();
  q->AddEvent(Named("c"));
  clock->Advance(10000);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  q->Destroy();
  EXPECT_EQ(syncs.Count(), 0u);
  EXPECT_EQ(FileNames(), std::vector<std::string>{"c"});
}
