// The conversion context over the test ports: a hand-set clock, the hand-run main queue with
// its timers, the context's own serial queue on a thread, and the recording SKAdNetwork
// double. Covers the stored form, records, evaluation and saving, the window clock across
// ticks and restarts, reports per schema version, and records from many threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "CorvaneSDKSkanConversionContext.h"
#include "MobileTestSupport.h"
#include "SKAdNetwork.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using Context = CorvaneSDKSkanConversionContextImpl;
using Schema = CorvaneSDKSkanConversionSchema;

constexpr int64_t kInstall = 1765000000;
constexpr int64_t kDay = 86400;

Value parse(const char* text) {
  Value v;
  EXPECT_TRUE(parseJson(text, v)) << text;
  return v;
}

class SavingExternal : public CorvaneSDKSkanConversionExternal {
 public:
  bool canUpdatePostbackConversionValue() override { return allow; }
  void saveSkanConversionContextToDisk(const Value& dictionary) override {
    std::lock_guard<std::mutex> lock(mutex_);
    saves_.push_back(dictionary);
  }
  std::vector<Value> saves() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return saves_;
  }
  std::atomic<bool> allow{true};

 private:
  mutable std::mutex mutex_;
  std::vector<Value> saves_;
};

// Sessions give fine 1..3; revenue 10 gives fine 40; coarse follows the fine value; window one
// locks at fine 40, window two at "high".
const char* kV4 = R"({
  "window_one": {
    "fine_cv_mappings": [
      {"fine_cv": 1, "value_mappings": [{"mapping_type": "session", "min_session_count": 1}]},
      {"fine_cv": 3, "value_mappings": [{"mapping_type": "session", "min_session_count": 3}]},
      {"fine_cv": 40, "value_mappings": [{"mapping_type": "revenue", "min_revenue": 10}]}
    ],
    "coarse_cv_mappings": [
      {"coarse_cv": "medium", "value_mappings": [{"mapping_type": "fine_cv", "min_fine_cv": 3}]},
      {"coarse_cv": "high", "value_mappings": [{"mapping_type": "fine_cv", "min_fine_cv": 40}]}
    ],
    "lock_conditions": [{"lock_condition_type": "fine_cv", "fine_cvs": [40]}]
  },
  "window_two": {
    "coarse_cv_mappings": [{"coarse_cv": "high", "value_mappings": [{"mapping_type": "event", "event_name": "win"}]}],
    "lock_conditions": [{"lock_condition_type": "coarse_cv", "coarse_cvs": ["high"]}]
  }
})";

class MobileSkanContext : public ::testing::Test {
 protected:
  MobileSkanContext() {
    os = std::make_shared<FixedOSVersion>("17.0");
    skan = std::make_shared<RecordingSKAdNetwork>(true, os);
    auto pair = std::make_shared<SKAdNetworkPorts>();
    pair->skAdNetwork = skan;
    pair->osVersion = os;
    SKAdNetworkPlatform::install(pair);
    setNow(kInstall);
    external = std::make_shared<SavingExternal>();
  }
  ~MobileSkanContext() override { SKAdNetworkPlatform::install(nullptr); }

  void setNow(int64_t seconds) { ports.clock->setWallMs(seconds * 1000); }
  ManualQueue& main() { return static_cast<ManualDispatch&>(*ports.dispatch).main(); }
  std::shared_ptr<Context> fresh() {
    auto c = Context::init();
    c->setExternal(external);
    return c;
  }
  std::shared_ptr<Schema> v4() { return Schema::create(parse(kV4)); }

  Mobile::Testing::TestPorts ports;
  std::shared_ptr<FixedOSVersion> os;
  std::shared_ptr<RecordingSKAdNetwork> skan;
  std::shared_ptr<SavingExternal> external;
};

TEST_F(MobileSkanContext, InitAndStoredFormKeys) {
  auto c = fresh();
  const Value s = c->serialize();
  std::vector<std::string> keys;
  for (auto it = s.begin(); it != s.end(); ++it) keys.push_back(it.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"window_locked", "postback_window_index", "fine_cv", "coarse_cv",
                                            "session_count", "revenue_iap", "revenue_ad", "revenue_crypto",
                                            "revenue_event", "install_time", "last_time", "event_count_map",
                                            "event_revenue_map"}));
  EXPECT_EQ(s["install_time"], kInstall);
  EXPECT_EQ(s["last_time"], kInstall);
  EXPECT_EQ(s["window_locked"], false);
  EXPECT_TRUE(s["revenue_ad"].is_number_float());
  EXPECT_FALSE(Context::schema());
  EXPECT_FALSE(Context::isDirty());
}

TEST_F(MobileSkanContext, RecordsBeforeStartAreKeptDirtyAndSavedAtStart) {
  auto c = fresh();
  c->recordSession();
  c->recordEvent("lvl");
  c->recordRevenueIAP(2.5);
  EXPECT_TRUE(Context::isDirty());
  EXPECT_TRUE(external->saves().empty()) << "no save before start";
  EXPECT_TRUE(skan->calls().empty());
  EXPECT_FALSE(c->hasTimer());
  c->start(v4());
  ASSERT_EQ(external->saves().size(), 1u);
  const Value saved = external->saves()[0];
  EXPECT_EQ(saved["session_count"], 1);
  EXPECT_EQ(saved["event_count_map"], parse(R"({"lvl":1})"));
  EXPECT_EQ(saved["fine_cv"], 1);
  ASSERT_EQ(skan->calls().size(), 1u);
  EXPECT_EQ(skan->calls()[0].args, parse(R"([1,"low",false])"));
  EXPECT_FALSE(Context::isDirty());
  EXPECT_TRUE(c->hasTimer());
}

TEST_F(MobileSkanContext, ChangedValuesReportAndSaveUnchangedOnesDoNot) {
  auto c = fresh();
  c->start(v4());
  skan->clear();
  const size_t saves = external->saves().size();
  c->recordSession();  // fine 0 -> 1
  EXPECT_EQ(skan->calls().size(), 1u);
  EXPECT_EQ(external->saves().size(), saves + 1);
  c->recordSession();  // still 1
  EXPECT_EQ(skan->calls().size(), 1u) << "an unchanged evaluation makes no platform call";
  EXPECT_EQ(external->saves().size(), saves + 1) << "and does not save";
  EXPECT_TRUE(Context::isDirty()) << "the counter changed all the same";
  c->recordSession();  // 3 sessions: fine 3, "medium"
  ASSERT_EQ(skan->calls().size(), 2u);
  EXPECT_EQ(skan->calls()[1].args, parse(R"([3,"medium",false])"));
  EXPECT_EQ(external->saves().back()["session_count"], 3);
  c->recordRevenueAd(10);  // fine 40, "high", locked
  EXPECT_EQ(skan->calls().back().args, parse(R"([40,"high",true])"));
  c->recordRevenueAd(1);  // version 4 keeps reporting? only on change: nothing changed
  EXPECT_EQ(skan->calls().size(), 3u);
}

TEST_F(MobileSkanContext, RevenueRecords) {
  auto c = fresh();
  c->recordRevenueAd(0);
  c->recordRevenueAd(-3);
  c->recordRevenueIAP(-1);
  EXPECT_FALSE(Context::isDirty()) << "amounts not above 0 change nothing";
  c->recordRevenueCrypto(1.25);
  c->recordEvent("buy", 4);
  c->recordEvent("buy", -1.5);  // no sign test: totals go down
  EXPECT_DOUBLE_EQ(c->revenueCrypto(), 1.25);
  EXPECT_DOUBLE_EQ(c->revenueEvent(), 2.5);
  EXPECT_DOUBLE_EQ(c->getEventRevenue("buy"), 2.5);
  EXPECT_EQ(c->getEventCount("buy"), 2);
  EXPECT_EQ(c->getEventCount("none"), 0);
  EXPECT_EQ(c->getEventRevenue("none"), 0.0);
}

TEST_F(MobileSkanContext, NonFiniteAmountsNeverReachATotal) {
  auto c = fresh();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {nan, inf, -inf}) {
    c->recordRevenueIAP(bad);
    c->recordRevenueAd(bad);
    c->recordRevenueCrypto(bad);
    c->recordEvent("buy", bad);
  }
  c->recordRevenueAd(std::numeric_limits<double>::max());
  c->recordRevenueAd(std::numeric_limits<double>::max());  // the sum would overflow
  EXPECT_EQ(c->revenueIAP(), 0.0);
  EXPECT_EQ(c->revenueCrypto(), 0.0);
  EXPECT_EQ(c->revenueAd(), std::numeric_limits<double>::max());
  EXPECT_EQ(c->revenueEvent(), 0.0);
  EXPECT_EQ(c->getEventRevenue("buy"), 0.0);
  EXPECT_EQ(c->getEventCount("buy"), 3) << "the event itself still counts";
  const Value s = c->serialize();
  for (const char* key : {"revenue_iap", "revenue_ad", "revenue_crypto", "revenue_event"}) {
    EXPECT_TRUE(std::isfinite(s[key].get<double>())) << key;
  }
  EXPECT_FALSE(s["event_revenue_map"].contains("buy"));
}

TEST_F(MobileSkanContext, WithoutExternalStateStaysDirtyAndUnsaved) {
  auto c = Context::init();
  c->start(v4());
  c->recordSession();
  c->updateConversionValue(true);
  c->saveToDisk();
  EXPECT_TRUE(Context::isDirty());
  EXPECT_TRUE(skan->calls().empty());
  c->setExternal(external);
  c->saveToDisk();
  ASSERT_EQ(external->saves().size(), 1u);
  EXPECT_FALSE(Context::isDirty());
}

TEST_F(MobileSkanContext, ForcedEvaluationWithoutSchemaSaves) {
  auto c = fresh();
  c->updateConversionValue(false);
  EXPECT_TRUE(external->saves().empty());
  c->updateConversionValue(true);
  EXPECT_EQ(external->saves().size(), 1u);
  c->updateLockWindow();
  c->updatePostbackConversionValue();
  EXPECT_TRUE(skan->calls().empty());
}

TEST_F(MobileSkanContext, NoPermissionMeansNoReportButStillSaves) {
  auto c = fresh();
  external->allow = false;
  c->start(v4());
  c->recordSession();
  EXPECT_TRUE(skan->calls().empty());
  EXPECT_EQ(external->saves().back()["fine_cv"], 1);
}

TEST_F(MobileSkanContext, StoredLockStartsClearedAndIsDerivedAgain) {
  auto c = Context::initWithData(parse(R"({"window_locked":true,"fine_cv":1,"install_time":1765000000})"));
  c->setExternal(external);
  EXPECT_TRUE(c->windowLocked());
  c->start(v4());
  EXPECT_FALSE(c->windowLocked());
  // A stored fine value of 40 locks at start: the lock check runs on the stored values first.
  auto d = Context::initWithData(parse(R"({"window_locked":false,"fine_cv":40,"install_time":1765000000})"));
  d->setExternal(external);
  d->start(v4());
  EXPECT_TRUE(d->windowLocked());
  EXPECT_EQ(d->fineCv(), 0) << "then the evaluation sets the value the counters give";
}

TEST_F(MobileSkanContext, RestartKeepsTheState) {
  auto c = fresh();
  c->start(v4());
  c->recordSession();
  c->recordEvent("win", 2);
  setNow(kInstall + 600);
  c->updateTime();
  c->updateConversionValue(true);
  const Value saved = external->saves().back();
  EXPECT_EQ(saved["last_time"], kInstall + 600);
  c.reset();
  setNow(kInstall + 700);
  auto again = Context::initWithData(saved);
  again->setExternal(external);
  EXPECT_EQ(again->serialize(), saved);
  EXPECT_EQ(again->getPostInstallTime(), 600u);
  again->start(Schema::create(v4()->serialize()));
  EXPECT_EQ(again->fineCv(), 1);
  EXPECT_EQ(again->sessionCount(), 1);
  EXPECT_EQ(again->lastTime(), static_cast<uint64_t>(kInstall + 700));
  EXPECT_EQ(again->installTime(), static_cast<uint64_t>(kInstall));
}

TEST_F(MobileSkanContext, TicksMoveTheWindowForwardAndClearTheLock) {
  auto c = fresh();
  c->start(v4());
  c->recordRevenueAd(10);
  ASSERT_TRUE(c->windowLocked());
  skan->clear();
  // The timer's ticks come every 30 s; the window moves once 2 days + 900 s have passed.
  setNow(kInstall + 2 * kDay + 900 - 20);
  main().advance(30000);  // tick at +10 s past the threshold
  EXPECT_EQ(c->postbackWindowIndex(), 1);
  EXPECT_FALSE(c->windowLocked());
  ASSERT_EQ(skan->calls().size(), 1u) << "the forced evaluation reports";
  EXPECT_EQ(skan->calls()[0].args, parse(R"([40,"low",false])"));
  EXPECT_EQ(external->saves().back()["postback_window_index"], 1);
  // A locking condition of window two holds once "win" is recorded.
  c->recordEvent("win");
  EXPECT_TRUE(c->windowLocked());
  EXPECT_EQ(skan->calls().back().args, parse(R"([40,"high",true])"));
  // 14 days + 900 s: window three is absent, window two's rules stand in, its lock is not checked.
  setNow(kInstall + 14 * kDay + 900 + 1);
  c->updateTime();
  EXPECT_EQ(c->postbackWindowIndex(), 2);
  EXPECT_FALSE(c->windowLocked());
  EXPECT_EQ(c->coarseCv(), 2);
}

TEST_F(MobileSkanContext, TickWithoutChangeLocksByTime) {
  auto s = Schema::create(parse(R"({"window_one":{"fine_cv_mappings":[],
      "lock_conditions":[{"lock_condition_type":"time","post_install_time":3600}]}})"));
  auto c = fresh();
  c->start(s);
  skan->clear();
  setNow(kInstall + 3599);
  c->updateTime();
  EXPECT_FALSE(c->windowLocked());
  EXPECT_TRUE(skan->calls().empty());
  setNow(kInstall + 3600);
  c->updateTime();
  EXPECT_TRUE(c->windowLocked());
  ASSERT_EQ(skan->calls().size(), 1u);
  EXPECT_EQ(skan->calls()[0].args, parse(R"([0,"low",true])"));
}

TEST_F(MobileSkanContext, Version3StopsReportingOnceLocked) {
  auto s = Schema::create(parse(R"({"skan_version":3,"lock_time":60,"mappings":[
      {"conversion_value": 5, "value_mappings": [{"mapping_type": "session"}]},
      {"conversion_value": 6, "value_mappings": [{"mapping_type": "session", "min_session_count": 2}]}]})"));
  auto c = fresh();
  c->start(s);
  c->recordSession();
  ASSERT_EQ(skan->calls().size(), 2u);
  EXPECT_EQ(skan->calls()[1].selector, kSelUpdatePostback);
  EXPECT_EQ(skan->calls()[1].args, parse("[5]"));
  setNow(kInstall + 60);
  c->updateTime();
  EXPECT_TRUE(c->windowLocked());
  c->recordSession();
  EXPECT_EQ(c->fineCv(), 6);
  EXPECT_EQ(skan->calls().size(), 2u) << "a locked version-3 window reports nothing more";
}

TEST_F(MobileSkanContext, StartWithoutSchemaDoesNothing) {
  auto c = fresh();
  c->start(nullptr);
  EXPECT_FALSE(c->hasTimer());
  EXPECT_TRUE(external->saves().empty());
  EXPECT_EQ(main().timersCreated(), 0);
  EXPECT_EQ(c->getPostbackWindow(kInstall + 30 * kDay), 0) << "no schema, window 0";
}

TEST_F(MobileSkanContext, StartReplacesItsTimer) {
  auto c = fresh();
  c->start(v4());
  c->start(v4());
  c->start(v4());
  EXPECT_EQ(main().timersCreated(), 3);
  main().advance(30000);
  EXPECT_EQ(main().delayedCount(), 1u) << "only one timer ticks on";
  main().advance(30000);
  EXPECT_EQ(main().delayedCount(), 1u);
  c.reset();
  main().advance(30000);
  EXPECT_EQ(main().delayedCount(), 0u) << "the released context's timer stops";
}

TEST_F(MobileSkanContext, FirstMinutesAndClockBehindInstallAreWindowZero) {
  auto c = fresh();
  c->start(v4());
  struct Case {
    int64_t now;
    int32_t window;
  } cases[] = {
      {kInstall, 0},
      {kInstall + 899, 0},
      {kInstall - 1, 0},
      {kInstall - 10 * kDay, 0},
      {0, 0},
      {-5, 0},
      {std::numeric_limits<int64_t>::min(), 0},
      {kInstall + 2 * kDay + 900, 0},
      {kInstall + 2 * kDay + 901, 1},
      {kInstall + 14 * kDay + 901, 2},
      {std::numeric_limits<int64_t>::max(), 2},
  };
  for (const auto& k : cases) EXPECT_EQ(c->getPostbackWindow(k.now), k.window) << k.now;
  // A fresh install started in its first minutes stays in window 0.
  setNow(kInstall + 10);
  auto d = fresh();
  d->start(v4());
  EXPECT_EQ(d->postbackWindowIndex(), 0);
  setNow(kInstall - 3600);
  d->updateTime();
  EXPECT_EQ(d->postbackWindowIndex(), 0);
  ports.clock->setWallMs(std::numeric_limits<int64_t>::min());
  d->updateTime();
  EXPECT_EQ(d->postbackWindowIndex(), 0);
  EXPECT_EQ(d->lastTime(), 0u);
  EXPECT_EQ(d->getPostInstallTime(), 0u);
}

TEST_F(MobileSkanContext, StartKeepsTheLargerWindowIndex) {
  auto c = Context::initWithData(
      parse(R"({"postback_window_index":2,"install_time":1765000000,"last_time":1765000000})"));
  c->setExternal(external);
  setNow(kInstall + 100);
  c->start(v4());
  EXPECT_EQ(c->postbackWindowIndex(), 2) << "a clock set back does not reopen an earlier window";
  setNow(kInstall + 200);
  c->updateTime();
  EXPECT_EQ(c->postbackWindowIndex(), 2);
  auto d = Context::initWithData(parse(R"({"postback_window_index":0,"install_time":1765000000})"));
  setNow(kInstall + 3 * kDay);
  d->start(v4());
  EXPECT_EQ(d->postbackWindowIndex(), 1) << "the computed index wins when it is larger";
}

TEST_F(MobileSkanContext, StoredValuesOfTheWrongTypeTakeTheDefaults) {
  auto c = Context::initWithData(parse(R"({"window_locked":1,"postback_window_index":"1","fine_cv":[],
      "coarse_cv":{},"session_count":"4","revenue_iap":"2","revenue_ad":true,"event_count_map":[1],
      "event_revenue_map":"x","install_time":1765000000})"));
  const Value s = c->serialize();
  EXPECT_EQ(s["window_locked"], false);
  EXPECT_EQ(s["postback_window_index"], 0);
  EXPECT_EQ(s["fine_cv"], 0);
  EXPECT_EQ(s["coarse_cv"], 0);
  EXPECT_EQ(s["session_count"], 0);
  EXPECT_EQ(s["revenue_iap"], 0.0);
  EXPECT_EQ(s["revenue_ad"], 0.0);
  EXPECT_EQ(s["event_count_map"], Value::object());
  EXPECT_EQ(s["event_revenue_map"], Value::object());
  for (const char* text : {"null", "[]", "\"x\"", "7"}) {
    auto d = Context::initWithData(parse(text));
    EXPECT_EQ(d->sessionCount(), 0) << text;
    EXPECT_EQ(d->installTime(), static_cast<uint64_t>(kInstall)) << text;
  }
}

TEST_F(MobileSkanContext, BooleanIsNotANumber) {
  auto c = Context::initWithData(parse(R"({"fine_cv":true,"coarse_cv":true,"session_count":true,
      "postback_window_index":true,"revenue_iap":true,"install_time":true,"event_count_map":{"a":true},
      "event_revenue_map":{"a":true}})"));
  EXPECT_EQ(c->fineCv(), 0);
  EXPECT_EQ(c->coarseCv(), 0);
  EXPECT_EQ(c->sessionCount(), 0);
  EXPECT_EQ(c->postbackWindowIndex(), 0);
  EXPECT_EQ(c->revenueIAP(), 0.0);
  EXPECT_EQ(c->installTime(), static_cast<uint64_t>(kInstall));
  EXPECT_EQ(c->getEventCount("a"), 0);
  EXPECT_EQ(c->getEventRevenue("a"), 0.0);
}

TEST_F(MobileSkanContext, WrongTypedMapEntriesCountAsZero) {
  auto c = Context::initWithData(parse(R"({"event_count_map":{"s":"3","o":{},"big":5000000000,"f":2.7},
      "event_revenue_map":{"s":"1.5","n":null,"ok":2.5}})"));
  c->setExternal(external);
  EXPECT_EQ(c->getEventCount("s"), 0);
  EXPECT_EQ(c->getEventCount("o"), 0);
  EXPECT_EQ(c->getEventCount("big"), 0) << "beyond 32 bits is no count";
  EXPECT_EQ(c->getEventCount("f"), 2);
  EXPECT_EQ(c->getEventRevenue("s"), 0.0);
  EXPECT_EQ(c->getEventRevenue("n"), 0.0);
  EXPECT_EQ(c->getEventRevenue("ok"), 2.5);
  c->recordEvent("s", 1.0);
  c->recordEvent("big");
  EXPECT_EQ(c->getEventCount("s"), 1);
  EXPECT_EQ(c->getEventRevenue("s"), 1.0);
  EXPECT_EQ(c->getEventCount("big"), 1);
  const Value s = c->serialize();
  EXPECT_EQ(s["event_count_map"]["o"], Value::object()) << "entries not touched are kept as stored";
}

TEST_F(MobileSkanContext, MissingOrZeroInstallTimeTakesNow) {
  for (const char* text : {R"({})", R"({"install_time":0,"last_time":0})", R"({"install_time":"1"})",
                           R"({"install_time":-7})", R"({"install_time":1e30})"}) {
    auto c = Context::initWithData(parse(text));
    EXPECT_EQ(c->installTime(), static_cast<uint64_t>(kInstall)) << text;
    EXPECT_EQ(c->lastTime(), static_cast<uint64_t>(kInstall)) << text;
    EXPECT_EQ(c->getPostInstallTime(), 0u) << text;
    c->setExternal(external);
    c->start(v4());
    EXPECT_EQ(c->postbackWindowIndex(), 0) << text;
    EXPECT_FALSE(c->windowLocked()) << text;
  }
  auto kept = Context::initWithData(parse(R"({"install_time":1764000000.9,"last_time":1764500000})"));
  EXPECT_EQ(kept->installTime(), 1764000000u);
  EXPECT_EQ(kept->getPostInstallTime(), 500000u);
}

TEST_F(MobileSkanContext, OutOfRangeValuesReadAsZero) {
  struct Case {
    const char* json;
    int32_t fine, coarse, window;
  } cases[] = {
      {R"({"fine_cv":63,"coarse_cv":2,"postback_window_index":2})", 63, 2, 2},
      {R"({"fine_cv":64,"coarse_cv":3,"postback_window_index":3})", 0, 0, 0},
      {R"({"fine_cv":-1,"coarse_cv":-1,"postback_window_index":-1})", 0, 0, 0},
      {R"({"fine_cv":1e12,"coarse_cv":4294967297,"postback_window_index":1e100})", 0, 0, 0},
      {R"({"fine_cv":12.9,"coarse_cv":1.5,"postback_window_index":1.2})", 12, 1, 1},
  };
  for (const auto& k : cases) {
    auto c = Context::initWithData(parse(k.json));
    EXPECT_EQ(c->fineCv(), k.fine) << k.json;
    EXPECT_EQ(c->coarseCv(), k.coarse) << k.json;
    EXPECT_EQ(c->postbackWindowIndex(), k.window) << k.json;
  }
}

TEST_F(MobileSkanContext, SerializeRoundTrip) {
  auto c = Context::initWithData(parse(R"({"window_locked":true,"postback_window_index":1,"fine_cv":9,
      "coarse_cv":2,"session_count":4,"revenue_iap":1.5,"revenue_ad":2.25,"revenue_crypto":0.125,
      "revenue_event":-1,"install_time":1764000000,"last_time":1764000500,
      "event_count_map":{"a":2,"\u00e9":1},"event_revenue_map":{"a":-1.0}})"));
  const Value first = c->serialize();
  auto d = Context::initWithData(first);
  EXPECT_EQ(d->serialize(), first);
  EXPECT_EQ(first["revenue_event"], -1.0);
  EXPECT_EQ(first["session_count"], 4);
}

TEST_F(MobileSkanContext, RecordsFromManyThreadsAllCount) {
  auto c = fresh();
  c->start(v4());
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 250; ++i) {
        c->recordEvent("e" + std::to_string(t % 2));
        c->recordRevenueAd(0.5);
        if (i % 50 == 0) c->recordSession();
      }
    });
  }
  // Timer ticks and readers run meanwhile on this thread.
  std::thread ticker([&] {
    while (!done) {
      main().advance(30000);
      (void)c->serialize();
    }
  });
  for (auto& th : threads) th.join();
  done = true;
  ticker.join();
  EXPECT_EQ(c->getEventCount("e0") + c->getEventCount("e1"), 1000);
  EXPECT_DOUBLE_EQ(c->revenueAd(), 500.0);
  EXPECT_EQ(c->sessionCount(), 20);
  EXPECT_EQ(c->fineCv(), 40);
  EXPECT_TRUE(c->windowLocked());
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
