// Event record: values, map decoding, revenue, JSON form, pool reuse, batch body.
#include <gtest/gtest.h>

#include "Env.h"
#include "Event.h"
#include "FixedProperties.h"
#include "IdentitySnapshot.h"
#include "Version.h"

using namespace CorvaneSDK;

namespace {
struct Props : Test::FixedProperties {
  Props() {
    userId = "user";
    bundleId = "com.b";
    appVersion = "1.0";
    buildNumber = "7";
  }
};

struct Owned {
  EventPtr e;
  explicit Owned(const char* name) : e(Event::Acquire(name)) {}
};
}  // namespace

TEST(Event, ValuesAndRevenue) {
  Owned a("x");
  a.e->SetIntValue(3);
  a.e->AddRevenueData(1.5, "USD");
  EXPECT_EQ(DumpJson(a.e->value), R"({"__revenue__":{"currency":"USD","revenue":1.5},"value":3})");
  Owned b("y");
  b.e->AddRevenueData(2, "EUR");
  EXPECT_EQ(DumpJson(b.e->value), R"({"__revenue__":{"currency":"EUR","revenue":2.0}})");
  b.e->AddRevenueData(2, "");  // empty currency: nothing
  EXPECT_EQ(b.e->value["__revenue__"]["currency"], "EUR");
  Owned c("z");
  c.e->SetJsonValue("[1,2]");
  c.e->AddRevenueData(1, "USD");  // a non-object value is replaced so revenue is kept
  EXPECT_TRUE(c.e->value.is_object());
  EXPECT_EQ(c.e->value.size(), 1u);
}

TEST(Event, MapValueIsFormDecoded) {
  Owned a("m");
  a.e->SetMapValue("a:1\nb+c:d%20e\nnocolon\nx:50%\nk:%4");
  EXPECT_EQ(a.e->value["a"], "1");
  EXPECT_EQ(a.e->value["b c"], "d e");
  EXPECT_EQ(a.e->value["x"], "50%");
  EXPECT_EQ(a.e->value["k"], "%4");
  EXPECT_FALSE(a.e->value.contains("nocolon"));
  a.e->SetMapValue("a:2");
  EXPECT_EQ(a.e->value["a"], "2");
  EXPECT_EQ(a.e->value["x"], "50%");
}

TEST(Event, BadJsonLeavesValueNullAndDeepJsonIsRefused) {
  Owned a("j");
  a.e->SetJsonValue("{not json");
  EXPECT_TRUE(a.e->value.is_null());
  a.e->SetJsonValue(std::string(100000, '[') + std::string(100000, ']'));
  EXPECT_TRUE(a.e->value.is_null());
}

TEST(Event, SubEventsSerialiseOneLevelAndRoundTrip) {
  EventPtr parent = Event::Acquire("p");
  EventPtr child = Event::Acquire("c1");
  child->subEvents.push_back(Event::Acquire("grandchild"));
  parent->subEvents.push_back(std::move(child));
  parent->subEvents.push_back(Event::Acquire("c2"));
  parent->Stamp("sess", "cfg", "cu", ::CorvaneSDK::Env::Default());
  Json j = parent->ToJson();
  ASSERT_EQ(j["subEvents"].size(), 2u);
  EXPECT_FALSE(j["subEvents"][0].contains("subEvents"));
  EXPECT_NE(j["subEvents"][0]["eId"], j["eId"]);
  EXPECT_EQ(j["subEvents"][1]["id"], "sess");
  const std::string text = parent->ToJsonText();
  EXPECT_EQ(text.find(' '), std::string::npos);
  EventPtr back = Event::FromJsonTree(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->eventName, "p");
  EXPECT_EQ(back->subEvents.size(), 2u);
  EXPECT_EQ(back->cfgId, "cfg");
  back.reset();
  parent.reset();
}

TEST(Event, UuidFormAndInvalidUtf8) {
  Owned a("u");
  a.e->Stamp("", "", "", ::CorvaneSDK::Env::Default());
  ASSERT_EQ(a.e->eId.size(), 36u);
  EXPECT_EQ(a.e->eId[14], '4');
  EXPECT_NE(std::string("89ab").find(a.e->eId[19]), std::string::npos);
  a.e->SetStringValue(std::string("bad\xff\xfe"));
  const std::string text = a.e->ToJsonText();  // must not throw
  EXPECT_NE(text.find("bad"), std::string::npos);
  Event probe;
  EXPECT_FALSE(probe.FromJson("[1]"));
  EXPECT_TRUE(probe.FromJson(R"({"eId":"x","eventName":"n"})"));
  EXPECT_EQ(probe.eventName, "n");
}

TEST(Event, ReleasedRecordsAreClearedAndReusedOldestFirst) {
  // Drain the pool so that the two records below are the only free ones.
  std::vector<EventPtr> drained;
  while (Event::PoolSize() > 0) drained.push_back(Event::Acquire("d"));
  EventPtr first = Event::Acquire("first");
  EventPtr second = Event::Acquire("second");
  first->Stamp("s", "c", "u", ::CorvaneSDK::Env::Default());
  first->flags = 8;
  first->SetIntValue(1);
  const Event* const firstRecord = first.get();
  first.reset();
  second.reset();
  EventPtr reused = Event::Acquire("again");
  EXPECT_EQ(reused.get(), firstRecord);
  EXPECT_TRUE(reused->value.is_null());
  EXPECT_EQ(reused->flags, 0);
  EXPECT_TRUE(reused->eId.empty());
  EXPECT_TRUE(reused->customUid.empty());
  reused.reset();
  drained.clear();
}

TEST(Event, BatchBodyKeysInByteOrderAndWrapperOnlyWhenSet) {
  Props props;
  EXPECT_EQ(BuildBatchBody(props, std::vector<std::string>{"{\"a\":1}"}),
            R"({"appVersion":"1.0","buildNumber":"7","bundleId":"com.b","platform":"Linux","qvSdkVersion":")" + std::string(CorvaneSDK::kSdkVersion) + R"(","qvUid":"user","subMessages":[{"a":1}]})");
  props.wrapper = "unity";
  props.wrapperVersion = "2";
  const std::string body = BuildBatchBody(props, std::vector<std::string>{});
  Json parsed;
  ASSERT_TRUE(ParseJson(body, parsed));
  EXPECT_EQ(parsed["wrapper"], "unity");
  EXPECT_EQ(parsed["wrapperVersion"], "2");
  EXPECT_EQ(body, DumpJson(parsed));  // hand-built text equals the sorted dump
}
