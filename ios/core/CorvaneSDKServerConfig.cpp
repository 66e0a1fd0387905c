// SDK config, conversion schema and exchange rates; the remote config is reached through here.
#include "CorvaneSDKServerConfig.h"

#include <cctype>

#include "CorvaneSDKLog.h"
#include "CorvaneSDKRemoteConfig.h"
#include "CorvaneSDKRevenueConversion.h"
#include "CorvaneSDKSkanConversionSchema.h"
#include "CorvaneSDKUserDefaultsStorage.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {

bool nonNegativeNumber(const Value& v) {
  return v.is_number_unsigned() || (v.is_number_integer() && v.get<int64_t>() >= 0) ||
         (v.is_number_float() && v.get<double>() >= 0 && v.get<double>() < 1.8e19);
}

uint64_t asTimestamp(const Value& v) {
  if (v.is_number_unsigned()) return v.get<uint64_t>();
  if (v.is_number_integer()) return static_cast<uint64_t>(v.get<int64_t>());
  return static_cast<uint64_t>(v.get<double>());
}

}  // namespace

CorvaneSDKUserDefaultsConfigStore::CorvaneSDKUserDefaultsConfigStore(std::shared_ptr<CorvaneSDKUserDefaultsStorage> storage)
    : storage_(std::move(storage)) {}

std::optional<Value> CorvaneSDKUserDefaultsConfigStore::load(const std::string& key) const {
  if (!storage_) return std::nullopt;
  auto text = storage_->stringForKey(key);
  if (!text) return std::nullopt;
  Value out;
  if (!parseJson(*text, out)) {
    CorvaneSDKLog::debug("Ignoring unreadable stored value for " + key);
    return std::nullopt;
  }
  return out;
}

void CorvaneSDKUserDefaultsConfigStore::save(const std::string& key, const Value& value) {
  if (!storage_) return;
  if (value.is_null()) {
    storage_->removeKey(key);
  } else {
    storage_->setString(dumpJson(value), key);
  }
}

std::shared_ptr<CorvaneSDKServerConfig> CorvaneSDKServerConfig::create(
    CorvaneSDKServerConfigSettings settings, std::shared_ptr<CorvaneSDKServerConfigStore> store,
    CorvaneSDKRequestFunction request, std::shared_ptr<MainQueue> main) {
  return std::shared_ptr<CorvaneSDKServerConfig>(
      new CorvaneSDKServerConfig(std::move(settings), std::move(store), std::move(request), std::move(main)));
}

CorvaneSDKServerConfig::CorvaneSDKServerConfig(CorvaneSDKServerConfigSettings settings,
                                               std::shared_ptr<CorvaneSDKServerConfigStore> store,
                                               CorvaneSDKRequestFunction request, std::shared_ptr<MainQueue> main)
    : settings_(std::move(settings)),
      store_(std::move(store)),
      requests_(CorvaneSDKConfigRequests::create(std::move(request), std::move(main))),
      remote_(CorvaneSDKRemoteConfig::create(
          {settings_.remoteConfigUrl, settings_.bundleId, settings_.platform, settings_.buildNumber}, store_,
          requests_)) {
  rates_[currency_] = 1;
  cryptoRates_[currency_] = 1;
}

void CorvaneSDKServerConfig::restore() {
  remote_->restore();
  auto config = store_->load(kSdkConfigKey);
  auto currency = store_->load(kConfigCurrencyKey);
  auto rates = store_->load(kExchangeRatesKey);
  auto rateTs = store_->load(kExchangeRateTimestampKey);
  auto crypto = store_->load(kCryptoExchangeRatesKey);
  auto cryptoTs = store_->load(kCryptoExchangeRateTimestampKey);
  auto schemaData = settings_.skanSchemaKey.empty() ? std::nullopt : store_->load(settings_.skanSchemaKey);
  std::shared_ptr<CorvaneSDKSkanConversionSchema> schema;
  if (schemaData && schemaData->is_object()) schema = CorvaneSDKSkanConversionSchema::create(*schemaData);

  std::lock_guard<std::mutex> lock(mutex_);
  if (config && config->is_object() && isValidSdkConfig(*config)) {
    sdkConfig_ = *config;
    auto hash = config->find("hash");
    sdkConfigHash_ = (hash != config->end() && hash->is_string()) ? hash->get<std::string>() : std::string();
  }
  if (currency && currency->is_string() && !currency->get<std::string>().empty()) {
    currency_ = currency->get<std::string>();
  }
  rates_ = Value::object();
  rates_[currency_] = 1;
  cryptoRates_ = rates_;
  if (rates && rates->is_object()) rates_ = *rates;
  if (crypto && crypto->is_object()) cryptoRates_ = *crypto;
  if (rateTs && nonNegativeNumber(*rateTs)) rateTimestamp_ = asTimestamp(*rateTs);
  if (cryptoTs && nonNegativeNumber(*cryptoTs)) cryptoRateTimestamp_ = asTimestamp(*cryptoTs);
  schema_ = schema;
}

std::string CorvaneSDKServerConfig::sdkConfigUrl() const {
  std::string platform = settings_.platform;
  for (auto& c : platform) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::vector<std::pair<std::string, std::string>> items = {
      {"app_id", settings_.appId}, {"version", settings_.appVersion}, {"platform", platform}};
  std::lock_guard<std::mutex> lock(mutex_);
  if (!currency_.empty()) items.emplace_back("currency", currency_);
  if (!sdkConfigHash_.empty()) items.emplace_back("sdk_config_hash", sdkConfigHash_);
  if (schema_) {
    const std::string hash = schema_->schemaHash();
    if (!hash.empty()) items.emplace_back("schema_hash", hash);
  }
  if (rateTimestamp_ != 0) items.emplace_back("exchange_rate_timestamp", std::to_string(rateTimestamp_));
  if (cryptoRateTimestamp_ != 0) {
    items.emplace_back("crypto_exchange_rate_timestamp", std::to_string(cryptoRateTimestamp_));
  }
  return appendQuery(settings_.configUrl, items);
}

void CorvaneSDKServerConfig::fetch(std::function<void()> done) {
  if (!settings_.useSkanConversionSchema && settings_.disableOnlineSdkConfig) {
    process(std::nullopt);
    if (done) done();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tries_ = 0;
  }
  CorvaneSDKConfigRequest request{"GET", sdkConfigUrl(), {}, std::string()};
  std::weak_ptr<CorvaneSDKServerConfig> weak = shared_from_this();
  requests_->send(
      request, CORVANE_SERVER_CONFIG_RETRY_COUNT,
      [weak, done](std::optional<std::string> body) {
        if (auto self = weak.lock()) self->process(body);
        if (done) done();
      },
      [weak] {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard<std::mutex> lock(self->mutex_);
        ++self->tries_;
      });
}

bool CorvaneSDKServerConfig::isValidSdkConfig(const Value& config) const {
  if (!config.is_object()) return false;
  auto id = config.find("appId");
  auto secret = config.find("appSecret");
  if (id == config.end() || !id->is_string() || id->get<std::string>() != settings_.appId) return false;
  const std::string theirSecret = (secret != config.end() && secret->is_string()) ? secret->get<std::string>() : "";
  return credentialFor(id->get<std::string>(), theirSecret) == settings_.credential;
}

void CorvaneSDKServerConfig::process(const std::optional<std::string>& body) {
  Value answer = Value::object();
  if (body) {
    Value parsed;
    if (parseJson(*body, parsed) && parsed.is_object()) {
      answer = std::move(parsed);
    } else {
      CorvaneSDKLog::debug("Ignoring an SDK config answer that is not a JSON object");
    }
  }
  std::vector<std::pair<std::string, Value>> saves;
  std::shared_ptr<CorvaneSDKSkanConversionSchema> current = schema();
  std::shared_ptr<CorvaneSDKSkanConversionSchema> newSchema;
  if (settings_.useSkanConversionSchema) {
    newSchema = CorvaneSDKSkanConversionSchema::fromConfigAnswer(answer, current);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!settings_.disableOnlineSdkConfig) {
      auto config = answer.find("sdk_config");
      if (config != answer.end() && config->is_object()) {
        if (isValidSdkConfig(*config)) {
          Value accepted = *config;
          auto hash = answer.find("sdk_config_hash");
          if (hash != answer.end() && hash->is_string()) {
            sdkConfigHash_ = hash->get<std::string>();
            accepted["hash"] = sdkConfigHash_;
          }
          sdkConfig_ = accepted;
          saves.emplace_back(kSdkConfigKey, accepted);
        } else {
          CorvaneSDKLog::debug("Ignoring an SDK config for another app");
        }
      }
    }
    if (settings_.useSkanConversionSchema) {
      auto currency = answer.find("currency");
      if (currency != answer.end() && currency->is_string() && !currency->get<std::string>().empty()) {
        currency_ = currency->get<std::string>();
        saves.emplace_back(kConfigCurrencyKey, currency_);
      }
      if (newSchema && newSchema != current) {
        schema_ = newSchema;
        if (!settings_.skanSchemaKey.empty()) saves.emplace_back(settings_.skanSchemaKey, newSchema->serialize());
      }
      auto take = [&](const char* key, const char* storeKey, Value& into) {
        auto found = answer.find(key);
        if (found != answer.end() && found->is_object()) {
          into = *found;
          saves.emplace_back(storeKey, into);
        }
      };
      auto takeTs = [&](const char* key, const char* storeKey, uint64_t& into) {
        auto found = answer.find(key);
        if (found != answer.end() && nonNegativeNumber(*found)) {
          into = asTimestamp(*found);
          saves.emplace_back(storeKey, into);
        }
      };
      take("exchange_rates", kExchangeRatesKey, rates_);
      takeTs("exchange_rate_timestamp", kExchangeRateTimestampKey, rateTimestamp_);
      take("crypto_exchange_rates", kCryptoExchangeRatesKey, cryptoRates_);
      takeTs("crypto_exchange_rate_timestamp", kCryptoExchangeRateTimestampKey, cryptoRateTimestamp_);
    }
  }
  for (const auto& entry : saves) store_->save(entry.first, entry.second);
}

std::string CorvaneSDKServerConfig::tokenKey() { return CorvaneSDKRemoteConfig::tokenKey(); }

std::string CorvaneSDKServerConfig::remoteConfigToken() const { return remote_->token(); }

void CorvaneSDKServerConfig::fetchRemoteConfig(const std::string& userId, std::function<void(const std::string&)> done) {
  remote_->fetch(userId, std::move(done));
}

std::optional<Value> CorvaneSDKServerConfig::sdkConfig() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sdkConfig_;
}
std::string CorvaneSDKServerConfig::sdkConfigHash() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sdkConfigHash_;
}
std::string CorvaneSDKServerConfig::configCurrency() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return currency_;
}
Value CorvaneSDKServerConfig::exchangeRates() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rates_;
}
uint64_t CorvaneSDKServerConfig::exchangeRateTimestamp() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rateTimestamp_;
}
Value CorvaneSDKServerConfig::cryptoExchangeRates() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cryptoRates_;
}
uint64_t CorvaneSDKServerConfig::cryptoExchangeRateTimestamp() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cryptoRateTimestamp_;
}
std::shared_ptr<CorvaneSDKSkanConversionSchema> CorvaneSDKServerConfig::schema() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return schema_;
}
double CorvaneSDKServerConfig::convert(const Value& rates, double amount, const std::string& currency) {
  return CorvaneSDKRevenueConversion::getStandardRevenue(amount, currency, rates);
}
double CorvaneSDKServerConfig::standardRevenue(double amount, const std::string& currency) const {
  return convert(exchangeRates(), amount, currency);
}
double CorvaneSDKServerConfig::standardCryptoRevenue(double amount, const std::string& currency) const {
  return convert(cryptoExchangeRates(), amount, currency);
}
std::optional<Value> CorvaneSDKServerConfig::remoteConfig() const { return remote_->document(); }
std::string CorvaneSDKServerConfig::remoteConfigPath() const { return remote_->path(); }
int CorvaneSDKServerConfig::sdkConfigTries() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tries_;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
