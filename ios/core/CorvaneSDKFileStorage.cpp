// Keyed files: atomic replace, backup exclusion, optional encryption, JSON with a one-time
// property-list conversion.
#include "CorvaneSDKFileStorage.h"

#include <cmath>
#include <vector>

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKCrypto.h"
#include "CorvaneSDKLog.h"
#include "Platform.h"
#include "PropertyList.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
// A key is one path component: nothing that climbs out of the folder or names it.
bool usableKey(const std::string& key) {
  return !key.empty() && key != "." && key != ".." && key.find('/') == std::string::npos &&
         key.find('\0') == std::string::npos;
}

bool refuseKey(const std::string& key) {
  if (usableKey(key)) return false;
  CorvaneSDKLog::debug("Refusing storage key \"" + key + "\": not a plain file name");
  return true;
}

// A short text form of a value for log lines.
std::string brief(const Value& value) {
  std::string text = dumpJson(valueDepthWithin(value) ? value : Value("<nested too deep>"));
  if (text.size() > 200) text = text.substr(0, 200) + "...";
  return text;
}

std::string bundleIdentifier() {
  auto bundle = Platform::current()->device->mainBundle();
  return bundle ? bundle->identifier : std::string();
}
}  // namespace

std::optional<std::string> serializeJsonObject(const Value& value, std::string* reason) {
  if (!valueDepthWithin(value)) {
    if (reason) *reason = "nesting deeper than " + std::to_string(kMaxValueDepth) + " levels";
    return std::nullopt;
  }
  std::vector<const Value*> stack{&value};
  while (!stack.empty()) {
    const Value* v = stack.back();
    stack.pop_back();
    if (v->is_binary()) {
      if (reason) *reason = isDate(*v) ? "a date is not a JSON value" : "data is not a JSON value";
      return std::nullopt;
    }
    if (v->is_number_float() && !std::isfinite(v->get<double>())) {
      if (reason) *reason = "a non-finite number is not a JSON value";
      return std::nullopt;
    }
    if (v->is_discarded()) {
      if (reason) *reason = "an invalid value";
      return std::nullopt;
    }
    if (v->is_structured()) {
      for (const auto& child : *v) stack.push_back(&child);
    }
  }
  return dumpJson(value);
}

CorvaneSDKFileStorage::CorvaneSDKFileStorage(std::string folderURL, std::shared_ptr<CorvaneSDKCrypto> crypto)
    : fs_(Platform::current()->fileSystem), folderURL_(std::move(folderURL)), crypto_(std::move(crypto)) {
  std::string error;
  if (!fs_->createDirectories(folderURL_, &error)) {
    CorvaneSDKLog::debug("Unable to create storage folder " + folderURL_ + ": " + error);
  }
}

std::shared_ptr<CorvaneSDKFileStorage> CorvaneSDKFileStorage::forConfiguration(const CorvaneSDKConfiguration& configuration) {
  return std::make_shared<CorvaneSDKFileStorage>(applicationSupportDirectoryURL(), configuration.crypto);
}

std::string CorvaneSDKFileStorage::applicationSupportDirectoryURL() {
  return joinPath(Platform::current()->fileSystem->applicationSupportDirectory(), bundleIdentifier());
}

std::string CorvaneSDKFileStorage::cachesDirectoryURL() {
  return joinPath(Platform::current()->fileSystem->cachesDirectory(), bundleIdentifier());
}

std::string CorvaneSDKFileStorage::urlForKey(const std::string& key) const { return joinPath(folderURL_, key); }

void CorvaneSDKFileStorage::setData(const std::optional<std::string>& data, const std::string& key) {
  if (refuseKey(key)) return;
  const std::string path = urlForKey(key);
  if (!data) {
    std::string error;
    if (fs_->exists(path) && !fs_->removeFile(path, &error)) {
      CorvaneSDKLog::debug("Unable to remove key " + key + " - error removing file at path " + path);
    }
    return;
  }
  const std::string* bytes = &*data;
  std::optional<std::string> encrypted;
  if (crypto_) {
    encrypted = crypto_->encrypt(*data);
    if (!encrypted) {
      // Plain text is never written where encryption was asked for.
      CorvaneSDKLog::debug("Unable to encrypt data for key " + key + "; nothing stored");
      return;
    }
    bytes = &*encrypted;
  }
  std::string error;
  fs_->createDirectories(folderURL_, nullptr);  // the folder may have been removed meanwhile
  if (!fs_->writeAtomically(path, *bytes, &error)) {
    CorvaneSDKLog::debug("Unable to write data for key " + key + ": " + error);
    return;
  }
  if (!fs_->setExcludedFromBackup(path, true, &error)) {
    CorvaneSDKLog::debug("Error excluding " + key + " from backup " + error);
  }
}

std::optional<std::string> CorvaneSDKFileStorage::dataForKey(const std::string& key) {
  if (refuseKey(key)) return std::nullopt;
  std::string bytes, error;
  switch (fs_->read(urlForKey(key), bytes, &error)) {
    case FileSystem::Read::Missing:
      CorvaneSDKLog::debug("WARNING: No data file for key " + key);
      return std::nullopt;
    case FileSystem::Read::Failed:
      CorvaneSDKLog::debug("Unable to read data for key " + key + ": " + error);
      return std::nullopt;
    case FileSystem::Read::Ok:
      break;
  }
  if (!crypto_) return bytes;
  auto plain = crypto_->decrypt(bytes);
  if (!plain) {
    CorvaneSDKLog::debug("Unable to decrypt data for key " + key + "; the file is kept and read as absent");
  }
  return plain;
}

void CorvaneSDKFileStorage::removeKey(const std::string& key) {
  if (refuseKey(key)) return;
  const std::string path = urlForKey(key);
  std::string error;
  if (!fs_->removeFile(path, &error)) {
    CorvaneSDKLog::debug("Unable to remove key " + key + " - error removing file at path " + path);
  }
}

void CorvaneSDKFileStorage::resetAll() {
  std::string error;
  if (!fs_->removeDirectory(folderURL_, &error)) {
    CorvaneSDKLog::debug("ERROR: Unable to reset file storage. Path cannot be removed - " + folderURL_);
    return;
  }
  if (!fs_->createDirectories(folderURL_, &error)) {
    CorvaneSDKLog::debug("Unable to create storage folder " + folderURL_ + ": " + error);
  }
}

void CorvaneSDKFileStorage::setJSON(const Value& value, const std::string& key) {
  std::string reason;
  auto text = serializeJsonObject(value, &reason);
  if (!text) {
    CorvaneSDKLog::debug("Unable to serialize data from json object; " + reason + ", " + brief(value));
    return;
  }
  setData(*text, key);
}

std::optional<Value> CorvaneSDKFileStorage::jsonForKey(const std::string& key) {
  auto data = dataForKey(key);
  if (!data) return std::nullopt;
  Value parsed;
  if (parseJson(*data, parsed)) return parsed;
  std::string plistError;
  auto plist = PropertyList::read(*data, &plistError);
  if (!plist) {
    CorvaneSDKLog::debug("Unable to parse json from data " + CorvaneSDKLog::describeData(*data));
    return std::nullopt;
  }
  // An older property-list file: rewrite it as JSON now, then answer what is on disk.
  setJSON(*plist, key);
  auto again = dataForKey(key);
  Value reread;
  if (again && parseJson(*again, reread)) return reread;
  CorvaneSDKLog::debug("Unable to convert the property list of key " + key + " to JSON; answering it as read");
  return plist;
}

void CorvaneSDKFileStorage::setDictionary(const Value& map, const std::string& key) {
  if (!map.is_object()) {
    CorvaneSDKLog::debug("Unable to serialize data from json object; not a map, " + brief(map));
    return;
  }
  setJSON(map, key);
}

std::optional<Value> CorvaneSDKFileStorage::dictionaryForKey(const std::string& key) {
  auto v = jsonForKey(key);
  if (v && v->is_object()) return v;
  return std::nullopt;
}

void CorvaneSDKFileStorage::setArray(const Value& list, const std::string& key) {
  if (!list.is_array()) {
    CorvaneSDKLog::debug("Unable to serialize data from json object; not a list, " + brief(list));
    return;
  }
  setJSON(list, key);
}

std::optional<Value> CorvaneSDKFileStorage::arrayForKey(const std::string& key) {
  auto v = jsonForKey(key);
  if (v && v->is_array()) return v;
  return std::nullopt;
}

void CorvaneSDKFileStorage::setPlist(const Value& value, const std::string& key) {
  std::string error;
  auto xml = PropertyList::writeXml(value, &error);
  if (!xml) {
    CorvaneSDKLog::debug("Unable to serialize data from plist object; Error: " + error + ", plist: " + brief(value));
    return;
  }
  setData(*xml, key);
}

std::optional<Value> CorvaneSDKFileStorage::plistForKey(const std::string& key) {
  auto data = dataForKey(key);
  if (!data) return std::nullopt;
  auto value = PropertyList::read(*data);
  if (!value) CorvaneSDKLog::debug("Unable to parse plist from data " + CorvaneSDKLog::describeData(*data));
  return value;
}

void CorvaneSDKFileStorage::setString(const std::string& value, const std::string& key) { setPlist(Value(value), key); }

std::optional<std::string> CorvaneSDKFileStorage::stringForKey(const std::string& key) {
  auto v = plistForKey(key);
  if (v && v->is_string()) return v->get<std::string>();
  return std::nullopt;
}

void CorvaneSDKFileStorage::setBool(bool value, const std::string& key) { setPlist(Value(value), key); }

bool CorvaneSDKFileStorage::boolForKey(const std::string& key) {
  auto v = plistForKey(key);
  if (v && v->is_boolean()) return v->get<bool>();
  if (v && v->is_number()) return v->get<double>() != 0;
  return false;
}

void CorvaneSDKFileStorage::setUnsignedLongLong(uint64_t value, const std::string& key) { setPlist(Value(value), key); }

uint64_t CorvaneSDKFileStorage::unsignedLongLongForKey(const std::string& key) {
  auto v = plistForKey(key);
  if (v && v->is_number_integer()) return static_cast<uint64_t>(v->get<int64_t>());
  if (v && v->is_number_unsigned()) return v->get<uint64_t>();
  return 0;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
