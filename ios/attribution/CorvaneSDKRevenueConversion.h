// Revenue conversion into the configured currency for the conversion-value totals. A rate is
// how many units of a currency equal one unit of the configured currency. Pure functions,
// thread-safe; the caller passes the rates it holds (a map of code to number).
#pragma once

#include <cstdint>
#include <string>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKRevenueConversion {
 public:
  // amount / rate for the currency's entry. 0 when the rates are no map, the entry is absent,
  // not a number (booleans count as none), zero, negative or not finite, when the amount is not
  // finite, or when the quotient overflows: a bad rate never turns into infinity or NaN.
  static double getStandardRevenue(double amount, const std::string& currency, const Value& exchangeRates);
  // The same rule over the crypto rates.
  static double getStandardCryptoRevenue(double amount, const std::string& currency, const Value& cryptoExchangeRates);
  // A purchase's or crypto payment's amount before conversion: quantity x price; 0 when that
  // is not finite.
  static double purchaseAmount(double price, int64_t quantity);
  // The default rates: {configCurrency: 1.0}.
  static Value defaultRates(const std::string& configCurrency);
};

}  // namespace Mobile
}  // namespace CorvaneSDK
