// What the collector adds for the mobile framework: telling its clients from desktop ones, and
// the extra members of its SDK config answer (configuration currency, conversion schema, fiat
// and crypto exchange rates), each left out when the request shows the client already has it.
// Thread-safe: pure functions over immutable values.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Json.h"

namespace CorvaneSDK {
namespace Collector {

// "mobile" for the mobile framework (platform "ios" in any case, or an SDK version ending in
// "-ios"), else "desktop".
bool IsMobileClient(const std::string& platform, const std::string& sdkVersion);
std::string ClientKind(const std::string& platform, const std::string& sdkVersion);

// The mobile members of one app, read from a JSON object file with any of "currency",
// "schema" (object; "schema_hash" optional, else the SHA-256 of its compact text),
// "exchange_rates" / "crypto_exchange_rates" (objects of numbers) with their timestamps
// ("exchange_rate_timestamp" / "crypto_exchange_rate_timestamp", positive integers; required
// with their rates).
struct MobileExtras {
  std::string currency;
  bool hasSchema = false;
  Json schema;
  std::string schemaHash;
  bool hasRates = false;
  Json rates;
  uint64_t ratesTimestamp = 0;
  bool hasCryptoRates = false;
  Json cryptoRates;
  uint64_t cryptoRatesTimestamp = 0;
};

// False with `error` naming the first problem.
bool ParseMobileExtras(const Json& file, MobileExtras& out, std::string& error);

// Adds to `body` what the client lacks. `param` returns a query member ("" when absent).
// `sent` receives the names of the members added.
void AddMobileAnswer(const MobileExtras& extras, const std::function<std::string(const char*)>& param,
                     Json& body, std::vector<std::string>& sent);

}  // namespace Collector
}  // namespace CorvaneSDK
