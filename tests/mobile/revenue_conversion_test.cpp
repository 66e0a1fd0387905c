// Revenue conversion into the configured currency, and the rates that must convert to 0.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "CorvaneSDKRevenueConversion.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

using R = CorvaneSDKRevenueConversion;

TEST(MobileRevenueConversion, DefaultRatesAndAConfiguredRate) {
  Value rates = R::defaultRates("USD");
  EXPECT_EQ(R::getStandardRevenue(10, "USD", rates), 10);
  EXPECT_EQ(R::getStandardRevenue(10, "EUR", rates), 0);
  rates["EUR"] = 2.0;
  EXPECT_DOUBLE_EQ(R::getStandardRevenue(10, "EUR", rates), 5);
  rates["JPY"] = 150;  // integers are numbers too
  EXPECT_DOUBLE_EQ(R::getStandardRevenue(300, "JPY", rates), 2);
  Value crypto = Value::object({{"USD", 1.0}, {"ETH", 0.0005}});
  EXPECT_DOUBLE_EQ(R::getStandardCryptoRevenue(0.001, "ETH", crypto), 2);
  EXPECT_EQ(R::getStandardCryptoRevenue(0.001, "ETH", rates), 0);  // each family its own rates
  EXPECT_DOUBLE_EQ(R::purchaseAmount(0.99, 3), 2.97);
}

// A rate of 0 or a non-number converts to 0, never to infinity or NaN.
TEST(MobileRevenueConversion, BadRatesAndAmountsGiveZero) {
  const double inf = std::numeric_limits<double>::infinity();
  Value rates = Value::object({{"ZERO", 0}, {"ZEROF", 0.0}, {"NEGZ", -0.0}, {"TEXT", "2"}, {"BOOL", true},
                               {"NUL", nullptr}, {"LIST", Value::array({2})}, {"MAP", Value::object()},
                               {"NEG", -2.0}, {"INF", inf}, {"NAN", std::nan("")}, {"TINY", 1e-320},
                               {"OK", 4.0}});
  for (const char* code : {"ZERO", "ZEROF", "NEGZ", "TEXT", "BOOL", "NUL", "LIST", "MAP", "NEG", "INF", "NAN",
                           "MISSING", ""}) {
    for (auto* convert : {&R::getStandardRevenue, &R::getStandardCryptoRevenue}) {
      double value = convert(10, code, rates);
      EXPECT_EQ(value, 0) << code;
    }
  }
  // A quotient that overflows.
  EXPECT_EQ(R::getStandardRevenue(1e308, "TINY", rates), 0);
  // Amounts that are not finite.
  EXPECT_EQ(R::getStandardRevenue(inf, "OK", rates), 0);
  EXPECT_EQ(R::getStandardRevenue(std::nan(""), "OK", rates), 0);
  EXPECT_DOUBLE_EQ(R::getStandardRevenue(-8, "OK", rates), -2);  // the totals ignore it
  // Rates that are no map.
  for (const Value& none : {Value(), Value(1.0), Value("USD"), Value::array({1.0})}) {
    EXPECT_EQ(R::getStandardRevenue(10, "USD", none), 0);
  }
  EXPECT_EQ(R::purchaseAmount(1e308, 1000000), 0);
  EXPECT_EQ(R::purchaseAmount(std::nan(""), 1), 0);
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
