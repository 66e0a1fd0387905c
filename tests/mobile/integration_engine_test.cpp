// The delivery engine against a real local server, real files, threaded serial queues and a
// hand-run main queue: triggers, batches, retries, restarts, the queue bound, the context,
// the timer, background tasks, notifications and damaged queue files.
#include <future>
#include <limits>

#include "CorvaneSDKCrypto.h"
#include "EngineHarness.h"
#include "PropertyList.h"
#include "TempDir.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using CorvaneSDK::Test::ReadFileBytes;
using CorvaneSDK::Test::ScriptedResponse;
using CorvaneSDK::Test::WriteFileBytes;

class MobileIntegrationEngine : public Testing::EngineTest {};

TEST_F(MobileIntegrationEngine, WireMapCarriesProcessIdRevenueAndSubEvents) {
  auto engine = makeEngine();
  auto parent = std::make_shared<CorvaneSDKLogOperation>("qvsdk_purchase", Value{{"pack", "p"}}, "", "cfg-1",
                                                         std::optional<std::string>("custom"));
  parent->setRevenue(1.5, std::string("USD"));
  parent->addSubEvent(op("qvsdk_sub"));
  const Value first = engine->generateDictionary(*parent, true);
  const Value second = engine->generateDictionary(*op("plain"), true);
  std::vector<std::string> keys;
  for (const auto& item : first.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"processId", "eId", "id", "timeInMs", "cfgId", "customUid", "eventName",
                                            "value", "subEvents"}));
  EXPECT_EQ(second["processId"].get<int>(), first["processId"].get<int>() + 1);
  EXPECT_EQ(first["id"], "session-1");  // no id of its own: the manager's session
  EXPECT_EQ(first["value"], (Value{{"pack", "p"}, {"__revenue__", {{"revenue", 1.5}, {"currency", "USD"}}}}));
  EXPECT_FALSE(first["subEvents"][0].contains("processId"));
  EXPECT_FALSE(second.contains("customUid"));
  EXPECT_FALSE(second.contains("value"));

  manager->setSessionId("");
  EXPECT_EQ(engine->generateDictionary(*std::make_shared<CorvaneSDKLogOperation>("x", std::nullopt, "", "c",
                                                                                std::nullopt),
                                       false)["id"],
            "");
  // Revenue without a payload is a map of its own.
  auto revenueOnly = op("r");
  revenueOnly->setRevenue(2, std::nullopt);
  EXPECT_EQ(engine->generateDictionary(*revenueOnly, false)["value"].size(), 1u);
  // A cycle of sub-events ends at the nesting bound.
  auto a = op("a");
  a->addSubEvent(a);
  EXPECT_TRUE(engine->generateDictionary(*a, false).is_object());
  a->subEvents.clear();
}

TEST_F(MobileIntegrationEngine, TwentiethEventTriggersUploadAndTheFileHoldsItFirst) {
  size_t storedAtRequest = 0;
  server.SetHandler("/v4/event", [&](const CorvaneSDK::Test::RecordedRequest&) {
    auto stored = storage->arrayForKey(kCorvaneSDKQueueStorageKey);
    storedAtRequest = stored ? stored->size() : 0;
    return ScriptedResponse(200);
  });
  auto engine = makeEngine();
  engine->start();
  for (int i = 0; i < 19; ++i) engine->log(op("e" + std::to_string(i)));
  EXPECT_EQ(engine->getQueueSize(), 19u);
  EXPECT_EQ(postedCount(kCorvaneSDKDidSendRequestNotification), 0);
  EXPECT_EQ(server.Count("/v4/event"), 0u);
  engine->log(op("e19"));
  ASSERT_TRUE(server.WaitForCount("/v4/event", 1));
  EXPECT_EQ(batchSizes(), std::vector<size_t>{20});
  EXPECT_EQ(storedAtRequest, 20u);
  ASSERT_TRUE(Testing::waitUntil([&] { return manager->finished.load() == 1; }));
  EXPECT_EQ(engine->getQueueSize(), 0u);
}

TEST_F(MobileIntegrationEngine, HundredTwentyEventsGoAsFiftyFiftyTwentyThenFinishOnce) {
  auto engine = makeEngine();
  for (int i = 0; i < 120; ++i) engine->log(op("e" + std::to_string(i)));
  EXPECT_EQ(engine->getQueueSize(), 120u);
  engine->start();
  ASSERT_TRUE(Testing::waitUntil([&] { return manager->finished.load() == 1; }));
  EXPECT_EQ(batchSizes(), (std::vector<size_t>{50, 50, 20}));
  EXPECT_EQ(engine->getQueueSize(), 0u);
  EXPECT_EQ(manager->finished.load(), 1);
  EXPECT_EQ(manager->sent().size(), 120u);
  EXPECT_EQ(postedCount(kCorvaneSDKRequestDidSucceedNotification), 3);
  // Oldest first, in order, and the wire map never carries the process number.
  auto bodies = uploads();
  EXPECT_EQ(bodies[0]["subMessages"][0]["eventName"], "e0");
  EXPECT_EQ(bodies[2]["subMessages"][19]["eventName"], "e119");
  EXPECT_FALSE(bodies[0]["subMessages"][0].contains("processId"));
  EXPECT_EQ(bodies[0]["qvUid"], "user-1");
  EXPECT_EQ(bodies[0]["qvSdkVersion"], "0.0.15-ios");
  EXPECT_FALSE(bodies[0].contains("wrapper"));
}

TEST_F(MobileIntegrationEngine, InFlightBatchSuppressesFurtherFlushes) {
  std::promise<void> release;
  auto released = release.get_future().share();
  std::atomic<int> arrived{0};
  server.SetHandler("/v4/event", [released, &arrived](const CorvaneSDK::Test::RecordedRequest&) {
    ++arrived;
    released.wait_for(std::chrono::seconds(20));
    return ScriptedResponse(200);
  });
  auto engine = makeEngine();
  engine->start();
  engine->log(op("a"));
  engine->flush();
  ASSERT_TRUE(Testing::waitUntil([&] { return arrived.load() == 1; }));
  engine->log(op("b"));
  engine->flush();
  engine->getQueueSize();
  EXPECT_TRUE(ports.log->contains("API request already in progress, not flushing again."));
  EXPECT_EQ(postedCount(kCorvaneSDKDidSendRequestNotification), 1);
  release.set_value();
  ASSERT_TRUE(Testing::waitUntil([&] { return manager->finished.load() == 1; }));
  EXPECT_EQ(batchSizes(), (std::vector<size_t>{1, 1}));
}

TEST_F(MobileIntegrationEngine, RetriedEventsReachOnSendEventOnceAndRestartDeliversExactlyOnce) {
  server.Script("/v4/event", {ScriptedResponse(503), ScriptedResponse(503)});
  server.SetDefault("/v4/event", ScriptedResponse(200));
  auto engine = makeEngine();
  engine->start();
  for (int i = 0; i < 3; ++i) engine->log(op("e" + std::to_string(i)));
  engine->flush();
  ASSERT_TRUE(server.WaitForCount("/v4/event", 1));
  ASSERT_TRUE(Testing::waitUntil([&] { return postedCount(kCorvaneSDKRequestDidFailNotification) == 1; }));
  // The timer's next tick sends the same events again.
  main().advance(30000);
  ASSERT_TRUE(server.WaitForCount("/v4/event", 2));
  ASSERT_TRUE(Testing::waitUntil([&] { return postedCount(kCorvaneSDKRequestDidFailNotification) == 2; }));
  EXPECT_EQ(engine->getQueueSize(), 3u);
  ASSERT_TRUE(Testing::waitUntil([&] { return manager->sent().size() == 3; }));
  const auto reported = manager->sent();
  // Two more events, then the process ends with all five queued.
  engine->log(op("e3"));
  engine->log(op("e4"));
  EXPECT_EQ(engine->getQueueSize(), 5u);
  engine->applicationWillTerminate();
  engine.reset();

  auto second = std::make_shared<Testing::FakeManager>();
  second->url = manager->url;
  manager = second;
  auto restarted = makeEngine();
  EXPECT_EQ(restarted->getQueueSize(), 5u);
  restarted->start();
  ASSERT_TRUE(Testing::waitUntil([&] { return second->finished.load() == 1; }));
  EXPECT_TRUE(second->sent().empty());  // read back from the file: never reported again
  auto bodies = uploads();
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_EQ(bodies[2]["subMessages"].size(), 5u);
  std::set<std::string> unique;
  for (const auto& e : bodies[2]["subMessages"]) unique.insert(e["eId"].get<std::string>());
  EXPECT_EQ(unique.size(), 5u);
  EXPECT_EQ(reported.size(), 3u);
  std::set<std::string> reportedIds;
  for (const auto& e : reported) reportedIds.insert(e["eId"].get<std::string>());
  EXPECT_EQ(reportedIds.size(), 3u);
}

TEST_F(MobileIntegrationEngine, EventBeyondTheBoundDropsTheOldest) {
  auto engine = makeEngine([](CorvaneSDKConfiguration& c) { c.maxQueueSize = 5000; });
  for (int i = 0; i < 5001; ++i) engine->log(op("e" + std::to_string(i)));
  auto queue = engine->queueSnapshot();
  ASSERT_EQ(queue.size(), 5000u);
  EXPECT_EQ(queue.front()["eventName"], "e1");
  EXPECT_EQ(queue.back()["eventName"], "e5000");
  EXPECT_TRUE(ports.log->contains("Queue full; dropped the 1 oldest event(s)"));
}

TEST_F(MobileIntegrationEngine, ServerAnswersKeepOrIsolate) {
  auto engine = makeEngine();
  engine->start();
  engine->log(op("a"));
  engine->log(op("b"));
  for (int code : {429, 503}) {
    const size_t before = server.Count("/v4/event");
    server.Script("/v4/event", {ScriptedResponse(code)});
    engine->flush();
    ASSERT_TRUE(server.WaitForCount("/v4/event", before + 1));
    ASSERT_TRUE(Testing::waitUntil([&] { return postedCount(kCorvaneSDKRequestDidFailNotification) == (code == 429 ? 1 : 2); }));
    EXPECT_EQ(engine->getQueueSize(), 2u);
  }
  // 400: nothing is dropped while no batch has been accepted; the batch is cut down instead.
  server.SetDefault("/v4/event", ScriptedResponse(400));
  engine->flush();
  ASSERT_TRUE(Testing::waitUntil([&] { return ports.log->contains("next attempt in 30000 ms"); }));
  EXPECT_EQ(engine->getQueueSize(), 2u);
  EXPECT_EQ(batchSizes(), (std::vector<size_t>{2, 2, 2, 1, 1}));
  EXPECT_EQ(postedCount(kCorvaneSDKRequestDidSucceedNotification), 0);
}

TEST_F(MobileIntegrationEngine, PoisonEventIsIsolatedAndDroppedAloneWithDidFail) {
  auto rejects = [](const std::string& body) { return body.find("\"poison\"") != std::string::npos; };
  server.SetHandler("/v4/event", [rejects](const CorvaneSDK::Test::RecordedRequest& r) {
    return ScriptedResponse(rejects(r.body) ? 400 : 200);
  });
  auto engine = makeEngine([](CorvaneSDKConfiguration& c) { c.flushAt = 100; });
  std::set<std::string> good;
  std::string poisonId;
  for (int i = 0; i < 31; ++i) {
    auto event = op(i == 12 ? "poison" : "good");
    if (i == 12) {
      poisonId = event->eId;
    } else {
      good.insert(event->eId);
    }
    engine->log(event);
  }
  engine->start();
  ASSERT_TRUE(Testing::waitUntil([&] { return manager->finished.load() == 1; }));
  auto ok = delivered([&](const std::string& body) { return !rejects(body); });
  EXPECT_EQ(std::set<std::string>(ok.begin(), ok.end()), good);
  EXPECT_EQ(ok.size(), 30u);  // each good event exactly once
  EXPECT_EQ(engine->getQueueSize(), 0u);
  EXPECT_TRUE(ports.log->contains("Dropping event \"" + poisonId + "\" (\"poison\") rejected with HTTP code 400."));
  int dropped = 0;
  for (const auto& p : posted()) {
    if (p.name == kCorvaneSDKRequestDidSucceedNotification) {
      for (const auto& e : p.object) EXPECT_NE(e["eventName"], "poison");
    }
    if (p.name == kCorvaneSDKRequestDidFailNotification && p.userInfo["dropped"] == true) {
      ++dropped;
      EXPECT_EQ(p.userInfo["statusCode"], 400);
      EXPECT_EQ(p.userInfo["droppedEventIds"], Value::array({poisonId}));
      EXPECT_EQ(p.object.size(), 1u);
    }
  }
  EXPECT_EQ(dropped, 1);
  // Back to full batches afterwards.
  for (int i = 0; i < 60; ++i) engine->log(op("after"));
  engine->flush();
  ASSERT_TRUE(Testing::waitUntil([&] { return manager->finished.load() == 2; }));
  auto sizes = batchSizes();
  EXPECT_EQ(sizes[sizes.size() - 2], 50u);
}

TEST_F(MobileIntegrationEngine, EveryBatchRejectedKeepsEverythingAndWaitsLonger) {
  server.SetDefault("/v4/event", ScriptedResponse(401));
  auto engine = makeEngine([](CorvaneSDKConfiguration& c) { c.flushAt = 100; });
  for (int i = 0; i < 4; ++i) engine->log(op("e" + std::to_string(i)));
  engine->start();
  ASSERT_TRUE(Testing::waitUntil([&] { return ports.log->contains("next attempt in 30000 ms"); }));
  EXPECT_EQ(batchSizes(), (std::vector<size_t>{4, 2, 1, 1}));
  const int sends = postedCount(kCorvaneSDKDidSendRequestNotification);
  engine->flush();
  engine->log(op("e4"));
  EXPECT_EQ(engine->getQueueSize(), 5u);
  EXPECT_EQ(postedCount(kCorvaneSDKDidSendRequestNotification), sends);
  EXPECT_TRUE(ports.log->contains("Every recent batch was rejected; next attempt in"));
  main().advance(30000);
  ASSERT_TRUE(Testing::waitUntil([&] { return ports.log->contains("next attempt in 60000 ms"); }));
  EXPECT_EQ(engine->getQueueSize(), 5u);
  EXPECT_FALSE(ports.log->contains("Dropping event"));
  // The server recovers: everything goes, nothing was lost.
  server.SetDefault("/v4/event", ScriptedResponse(200));
  main().advance(60000);
  ASSERT_TRUE(Testing::waitUntil([&] { return manager->finished.load() == 1; }));
  auto all = delivered([&](const std::string&) { return true; });
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), 5u);
  EXPECT_EQ(engine->getQueueSize(), 0u);
}

TEST_F(MobileIntegrationEngine, ManagerAndObserversMayCallBackIntoTheEngine) {
  std::shared_ptr<CorvaneSDKManagerIntegration> engine;
  std::atomic<int> inner{0};
  manager->onSend = [&](const Value&) {
    engine->getQueueSize();
    engine->dispatchBackgroundAndWait([] {});
    if (inner++ < 3) engine->log(op("from-callback"));
  };
  manager->onFinish = [&] {
    engine->getQueueSize();
    engine->flush();
  };
  ports.notifications->addObserver(kCorvaneSDKRequestDidSucceedNotification,
                                   [&](const Notification&) { engine->getQueueSize(); });
  engine = makeEngine([](CorvaneSDKConfiguration& c) { c.flushAt = 1; });
  engine->start();
  for (int i = 0; i < 5; ++i) engine->log(op("e"));
  ASSERT_TRUE(Testing::waitUntil([&] {
    // The flush timer's tick retries an upload that a loaded machine let fail.
    main().advance(1000);
    return engine->getQueueSize() == 0 && manager->sent().size() == 8;
  }));
  for (const auto& p : posted()) EXPECT_EQ(p.thread, std::this_thread::get_id());  // posted on the main queue
}

TEST_F(MobileIntegrationEngine, ChangesWaitingTogetherAreWrittenOnceAndLoggingNeverWaits) {
  auto crypto = CorvaneSDKAES256Crypto::initWithPassword("pw");
  auto engine = makeEngine(nullptr, crypto);
  engine->getQueueSize();
  const uint64_t before = engine->persistCount();
  std::promise<void> release;
  auto released = release.get_future().share();
  engine->dispatchBackground([released] { released.wait(); });
  for (int i = 0; i < 200; ++i) engine->log(op("e" + std::to_string(i)));  // returns while the queue is held
  release.set_value();
  EXPECT_EQ(engine->getQueueSize(), 200u);
  engine->dispatchBackgroundAndWait([] {});
  EXPECT_EQ(engine->persistCount() - before, 1u);
  const std::string bytes = ReadFileBytes(storage->urlForKey(kCorvaneSDKQueueStorageKey));
  EXPECT_EQ(bytes.find("\"e1\""), std::string::npos);  // encrypted on disk
  auto reader = std::make_shared<CorvaneSDKFileStorage>(storage->folderURL(), crypto);
  auto stored = reader->arrayForKey(kCorvaneSDKQueueStorageKey);
  ASSERT_TRUE(stored);
  ASSERT_EQ(stored->size(), 200u);
  EXPECT_EQ((*stored)[199]["eventName"], "e199");
  EXPECT_FALSE((*stored)[0].contains("processId"));
}

TEST_F(MobileIntegrationEngine, StoredQueueOfEveryShapeKeepsWhatItCan) {
  const std::string path = ports.root() + "/store/" + kCorvaneSDKQueueStorageKey;
  auto load = [&](const std::string& bytes, uint64_t maxQueue = 5000) {
    std::filesystem::create_directories(ports.root() + "/store");
    WriteFileBytes(path, bytes);
    auto engine = makeEngine([maxQueue](CorvaneSDKConfiguration& c) { c.maxQueueSize = maxQueue; });
    return engine->queueSnapshot();
  };
  EXPECT_EQ(load(std::string("garbage\0\xff", 9)).size(), 0u);
  EXPECT_TRUE(ports.log->contains("Unable to parse json from data"));
  EXPECT_EQ(load("{\"a\":1}").size(), 0u);
  EXPECT_TRUE(ports.log->contains("The stored queue is not a list"));
  auto mixed = load(R"([1,"x",null,[{"eId":"in-list"}],{"eId":"kept","processId":7,"eventName":"n"}])");
  ASSERT_EQ(mixed.size(), 1u);
  EXPECT_EQ(mixed[0], (Value{{"eId", "kept"}, {"eventName", "n"}}));
  EXPECT_TRUE(ports.log->contains("Left out 4 stored queue element(s)"));
  auto plist = PropertyList::writeXml(Value::array({Value{{"eId", "p1"}, {"processId", 3}}, Value{{"eId", "p2"}}}));
  ASSERT_TRUE(plist);
  auto fromPlist = load(*plist);
  ASSERT_EQ(fromPlist.size(), 2u);
  EXPECT_FALSE(fromPlist[0].contains("processId"));
  std::string big = "[";
  for (int i = 0; i < 100000; ++i) big += (i ? ",{\"eId\":\"e" : "{\"eId\":\"e") + std::to_string(i) + "\"}";
  big += "]";
  auto bounded = load(big);
  ASSERT_EQ(bounded.size(), 5000u);
  EXPECT_EQ(bounded[0]["eId"], "e95000");
  // Invalid UTF-8 inside a stored event is repaired, the event kept.
  auto repaired = load("[{\"eId\":\"bad\xff\"}]");
  ASSERT_EQ(repaired.size(), 1u);
  EXPECT_EQ(repaired[0]["eId"], "bad\xEF\xBF\xBD");
}

TEST_F(MobileIntegrationEngine, EventValuesOfEveryShapeAreDelivered) {
  auto engine = makeEngine();
  std::vector<Value> values{Value(nullptr), Value(true), Value(1.5), Value(std::numeric_limits<double>::quiet_NaN()),
                            Value("text"), Value::array({1, "two", Value::object()}), Value("bad \xff\xfe utf8"),
                            makeData("\x01\x02"), makeDate(1765000000.5), Value(std::numeric_limits<uint64_t>::max()),
                            Value{{"k\xff", Value{{"nested", Value::array({Value::object()})}}}}};
  Value deep = Value::object();
  Value* cursor = &deep;
  for (int i = 0; i < 200; ++i) cursor = &((*cursor)["d"] = Value::object());
  values.push_back(deep);
  for (const auto& v : values) engine->log(op("shape", v));
  engine->start();
  ASSERT_TRUE(Testing::waitUntil([&] { return manager->finished.load() == 1; }));
  auto bodies = uploads();
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_EQ(bodies[0]["subMessages"].size(), values.size());
  EXPECT_EQ(bodies[0]["subMessages"][3]["value"], Value(nullptr));
  EXPECT_FALSE(bodies[0]["subMessages"].back().contains("value"));  // too deep: payload left out
}

TEST_F(MobileIntegrationEngine, ContextHoldsTheDeviceKeysAndLeavesAdvertisingOutUnderCoppa) {
  ports.telephony->setCarrierName(std::string("Carrier"));
  ports.reachability->setStatus(NetworkStatus::ReachableViaWWAN);
  auto engine = makeEngine([](CorvaneSDKConfiguration& c) { c.wrapper = "unity"; });
  auto context = engine->contextSnapshot();
  for (const char* key : {"$bundle_id", "$build_number", "$build_version", "$device_model", "$device_type",
                          "$device_manufacturer", "$device_name", "$platform", "$os_name", "$os_version", "$os_build",
                          "$abi", "$time_zone", "$locale", "$country", "$language", "$display_width",
                          "$display_height", "$version", "$app_install_time", "$app_start_time", "$wrapper",
                          "$advertisting_id", "$limit_ad_tracking", "$developer_device_id", "$facebook_anon_id",
                          "local_ip", "network_type", "sim_operator"}) {
    EXPECT_TRUE(context.contains(key)) << key;
  }
  EXPECT_FALSE(context.contains("$wrapper_version"));
  EXPECT_EQ(context["network_type"], "Mobile");
  EXPECT_EQ(context["sim_operator"], "Carrier");
  EXPECT_EQ(context["$version"], "0.0.15-ios");
  ports.reachability->setStatus(NetworkStatus::ReachableViaWiFi);
  ports.telephony->setCarrierName(std::string());
  engine->refresh();
  EXPECT_EQ(engine->getContextValue("network_type"), "Wifi");
  EXPECT_EQ(engine->getContextValue("sim_operator"), "");
  ports.reachability->setStatus(NetworkStatus::NotReachable);
  engine->refresh();
  EXPECT_EQ(engine->getContextValue("network_type"), "");
  engine->setContextValue("x", 1);
  EXPECT_EQ(engine->getContextValue("x"), 1);
  EXPECT_TRUE(engine->getContextValue("missing").is_null());

  auto coppa = makeEngine([](CorvaneSDKConfiguration& c) { c.enableCoppa = true; });
  for (const char* key : {"$advertisting_id", "$limit_ad_tracking", "$developer_device_id"}) {
    EXPECT_TRUE(coppa->getContextValue(key).is_null()) << key;
  }
  EXPECT_EQ(coppa->description().find(":CorvaneSDKManagerIntegration, app-1>"), coppa->description().size() - 37);
}

TEST_F(MobileIntegrationEngine, BackgroundTaskIsOpenedForTheFlushAndClosedAfter) {
  std::promise<void> release;
  auto released = release.get_future().share();
  std::atomic<int> arrived{0};
  server.SetHandler("/v4/event", [released, &arrived](const CorvaneSDK::Test::RecordedRequest&) {
    ++arrived;
    released.wait_for(std::chrono::seconds(20));
    return ScriptedResponse(200);
  });
  auto engine = makeEngine();
  engine->applicationDidEnterBackground();  // not started: nothing
  EXPECT_EQ(ports.application->backgroundTasksBegun(), 0);
  engine->start();
  engine->log(op("a"));
  engine->applicationDidEnterBackground();
  // The task stays open while the upload is in flight, even with the start's own flush
  // still queued ahead of it.
  ASSERT_TRUE(Testing::waitUntil([&] { return arrived.load() == 1; }));
  auto open = ports.application->openBackgroundTasks();
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open.begin()->second, "CorvaneSDKManager.Flush");
  release.set_value();
  ASSERT_TRUE(Testing::waitUntil([&] { return ports.application->openBackgroundTasks().empty(); }));
  EXPECT_EQ(ports.application->backgroundTasksBegun(), 1);
  EXPECT_EQ(ports.application->backgroundTasksEnded(), 1);
  EXPECT_TRUE(Testing::waitUntil([&] { return manager->finished.load() == 1; }));
}

TEST_F(MobileIntegrationEngine, TimerRunsOnTheMainQueueAndPauseRemovesIt) {
  auto engine = makeEngine([](CorvaneSDKConfiguration& c) { c.flushInterval = 5; });
  engine->pause();
  engine->start();  // paused before start: no timer yet
  EXPECT_EQ(main().timersCreated(), 0);
  engine->log(op("a"));
  engine->getQueueSize();
  main().advance(10000);
  EXPECT_EQ(postedCount(kCorvaneSDKDidSendRequestNotification), 0);
  engine->resume();
  EXPECT_EQ(main().timersCreated(), 1);
  ASSERT_TRUE(Testing::waitUntil([&] { return manager->finished.load() == 1; }));
  engine->log(op("b"));
  engine->getQueueSize();
  main().advance(5000);
  ASSERT_TRUE(Testing::waitUntil([&] { return manager->finished.load() == 2; }));
  engine->pause();
  engine->log(op("c"));
  engine->getQueueSize();
  main().advance(20000);
  EXPECT_EQ(engine->getQueueSize(), 1u);
  EXPECT_EQ(server.Count("/v4/event"), 2u);
}

TEST_F(MobileIntegrationEngine, NotReadyManagerStopsEveryFlushAndLegacyEntryIsRemoved) {
  ports.defaults->standard()->setObject("CorvaneSDKQueue", Value::array({1}));
  manager->ready = false;
  auto engine = makeEngine([](CorvaneSDKConfiguration& c) { c.flushAt = 1; });
  engine->start();
  engine->log(op("a"));
  engine->flush();
  EXPECT_EQ(engine->getQueueSize(), 1u);
  EXPECT_FALSE(ports.defaults->standard()->objectForKey("CorvaneSDKQueue"));
  EXPECT_EQ(postedCount(kCorvaneSDKDidSendRequestNotification), 0);
  engine->reset();
  engine->log(nullptr);
  EXPECT_EQ(engine->getQueueSize(), 1u);
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
