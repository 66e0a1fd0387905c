// The properties store: a small JSON object kept in one file of the save folder (user id,
// privacy flags, stored SDK and remote configuration). Saved atomically (temp file, then
// rename), so a crash while saving never loses the user id.
// Thread-safe: every member takes the store's own mutex.
#pragma once

#include <mutex>
#include <string>

#include "Json.h"

namespace CorvaneSDK {

class Properties {
 public:
  // Largest properties file we read; anything bigger is treated as corrupt.
  static constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;

  Properties(std::string folder, std::string fileName);

  // Reads the file; a missing, empty, malformed or non-object file gives an empty object.
  void Open();
  std::string GetString(const std::string& key) const;
  bool GetBool(const std::string& key) const;
  Json GetJson(const std::string& key) const;
  void SetString(const std::string& key, const std::string& value);
  void SetBool(const std::string& key, bool value);
  void SetJson(const std::string& key, const Json& value);
  void Remove(const std::string& key);
  // Writes the file when something changed. False when the write failed (the values stay).
  bool Save();
  std::string Path() const { return path_; }

 private:
  std::string path_;
  mutable std::mutex mutex_;
  Json values_ = Json::object();
  bool changed_ = false;
};

}  // namespace CorvaneSDK
