// Properties file: read leniently, written whole and atomically.
#include "Properties.h"

#include "FileIO.h"
#include "Logger.h"

namespace CorvaneSDK {

Properties::Properties(std::string folder, std::string fileName)
    : path_(JoinPath(folder, fileName)) {}

void Properties::Open() {
  Logger::DeferScope defer;  // no host log callback under the properties lock
  std::lock_guard<std::mutex> lock(mutex_);
  changed_ = false;
  values_ = Json::object();
  std::string text;
  if (!ReadWholeFile(path_, text, kMaxFileBytes)) {
    if (FileExists(path_)) {
      CORVANE_LOG_WARNING("Cannot read properties file " << path_ << ": " << LastFileErrorText()
                                                         << "; starting with empty properties");
    }
    return;
  }
  if (text.empty()) return;
  Json parsed;
  if (!ParseJson(text, parsed) || !parsed.is_object()) {
    CORVANE_LOG_WARNING("Ignoring unreadable properties file " << path_);
    return;
  }
  values_ = std::move(parsed);
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
  changed_ = true;
}

void Properties::SetBool(const std::string& key, bool value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[key] = value;
  changed_ = true;
}

void Properties::SetJson(const std::string& key, const Json& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_[key] = value;
  changed_ = true;
}

void Properties::Remove(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_.erase(key);
  changed_ = true;
}

bool Properties::Save() {
  Logger::DeferScope defer;  // no host log callback under the properties lock
  std::lock_guard<std::mutex> lock(mutex_);
  if (!changed_) return true;
  if (!WriteFileAtomically(path_, DumpJson(values_) + "\n")) {
    CORVANE_LOG_ERROR("Cannot write properties file " << path_ << ": " << LastFileErrorText());
    return false;
  }
  changed_ = false;
  return true;
}

}  // namespace CorvaneSDK
