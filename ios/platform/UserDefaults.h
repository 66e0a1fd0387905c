// The user-defaults port: one key-value store per suite. FileUserDefaults keeps a suite in
// memory and persists it as an XML property list replaced atomically after every change;
// MemoryUserDefaults is the double. Values are the property-list kinds of Value.h.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FileSystem.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

// Thread-safe.
class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  virtual std::optional<Value> objectForKey(const std::string& key) = 0;
  // Null removes the key (as setting nil does). False, and nothing changed, for a value a
  // property list cannot hold (a null inside, too deep).
  virtual bool setObject(const std::string& key, const Value& value) = 0;
  virtual void removeObject(const std::string& key) = 0;
  virtual std::vector<std::string> keys() = 0;
};

class MemoryUserDefaults : public UserDefaults {
 public:
  std::optional<Value> objectForKey(const std::string& key) override;
  bool setObject(const std::string& key, const Value& value) override;
  void removeObject(const std::string& key) override;
  std::vector<std::string> keys() override;

 private:
  std::mutex mutex_;
  Value values_ = Value::object();
};

class FileUserDefaults : public UserDefaults {
 public:
  // Reads `path` (a property list holding a map) now; an unreadable file starts empty.
  FileUserDefaults(std::shared_ptr<FileSystem> fs, std::string path);
  std::optional<Value> objectForKey(const std::string& key) override;
  bool setObject(const std::string& key, const Value& value) override;
  void removeObject(const std::string& key) override;
  std::vector<std::string> keys() override;
  // The last failure to load or persist ("" when none).
  std::string lastError();

 private:
  void persistLocked();
  std::shared_ptr<FileSystem> fs_;
  std::string path_;
  std::mutex mutex_;
  Value values_ = Value::object();
  std::string lastError_;
};

// Hands out one store per suite name. Thread-safe.
class UserDefaultsProvider {
 public:
  virtual ~UserDefaultsProvider() = default;
  virtual std::shared_ptr<UserDefaults> standard() = 0;
  virtual std::shared_ptr<UserDefaults> suite(const std::string& name) = 0;
};

// Suites as "<application support>/../Preferences/<name>.plist"; the standard one is "standard".
class FileUserDefaultsProvider : public UserDefaultsProvider {
 public:
  explicit FileUserDefaultsProvider(std::shared_ptr<FileSystem> fs) : fs_(std::move(fs)) {}
  std::shared_ptr<UserDefaults> standard() override { return suite("standard"); }
  std::shared_ptr<UserDefaults> suite(const std::string& name) override;

 private:
  std::shared_ptr<FileSystem> fs_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<UserDefaults>> suites_;
};

class MemoryUserDefaultsProvider : public UserDefaultsProvider {
 public:
  std::shared_ptr<UserDefaults> standard() override { return suite("standard"); }
  std::shared_ptr<UserDefaults> suite(const std::string& name) override;

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<UserDefaults>> suites_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
