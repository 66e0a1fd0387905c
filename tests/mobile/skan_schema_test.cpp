// The conversion schema: factories (defaults, raises, clamps, rejections), conditions at the
// EPS boundaries, version-3 and version-4 evaluation with fallback windows, lock checks, the
// stored form, the SDK-config answer, enumerations and the revenue cache under threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "CorvaneSDKSkanConversionContext.h"
#include "CorvaneSDKSkanConversionSchema.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using Schema = CorvaneSDKSkanConversionSchema;
using Values = CorvaneSDKSkanConversionValues;

Value parse(const char* text) {
  Value v;
  EXPECT_TRUE(parseJson(text, v)) << text;
  return v;
}

std::shared_ptr<const CorvaneSDKSkanConversionValueMapping> valueMapping(const char* text, bool fine = false) {
  return CorvaneSDKSkanConversionValueMapping::create(parse(text), fine);
}

// ---- factories ----

TEST(MobileSkanSchemaFactory, SessionDefaultsRaisesAndRejections) {
  struct Case {
    const char* json;
    bool built;
    int32_t min, max;
  } cases[] = {
      {R"({"mapping_type":"session"})", true, 1, -1},
      {R"({"mapping_type":"session","min_session_count":0})", true, 1, -1},
      {R"({"mapping_type":"session","min_session_count":-4,"max_session_count":3})", true, 1, 3},
      {R"({"mapping_type":"session","min_session_count":"2"})", true, 1, -1},
      {R"({"mapping_type":"session","max_session_count":0})", false, 0, 0},
      {R"({"mapping_type":"session","max_session_count":-1})", false, 0, 0},
      {R"({"mapping_type":"session","min_session_count":5,"max_session_count":4})", false, 0, 0},
      {R"({"mapping_type":"session","min_session_count":5,"max_session_count":5})", true, 5, 5},
      {R"({"mapping_type":"session","max_session_count":null})", true, 1, -1},
  };
  for (const auto& c : cases) {
    auto m = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionSessionValueMapping>(valueMapping(c.json));
    ASSERT_EQ(m != nullptr, c.built) << c.json;
    if (!m) continue;
    EXPECT_EQ(m->minSessionCount, c.min) << c.json;
    EXPECT_EQ(m->maxSessionCount, c.max) << c.json;
  }
}

TEST(MobileSkanSchemaFactory, RevenueDefaultsRaisesAndRejections) {
  struct Case {
    const char* json;
    bool built;
    double min, max;
    uint32_t type;
  } cases[] = {
      {R"({"mapping_type":"revenue"})", true, 0, -1, 15},
      {R"({"mapping_type":"revenue","min_revenue":-3,"max_revenue":2})", true, 0, 2, 15},
      {R"({"mapping_type":"revenue","min_revenue":1.5,"revenue_type":2})", true, 1.5, -1, 2},
      {R"({"mapping_type":"revenue","revenue_type":0})", false, 0, 0, 0},
      {R"({"mapping_type":"revenue","revenue_type":"2"})", true, 0, -1, 15},
      {R"({"mapping_type":"revenue","max_revenue":-1})", false, 0, 0, 0},
      {R"({"mapping_type":"revenue","min_revenue":3,"max_revenue":2})", false, 0, 0, 0},
      {R"({"mapping_type":"revenue","max_revenue":0})", true, 0, 0, 15},
  };
  for (const auto& c : cases) {
    auto m = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionRevenueValueMapping>(valueMapping(c.json));
    ASSERT_EQ(m != nullptr, c.built) << c.json;
    if (!m) continue;
    EXPECT_DOUBLE_EQ(m->minRevenue, c.min) << c.json;
    EXPECT_DOUBLE_EQ(m->maxRevenue, c.max) << c.json;
    EXPECT_EQ(m->revenueType, c.type) << c.json;
  }
}

TEST(MobileSkanSchemaFactory, EventDefaultsRaisesAndRejections) {
  auto m = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionEventValueMapping>(
      valueMapping(R"({"mapping_type":"event","event_name":"lvl","min_event_count":0,"min_revenue":-2})"));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->eventName, "lvl");
  EXPECT_EQ(m->minEventCount, 1);
  EXPECT_EQ(m->maxEventCount, -1);
  EXPECT_EQ(m->minRevenue, 0);
  EXPECT_EQ(m->maxRevenue, -1);
  for (const char* rejected : {
           R"({"mapping_type":"event"})",
           R"({"mapping_type":"event","event_name":5})",
           R"({"mapping_type":"event","event_name":"a","max_event_count":0})",
           R"({"mapping_type":"event","event_name":"a","min_event_count":3,"max_event_count":2})",
           R"({"mapping_type":"event","event_name":"a","max_revenue":-0.5})",
           R"({"mapping_type":"event","event_name":"a","min_revenue":4,"max_revenue":1})",
       }) {
    EXPECT_FALSE(valueMapping(rejected)) << rejected;
  }
}

TEST(MobileSkanSchemaFactory, FineCvClampsAndRejections) {
  struct Case {
    const char* json;
    bool built;
    int32_t min, max;
  } cases[] = {
      {R"({"mapping_type":"fine_cv"})", true, 0, 63},
      {R"({"mapping_type":"fine_cv","min_fine_cv":-5})", true, 0, 63},
      {R"({"mapping_type":"fine_cv","min_fine_cv":70})", false, 0, 0},
      {R"({"mapping_type":"fine_cv","max_fine_cv":70})", true, 0, 63},
      {R"({"mapping_type":"fine_cv","max_fine_cv":-1})", false, 0, 0},
      {R"({"mapping_type":"fine_cv","min_fine_cv":10,"max_fine_cv":9})", false, 0, 0},
      {R"({"mapping_type":"fine_cv","min_fine_cv":10,"max_fine_cv":10})", true, 10, 10},
  };
  for (const auto& c : cases) {
    auto m = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionFineCvValueMapping>(valueMapping(c.json));
    ASSERT_EQ(m != nullptr, c.built) << c.json;
    if (!m) continue;
    EXPECT_EQ(m->minFineCv, c.min) << c.json;
    EXPECT_EQ(m->maxFineCv, c.max) << c.json;
  }
  // Refused inside a rule that yields a fine value, kept inside a coarse rule.
  EXPECT_FALSE(valueMapping(R"({"mapping_type":"fine_cv"})", true));
  auto coarse = CorvaneSDKSkanConversionCoarseCvMapping::create(
      parse(R"({"coarse_cv":"high","value_mappings":[{"mapping_type":"fine_cv"}]})"));
  ASSERT_TRUE(coarse);
  EXPECT_EQ(coarse->valueMappings.size(), 1u);
  auto fine = CorvaneSDKSkanConversionFineCvMapping::create(
      parse(R"({"fine_cv":3,"value_mappings":[{"mapping_type":"fine_cv"},{"mapping_type":"session"}]})"));
  ASSERT_TRUE(fine);
  ASSERT_EQ(fine->valueMappings.size(), 1u);
  EXPECT_EQ(fine->valueMappings[0]->getMappingType(), CorvaneSDKSkanConversionValueMappingTypeSession);
}

TEST(MobileSkanSchemaFactory, UnknownOrMissingTypesGiveNull) {
  for (const char* json : {R"({})", R"({"mapping_type":"Session"})", R"({"mapping_type":1})", R"([])", R"(null)"}) {
    EXPECT_FALSE(valueMapping(json)) << json;
  }
  for (const char* json : {R"({"lock_condition_type":"Time","post_install_time":1})", R"({"lock_condition_type":3})",
                           R"({"lock_condition_type":"time"})", R"({"lock_condition_type":"fine_cv","fine_cvs":{}})",
                           R"({"lock_condition_type":"coarse_cv"})"}) {
    EXPECT_FALSE(CorvaneSDKSkanConversionLockCondition::create(parse(json))) << json;
  }
}

TEST(MobileSkanSchemaFactory, LockConditionsKeepOnlyUsableElements) {
  auto fine = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionFineCvLockCondition>(
      CorvaneSDKSkanConversionLockCondition::create(
          parse(R"({"lock_condition_type":"fine_cv","fine_cvs":[3,64,-1,"5",true,1e10,62.9]})")));
  ASSERT_TRUE(fine);
  EXPECT_EQ(fine->fineCvs, (std::vector<int32_t>{3, 62}));
  auto coarse = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionCoarseCvLockCondition>(
      CorvaneSDKSkanConversionLockCondition::create(
          parse(R"({"lock_condition_type":"coarse_cv","coarse_cvs":["high","HIGH",1,"low"]})")));
  ASSERT_TRUE(coarse);
  EXPECT_EQ(coarse->coarseCvs, (std::vector<int32_t>{2, 0}));
}

TEST(MobileSkanSchemaFactory, SchemaLevelRules) {
  struct Case {
    const char* json;
    int version;  // 0: no schema
  } cases[] = {
      {R"({"window_one":{"fine_cv_mappings":[]}})", 4},
      {R"({"skan_version":4,"window_one":{"fine_cv_mappings":[]}})", 4},
      {R"({"skan_version":"3","window_one":{"fine_cv_mappings":[]}})", 4},
      {R"({"skan_version":5,"window_one":{"fine_cv_mappings":[]}})", 0},
      {R"({"skan_version":3,"mappings":[]})", 3},
      {R"({"skan_version":3,"mappings":{}})", 0},
      {R"({"skan_version":3,"window_one":{"fine_cv_mappings":[]}})", 0},
      {R"({"window_one":{"coarse_cv_mappings":[]}})", 0},
      {R"({"window_one":[]})", 0},
      {R"({})", 0},
      {R"([])", 0},
  };
  for (const auto& c : cases) {
    auto s = Schema::create(parse(c.json));
    EXPECT_EQ(s ? s->getVersion() : 0, c.version) << c.json;
  }
  auto s = std::dynamic_pointer_cast<CorvaneSDKSkanConversionv4Schema>(Schema::create(parse(R"({
    "hash": 5,
    "window_one": {"fine_cv_mappings": [{"fine_cv": 64, "value_mappings": []}, {"fine_cv": 1, "value_mappings": []}]},
    "window_two": {"lock_conditions": []},
    "window_three": {"coarse_cv_mappings": [], "fine_cv_mappings": [{"fine_cv": 2, "value_mappings": []}]}
  })")));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->schemaHash(), "");
  ASSERT_EQ(s->windowOne->fineCvMappings->size(), 1u);
  EXPECT_FALSE(s->windowOne->coarseCvMappings);
  EXPECT_FALSE(s->windowOne->lockConditions);
  EXPECT_FALSE(s->windowTwo) << "a later window without coarse mappings is dropped";
  ASSERT_TRUE(s->windowThree);
  EXPECT_FALSE(s->windowThree->fineCvMappings) << "only the first window has fine mappings";
  auto v3 = std::dynamic_pointer_cast<CorvaneSDKSkanConversionv3Schema>(Schema::create(parse(
      R"({"skan_version":3,"hash":"x","lock_time":"9","mappings":[{"conversion_value":64,"value_mappings":[]},
          {"conversion_value":9,"value_mappings":[{"mapping_type":"fine_cv"}]}]})")));
  ASSERT_TRUE(v3);
  EXPECT_EQ(v3->schemaHash(), "x");
  EXPECT_EQ(v3->lockTime, 0u);
  ASSERT_EQ(v3->mappings->size(), 1u);
  EXPECT_TRUE((*v3->mappings)[0]->valueMappings.empty());
}

TEST(MobileSkanSchemaFactory, BooleanIsNotANumber) {
  EXPECT_EQ(Schema::create(parse(R"({"skan_version":true,"window_one":{"fine_cv_mappings":[]}})"))->getVersion(), 4);
  EXPECT_FALSE(CorvaneSDKSkanConversionFineCvMapping::create(parse(R"({"fine_cv":true,"value_mappings":[]})")));
  EXPECT_FALSE(CorvaneSDKSkanConversionMapping::create(parse(R"({"conversion_value":false,"value_mappings":[]})")));
  auto session = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionSessionValueMapping>(
      valueMapping(R"({"mapping_type":"session","min_session_count":true,"max_session_count":true})"));
  ASSERT_TRUE(session);
  EXPECT_EQ(session->minSessionCount, 1);
  EXPECT_EQ(session->maxSessionCount, -1);
  auto revenue = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionRevenueValueMapping>(
      valueMapping(R"({"mapping_type":"revenue","revenue_type":true,"max_revenue":true})"));
  ASSERT_TRUE(revenue);
  EXPECT_EQ(revenue->revenueType, 15u);
  EXPECT_EQ(revenue->maxRevenue, -1);
  EXPECT_FALSE(CorvaneSDKSkanConversionLockCondition::create(
      parse(R"({"lock_condition_type":"time","post_install_time":true})")));
  EXPECT_EQ(getCorvaneSDKSkanConversionFineValue(Value(true)), -1);
}

TEST(MobileSkanSchemaFactory, FractionsAreCutTowardZero) {
  auto fine = CorvaneSDKSkanConversionFineCvMapping::create(parse(R"({"fine_cv":63.5,"value_mappings":[]})"));
  ASSERT_TRUE(fine);
  EXPECT_EQ(fine->fineCv, 63);
  auto s = Schema::create(parse(R"({"skan_version":3.5,"mappings":[]})"));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->getVersion(), 3);
  auto session = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionSessionValueMapping>(
      valueMapping(R"({"mapping_type":"session","min_session_count":2.9,"max_session_count":2.1})"));
  ASSERT_TRUE(session);
  EXPECT_EQ(session->minSessionCount, 2);
  EXPECT_EQ(session->maxSessionCount, 2);
  auto finecv = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionFineCvValueMapping>(
      valueMapping(R"({"mapping_type":"fine_cv","min_fine_cv":-0.5,"max_fine_cv":63.99})"));
  ASSERT_TRUE(finecv);
  EXPECT_EQ(finecv->minFineCv, 0);
  EXPECT_EQ(finecv->maxFineCv, 63);
  EXPECT_EQ(getCorvaneSDKSkanConversionFineValue(parse("-0.9")), 0);
  EXPECT_EQ(getCorvaneSDKSkanConversionFineValue(63.999), 63);
  EXPECT_EQ(getCorvaneSDKSkanConversionFineValue(64.0), -1);
}

TEST(MobileSkanSchemaFactory, NumbersOutsideTheirTypeAreRejected) {
  auto v3 = std::dynamic_pointer_cast<CorvaneSDKSkanConversionv3Schema>(
      Schema::create(parse(R"({"skan_version":3,"lock_time":-5,"mappings":[]})")));
  ASSERT_TRUE(v3);
  EXPECT_EQ(v3->lockTime, 0u);
  EXPECT_FALSE(Schema::create(parse(R"({"skan_version":4294967299,"window_one":{"fine_cv_mappings":[]}})")));
  EXPECT_FALSE(CorvaneSDKSkanConversionLockCondition::create(
      parse(R"({"lock_condition_type":"time","post_install_time":-1})")));
  EXPECT_FALSE(CorvaneSDKSkanConversionLockCondition::create(
      parse(R"({"lock_condition_type":"time","post_install_time":1e20})")));
  auto time = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionTimeLockCondition>(
      CorvaneSDKSkanConversionLockCondition::create(
          parse(R"({"lock_condition_type":"time","post_install_time":18446744073709551615})")));
  ASSERT_TRUE(time);
  EXPECT_EQ(time->postInstallTime, std::numeric_limits<uint64_t>::max());
  auto session = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionSessionValueMapping>(
      valueMapping(R"({"mapping_type":"session","min_session_count":5000000000,"max_session_count":4294967297})"));
  ASSERT_TRUE(session) << "out-of-type values fall back to the defaults, never wrap to 1";
  EXPECT_EQ(session->minSessionCount, 1);
  EXPECT_EQ(session->maxSessionCount, -1);
  for (const char* type : {"-1", "4294967296", "-4294967295"}) {
    auto revenue = std::dynamic_pointer_cast<const CorvaneSDKSkanConversionRevenueValueMapping>(
        valueMapping((std::string(R"({"mapping_type":"revenue","revenue_type":)") + type + "}").c_str()));
    ASSERT_TRUE(revenue) << type;
    EXPECT_EQ(revenue->revenueType, 15u) << type;
  }
  EXPECT_FALSE(CorvaneSDKSkanConversionFineCvMapping::create(parse(R"({"fine_cv":4294967301,"value_mappings":[]})")));
}

// ---- enumerations ----

TEST(MobileSkanEnums, StringTablesBothWays) {
  struct Case {
    int32_t (*from)(const std::string&);
    std::string (*to)(int32_t);
    std::vector<std::string> names;
    std::string outside;
  } cases[] = {
      {getCorvaneSDKSkanConversionValueMappingType, getSkanConversionValueMappingTypeString,
       {"session", "revenue", "event", "fine_cv"}, "unknown"},
      {getCorvaneSDKSkanConversionLockConditionType, getSkanConversionLockConditionString,
       {"time", "fine_cv", "coarse_cv"}, "unknown"},
      {getCorvaneSDKSkanConversionCoarseValue, getCoarseCVString, {"low", "medium", "high"}, ""},
  };
  for (const auto& c : cases) {
    for (size_t i = 0; i < c.names.size(); ++i) {
      EXPECT_EQ(c.from(c.names[i]), static_cast<int32_t>(i));
      EXPECT_EQ(c.to(static_cast<int32_t>(i)), c.names[i]);
    }
    EXPECT_EQ(c.from("LOW"), -1);
    EXPECT_EQ(c.from(""), -1);
    EXPECT_EQ(c.from(c.names[0] + " "), -1);
    EXPECT_EQ(c.to(static_cast<int32_t>(c.names.size())), c.outside);
    EXPECT_EQ(c.to(std::numeric_limits<int32_t>::max()), c.outside);
  }
}

TEST(MobileSkanEnums, NegativeValuesAreUnknown) {
  for (int32_t v : {-1, -2, std::numeric_limits<int32_t>::min()}) {
    EXPECT_EQ(getSkanConversionValueMappingTypeString(v), "unknown");
    EXPECT_EQ(getSkanConversionLockConditionString(v), "unknown");
    EXPECT_EQ(getCoarseCVString(v), "");
  }
  EXPECT_EQ(CorvaneSDKSkanConversionValueMapping().serialize()["mapping_type"], "unknown");
  EXPECT_EQ(CorvaneSDKSkanConversionLockCondition().serialize()["lock_condition_type"], "unknown");
}

// ---- conditions ----

TEST(MobileSkanConditions, RevenueBoundsAtEps) {
  auto m = valueMapping(R"({"mapping_type":"revenue","min_revenue":1.0,"max_revenue":5.0})");
  ASSERT_TRUE(m);
  struct Case {
    double total;
    bool holds;
  } cases[] = {{0.999995, true}, {0.99998, false}, {1.0, true}, {4.99998, true},
               {4.999995, false}, {5.0, false}, {7.0, false}};
  for (const auto& c : cases) {
    Values v;
    v.iap = c.total;
    Schema::resetRevenueCache();
    EXPECT_EQ(m->isValidContext(v), c.holds) << c.total;
  }
  auto unbounded = valueMapping(R"({"mapping_type":"revenue","min_revenue":2})");
  Values big;
  big.ad = 1e12;
  Schema::resetRevenueCache();
  EXPECT_TRUE(unbounded->isValidContext(big));
}

TEST(MobileSkanConditions, RevenueTypeSelectsTheTotals) {
  Values v;
  v.iap = 1;
  v.ad = 2;
  v.event = 4;
  v.crypto = 8;
  struct Case {
    uint32_t mask;
    double sum;
  } cases[] = {{1, 1}, {2, 2}, {4, 4}, {8, 8}, {15, 15}, {5, 5}, {10, 10}, {16, 0}, {31, 15}};
  for (const auto& c : cases) {
    Schema::resetRevenueCache();
    EXPECT_DOUBLE_EQ(Schema::getRevenueCache(v, c.mask), c.sum) << c.mask;
  }
  // Within one evaluation a type's sum is computed once.
  Schema::resetRevenueCache();
  EXPECT_DOUBLE_EQ(Schema::getRevenueCache(v, 3), 3);
  v.iap = 100;
  EXPECT_DOUBLE_EQ(Schema::getRevenueCache(v, 3), 3);
  Schema::resetRevenueCache();
  EXPECT_DOUBLE_EQ(Schema::getRevenueCache(v, 3), 102);
  // A missing "revenue_type" sums all four.
  auto all = valueMapping(R"({"mapping_type":"revenue","min_revenue":114,"max_revenue":115})");
  Schema::resetRevenueCache();
  EXPECT_TRUE(all->isValidContext(v));
}

TEST(MobileSkanConditions, SessionEventAndFineCv) {
  Values v;
  v.sessions = 3;
  v.fine = 10;
  v.eventCounts = parse(R"({"lvl":2,"bad":"x"})");
  v.eventRevenues = parse(R"({"lvl":4.5})");
  struct Case {
    const char* json;
    bool holds;
  } cases[] = {
      {R"({"mapping_type":"session","min_session_count":3})", true},
      {R"({"mapping_type":"session","min_session_count":4})", false},
      {R"({"mapping_type":"session","min_session_count":1,"max_session_count":3})", true},
      {R"({"mapping_type":"session","min_session_count":1,"max_session_count":2})", false},
      {R"({"mapping_type":"event","event_name":"lvl","min_event_count":2})", true},
      {R"({"mapping_type":"event","event_name":"lvl","max_event_count":1})", false},
      {R"({"mapping_type":"event","event_name":"lvl","min_revenue":4.5})", true},
      {R"({"mapping_type":"event","event_name":"lvl","max_revenue":4.5})", false},
      {R"({"mapping_type":"event","event_name":"missing"})", false},
      {R"({"mapping_type":"event","event_name":"bad"})", false},
      {R"({"mapping_type":"fine_cv","min_fine_cv":10,"max_fine_cv":10})", true},
      {R"({"mapping_type":"fine_cv","min_fine_cv":11})", false},
  };
  for (const auto& c : cases) {
    Schema::resetRevenueCache();
    EXPECT_EQ(valueMapping(c.json)->isValidContext(v), c.holds) << c.json;
  }
}

TEST(MobileSkanConditions, LockConditions) {
  Values v;
  v.postInstallTime = 100;
  v.fine = 9;
  v.coarse = 1;
  struct Case {
    const char* json;
    bool holds;
  } cases[] = {
      {R"({"lock_condition_type":"time","post_install_time":100})", true},
      {R"({"lock_condition_type":"time","post_install_time":101})", false},
      {R"({"lock_condition_type":"fine_cv","fine_cvs":[1,9]})", true},
      {R"({"lock_condition_type":"fine_cv","fine_cvs":[]})", false},
      {R"({"lock_condition_type":"coarse_cv","coarse_cvs":["medium"]})", true},
      {R"({"lock_condition_type":"coarse_cv","coarse_cvs":["low","high"]})", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CorvaneSDKSkanConversionLockCondition::create(parse(c.json))->isValidContext(v), c.holds) << c.json;
  }
}

// ---- evaluation ----

const char* kV4 = R"({
  "hash": "abc",
  "window_one": {
    "fine_cv_mappings": [
      {"fine_cv": 1, "value_mappings": [{"mapping_type": "session", "min_session_count": 1}]},
      {"fine_cv": 2, "value_mappings": [{"mapping_type": "session", "min_session_count": 2}]},
      {"fine_cv": 30, "value_mappings": [{"mapping_type": "revenue", "min_revenue": 10}]}
    ],
    "coarse_cv_mappings": [
      {"coarse_cv": "medium", "value_mappings": [{"mapping_type": "fine_cv", "min_fine_cv": 2}]},
      {"coarse_cv": "high", "value_mappings": [{"mapping_type": "fine_cv", "min_fine_cv": 30}]}
    ],
    "lock_conditions": [{"lock_condition_type": "fine_cv", "fine_cvs": [30]}]
  },
  "window_two": {
    "coarse_cv_mappings": [{"coarse_cv": "high", "value_mappings": [{"mapping_type": "session", "min_session_count": 5}]}],
    "lock_conditions": [{"lock_condition_type": "coarse_cv", "coarse_cvs": ["high"]}]
  }
})";

TEST(MobileSkanEvaluation, Version4FineThenCoarseThenLock) {
  auto s = Schema::create(parse(kV4));
  ASSERT_TRUE(s);
  struct Case {
    int32_t sessions;
    double revenue;
    int32_t window;
    int32_t fine, coarse;
    bool locked;
  } cases[] = {
      {0, 0, 0, 0, 0, false},    // nothing holds: fine 0 and "low"
      {1, 0, 0, 1, 0, false},
      {2, 0, 0, 2, 1, false},    // the coarse rule sees the new fine value
      {2, 10, 0, 30, 2, true},   // the latest rule that holds wins; its lock condition holds
      {5, 10, 1, 30, 2, true},   // window two: own coarse rule and own lock
      {4, 10, 1, 30, 0, false},
      {5, 10, 2, 30, 2, false},  // no window three: window two's rules, no lock check
      {5, 10, 3, 30, 9, false},  // another index: no coarse update
  };
  for (const auto& c : cases) {
    Values v;
    v.sessions = c.sessions;
    v.iap = c.revenue;
    v.window = c.window;
    v.coarse = 9;
    s->updateConversionValue(v);
    EXPECT_EQ(v.fine, c.fine) << c.sessions << "/" << c.window;
    if (c.window <= 2) {
      EXPECT_EQ(v.coarse, c.coarse) << c.sessions << "/" << c.window;
    } else {
      EXPECT_EQ(v.coarse, 9);
    }
    EXPECT_EQ(v.locked, c.locked) << c.sessions << "/" << c.window;
  }
}

TEST(MobileSkanEvaluation, Version4FallbackWindowsAndNullLists) {
  auto s = Schema::create(parse(R"({
    "window_one": {"fine_cv_mappings": [],
                   "lock_conditions": [{"lock_condition_type": "time", "post_install_time": 0}]}
  })"));
  ASSERT_TRUE(s);
  Values v;
  v.fine = 20;
  v.coarse = 2;
  v.window = 2;
  s->updateConversionValue(v);
  EXPECT_EQ(v.fine, 0) << "an empty fine list sets 0";
  EXPECT_EQ(v.coarse, 2) << "no coarse list leaves the coarse value";
  EXPECT_FALSE(v.locked) << "window one stands in for window three: its lock is not checked";
  v.window = 0;
  s->updateConversionValue(v);
  EXPECT_TRUE(v.locked);
  // updateLockWindow outside an evaluation checks only the current window's own conditions.
  Values w;
  w.window = 1;
  s->updateLockWindow(w);
  EXPECT_FALSE(w.locked);
  w.window = 0;
  s->updateLockWindow(w);
  EXPECT_TRUE(w.locked);
}

TEST(MobileSkanEvaluation, LockChecksNeverClearTheFlag) {
  auto s = Schema::create(parse(kV4));
  Values v;
  v.locked = true;
  s->updateConversionValue(v);
  s->updateLockWindow(v);
  EXPECT_TRUE(v.locked);
  auto v3 = Schema::create(parse(R"({"skan_version":3,"lock_time":100,"mappings":[]})"));
  Values x;
  x.locked = true;
  x.postInstallTime = 0;
  v3->updateLockWindow(x);
  EXPECT_TRUE(x.locked);
}

TEST(MobileSkanEvaluation, Version3) {
  auto s = Schema::create(parse(R"({"skan_version":3,"lock_time":3600,"mappings":[
    {"conversion_value": 4, "value_mappings": [{"mapping_type": "session"}]},
    {"conversion_value": 9, "value_mappings": [{"mapping_type": "event", "event_name": "buy"},
                                                {"mapping_type": "session", "min_session_count": 3}]},
    {"conversion_value": 12, "value_mappings": []}
  ]})"));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->getPostbackWindow(99999999), 0);
  struct Case {
    int32_t sessions;
    int32_t buys;
    int32_t fine;
  } cases[] = {{0, 0, 0}, {1, 0, 4}, {3, 0, 9}, {1, 1, 9}};
  for (const auto& c : cases) {
    Values v;
    v.sessions = c.sessions;
    v.eventCounts["buy"] = c.buys;
    v.coarse = 2;
    s->updateConversionValue(v);
    EXPECT_EQ(v.fine, c.fine);
    EXPECT_EQ(v.coarse, 2) << "version 3 never touches the coarse value";
  }
  Values v;
  v.postInstallTime = 3599;
  s->updateLockWindow(v);
  EXPECT_FALSE(v.locked);
  v.postInstallTime = 3600;
  s->updateLockWindow(v);
  EXPECT_TRUE(v.locked);
  auto never = Schema::create(parse(R"({"skan_version":3,"mappings":[]})"));
  Values late;
  late.postInstallTime = std::numeric_limits<uint64_t>::max();
  never->updateLockWindow(late);
  EXPECT_FALSE(late.locked) << "lock time 0 never locks";
}

TEST(MobileSkanEvaluation, PostbackWindowThresholds) {
  auto s = Schema::create(parse(kV4));
  struct Case {
    uint64_t seconds;
    int32_t window;
  } cases[] = {{0, 0}, {172800, 0}, {172801, 1}, {1209600, 1}, {1209601, 2}, {std::numeric_limits<uint64_t>::max(), 2}};
  for (const auto& c : cases) EXPECT_EQ(s->getPostbackWindow(c.seconds), c.window) << c.seconds;
}

// ---- stored form ----

TEST(MobileSkanSerialize, RoundTripsAreStable) {
  const char* schemas[] = {
      kV4,
      R"({"skan_version":3,"hash":"h","lock_time":86400,"mappings":[{"conversion_value":5,"value_mappings":[
          {"mapping_type":"revenue","min_revenue":0.5,"max_revenue":9.25,"revenue_type":3},
          {"mapping_type":"event","event_name":"e","min_event_count":2,"max_event_count":8,"min_revenue":1,"max_revenue":2}]}]})",
      R"({"window_one":{"fine_cv_mappings":[{"fine_cv":0,"value_mappings":[]}],"coarse_cv_mappings":[],"lock_conditions":[
          {"lock_condition_type":"time","post_install_time":5},{"lock_condition_type":"fine_cv","fine_cvs":[1,2]},
          {"lock_condition_type":"coarse_cv","coarse_cvs":["low","high"]}]},
          "window_three":{"coarse_cv_mappings":[{"coarse_cv":"low","value_mappings":[{"mapping_type":"fine_cv","min_fine_cv":3,"max_fine_cv":60}]}]}})",
  };
  for (const char* json : schemas) {
    auto first = Schema::create(parse(json));
    ASSERT_TRUE(first) << json;
    const Value stored = first->serialize();
    auto second = Schema::create(stored);
    ASSERT_TRUE(second) << stored.dump();
    EXPECT_EQ(second->serialize(), stored);
    EXPECT_EQ(second->getVersion(), first->getVersion());
  }
  // Optional fields are written only when they carry something.
  const Value v4 = Schema::create(parse(kV4))->serialize();
  EXPECT_EQ(v4["window_one"]["fine_cv_mappings"][0]["value_mappings"][0],
            parse(R"({"mapping_type":"session","min_session_count":1})"));
  EXPECT_FALSE(v4.contains("window_three"));
  EXPECT_FALSE(v4["window_two"].contains("fine_cv_mappings"));
  EXPECT_FALSE(Schema::create(parse(R"({"skan_version":3,"mappings":[]})"))->serialize().contains("lock_time"));
}

TEST(MobileSkanSerialize, StoredFormCarriesTheVersion) {
  auto v3 = Schema::create(parse(R"({"skan_version":3,"mappings":[{"conversion_value":5,"value_mappings":[]}]})"));
  const Value stored = v3->serialize();
  EXPECT_EQ(stored["skan_version"], 3);
  auto rebuilt = Schema::create(stored);
  ASSERT_TRUE(rebuilt) << "a stored version-3 schema rebuilds offline";
  EXPECT_EQ(rebuilt->getVersion(), 3);
  // A stored form from before the version was written still builds as version 4.
  Value old = Schema::create(parse(kV4))->serialize();
  old.erase("skan_version");
  auto legacy = Schema::create(old);
  ASSERT_TRUE(legacy);
  EXPECT_EQ(legacy->getVersion(), 4);
}

TEST(MobileSkanConfigAnswer, UnusableSchemaKeepsTheStoredOne) {
  auto stored = Schema::create(parse(kV4));
  stored->setSchemaHash("stored");
  struct Case {
    const char* answer;
    const char* hash;  // of the schema kept
  } cases[] = {
      {R"({})", "stored"},
      {R"({"schema":[],"schema_hash":"new"})", "stored"},
      {R"({"schema":{"skan_version":5},"schema_hash":"new"})", "stored"},
      {R"({"schema":{"window_one":{}},"schema_hash":"new"})", "stored"},
      {R"({"schema":{"hash":"inner","skan_version":3,"mappings":[]},"schema_hash":"new"})", "new"},
      {R"({"schema":{"hash":"inner","skan_version":3,"mappings":[]},"schema_hash":7})", "inner"},
  };
  for (const auto& c : cases) {
    auto kept = Schema::fromConfigAnswer(parse(c.answer), stored);
    ASSERT_TRUE(kept) << c.answer;
    EXPECT_EQ(kept->schemaHash(), c.hash) << c.answer;
  }
  EXPECT_FALSE(Schema::fromConfigAnswer(parse(R"({"schema":{}})"), nullptr));
}

// ---- threads ----

TEST(MobileSkanConcurrency, ConcurrentEvaluationsDoNotTearTheRevenueCache) {
  auto s = Schema::create(parse(R"({"window_one":{"fine_cv_mappings":[
      {"fine_cv": 10, "value_mappings": [{"mapping_type": "revenue", "min_revenue": 1}]},
      {"fine_cv": 20, "value_mappings": [{"mapping_type": "revenue", "min_revenue": 100}]}]}})"));
  ASSERT_TRUE(s);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        Values v;
        v.iap = t % 2 == 0 ? 5 : 500;  // two kinds of installs evaluated side by side
        s->updateConversionValue(v);
        if (v.fine != (t % 2 == 0 ? 10 : 20)) ++wrong;
        if (i % 100 == 0) Schema::create(parse(R"({"skan_version":3,"mappings":[]})"));
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
