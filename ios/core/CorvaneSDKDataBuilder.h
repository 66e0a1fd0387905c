// Payloads of the typed events: the string tables of the enumerations and one builder per event
// family. Builders take the host's values as given and never fail: a missing or empty string
// leaves its key out, a value that cannot be sent (non-finite number, nesting beyond the bound)
// is left out with a debug line, and invalid UTF-8 is replaced.
// Thread contract: stateless; every function may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

// Ad placement values of the typed ad methods.
constexpr int64_t kCorvaneSDKAdPlacementBottom = 0;
constexpr int64_t kCorvaneSDKAdPlacementFullscreen = 4;
constexpr int64_t kCorvaneSDKAdPlacementTypeBanner = 0;

class CorvaneSDKDataBuilder {
 public:
  // Deep-link queries fold at most this many parameters into the payload; the whole URL is
  // always sent under "url".
  static constexpr size_t kMaxDeepLinkParameters = 50;

  using ContextGetter = std::function<Value(const std::string& key)>;

  static Value createLogBaseData() { return Value::object(); }

  // Strings are set only when non-empty (invalid UTF-8 replaced); none sets nothing.
  static void updateLogData(Value& map, const std::string& key, const std::string& value);
  static void updateLogData(Value& map, const std::string& key, const char* value);
  static void updateLogData(Value& map, const std::string& key, const std::optional<std::string>& value);
  // Numbers: non-finite floating values are left out.
  template <typename N, typename std::enable_if<std::is_arithmetic<N>::value && !std::is_same<N, bool>::value,
                                                int>::type = 0>
  static void updateLogData(Value& map, const std::string& key, N value) {
    if constexpr (std::is_floating_point<N>::value) {
      setNumber(map, key, static_cast<double>(value));
    } else {
      if (!map.is_object()) return;
      map[key] = value;
    }
  }
  // Any JSON value: null is left out; a sendable copy (non-finite numbers as null, data as
  // base64 text, dates as seconds, invalid UTF-8 replaced) is set; too deep a value is left out.
  static void updateLogData(Value& map, const std::string& key, const Value& value);
  // The copy that updateLogData stores, or none (with a debug line) for too deep a value.
  static std::optional<Value> sendableCopy(const Value& value);

  // String tables.
  static std::string getTrackingAuthorizationStatusString(int64_t status);
  static std::string getStoreTypeString(int64_t storeType);
  static std::string getAdPlacementTypeString(int64_t placementType);
  static std::string getAdPlacementString(int64_t placement);
  static int64_t getDefaultAdPlacement(int64_t placementType);
  static std::string getUserGenderString(int64_t gender);

  // The open payload from the delivery engine's context values. `context` may be empty (then
  // only the store type and tracking status are set); a getter that throws counts as absent.
  static Value createLogOpenData(const ContextGetter& context, int64_t storeType, int64_t trackingStatus);

  // "ad_unit", "placement_type", "placement"; without a placement the type's default is used.
  static Value createLogAdData(const std::string& adUnit, int64_t placementType);
  static Value createLogAdData(const std::string& adUnit, int64_t placementType, int64_t placement);
  static Value createLogLevelData(int64_t level, const std::string& label);
  static Value createLogBootEndData(int64_t bootTime);
  static Value createLogIAPInitializationData(bool success, int64_t storeType);
  static Value createLogIAPRestorePurchaseData(int64_t storeType);
  // The receipt event of a store purchase.
  static Value createLogPurchaseData(const std::string& pack, double price, int64_t amount,
                                     const std::string& currency, const std::string& transactionId,
                                     const std::string& receipt, int64_t storeType);
  // Currency "USD" when empty.
  static Value createLogPurchaseResultData(const std::string& pack, double price, int64_t amount,
                                           const std::string& currency, int64_t storeType);
  static Value createLogUpdateAppData(const std::string& currentVersion, const std::string& newVersion);
  static Value createLogRateAppData(int64_t storeType);
  static Value createLogLocationData(double latitude, double longitude);
  static Value createLogSoundModeData(const std::string& soundMode);
  static Value createLogTrackingAuthorizationStatusData(int64_t status);
  // Each key only when non-empty; neither scope key without a scope id.
  static Value createLogAccountData(const std::string& id, const std::string& type, const std::string& scopeId,
                                    const std::string& scopeType);
  // "type" and every entry of `data` (a map; anything else adds nothing). "type" wins over an
  // entry of the same name.
  static Value createLogUserInfoData(const std::string& type, const Value& data);
  // Type "ethereum" when empty.
  static Value createLogWalletData(const std::string& wallet, const std::string& type);
  // Currency "ETH" and chain "ethereum" when empty.
  static Value createLogCryptoPaymentData(const std::string& pack, double price, int64_t amount,
                                          const std::string& currency, const std::string& chain);
  // Currency "USD" when empty; network data as text or any JSON value.
  static Value createLogAdRevenueData(const std::string& source, double revenue, const std::string& currency,
                                      const std::string& network, const Value& networkData);
  static Value createLogAppleAttributionData(const std::string& token);
  // "url", "click_time" and the URL's query parameters, folded as decodeDeepLinkQuery says.
  static Value createLogDeepLinkData(const std::string& url, uint64_t clickTimeMs);
  static Value createLogPushTokenData(const std::string& token);
  static Value createLogThirdPartySharingData(bool enable);
  static Value createLogThirdPartySharingSettingsData(const Value& partnerValues, const Value& partnerFlags);

  // The query of a deep link as a map of strings:
  // - the query is the text after the first "?" up to the first "#";
  // - pairs are separated by "&"; empty pairs are skipped; each pair splits at its first "="
  //   (a pair without "=" is a key with the empty value);
  // - keys and values are percent-decoded ("%41" -> "A"); a "%" not followed by two hex
  //   digits stays as it is; "+" stays "+" (URL rules, not form rules);
  // - invalid UTF-8 after decoding is replaced by U+FFFD; a key that decodes empty is skipped;
  // - a repeated key keeps its FIRST value (an appended duplicate cannot override a link's
  //   own parameter); later ones are ignored with a debug line;
  // - at most kMaxDeepLinkParameters keys are kept, the rest ignored with a debug line.
  static Value decodeDeepLinkQuery(const std::string& url);
  // Percent-decoding of one component as above (no UTF-8 repair).
  static std::string percentDecode(const std::string& text);

 private:
  static void setNumber(Value& map, const std::string& key, double value);
};

}  // namespace Mobile
}  // namespace CorvaneSDK
