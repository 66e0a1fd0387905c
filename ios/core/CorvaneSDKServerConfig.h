// What the manager learns from the backend: the SDK config (checked, stored with its hash and
// restored at the next start), the configuration currency, the conversion schema and the fiat
// and crypto exchange rates that come on the same answer, and the signed remote config.
// Requests go through a request function (the HTTP client's send) with the retry rule of the
// config requests; the remote config is its own object, reached through this one.
//
// Threads: thread-safe. The mutex guards every stored value; requests, the store and the
// callbacks are used without it held. Answers may arrive on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CorvaneSDKConfigRequests.h"
#include "Dispatch.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKRemoteConfig;
class CorvaneSDKSkanConversionSchema;
class CorvaneSDKUserDefaultsStorage;

constexpr int CORVANE_SERVER_CONFIG_RETRY_COUNT = 3;
constexpr int64_t CORVANE_SERVER_CONFIG_RETRY_DELAY = 5000000000LL;  // ns
constexpr int CORVANE_REMOTE_CONFIG_RETRY_COUNT = 3;
constexpr int64_t CORVANE_REMOTE_CONFIG_RETRY_DELAY = 5000000000LL;  // ns

// Stored keys (user defaults).
constexpr const char* kSdkConfigKey = "corvane.sdk.sdkConfig";
constexpr const char* kConfigCurrencyKey = "corvane.sdk.configCurrency";
constexpr const char* kExchangeRatesKey = "corvane.sdk.exchangeRates";
constexpr const char* kExchangeRateTimestampKey = "corvane.sdk.exchangeRateTimestamp";
constexpr const char* kCryptoExchangeRatesKey = "corvane.sdk.cryptoExchangeRates";
constexpr const char* kCryptoExchangeRateTimestampKey = "corvane.sdk.cryptoExchangeRateTimestamp";
constexpr const char* kRemoteConfigKey = "corvane.sdk.remoteConfig";
constexpr const char* kRemoteConfigPathKey = "corvane.sdk.remoteConfigPath";

// Where the values live, by the keys above. Implementations are thread-safe.
class CorvaneSDKServerConfigStore {
 public:
  virtual ~CorvaneSDKServerConfigStore() = default;
  virtual std::optional<Value> load(const std::string& key) const = 0;
  // Null removes the key.
  virtual void save(const std::string& key, const Value& value) = 0;
};

// JSON texts in a user-defaults storage (tools and tests; the manager keeps them where the
// operation queue keeps its stored values).
class CorvaneSDKUserDefaultsConfigStore : public CorvaneSDKServerConfigStore {
 public:
  explicit CorvaneSDKUserDefaultsConfigStore(std::shared_ptr<CorvaneSDKUserDefaultsStorage> storage);
  std::optional<Value> load(const std::string& key) const override;
  void save(const std::string& key, const Value& value) override;

 private:
  std::shared_ptr<CorvaneSDKUserDefaultsStorage> storage_;
};

struct CorvaneSDKServerConfigSettings {
  std::string appId;
  std::string credential;  // Base64 of appId ":" appSecret
  std::string configUrl;
  std::string remoteConfigUrl;
  bool useSkanConversionSchema = false;
  bool disableOnlineSdkConfig = false;
  std::string appVersion;  // short version string
  std::string platform;    // sent in lower case
  std::string bundleId;
  std::string buildNumber;
  std::string skanSchemaKey;  // where the conversion schema is stored
};

class CorvaneSDKServerConfig : public std::enable_shared_from_this<CorvaneSDKServerConfig> {
 public:
  static constexpr int64_t kRetryDelayMs = CorvaneSDKConfigRequests::kRetryDelayMs;
  static std::shared_ptr<CorvaneSDKServerConfig> create(CorvaneSDKServerConfigSettings settings,
                                                        std::shared_ptr<CorvaneSDKServerConfigStore> store,
                                                        CorvaneSDKRequestFunction request,
                                                        std::shared_ptr<MainQueue> main);

  // Reads every stored value (defaults where nothing usable is stored).
  void restore();
  // The SDK config request (or, when it is not to be asked for, the stored values at once);
  // `done` runs once the answer, or the lack of one, has been processed.
  void fetch(std::function<void()> done);
  // The URL of the SDK config request with its query.
  std::string sdkConfigUrl() const;
  // Applies an answer body (none: no answer). Public for the tools that replay answers.
  void process(const std::optional<std::string>& body);
  // The validity check: "appId" equals ours and the credential made from its id and secret
  // equals ours.
  bool isValidSdkConfig(const Value& config) const;

  // The remote config: POST with the signed token, then GET of the location it names when
  // that differs from the stored one. `done` gets the configuration text ("" when none).
  void fetchRemoteConfig(const std::string& userId, std::function<void(const std::string&)> done);
  std::string remoteConfigToken() const;

  std::optional<Value> sdkConfig() const;
  std::string sdkConfigHash() const;
  std::string configCurrency() const;
  Value exchangeRates() const;
  uint64_t exchangeRateTimestamp() const;
  Value cryptoExchangeRates() const;
  uint64_t cryptoExchangeRateTimestamp() const;
  std::shared_ptr<CorvaneSDKSkanConversionSchema> schema() const;
  // `amount` in the configuration currency: amount / the rate of `currency`; 0 when that rate
  // is absent, not a number, 0 or not finite (never infinity or NaN).
  double standardRevenue(double amount, const std::string& currency) const;
  double standardCryptoRevenue(double amount, const std::string& currency) const;
  static double convert(const Value& rates, double amount, const std::string& currency);
  std::optional<Value> remoteConfig() const;
  std::string remoteConfigPath() const;
  // Tries made by the last SDK config request (first try included).
  int sdkConfigTries() const;

  // The 9-byte key that signs remote-config tokens, assembled at run time.
  static std::string tokenKey();
  static std::string base64(const std::string& bytes) { return CorvaneSDKConfigEncoding::base64(bytes); }
  static std::string base64Url(const std::string& bytes) { return CorvaneSDKConfigEncoding::base64Url(bytes); }
  static std::string credentialFor(const std::string& appId, const std::string& appSecret) {
    return CorvaneSDKConfigEncoding::credentialFor(appId, appSecret);
  }
  static std::string appendQuery(const std::string& url, const std::vector<std::pair<std::string, std::string>>& items) {
    return CorvaneSDKConfigEncoding::appendQuery(url, items);
  }

 private:
  CorvaneSDKServerConfig(CorvaneSDKServerConfigSettings settings, std::shared_ptr<CorvaneSDKServerConfigStore> store,
                         CorvaneSDKRequestFunction request, std::shared_ptr<MainQueue> main);

  const CorvaneSDKServerConfigSettings settings_;
  const std::shared_ptr<CorvaneSDKServerConfigStore> store_;
  const std::shared_ptr<CorvaneSDKConfigRequests> requests_;
  const std::shared_ptr<CorvaneSDKRemoteConfig> remote_;

  mutable std::mutex mutex_;
  std::optional<Value> sdkConfig_;
  std::string sdkConfigHash_;
  std::string currency_ = "USD";
  Value rates_ = Value::object();
  uint64_t rateTimestamp_ = 0;
  Value cryptoRates_ = Value::object();
  uint64_t cryptoRateTimestamp_ = 0;
  std::shared_ptr<CorvaneSDKSkanConversionSchema> schema_;
  int tries_ = 0;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
