// Keys in user defaults, plain or encrypted as property-list data.
#include "CorvaneSDKUserDefaultsStorage.h"

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKCrypto.h"
#include "CorvaneSDKLog.h"
#include "Platform.h"
#include "PropertyList.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
std::string brief(const Value& value) {
  std::string text = dumpJson(valueDepthWithin(value) ? value : Value("<nested too deep>"));
  if (text.size() > 200) text = text.substr(0, 200) + "...";
  return text;
}
}  // namespace

CorvaneSDKUserDefaultsStorage::CorvaneSDKUserDefaultsStorage(std::shared_ptr<UserDefaults> defaults,
                                                             std::optional<std::string> namespacePrefix,
                                                             std::shared_ptr<CorvaneSDKCrypto> crypto)
    : defaults_(defaults ? std::move(defaults) : Platform::current()->userDefaults->standard()),
      prefix_(std::move(namespacePrefix)),
      crypto_(std::move(crypto)) {}

std::shared_ptr<CorvaneSDKUserDefaultsStorage> CorvaneSDKUserDefaultsStorage::forConfiguration(
    const CorvaneSDKConfiguration& configuration) {
  return std::make_shared<CorvaneSDKUserDefaultsStorage>(Platform::current()->userDefaults->standard(), std::nullopt,
                                                         configuration.crypto);
}

std::string CorvaneSDKUserDefaultsStorage::namespacedKey(const std::string& key) const {
  return prefix_ ? *prefix_ + "." + key : key;
}

void CorvaneSDKUserDefaultsStorage::removeKey(const std::string& key) { defaults_->removeObject(namespacedKey(key)); }

void CorvaneSDKUserDefaultsStorage::resetAll() {
  const std::string head = prefix_ ? *prefix_ + "." : std::string();
  for (const auto& key : defaults_->keys()) {
    if (key.compare(0, head.size(), head) == 0) defaults_->removeObject(key);
  }
}

void CorvaneSDKUserDefaultsStorage::setPlist(const Value& value, const std::string& key) {
  if (value.is_null()) {
    removeKey(key);
    return;
  }
  if (!crypto_) {
    if (!defaults_->setObject(namespacedKey(key), value)) {
      CorvaneSDKLog::debug("Unable to serialize data from plist object; Error: not a property-list value, plist: " +
                           brief(value));
    }
    return;
  }
  std::string error;
  auto xml = PropertyList::writeXml(value, &error);
  if (!xml) {
    CorvaneSDKLog::debug("Unable to serialize data from plist object; Error: " + error + ", plist: " + brief(value));
    return;
  }
  auto encrypted = crypto_->encrypt(*xml);
  if (!encrypted) {
    CorvaneSDKLog::debug("Unable to encrypt data for key " + key + "; nothing stored");
    return;
  }
  defaults_->setObject(namespacedKey(key), makeData(*encrypted));
}

std::optional<Value> CorvaneSDKUserDefaultsStorage::plistForKey(const std::string& key) {
  auto stored = defaults_->objectForKey(namespacedKey(key));
  if (!stored || !crypto_) return stored;
  if (!isData(*stored)) {
    CorvaneSDKLog::debug("Unable to parse plist from data: key " + key + " does not hold encrypted data");
    return std::nullopt;
  }
  auto plain = crypto_->decrypt(dataBytes(*stored));
  if (!plain) {
    CorvaneSDKLog::debug("Unable to decrypt data for key " + key + "; the value is kept and read as absent");
    return std::nullopt;
  }
  auto value = PropertyList::read(*plain);
  if (!value) CorvaneSDKLog::debug("Unable to parse plist from data " + CorvaneSDKLog::describeData(*plain));
  return value;
}

std::optional<Value> CorvaneSDKUserDefaultsStorage::read(const std::string& key) { return plistForKey(key); }

void CorvaneSDKUserDefaultsStorage::setObject(const Value& value, const std::string& key) { setPlist(value, key); }

void CorvaneSDKUserDefaultsStorage::setData(const std::optional<std::string>& data, const std::string& key) {
  if (!data) {
    removeKey(key);
    return;
  }
  setPlist(makeData(*data), key);
}

std::optional<std::string> CorvaneSDKUserDefaultsStorage::dataForKey(const std::string& key) {
  auto v = read(key);
  if (v && isData(*v)) return dataBytes(*v);
  return std::nullopt;
}

void CorvaneSDKUserDefaultsStorage::setDictionary(const Value& map, const std::string& key) {
  if (!map.is_object()) {
    CorvaneSDKLog::debug("Unable to serialize data from plist object; Error: not a map, plist: " + brief(map));
    return;
  }
  setPlist(map, key);
}

std::optional<Value> CorvaneSDKUserDefaultsStorage::dictionaryForKey(const std::string& key) {
  auto v = read(key);
  if (v && v->is_object()) return v;
  return std::nullopt;
}

void CorvaneSDKUserDefaultsStorage::setArray(const Value& list, const std::string& key) {
  if (!list.is_array()) {
    CorvaneSDKLog::debug("Unable to serialize data from plist object; Error: not a list, plist: " + brief(list));
    return;
  }
  setPlist(list, key);
}

std::optional<Value> CorvaneSDKUserDefaultsStorage::arrayForKey(const std::string& key) {
  auto v = read(key);
  if (v && v->is_array()) return v;
  return std::nullopt;
}

void CorvaneSDKUserDefaultsStorage::setString(const std::string& value, const std::string& key) {
  setPlist(Value(value), key);
}

std::optional<std::string> CorvaneSDKUserDefaultsStorage::stringForKey(const std::string& key) {
  auto v = read(key);
  if (v && v->is_string()) return v->get<std::string>();
  return std::nullopt;
}

void CorvaneSDKUserDefaultsStorage::setBool(bool value, const std::string& key) { setPlist(Value(value), key); }

bool CorvaneSDKUserDefaultsStorage::boolForKey(const std::string& key) {
  auto v = read(key);
  if (v && v->is_boolean()) return v->get<bool>();
  if (v && v->is_number()) return v->get<double>() != 0;
  return false;
}

void CorvaneSDKUserDefaultsStorage::setUnsignedLongLong(uint64_t value, const std::string& key) {
  setPlist(Value(value), key);
}

uint64_t CorvaneSDKUserDefaultsStorage::unsignedLongLongForKey(const std::string& key) {
  auto v = read(key);
  if (v && v->is_number_integer()) return static_cast<uint64_t>(v->get<int64_t>());
  if (v && v->is_number_unsigned()) return v->get<uint64_t>();
  return 0;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
