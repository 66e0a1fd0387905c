// Properties file: read leniently, written whole and atomically, merged with what another
// instance wrote meanwhile.
#include "Properties.h"

#include <memory>

#include "Env.h"
#include "FileIO.h"
#include "FileLock.h"
#include "Logger.h"

namespace CorvaneSDK {

Properties::Properties(std::string folder, std::string fileName, Env* env)
    : path_(JoinPath(folder, fileName)), env_(env) {}

bool Properties::ReadLocked(Json& out) {
  std::string text;
  if (!ReadWholeFile(path_, text, kMaxFileBytes)) {
    const int64_t size = RegularFileSize(path_);
    if (size > static_cast<int64_t>(kMaxFileBytes)) {
      // Kept aside rather than lost: it holds the user id a new one is about to replace.
      Clock& clock = env_ != nullptr ? env_->GetClock() : GetClock();
      const std::string aside = path_ + ".oversize-" + std::to_string(clock.WallMs());
      CORVANE_LOG_WARNING("The properties file " << path_ << " has " << size
                                                 << " bytes, over the bound of " << kMaxFileBytes
                                                 << "; moved to " << aside);
      RenameNoReplace(path_, aside);
    } else if (size < 0 && FileExists(path_)) {
      CORVANE_LOG_WARNING("Ignoring " << path_ << ": not a regular file");
    } else if (size >= 0) {
      CORVANE_LOG_WARNING("Cannot read properties file " << path_ << ": " << LastFileErrorText()
                                                         << "; starting with empty properties");
    }
    return false;
  }
  if (text.empty()) return false;
  Json parsed;
  if (!ParseJson(text, parsed) || !parsed.is_object()) {
    CORVANE_LOG_WARNING("Ignoring unreadable properties file " << path_);
    return false;
  }
  out = std::move(parsed);
  return true;
}

void Properties::Open() {
  Logger::DeferScope defer;  // no host log callback under the properties lock
  std::lock_guard<std::mutex> lock(mutex_);
  changedKeys_.clear();
  values_ = Json::object();
  Json read;
  if (ReadLocked(read)) values_ = std::move(read);
}

std::string Properties::GetString(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return JsonString(values_, key.c_str());
}

bool Properties::GetBool(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return JsonBool(values_, key.c_str());
}

Json Properties::GetJson(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(key);
  return it == values_.end() ? Json() : *it;
}

void Properties::SetString(const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[key] = value;
  changedKeys_.insert(key);
}

void Properties::SetBool(const std::string& key, bool value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[key] = value;
  changedKeys_.insert(key);
}

void Properties::SetJson(const std::string& key, const Json& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[key] = value;
  changedKeys_.insert(key);
}

void Properties::Remove(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_.erase(key);
  changedKeys_.insert(key);
}

bool Properties::SetStringIfAbsent(const std::string& key, const std::string& value) {
  Logger::DeferScope defer;  // no host log callback under the properties lock
  std::lock_guard<std::mutex> lock(mutex_);
  std::unique_ptr<FileLock> fileLock = FileLock::Acquire(path_ + ".lock", kLockWaitMs);
  Json current;
  if (ReadLocked(current)) {
    const std::string stored = JsonString(current, key.c_str());
    if (!stored.empty()) {
      values_[key] = stored;
      changedKeys_.erase(key);
      return false;
    }
  }
  values_[key] = value;
  changedKeys_.insert(key);
  SaveLocked();
  return true;
}

bool Properties::Save() {
  Logger::DeferScope defer;  // no host log callback under the properties lock
  std::lock_guard<std::mutex> lock(mutex_);
  if (changedKeys_.empty()) return true;
  // Without the lock (another instance stuck in its save) the merge still runs; only a
  // save racing it could be lost.
  std::unique_ptr<FileLock> fileLock = FileLock::Acquire(path_ + ".lock", kLockWaitMs);
  return SaveLocked();
}

bool Properties::SaveLocked() {
  Json merged;
  if (!ReadLocked(merged)) merged = Json::object();
  for (const std::string& key : changedKeys_) {
    auto it = values_.find(key);
    if (it == values_.end()) {
      merged.erase(key);
    } else {
      merged[key] = *it;
    }
  }
  if (!WriteFileAtomically(path_, DumpJson(merged) + "\n")) {
    CORVANE_LOG_ERROR("Cannot write properties file " << path_ << ": " << LastFileErrorText());
    return false;
  }
  values_ = std::move(merged);
  changedKeys_.clear();
  return true;
}

}  // namespace CorvaneSDK
