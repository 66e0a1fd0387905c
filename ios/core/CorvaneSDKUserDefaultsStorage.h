// Keys in a user-defaults store, optionally under a namespace prefix ("prefix.key"). Without
// an encryptor values are stored as they are; with one, each value becomes a property list,
// is encrypted and stored as data. Thread-safe (the store is).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKCrypto;
class CorvaneSDKConfiguration;
class UserDefaults;

class CorvaneSDKUserDefaultsStorage {
 public:
  // `initWithDefaults`.
  CorvaneSDKUserDefaultsStorage(std::shared_ptr<UserDefaults> defaults, std::optional<std::string> namespacePrefix,
                                std::shared_ptr<CorvaneSDKCrypto> crypto);
  // The framework's storage: the standard store, no prefix, the configuration's `crypto`.
  static std::shared_ptr<CorvaneSDKUserDefaultsStorage> forConfiguration(const CorvaneSDKConfiguration& configuration);

  const std::shared_ptr<CorvaneSDKCrypto>& crypto() const { return crypto_; }
  std::string namespacedKey(const std::string& key) const;
  void removeKey(const std::string& key);
  // Every key of the store, or with a prefix every key under it.
  void resetAll();
  // Null removes the key.
  void setObject(const Value& value, const std::string& key);
  void setData(const std::optional<std::string>& data, const std::string& key);
  std::optional<std::string> dataForKey(const std::string& key);
  void setDictionary(const Value& map, const std::string& key);
  std::optional<Value> dictionaryForKey(const std::string& key);
  void setArray(const Value& list, const std::string& key);
  std::optional<Value> arrayForKey(const std::string& key);
  void setString(const std::string& value, const std::string& key);
  std::optional<std::string> stringForKey(const std::string& key);
  void setBool(bool value, const std::string& key);
  bool boolForKey(const std::string& key);
  void setUnsignedLongLong(uint64_t value, const std::string& key);
  uint64_t unsignedLongLongForKey(const std::string& key);
  void setPlist(const Value& value, const std::string& key);
  std::optional<Value> plistForKey(const std::string& key);

 private:
  std::optional<Value> read(const std::string& key);
  std::shared_ptr<UserDefaults> defaults_;
  std::optional<std::string> prefix_;
  std::shared_ptr<CorvaneSDKCrypto> crypto_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
