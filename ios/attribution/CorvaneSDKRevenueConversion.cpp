// Revenue conversion with the exchange rates.
#include "CorvaneSDKRevenueConversion.h"

#include <cmath>

namespace CorvaneSDK {
namespace Mobile {

namespace {
double convert(double amount, const std::string& currency, const Value& rates) {
  if (!rates.is_object() || !std::isfinite(amount)) return 0;
  auto entry = rates.find(currency);
  if (entry == rates.end() || !entry->is_number()) return 0;
  double rate = entry->get<double>();
  if (!std::isfinite(rate) || rate <= 0) return 0;
  double result = amount / rate;
  return std::isfinite(result) ? result : 0;
}
}  // namespace

double CorvaneSDKRevenueConversion::getStandardRevenue(double amount, const std::string& currency,
                                                       const Value& exchangeRates) {
  return convert(amount, currency, exchangeRates);
}

double CorvaneSDKRevenueConversion::getStandardCryptoRevenue(double amount, const std::string& currency,
                                                             const Value& cryptoExchangeRates) {
  return convert(amount, currency, cryptoExchangeRates);
}

double CorvaneSDKRevenueConversion::purchaseAmount(double price, int64_t quantity) {
  double amount = price * static_cast<double>(quantity);
  return std::isfinite(amount) ? amount : 0;
}

Value CorvaneSDKRevenueConversion::defaultRates(const std::string& configCurrency) {
  Value rates = Value::object();
  rates[configCurrency] = 1.0;
  return rates;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
