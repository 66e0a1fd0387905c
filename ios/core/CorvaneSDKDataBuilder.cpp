// String tables and payload builders of the typed events.
#include "CorvaneSDKDataBuilder.h"

#include <cmath>

#include "CorvaneSDKLog.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {

std::string base64(const std::string& bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = (uint32_t(uint8_t(bytes[i])) << 16) | (uint32_t(uint8_t(bytes[i + 1])) << 8) |
                       uint32_t(uint8_t(bytes[i + 2]));
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += alphabet[(n >> 6) & 63];
    out += alphabet[n & 63];
  }
  if (i < bytes.size()) {
    uint32_t n = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) n |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    out += alphabet[(n >> 18) & 63];
    out += alphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? alphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Text the way the wire can carry it; logs when something had to be replaced.
std::string sendableText(const std::string& text) {
  std::string valid = validUtf8(text);
  if (valid != text) {
    CorvaneSDKLog::debug("Replaced invalid UTF-8 in payload text of " + std::to_string(text.size()) + " bytes");
  }
  return valid;
}

// In place; the value is already known to nest within the bound, so recursion is bounded.
void makeSendable(Value& value) {
  if (value.is_string()) {
    std::string valid = validUtf8(value.get_ref<const std::string&>());
    if (valid != value.get_ref<const std::string&>()) value = std::move(valid);
  } else if (value.is_number_float()) {
    if (!std::isfinite(value.get<double>())) value = nullptr;
  } else if (value.is_binary()) {
    if (isDate(value)) {
      const double seconds = dateSeconds(value);
      value = std::isfinite(seconds) ? Value(seconds) : Value(nullptr);
    } else {
      value = base64(dataBytes(value));
    }
  } else if (value.is_array()) {
    for (auto& element : value) makeSendable(element);
  } else if (value.is_object()) {
    bool keysValid = true;
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (validUtf8(it.key()) != it.key()) keysValid = false;
      makeSendable(it.value());
    }
    if (!keysValid) {
      // Keys that repair to the same text keep the first entry.
      Value repaired = Value::object();
      for (auto it = value.begin(); it != value.end(); ++it) {
        const std::string key = validUtf8(it.key());
        if (!repaired.contains(key)) repaired[key] = std::move(it.value());
      }
      value = std::move(repaired);
    }
  }
}

bool isNumber(const Value& v) { return v.is_number(); }

double numberOf(const Value& v) {
  if (v.is_number_float()) return v.get<double>();
  if (v.is_number_unsigned()) return static_cast<double>(v.get<uint64_t>());
  if (v.is_number_integer()) return static_cast<double>(v.get<int64_t>());
  return 0.0;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void CorvaneSDKDataBuilder::updateLogData(Value& map, const std::string& key, const std::string& value) {
  if (value.empty() || !map.is_object()) return;
  map[key] = sendableText(value);
}

void CorvaneSDKDataBuilder::updateLogData(Value& map, const std::string& key, const char* value) {
  if (value == nullptr) return;
  updateLogData(map, key, std::string(value));
}

void CorvaneSDKDataBuilder::updateLogData(Value& map, const std::string& key, const std::optional<std::string>& value) {
  if (value) updateLogData(map, key, *value);
}

void CorvaneSDKDataBuilder::setNumber(Value& map, const std::string& key, double value) {
  if (!map.is_object()) return;
  if (!std::isfinite(value)) {
    CorvaneSDKLog::debug("Ignoring non-finite number for payload key " + key);
    return;
  }
  map[key] = value;
}

std::optional<Value> CorvaneSDKDataBuilder::sendableCopy(const Value& value) {
  if (!valueDepthWithin(value)) {
    CorvaneSDKLog::debug("Ignoring payload value nested deeper than " + std::to_string(kMaxValueDepth) + " levels");
    return std::nullopt;
  }
  try {
    Value copy = value;
    makeSendable(copy);
    return copy;
  } catch (...) {
    CorvaneSDKLog::debug("Ignoring payload value that cannot be copied");
    return std::nullopt;
  }
}

void CorvaneSDKDataBuilder::updateLogData(Value& map, const std::string& key, const Value& value) {
  if (value.is_null() || !map.is_object()) return;
  if (value.is_string()) {
    updateLogData(map, key, value.get_ref<const std::string&>());
    return;
  }
  auto copy = sendableCopy(value);
  if (copy) map[key] = std::move(*copy);
}

std::string CorvaneSDKDataBuilder::getTrackingAuthorizationStatusString(int64_t status) {
  switch (status) {
    case 1: return "restricted";
    case 2: return "denied";
    case 3: return "authorized";
    default: return "not_determined";
  }
}

std::string CorvaneSDKDataBuilder::getStoreTypeString(int64_t storeType) {
  switch (storeType) {
    case 0: return "app_store";
    case 1: return "google_play";
    case 2: return "amazon_store";
    case 3: return "microsoft_store";
    default: return "other";
  }
}

std::string CorvaneSDKDataBuilder::getAdPlacementTypeString(int64_t placementType) {
  switch (placementType) {
    case 0: return "banner";
    case 1: return "interstitial";
    case 2: return "rewarded_video";
    default: return "";
  }
}

std::string CorvaneSDKDataBuilder::getAdPlacementString(int64_t placement) {
  switch (placement) {
    case 0: return "bottom";
    case 1: return "top";
    case 2: return "left";
    case 3: return "right";
    case 4: return "fullscreen";
    default: return "";
  }
}

int64_t CorvaneSDKDataBuilder::getDefaultAdPlacement(int64_t placementType) {
  return placementType == kCorvaneSDKAdPlacementTypeBanner ? kCorvaneSDKAdPlacementBottom
                                                            : kCorvaneSDKAdPlacementFullscreen;
}

std::string CorvaneSDKDataBuilder::getUserGenderString(int64_t gender) {
  switch (gender) {
    case 0: return "male";
    case 1: return "female";
    default: return "";
  }
}

Value CorvaneSDKDataBuilder::createLogOpenData(const ContextGetter& context, int64_t storeType,
                                               int64_t trackingStatus) {
  Value data = createLogBaseData();
  auto read = [&](const std::string& key) -> Value {
    if (!context) return nullptr;
    try {
      return context(key);
    } catch (...) {
      CorvaneSDKLog::debug("Context value " + key + " could not be read");
      return nullptr;
    }
  };
  auto text = [&](const std::string& payloadKey, const std::string& contextKey) {
    Value v = read(contextKey);
    if (v.is_string()) updateLogData(data, payloadKey, v.get_ref<const std::string&>());
  };
  static const char* const kDollarStrings[] = {"device_model", "device_type", "device_manufacturer", "device_name",
                                               "os_name",      "os_version",  "os_build",            "abi",
                                               "time_zone",    "locale",      "language",            "country"};
  for (const char* key : kDollarStrings) text(key, std::string("$") + key);
  for (const char* key : {"display_width", "display_height"}) {
    Value v = read(std::string("$") + key);
    if (isNumber(v) && numberOf(v) >= 1.0) data[key] = v;
  }
  for (const char* key : {"app_install_time", "app_start_time"}) {
    Value v = read(std::string("$") + key);
    const double n = numberOf(v);
    if (isNumber(v) && n != 0.0 && std::isfinite(n)) data[key] = v;
  }
  text("developer_device_id", "$developer_device_id");
  text("facebook_anon_id", "$facebook_anon_id");
  for (const char* key : {"local_ip", "network_type", "sim_operator"}) text(key, key);
  // The engine's context spells the advertising id key this way.
  text("advertising_id", "$advertisting_id");
  Value limit = read("$limit_ad_tracking");
  // The platform's number objects include booleans; a boolean stays a boolean.
  if ((isNumber(limit) && std::isfinite(numberOf(limit))) || limit.is_boolean()) data["limit_ad_tracking"] = limit;
  data["store_type"] = getStoreTypeString(storeType);
  data["tracking_status"] = getTrackingAuthorizationStatusString(trackingStatus);
  return data;
}

Value CorvaneSDKDataBuilder::createLogAdData(const std::string& adUnit, int64_t placementType) {
  return createLogAdData(adUnit, placementType, getDefaultAdPlacement(placementType));
}

Value CorvaneSDKDataBuilder::createLogAdData(const std::string& adUnit, int64_t placementType, int64_t placement) {
  Value data = createLogBaseData();
  updateLogData(data, "ad_unit", adUnit);
  updateLogData(data, "placement_type", getAdPlacementTypeString(placementType));
  updateLogData(data, "placement", getAdPlacementString(placement));
  return data;
}

Value CorvaneSDKDataBuilder::createLogLevelData(int64_t level, const std::string& label) {
  Value data = createLogBaseData();
  updateLogData(data, "level", level);
  updateLogData(data, "label", label);
  return data;
}

Value CorvaneSDKDataBuilder::createLogBootEndData(int64_t bootTime) {
  Value data = createLogBaseData();
  updateLogData(data, "boot_time", bootTime);
  return data;
}

Value CorvaneSDKDataBuilder::createLogIAPInitializationData(bool success, int64_t storeType) {
  Value data = createLogBaseData();
  updateLogData(data, "status", std::string(success ? "success" : "failed"));
  updateLogData(data, "store_type", getStoreTypeString(storeType));
  return data;
}

Value CorvaneSDKDataBuilder::createLogIAPRestorePurchaseData(int64_t storeType) {
  Value data = createLogBaseData();
  updateLogData(data, "store_type", getStoreTypeString(storeType));
  return data;
}

Value CorvaneSDKDataBuilder::createLogPurchaseData(const std::string& pack, double price, int64_t amount,
                                                   const std::string& currency, const std::string& transactionId,
                                                   const std::string& receipt, int64_t storeType) {
  Value data = createLogBaseData();
  updateLogData(data, "pack", pack);
  updateLogData(data, "price", price);
  updateLogData(data, "amount", amount);
  updateLogData(data, "currency", currency);
  updateLogData(data, "transaction_id", transactionId);
  updateLogData(data, "receipt", receipt);
  updateLogData(data, "store_type", getStoreTypeString(storeType));
  return data;
}

Value CorvaneSDKDataBuilder::createLogPurchaseResultData(const std::string& pack, double price, int64_t amount,
                                                         const std::string& currency, int64_t storeType) {
  Value data = createLogBaseData();
  updateLogData(data, "pack", pack);
  updateLogData(data, "price", price);
  updateLogData(data, "amount", amount);
  updateLogData(data, "currency", currency.empty() ? std::string("USD") : currency);
  updateLogData(data, "store_type", getStoreTypeString(storeType));
  return data;
}

Value CorvaneSDKDataBuilder::createLogUpdateAppData(const std::string& currentVersion, const std::string& newVersion) {
  Value data = createLogBaseData();
  updateLogData(data, "current_version", currentVersion);
  updateLogData(data, "new_version", newVersion);
  return data;
}

Value CorvaneSDKDataBuilder::createLogRateAppData(int64_t storeType) {
  Value data = createLogBaseData();
  updateLogData(data, "store_type", getStoreTypeString(storeType));
  return data;
}

Value CorvaneSDKDataBuilder::createLogLocationData(double latitude, double longitude) {
  Value data = createLogBaseData();
  updateLogData(data, "latitude", latitude);
  updateLogData(data, "longitude", longitude);
  return data;
}

Value CorvaneSDKDataBuilder::createLogSoundModeData(const std::string& soundMode) {
  Value data = createLogBaseData();
  updateLogData(data, "sound_mode", soundMode);
  return data;
}

Value CorvaneSDKDataBuilder::createLogTrackingAuthorizationStatusData(int64_t status) {
  Value data = createLogBaseData();
  updateLogData(data, "status", getTrackingAuthorizationStatusString(status));
  return data;
}

Value CorvaneSDKDataBuilder::createLogAccountData(const std::string& id, const std::string& type,
                                                  const std::string& scopeId, const std::string& scopeType) {
  Value data = createLogBaseData();
  updateLogData(data, "id", id);
  updateLogData(data, "type", type);
  if (!scopeId.empty()) {
    updateLogData(data, "scopeId", scopeId);
    updateLogData(data, "scopeType", scopeType);
  }
  return data;
}

Value CorvaneSDKDataBuilder::createLogUserInfoData(const std::string& type, const Value& data) {
  Value out = createLogBaseData();
  if (data.is_object()) {
    auto copy = sendableCopy(data);
    if (copy) out = std::move(*copy);
  } else if (!data.is_null()) {
    CorvaneSDKLog::debug("Ignoring user info data that is not a map");
  }
  out.erase("type");
  updateLogData(out, "type", type);
  return out;
}

Value CorvaneSDKDataBuilder::createLogWalletData(const std::string& wallet, const std::string& type) {
  Value data = createLogBaseData();
  updateLogData(data, "wallet", wallet);
  updateLogData(data, "type", type.empty() ? std::string("ethereum") : type);
  return data;
}

Value CorvaneSDKDataBuilder::createLogCryptoPaymentData(const std::string& pack, double price, int64_t amount,
                                                        const std::string& currency, const std::string& chain) {
  Value data = createLogBaseData();
  updateLogData(data, "pack", pack);
  updateLogData(data, "price", price);
  updateLogData(data, "amount", amount);
  updateLogData(data, "currency", currency.empty() ? std::string("ETH") : currency);
  updateLogData(data, "chain", chain.empty() ? std::string("ethereum") : chain);
  return data;
}

Value CorvaneSDKDataBuilder::createLogAdRevenueData(const std::string& source, double revenue,
                                                    const std::string& currency, const std::string& network,
                                                    const Value& networkData) {
  Value data = createLogBaseData();
  updateLogData(data, "source", source);
  updateLogData(data, "revenue", revenue);
  updateLogData(data, "currency", currency.empty() ? std::string("USD") : currency);
  updateLogData(data, "network", network);
  updateLogData(data, "network_data", networkData);
  return data;
}

Value CorvaneSDKDataBuilder::createLogAppleAttributionData(const std::string& token) {
  Value data = createLogBaseData();
  updateLogData(data, "token", token);
  return data;
}

Value CorvaneSDKDataBuilder::createLogDeepLinkData(const std::string& url, uint64_t clickTimeMs) {
  Value data = createLogBaseData();
  updateLogData(data, "url", url);
  updateLogData(data, "click_time", clickTimeMs);
  Value query = decodeDeepLinkQuery(url);
  for (auto it = query.begin(); it != query.end(); ++it) {
    // The link's own fields are never replaced by a parameter of the same name.
    if (it.key() == "url" || it.key() == "click_time") continue;
    data[it.key()] = std::move(it.value());
  }
  return data;
}

Value CorvaneSDKDataBuilder::createLogPushTokenData(const std::string& token) {
  Value data = createLogBaseData();
  updateLogData(data, "token", token);
  return data;
}

Value CorvaneSDKDataBuilder::createLogThirdPartySharingData(bool enable) {
  Value data = createLogBaseData();
  data["enable"] = enable;
  return data;
}

Value CorvaneSDKDataBuilder::createLogThirdPartySharingSettingsData(const Value& partnerValues,
                                                                   const Value& partnerFlags) {
  Value data = createLogBaseData();
  updateLogData(data, "partner_values", partnerValues);
  updateLogData(data, "partner_flags", partnerFlags);
  return data;
}

std::string CorvaneSDKDataBuilder::percentDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int hi = hexDigit(text[i + 1]);
      const int lo = hexDigit(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

Value CorvaneSDKDataBuilder::decodeDeepLinkQuery(const std::string& url) {
  Value out = Value::object();
  const size_t question = url.find('?');
  if (question == std::string::npos) return out;
  size_t end = url.find('#', question + 1);
  if (end == std::string::npos) end = url.size();
  bool loggedRepeat = false;
  size_t pos = question + 1;
  while (pos < end) {
    size_t amp = url.find('&', pos);
    if (amp == std::string::npos || amp > end) amp = end;
    if (amp > pos) {
      const std::string pair = url.substr(pos, amp - pos);
      const size_t eq = pair.find('=');
      const std::string key = validUtf8(percentDecode(pair.substr(0, eq)));
      if (!key.empty()) {
        if (out.contains(key)) {
          if (!loggedRepeat) CorvaneSDKLog::debug("Deep link repeats the query key " + key + "; the first value is kept");
          loggedRepeat = true;
        } else if (out.size() >= kMaxDeepLinkParameters) {
          CorvaneSDKLog::debug("Deep link has more than " + std::to_string(kMaxDeepLinkParameters) +
                               " query parameters; the rest are not folded");
          break;
        } else {
          out[key] = eq == std::string::npos ? std::string() : validUtf8(percentDecode(pair.substr(eq + 1)));
        }
      }
    }
    pos = amp + 1;
  }
  return out;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
