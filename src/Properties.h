// The properties store: a small JSON object kept in one file of the save folder (user id,
// privacy flags, stored SDK and remote configuration). Saved atomically (temp file, then
// rename), so a crash while saving never loses the user id. Two instances may share the
// file: a save re-reads it under a short file lock and writes back only the keys this
// instance changed, so one never undoes the other's values.
// Thread-safe: every member takes the store's own mutex.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include "Json.h"

namespace CorvaneSDK {

class Env;

class Properties {
 public:
  // Largest properties file we read; a bigger one is set aside (".oversize-<ms>") and
  // replaced.
  static constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;
  // Longest wait for another instance's save, in real milliseconds.
  static constexpr int kLockWaitMs = 500;

  // The clock of `env` (null: the default environment) names a file set aside.
  Properties(std::string folder, std::string fileName, Env* env = nullptr);

  // Reads the file; a missing, empty, malformed or non-object file gives an empty object,
  // and so does anything but a regular file (a FIFO or a link is never opened through).
  void Open();
  std::string GetString(const std::string& key) const;
  bool GetBool(const std::string& key) const;
  Json GetJson(const std::string& key) const;
  void SetString(const std::string& key, const std::string& value);
  void SetBool(const std::string& key, bool value);
  void SetJson(const std::string& key, const Json& value);
  void Remove(const std::string& key);
  // Stores `value` under `key` and saves, unless the file (re-read under the lock) already
  // holds a non-empty string there, which is then taken. True when `value` was stored: two
  // instances starting together agree on one value.
  bool SetStringIfAbsent(const std::string& key, const std::string& value);
  // Writes the file when something changed. False when the write failed (the values stay).
  bool Save();
  std::string Path() const { return path_; }

 private:
  // Reads the file into `out`; false when it is missing or unusable.
  bool ReadLocked(Json& out);
  // Merges this instance's changed keys into the file's current values and writes them.
  bool SaveLocked();

  std::string path_;
  Env* const env_;
  mutable std::mutex mutex_;
  Json values_ = Json::object();
  std::set<std::string> changedKeys_;  // set or removed since the last save
};

}  // namespace CorvaneSDK
