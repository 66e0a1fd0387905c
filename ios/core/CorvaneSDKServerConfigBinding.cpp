#include "CorvaneSDKServerConfigBinding.h"

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKHTTPClient.h"
#include "CorvaneSDKIdentity.h"
#include "CorvaneSDKOperationQueue.h"
#include "CorvaneSDKSkanConversionContext.h"
#include "CorvaneSDKUtils.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {

// The stored values where the operation queue keeps them.
class OperationQueueConfigStore : public CorvaneSDKServerConfigStore {
 public:
  explicit OperationQueueConfigStore(std::shared_ptr<CorvaneSDKOperationQueue> queue) : q_(std::move(queue)) {}
  std::optional<Value> load(const std::string& key) const override {
    auto text = [](const std::optional<std::string>& s) -> std::optional<Value> {
      return s ? std::optional<Value>(Value(*s)) : std::nullopt;
    };
    auto stamp = [](uint64_t t) -> std::optional<Value> { return t ? std::optional<Value>(Value(t)) : std::nullopt; };
    if (key == kSdkConfigKey) return q_->getSdkConfig();
    if (key == kConfigCurrencyKey) return text(q_->getConfigCurrency());
    if (key == kExchangeRatesKey) return q_->getExchangeRates();
    if (key == kExchangeRateTimestampKey) return stamp(q_->getExchangeRateTimestamp());
    if (key == kCryptoExchangeRatesKey) return q_->getCryptoExchangeRates();
    if (key == kCryptoExchangeRateTimestampKey) return stamp(q_->getCryptoExchangeRateTimestamp());
    if (key == kRemoteConfigKey) return q_->getRemoteConfig();
    if (key == kRemoteConfigPathKey) return text(q_->getRemoteConfigPath());
    if (key == kSkanConversionSchemaKey) return q_->getSkanConversionSchema();
    return std::nullopt;
  }
  void save(const std::string& key, const Value& value) override {
    auto map = [&]() -> std::optional<Value> { return value.is_object() ? std::optional<Value>(value) : std::nullopt; };
    auto text = [&]() -> std::optional<std::string> {
      return value.is_string() ? std::optional<std::string>(value.get<std::string>()) : std::nullopt;
    };
    auto stamp = [&]() -> uint64_t { return value.is_number_unsigned() ? value.get<uint64_t>() : 0; };
    if (key == kSdkConfigKey) q_->setSdkConfig(map());
    if (key == kConfigCurrencyKey) q_->setConfigCurrency(text());
    if (key == kExchangeRatesKey) q_->setExchangeRates(map());
    if (key == kExchangeRateTimestampKey) q_->setExchangeRateTimestamp(stamp());
    if (key == kCryptoExchangeRatesKey) q_->setCryptoExchangeRates(map());
    if (key == kCryptoExchangeRateTimestampKey) q_->setCryptoExchangeRateTimestamp(stamp());
    if (key == kRemoteConfigKey) q_->setRemoteConfig(map());
    if (key == kRemoteConfigPathKey) q_->setRemoteConfigPath(text());
    if (key == kSkanConversionSchemaKey) q_->setSkanConversionSchema(map());
  }

 private:
  std::shared_ptr<CorvaneSDKOperationQueue> q_;
};

}  // namespace

std::shared_ptr<CorvaneSDKServerConfig> CorvaneSDKServerConfigBinding::create(
    const CorvaneSDKConfiguration& c, const CorvaneSDKIdentity& identity,
    std::shared_ptr<CorvaneSDKOperationQueue> queue, std::weak_ptr<CorvaneSDKHTTPClient> client,
    std::shared_ptr<MainQueue> main) {
  CorvaneSDKServerConfigSettings settings;
  identity.fillSettings(settings);
  settings.useSkanConversionSchema = c.useSkanConversionSchema;
  settings.disableOnlineSdkConfig = c.disableOnlineSdkConfig;
  settings.appVersion = CorvaneSDKUtils::bundleShortVersionString();
  settings.platform = CorvaneSDKUtils::platform();
  settings.bundleId = CorvaneSDKUtils::bundleIdentifier();
  settings.buildNumber = CorvaneSDKUtils::bundleVersion();
  settings.skanSchemaKey = kSkanConversionSchemaKey;
  return CorvaneSDKServerConfig::create(
      settings, std::make_shared<OperationQueueConfigStore>(std::move(queue)),
      [client](const CorvaneSDKConfigRequest& request, CorvaneSDKConfigAnswer answer) {
        auto http = client.lock();
        if (!http) return answer(std::nullopt, false);
        auto r = http->createRequest(request.url, request.method);
        for (const auto& h : request.headers) r->setValue(h.second, h.first);
        if (!request.body.empty()) r->body = request.body;
        http->send(r, [answer](std::optional<std::string> text, bool retry) { answer(std::move(text), retry); });
      },
      std::move(main));
}

}  // namespace Mobile
}  // namespace CorvaneSDK
