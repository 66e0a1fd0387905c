#include "MobileConfig.h"

#include <cctype>

#include "Crypto.h"

namespace CorvaneSDK {
namespace Collector {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool ReadRates(const Json& file, const char* ratesKey, const char* timeKey, bool& has, Json& rates,
               uint64_t& timestamp, std::string& error) {
  auto it = file.find(ratesKey);
  if (it == file.end()) {
    if (file.contains(timeKey)) {
      error = std::string("\"") + timeKey + "\" without \"" + ratesKey + "\"";
      return false;
    }
    return true;
  }
  if (!it->is_object()) {
    error = std::string("\"") + ratesKey + "\": expected an object of currency to rate";
    return false;
  }
  for (auto rate = it->begin(); rate != it->end(); ++rate) {
    if (!rate->is_number() || rate->get<double>() <= 0) {
      error = std::string("\"") + ratesKey + "\".\"" + rate.key().substr(0, 32) + "\": expected a positive number";
      return false;
    }
  }
  auto time = file.find(timeKey);
  if (time == file.end() || !time->is_number_integer() || time->get<int64_t>() <= 0) {
    // A zero or missing timestamp is what a client without rates sends: it must differ.
    error = std::string("\"") + timeKey + "\": expected a positive integer next to \"" + ratesKey + "\"";
    return false;
  }
  has = true;
  rates = *it;
  timestamp = time->get<uint64_t>();
  return true;
}

}  // namespace

bool IsMobileClient(const std::string& platform, const std::string& sdkVersion) {
  return Lower(platform) == "ios" || EndsWith(sdkVersion, "-ios");
}

std::string ClientKind(const std::string& platform, const std::string& sdkVersion) {
  return IsMobileClient(platform, sdkVersion) ? "mobile" : "desktop";
}

bool ParseMobileExtras(const Json& file, MobileExtras& out, std::string& error) {
  out = MobileExtras();
  if (!file.is_object()) {
    error = "expected a JSON object";
    return false;
  }
  static const char* const kKnown[] = {"currency",       "schema",
                                       "schema_hash",    "exchange_rates",
                                       "exchange_rate_timestamp", "crypto_exchange_rates",
                                       "crypto_exchange_rate_timestamp"};
  for (auto it = file.begin(); it != file.end(); ++it) {
    bool known = false;
    for (const char* key : kKnown) known = known || it.key() == key;
    if (!known) {
      error = "unknown member \"" + it.key().substr(0, 64) + "\"";
      return false;
    }
  }
  if (auto it = file.find("currency"); it != file.end()) {
    if (!it->is_string() || it->get<std::string>().empty()) {
      error = "\"currency\": expected a non-empty string";
      return false;
    }
    out.currency = it->get<std::string>();
  }
  if (auto it = file.find("schema"); it != file.end()) {
    if (!it->is_object()) {
      error = "\"schema\": expected an object";
      return false;
    }
    out.hasSchema = true;
    out.schema = *it;
    auto hash = file.find("schema_hash");
    if (hash != file.end() && (!hash->is_string() || hash->get<std::string>().empty())) {
      error = "\"schema_hash\": expected a non-empty string";
      return false;
    }
    out.schemaHash = hash != file.end() ? hash->get<std::string>() : ToHex(Sha256(DumpJson(*it)));
  } else if (file.contains("schema_hash")) {
    error = "\"schema_hash\" without \"schema\"";
    return false;
  }
  return ReadRates(file, "exchange_rates", "exchange_rate_timestamp", out.hasRates, out.rates,
                   out.ratesTimestamp, error) &&
         ReadRates(file, "crypto_exchange_rates", "crypto_exchange_rate_timestamp", out.hasCryptoRates,
                   out.cryptoRates, out.cryptoRatesTimestamp, error);
}

void AddMobileAnswer(const MobileExtras& extras, const std::function<std::string(const char*)>& param,
                     Json& body, std::vector<std::string>& sent) {
  if (!extras.currency.empty() && param("currency") != extras.currency) {
    body["currency"] = extras.currency;
    sent.push_back("currency");
  }
  if (extras.hasSchema && param("schema_hash") != extras.schemaHash) {
    body["schema"] = extras.schema;
    body["schema_hash"] = extras.schemaHash;
    sent.push_back("schema");
  }
  if (extras.hasRates && param("exchange_rate_timestamp") != std::to_string(extras.ratesTimestamp)) {
    body["exchange_rates"] = extras.rates;
    body["exchange_rate_timestamp"] = extras.ratesTimestamp;
    sent.push_back("exchange rates");
  }
  if (extras.hasCryptoRates &&
      param("crypto_exchange_rate_timestamp") != std::to_string(extras.cryptoRatesTimestamp)) {
    body["crypto_exchange_rates"] = extras.cryptoRates;
    body["crypto_exchange_rate_timestamp"] = extras.cryptoRatesTimestamp;
    sent.push_back("crypto exchange rates");
  }
}

}  // namespace Collector
}  // namespace CorvaneSDK
