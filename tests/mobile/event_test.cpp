// The event and the log operation: payload setters, revenue kept per event, sub-event ids.
#include <gtest/gtest.h>

#include <limits>

#include "CorvaneSDKEvent.h"
#include "MobileTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

class MobileEvent : public ::testing::Test {
 protected:
  Testing::TestPorts ports_;
};

TEST_F(MobileEvent, SettersMakeTheirPayloads) {
  CorvaneSDKEvent event("qvsdk_x");
  EXPECT_FALSE(event.value);
  EXPECT_EQ(event.flag, 0);
  event.setIntValue(7);
  EXPECT_EQ(*event.value, (Value{{"value", 7}}));
  event.setStringValue(std::string("s"));
  EXPECT_EQ(*event.value, (Value{{"value", "s"}}));
  event.setStringValue(std::nullopt);
  EXPECT_FALSE(event.value);
  event.setMapValue(Value{{"a", 1}});
  EXPECT_EQ(*event.value, (Value{{"a", 1}}));
  event.setMapValue(Value::array({1}));
  EXPECT_FALSE(event.value);
  // Serialisable copies: data as base64 text, non-finite numbers as null, too deep as none.
  event.setJsonValue(Value{{"d", makeData("\x01\x02")}, {"n", std::numeric_limits<double>::infinity()}});
  EXPECT_EQ(*event.value, (Value{{"d", "AQI="}, {"n", nullptr}}));
  Value deep = Value::array();
  Value* cursor = &deep;
  for (int i = 0; i < 100; ++i) cursor = &(cursor->emplace_back(Value::array()));
  event.setJsonValue(deep);
  EXPECT_FALSE(event.value);
  CorvaneSDKEvent flagged("n", Value{{"a", 1}}, 12);
  EXPECT_EQ(flagged.flag, 12);
  EXPECT_EQ(*flagged.value, (Value{{"a", 1}}));
}

TEST_F(MobileEvent, RevenueBelongsToItsOwnEvent) {
  CorvaneSDKEvent first("a");
  first.setRevenue(2.5, std::string("EUR"));
  CorvaneSDKEvent second("b");
  EXPECT_TRUE(first.hasRevenue);
  EXPECT_EQ(first.revenue, 2.5);
  EXPECT_EQ(first.currency, std::optional<std::string>("EUR"));
  EXPECT_FALSE(second.hasRevenue);
  EXPECT_FALSE(second.currency);
}

TEST_F(MobileEvent, LogOperationStampsAndTakesSubEvents) {
  auto parent = std::make_shared<CorvaneSDKLogOperation>("p", std::nullopt, "session", "cfg", std::nullopt);
  auto other = std::make_shared<CorvaneSDKLogOperation>("q", std::nullopt, "session", "cfg", std::nullopt);
  EXPECT_EQ(parent->eId.size(), 36u);
  EXPECT_NE(parent->eId, other->eId);
  EXPECT_EQ(parent->timeInMs, static_cast<uint64_t>(ports_.clock->wallMs()));
  auto orphan = std::make_shared<CorvaneSDKLogOperation>("c", std::nullopt, "", "cfg", std::nullopt);
  auto own = std::make_shared<CorvaneSDKLogOperation>("d", std::nullopt, "mine", "cfg", std::nullopt);
  parent->addSubEvent(orphan);
  parent->addSubEvent(own);
  parent->addSubEvent(nullptr);
  EXPECT_EQ(parent->getNumSubEvents(), 2u);
  EXPECT_EQ(parent->getSubEvent(0)->id, "session");
  EXPECT_EQ(parent->getSubEvent(1)->id, "mine");
  EXPECT_EQ(parent->getSubEvent(2), nullptr);
  parent->setRevenue(1.25, std::string("USD"));
  EXPECT_EQ(*parent->revenueData, (Value{{"revenue", 1.25}, {"currency", "USD"}}));
  EXPECT_STREQ(kCorvaneSDKEvent_REVENUE_DATA_FIELD_NAME, "__revenue__");
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
