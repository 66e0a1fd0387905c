// Property lists through libplist: every kind both ways, and hostile lists refused before
// libplist builds them (deep nesting, self reference, exponential sharing, damage).
#include <gtest/gtest.h>

#include <cmath>

#include "PropertyList.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

// A binary property list of the given objects (object 0 is the top), 4-byte refs and offsets.
std::string binaryPlist(const std::vector<std::string>& objects) {
  std::string out = "bplist00";
  std::vector<uint32_t> offsets;
  for (const auto& o : objects) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    out += o;
  }
  const uint64_t table = out.size();
  auto be = [&](uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  };
  for (uint32_t off : offsets) be(off, 4);
  out.append(6, '\0');
  out.push_back(4);  // offset size
  out.push_back(4);  // ref size
  be(objects.size(), 8);
  be(0, 8);
  be(table, 8);
  return out;
}

std::string ref(uint32_t r) {
  std::string s;
  for (int i = 3; i >= 0; --i) s.push_back(static_cast<char>((r >> (8 * i)) & 0xff));
  return s;
}

TEST(MobilePropertyList, EveryKindRoundTripsThroughXmlAndBinary) {
  Value v = Value::object();
  v["string"] = "héllo <&>";
  v["int"] = 42;
  v["negative"] = -7;
  v["big"] = int64_t{1} << 40;
  v["real"] = 2.5;
  v["yes"] = true;
  v["no"] = false;
  v["list"] = Value::array({1, "two", Value::object({{"three", 3}})});
  v["data"] = makeData(std::string("\x00\x01\xff", 3));
  v["date"] = makeDate(1765000000.5);
  for (bool binary : {false, true}) {
    std::string error;
    auto bytes = binary ? PropertyList::writeBinary(v, &error) : PropertyList::writeXml(v, &error);
    ASSERT_TRUE(bytes) << error;
    EXPECT_EQ(PropertyList::isBinary(*bytes), binary);
    auto back = PropertyList::read(*bytes, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ((*back)["string"], "héllo <&>");
    EXPECT_EQ((*back)["int"].get<int64_t>(), 42);
    EXPECT_EQ((*back)["negative"].get<int64_t>(), -7);
    EXPECT_EQ((*back)["big"].get<int64_t>(), int64_t{1} << 40);
    EXPECT_DOUBLE_EQ((*back)["real"].get<double>(), 2.5);
    EXPECT_EQ((*back)["yes"], true);
    EXPECT_EQ((*back)["no"], false);
    EXPECT_EQ((*back)["list"], v["list"]);
    EXPECT_EQ(dataBytes((*back)["data"]), std::string("\x00\x01\xff", 3));
    ASSERT_TRUE(isDate((*back)["date"]));
    // The XML form holds whole seconds, as the platform's does.
    EXPECT_NEAR(dateSeconds((*back)["date"]), binary ? 1765000000.5 : 1765000000.0, 1e-3);
  }
}

TEST(MobilePropertyList, InvalidUtf8IsReplacedBothWays) {
  // libplist keeps such bytes, and its binary writer makes a list it cannot read back.
  Value v = Value::object();
  v[std::string("k\x97")] = std::string("v\xff");
  auto bin = PropertyList::writeBinary(v);
  ASSERT_TRUE(bin);
  auto back = PropertyList::read(*bin);
  ASSERT_TRUE(back);
  EXPECT_EQ((*back)["k\xEF\xBF\xBD"], "v\xEF\xBF\xBD");
  std::string xml = "<plist><dict><key>a\x97</key><string>b\xc3</string></dict></plist>";
  auto fromXml = PropertyList::read(xml);
  ASSERT_TRUE(fromXml);
  EXPECT_EQ((*fromXml)["a\xEF\xBF\xBD"], "b\xEF\xBF\xBD");
}

TEST(MobilePropertyList, NullCannotBeWritten) {
  std::string error;
  EXPECT_FALSE(PropertyList::writeXml(Value::array({1, nullptr}), &error));
  EXPECT_NE(error.find("null"), std::string::npos);
}

TEST(MobilePropertyList, TruncatedAndGarbageInputIsRefused) {
  auto xml = *PropertyList::writeXml(Value::object({{"a", Value::array({1, 2, 3})}}));
  auto bin = *PropertyList::writeBinary(Value::object({{"a", Value::array({1, 2, 3})}}));
  for (size_t cut : {size_t{1}, size_t{60}, xml.size() / 2}) {
    EXPECT_FALSE(PropertyList::read(xml.substr(0, cut))) << "xml cut at " << cut;
  }
  for (size_t cut = 1; cut < bin.size(); ++cut) {
    PropertyList::read(bin.substr(0, cut));  // must not crash; most cuts are refused
  }
  EXPECT_FALSE(PropertyList::read(bin.substr(0, bin.size() - 1)));
  EXPECT_FALSE(PropertyList::read(""));
  EXPECT_FALSE(PropertyList::read("not a plist at all"));
  EXPECT_FALSE(PropertyList::read("bplist00garbage-garbage-garbage-garbage-garbage"));
}

TEST(MobilePropertyList, DeepXmlNestingIsRefusedBeforeParsing) {
  std::string deep = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 100000; ++i) deep += "<array>";
  std::string error;
  EXPECT_FALSE(PropertyList::read(deep, &error));
  EXPECT_NE(error.find("deeper"), std::string::npos) << error;
  std::string ok = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (int i = 0; i < 64; ++i) ok += "<array>";
  for (int i = 0; i < 64; ++i) ok += "</array>";
  ok += "</plist>";
  EXPECT_TRUE(PropertyList::read(ok, &error)) << error;
}

TEST(MobilePropertyList, DeepBinaryNestingIsRefused) {
  std::vector<std::string> objects;
  const uint32_t n = 100000;
  for (uint32_t i = 0; i + 1 < n; ++i) objects.push_back("\xA1" + ref(i + 1));
  objects.push_back("\xA0");
  std::string error;
  EXPECT_FALSE(PropertyList::read(binaryPlist(objects), &error));
  EXPECT_NE(error.find("deeper"), std::string::npos) << error;
}

TEST(MobilePropertyList, SelfReferenceAndExponentialSharingAreRefused) {
  std::string error;
  EXPECT_FALSE(PropertyList::read(binaryPlist({"\xA1" + ref(0)}), &error));
  EXPECT_NE(error.find("itself"), std::string::npos) << error;
  std::vector<std::string> objects;
  for (uint32_t i = 0; i < 40; ++i) objects.push_back("\xA2" + ref(i + 1) + ref(i + 1));
  objects.push_back("\x10\x01");  // the integer 1, shared 2^40 times
  EXPECT_FALSE(PropertyList::read(binaryPlist(objects), &error));
  EXPECT_NE(error.find("too many"), std::string::npos) << error;
  // Modest sharing is fine.
  auto shared = PropertyList::read(binaryPlist({"\xA2" + ref(1) + ref(1), "\x10\x05"}), &error);
  ASSERT_TRUE(shared) << error;
  EXPECT_EQ(*shared, Value::array({5, 5}));
}

TEST(MobilePropertyList, RefsOutsideTheTableAreRefused) {
  EXPECT_FALSE(PropertyList::read(binaryPlist({"\xA1" + ref(7)})));
  std::string bad = binaryPlist({"\xA1" + ref(0)});
  bad[bad.size() - 32 + 6] = 0;  // offset size 0
  EXPECT_FALSE(PropertyList::read(bad));
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
