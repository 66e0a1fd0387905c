// Upload body checks: what a well-formed body turns into, and the message that names the
// first problem of a malformed one.
#include <gtest/gtest.h>

#include <string>

#include "CollectorFixture.h"
#include "Validation.h"

using namespace CorvaneSDK::Collector;
using CorvaneSDK::DumpJson;
using CorvaneSDK::Json;
using CorvaneSDK::Collector::Test::BatchObject;
using CorvaneSDK::Collector::Test::EventObject;

namespace {
std::string Check(const Json& body) {
  Batch batch;
  std::string error;
  EXPECT_FALSE(ParseBatch(DumpJson(body), batch, error));
  EXPECT_TRUE(batch.events.empty());
  return error;
}
}  // namespace

TEST(Validation, FlattensEventsWithTheirSubEventsInBodyOrder) {
  Json open = EventObject("qvsdk_open", "s1", Json{{"os_name", "Debian"}}, 1000);
  Json link = EventObject("qvsdk_deep_link", "s1", Json{{"url", "demo://x"}}, 1001);
  open["subEvents"] = Json::array({link});
  Json level = EventObject("qvsdk_level_attempt", "s1", Json{{"level", 3}}, 1002);
  Json body = BatchObject({open, level}, "user-9");
  body["wrapper"] = "unity";
  body["wrapperVersion"] = "2022.3";

  Batch batch;
  std::string error;
  ASSERT_TRUE(ParseBatch(DumpJson(body), batch, error)) << error;
  EXPECT_EQ(batch.userId, "user-9");
  EXPECT_EQ(batch.sdkVersion, CorvaneSDK::kSdkVersion);
  EXPECT_EQ(batch.platform, "Linux");
  EXPECT_EQ(batch.wrapper, "unity");
  EXPECT_EQ(batch.wrapperVersion, "2022.3");
  ASSERT_EQ(batch.events.size(), 3u);
  EXPECT_EQ(batch.events[0].name, "qvsdk_open");
  EXPECT_EQ(batch.events[0].parentEId, "");
  EXPECT_EQ(batch.events[1].name, "qvsdk_deep_link");
  EXPECT_EQ(batch.events[1].parentEId, open["eId"].get<std::string>());
  EXPECT_EQ(batch.events[1].valueJson, R"({"url":"demo://x"})");
  EXPECT_EQ(batch.events[1].timeMs, 1001);
  EXPECT_EQ(batch.events[2].name, "qvsdk_level_attempt");
  EXPECT_EQ(batch.events[2].parentEId, "");
}

TEST(Validation, NullValueAndEmptyIdentityStringsAreAccepted) {
  Json e = EventObject("custom", "");
  Batch batch;
  std::string error;
  ASSERT_TRUE(ParseBatch(DumpJson(BatchObject({e})), batch, error)) << error;
  ASSERT_EQ(batch.events.size(), 1u);
  EXPECT_EQ(batch.events[0].valueJson, "null");
  EXPECT_EQ(batch.events[0].sessionId, "");
}

TEST(Validation, NamesEachMissingBatchKey) {
  for (const char* key : {"qvUid", "qvSdkVersion", "bundleId", "platform", "appVersion",
                          "buildNumber", "subMessages"}) {
    Json body = BatchObject({EventObject("a")});
    body.erase(key);
    EXPECT_EQ(Check(body), std::string("body: missing \"") + key + "\"");
  }
}

TEST(Validation, NamesEachMissingEventKeyWithItsPosition) {
  for (const char* key : {"eId", "eventName", "value", "id", "timeInMs", "cfgId", "customUid"}) {
    Json second = EventObject("b");
    second.erase(key);
    EXPECT_EQ(Check(BatchObject({EventObject("a"), second})),
              std::string("subMessages[1]: missing \"") + key + "\"");
  }
}

TEST(Validation, NamesWrongTypes) {
  Json body = BatchObject({EventObject("a")});
  body["buildNumber"] = 7;
  EXPECT_EQ(Check(body), "buildNumber: expected a string, got an integer");

  body = BatchObject({EventObject("a")});
  body["subMessages"] = Json::object();
  EXPECT_EQ(Check(body), "subMessages: expected an array, got an object");

  Json e = EventObject("a");
  e["timeInMs"] = 1.5;
  EXPECT_EQ(Check(BatchObject({e})), "subMessages[0].timeInMs: expected an integer, got a number");
  e["timeInMs"] = "1765000000000";
  EXPECT_EQ(Check(BatchObject({e})), "subMessages[0].timeInMs: expected an integer, got a string");

  e = EventObject("a");
  e["cfgId"] = nullptr;
  EXPECT_EQ(Check(BatchObject({e})), "subMessages[0].cfgId: expected a string, got null");

  EXPECT_EQ(Check(BatchObject({Json::array()})),
            "subMessages[0]: expected an event object, got an array");
}

TEST(Validation, RefusesEventIdsThatAreNotVersion4Uuids) {
  Json e = EventObject("a");
  e["eId"] = "0B8E7C9A-1F2D-4E3B-9A4C-5D6E7F8A9B0C";  // upper case
  EXPECT_EQ(Check(BatchObject({e})),
            "subMessages[0].eId: not a lower-case version-4 UUID: "
            "\"0B8E7C9A-1F2D-4E3B-9A4C-5D6E7F8A9B0C\"");
  EXPECT_TRUE(IsEventId("0b8e7c9a-1f2d-4e3b-9a4c-5d6e7f8a9b0c"));
  EXPECT_TRUE(IsEventId("0b8e7c9a-1f2d-4e3b-bfff-5d6e7f8a9b0c"));
  EXPECT_FALSE(IsEventId("0b8e7c9a-1f2d-3e3b-9a4c-5d6e7f8a9b0c"));  // version 3
  EXPECT_FALSE(IsEventId("0b8e7c9a-1f2d-4e3b-7a4c-5d6e7f8a9b0c"));  // variant digit 7
  EXPECT_FALSE(IsEventId("0b8e7c9a-1f2d-4e3b-ca4c-5d6e7f8a9b0c"));  // variant digit c
  EXPECT_FALSE(IsEventId("0b8e7c9a1f2d-4e3b-9a4c-5d6e7f8a9b0c-"));  // dash misplaced
  EXPECT_FALSE(IsEventId("0b8e7c9a-1f2d-4e3b-9a4c-5d6e7f8a9b0"));   // short
  EXPECT_FALSE(IsEventId(std::string("0b8e7c9a-1f2d-4e3b-9a4c-5d6e7f8a9b0\0", 36)));
}

TEST(Validation, SubEventsFollowTheirOwnRules) {
  Json parent = EventObject("open");
  Json child = EventObject("link");
  child["subEvents"] = Json::array();
  parent["subEvents"] = Json::array({child});
  EXPECT_EQ(Check(BatchObject({parent})),
            "subMessages[0].subEvents[0]: a sub-event cannot have \"subEvents\"");

  child.erase("subEvents");
  child.erase("customUid");
  parent["subEvents"] = Json::array({EventObject("ok"), child});
  EXPECT_EQ(Check(BatchObject({parent})), "subMessages[0].subEvents[1]: missing \"customUid\"");

  parent["subEvents"] = "none";
  EXPECT_EQ(Check(BatchObject({parent})),
            "subMessages[0].subEvents: expected an array, got a string");
}

TEST(Validation, ReportsKeysTheWireFormatDoesNotHave) {
  Json body = BatchObject({EventObject("a")});
  body["qvUID"] = "typo";
  EXPECT_EQ(Check(body), "body: unexpected key \"qvUID\"");

  Json e = EventObject("a");
  e["eventname"] = "a";
  EXPECT_EQ(Check(BatchObject({e})), "subMessages[0]: unexpected key \"eventname\"");
}

TEST(Validation, WrapperKeysAreLeftOutRatherThanEmpty) {
  Json body = BatchObject({EventObject("a")});
  body["wrapper"] = "";
  EXPECT_EQ(Check(body), "wrapper: present but empty (the key is left out when empty)");
}

TEST(Validation, RefusesBodiesThatAreNotABatchObject) {
  Batch batch;
  std::string error;
  EXPECT_FALSE(ParseBatch("", batch, error));
  EXPECT_EQ(error, "empty body");
  EXPECT_FALSE(ParseBatch("{\"qvUid\": ", batch, error));
  EXPECT_EQ(error, "body is not valid JSON");
  EXPECT_FALSE(ParseBatch("[1,2]", batch, error));
  EXPECT_EQ(error, "body: expected a JSON object, got an array");
  // Invalid UTF-8 inside a string.
  EXPECT_FALSE(ParseBatch("{\"qvUid\":\"\xff\xfe\"}", batch, error));
  EXPECT_EQ(error, "body is not valid JSON");
}

TEST(Validation, RefusesDeepNestingWithoutRecursingIntoIt) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  Json e = EventObject("a");
  std::string body = DumpJson(BatchObject({e}));
  const std::string marker = "\"value\":null";
  body.replace(body.find(marker), marker.size(), "\"value\":" + deep);
  Batch batch;
  std::string error;
  EXPECT_FALSE(ParseBatch(body, batch, error));
  EXPECT_EQ(error, "body nests deeper than 69 levels");
}
