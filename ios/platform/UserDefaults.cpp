// Suites in memory, persisted as XML property lists.
#include "UserDefaults.h"

#include "PropertyList.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
// A value a property list can hold: no null anywhere, bounded nesting.
bool storable(const Value& value) {
  if (!valueDepthWithin(value)) return false;
  std::vector<const Value*> stack{&value};
  while (!stack.empty()) {
    const Value* v = stack.back();
    stack.pop_back();
    if (v->is_null() || v->is_discarded()) return false;
    if (v->is_structured()) {
      for (const auto& child : *v) stack.push_back(&child);
    }
  }
  return true;
}

std::vector<std::string> keysOf(const Value& values) {
  std::vector<std::string> out;
  for (auto it = values.begin(); it != values.end(); ++it) out.push_back(it.key());
  return out;
}
}  // namespace

std::optional<Value> MemoryUserDefaults::objectForKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return *it;
}

bool MemoryUserDefaults::setObject(const std::string& key, const Value& value) {
  if (value.is_null()) {
    removeObject(key);
    return true;
  }
  if (!storable(value)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  values_[key] = value;
  return true;
}

void MemoryUserDefaults::removeObject(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_.erase(key);
}

std::vector<std::string> MemoryUserDefaults::keys() {
  std::lock_guard<std::mutex> lock(mutex_);
  return keysOf(values_);
}

FileUserDefaults::FileUserDefaults(std::shared_ptr<FileSystem> fs, std::string path)
    : fs_(std::move(fs)), path_(std::move(path)) {
  std::string bytes, error;
  const auto read = fs_->read(path_, bytes, &error);
  if (read == FileSystem::Read::Ok) {
    auto parsed = PropertyList::read(bytes, &error);
    if (parsed && parsed->is_object()) {
      values_ = std::move(*parsed);
    } else {
      lastError_ = "unreadable defaults file " + path_ + ": " + (parsed ? "not a map" : error);
    }
  } else if (read == FileSystem::Read::Failed) {
    lastError_ = error;
  }
}

std::optional<Value> FileUserDefaults::objectForKey(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return *it;
}

bool FileUserDefaults::setObject(const std::string& key, const Value& value) {
  if (value.is_null()) {
    removeObject(key);
    return true;
  }
  if (!storable(value)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  values_[key] = value;
  persistLocked();
  return true;
}

void FileUserDefaults::removeObject(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (values_.erase(key) > 0) persistLocked();
}

std::vector<std::string> FileUserDefaults::keys() {
  std::lock_guard<std::mutex> lock(mutex_);
  return keysOf(values_);
}

std::string FileUserDefaults::lastError() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastError_;
}

void FileUserDefaults::persistLocked() {
  // The store stays right in memory when the disk refuses; the next change tries again.
  std::string error;
  auto xml = PropertyList::writeXml(values_, &error);
  if (!xml) {
    lastError_ = error;
    return;
  }
  const auto slash = path_.find_last_of('/');
  if (slash != std::string::npos) fs_->createDirectories(path_.substr(0, slash), nullptr);
  if (!fs_->writeAtomically(path_, *xml, &error)) lastError_ = error;
}

std::shared_ptr<UserDefaults> FileUserDefaultsProvider::suite(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& slot = suites_[name];
  if (!slot) {
    // A suite name is one path component.
    std::string safe;
    for (char c : name) safe += (c == '/' || c == '\0') ? '_' : c;
    if (safe.empty() || safe == "." || safe == "..") safe = "_" + safe;
    const std::string folder = joinPath(fs_->applicationSupportDirectory(), "../Preferences");
    slot = std::make_shared<FileUserDefaults>(fs_, joinPath(folder, safe + ".plist"));
  }
  return slot;
}

std::shared_ptr<UserDefaults> MemoryUserDefaultsProvider::suite(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& slot = suites_[name];
  if (!slot) slot = std::make_shared<MemoryUserDefaults>();
  return slot;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
