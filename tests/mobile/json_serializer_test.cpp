// The framework's JSON writer and the bounded JSON reader.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "CorvaneJSONSerializer.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

TEST(MobileJSONSerializer, EscapesControlCharactersAsWritten) {
  EXPECT_EQ(CorvaneJSONSerializer::dataWithRootObject(Value(std::string("a\nb\x01", 4))), "\"a\\nb\\u0001\"");
  EXPECT_EQ(CorvaneJSONSerializer::dataWithRootObject(Value("q\"\\\r\t\b\f\x1f")), "\"q\\\"\\\\\\r\\t\\b\\f\\u001f\"");
}

TEST(MobileJSONSerializer, MapsKeepTheirOrderAndScalarsTheirKinds) {
  Value v = Value::object();
  v["z"] = 1;
  v["a"] = Value::array({true, false, nullptr, 2.5, -3});
  v["m"] = "ü";
  EXPECT_EQ(CorvaneJSONSerializer::dataWithRootObject(v), "{\"z\":1,\"a\":[true,false,null,2.5,-3],\"m\":\"ü\"}");
  EXPECT_EQ(CorvaneJSONSerializer::dataWithRootObject(Value::object()), "{}");
  EXPECT_EQ(CorvaneJSONSerializer::dataWithRootObject(Value::array()), "[]");
}

TEST(MobileJSONSerializer, NonFiniteNumbersAreWrittenAsNull) {
  Value v = Value::array({std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(), 0.1});
  const std::string text = CorvaneJSONSerializer::dataWithRootObject(v);
  EXPECT_EQ(text, "[null,null,null,0.1]");
  Value parsed;
  EXPECT_TRUE(parseJson(text, parsed));
}

TEST(MobileJSONSerializer, InvalidUtf8IsReplacedSoTheOutputParses) {
  Value v = Value::object();
  v[std::string("k\xff")] = std::string("bad \xc3\x28 \xed\xa0\x80 end \xf0\x9f\x98\x80");
  const std::string text = CorvaneJSONSerializer::dataWithRootObject(v);
  Value parsed;
  ASSERT_TRUE(parseJson(text, parsed)) << text;
  EXPECT_EQ(parsed.begin().key(), "k\xEF\xBF\xBD");
  EXPECT_EQ(parsed.begin().value(), "bad \xEF\xBF\xBD( \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end \xf0\x9f\x98\x80");
}

TEST(MobileJSONSerializer, DataAndDatesHaveAWrittenForm) {
  EXPECT_EQ(CorvaneJSONSerializer::dataWithRootObject(makeData("hello")), "\"aGVsbG8=\"");
  EXPECT_EQ(CorvaneJSONSerializer::dataWithRootObject(makeDate(1765000000.0)), "1765000000.0");
}

TEST(MobileJSONSerializer, HundredThousandLevelsAreWrittenWithoutRecursion) {
  // Built iteratively and torn down the same way: the value itself must not blow the stack.
  Value root = Value::array();
  Value* cur = &root;
  for (int i = 0; i < 100000; ++i) {
    cur->push_back(Value::array());
    cur = &cur->back();
  }
  const std::string text = CorvaneJSONSerializer::dataWithRootObject(root);
  EXPECT_EQ(text.size(), 200002u);
  EXPECT_FALSE(valueDepthWithin(root));
  // Unwind without recursion.
  while (!root.empty() && !root[0].empty()) {
    Value inner = std::move(root[0][0]);
    root[0] = std::move(inner);
  }
}

TEST(MobileValue, JsonTextIsParsedWithADepthBound) {
  Value out;
  std::string error;
  EXPECT_FALSE(parseJson(std::string(100000, '['), out, &error));
  EXPECT_NE(error.find("deeper"), std::string::npos);
  EXPECT_TRUE(parseJson(std::string(64, '[') + std::string(64, ']'), out));
  EXPECT_FALSE(parseJson(std::string(65, '[') + std::string(65, ']'), out));
  EXPECT_TRUE(parseJson("\"[[[[\"", out)) << "brackets inside strings do not count";
  EXPECT_FALSE(parseJson("", out, &error));
  EXPECT_FALSE(parseJson(nullptr, 0, out, &error));
  EXPECT_FALSE(parseJson("{\"a\":\"\xff\"}", out, &error));
  EXPECT_TRUE(out.is_null());
}

TEST(MobileValue, DatesAndDataAreTellApart) {
  auto date = makeDate(-12.25);
  EXPECT_TRUE(isDate(date));
  EXPECT_FALSE(isData(date));
  EXPECT_DOUBLE_EQ(dateSeconds(date), -12.25);
  auto data = makeData("xy");
  EXPECT_TRUE(isData(data));
  EXPECT_FALSE(isDate(data));
  EXPECT_EQ(dataBytes(date), "");
  EXPECT_EQ(dateSeconds(data), 0);
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
