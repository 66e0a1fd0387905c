// One file per key in a private folder (the event queue lives here). Every write replaces the
// whole file atomically and marks it excluded from backup; with an encryptor every stored
// byte passes through it. Failures are logged and read as absent; a file is never deleted
// except by removeKey, resetAll or setData without data.
// Thread contract: thread-safe (each call is one file operation); callers serialise the
// read-modify-write sequences they need.
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
class FileSystem;

class CorvaneSDKFileStorage {
 public:
  // `initWithFolder`: creates the folder when needed.
  CorvaneSDKFileStorage(std::string folderURL, std::shared_ptr<CorvaneSDKCrypto> crypto = nullptr);
  // The framework's storage: the application-support folder, encrypted with the
  // configuration's `crypto` when it has one.
  static std::shared_ptr<CorvaneSDKFileStorage> forConfiguration(const CorvaneSDKConfiguration& configuration);

  // "<application support>/<bundle identifier>" and the same under the caches folder.
  static std::string applicationSupportDirectoryURL();
  static std::string cachesDirectoryURL();

  const std::string& folderURL() const { return folderURL_; }
  const std::shared_ptr<CorvaneSDKCrypto>& crypto() const { return crypto_; }

  // No data deletes the key's file.
  void setData(const std::optional<std::string>& data, const std::string& key);
  std::optional<std::string> dataForKey(const std::string& key);
  void removeKey(const std::string& key);
  void resetAll();
  std::string urlForKey(const std::string& key) const;

  // JSON text on disk; a property-list file is converted to JSON on its first read.
  void setJSON(const Value& value, const std::string& key);
  std::optional<Value> jsonForKey(const std::string& key);
  void setDictionary(const Value& map, const std::string& key);
  std::optional<Value> dictionaryForKey(const std::string& key);
  void setArray(const Value& list, const std::string& key);
  std::optional<Value> arrayForKey(const std::string& key);
  // Property lists of the bare value.
  void setString(const std::string& value, const std::string& key);
  std::optional<std::string> stringForKey(const std::string& key);
  void setBool(bool value, const std::string& key);
  bool boolForKey(const std::string& key);
  void setUnsignedLongLong(uint64_t value, const std::string& key);
  uint64_t unsignedLongLongForKey(const std::string& key);
  void setPlist(const Value& value, const std::string& key);
  std::optional<Value> plistForKey(const std::string& key);

 private:
  std::shared_ptr<FileSystem> fs_;
  std::string folderURL_;
  std::shared_ptr<CorvaneSDKCrypto> crypto_;
};

// The JSON text the platform serialiser would accept: none (with the reason) for data, dates,
// non-finite numbers or nesting beyond the bound. Invalid UTF-8 is replaced.
std::optional<std::string> serializeJsonObject(const Value& value, std::string* reason);

}  // namespace Mobile
}  // namespace CorvaneSDK
