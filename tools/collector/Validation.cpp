// Upload body checks. Strict on purpose: the collector exists to show what the SDK sends,
// so a key the wire format does not have is reported rather than silently ignored.
#include "Validation.h"

#include <set>

#include "Json.h"
#include "MobileConfig.h"

namespace CorvaneSDK {
namespace Collector {

namespace {

const char* TypeName(const Json& v) {
  switch (v.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return "a boolean";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
      return "an integer";
    case Json::value_t::number_float:
      return "a number";
    case Json::value_t::string:
      return "a string";
    case Json::value_t::array:
      return "an array";
    case Json::value_t::object:
      return "an object";
    default:
      return "an unknown value";
  }
}

std::string Quoted(const std::string& key) {
  return "\"" + key + "\"";
}

// Reads a required string member; false with `error` set when absent or not a string.
bool RequireString(const Json& object, const std::string& path, const char* key, std::string& out,
                   std::string& error) {
  auto it = object.find(key);
  if (it == object.end()) {
    error = (path.empty() ? std::string("body") : path) + ": missing " + Quoted(key);
    return false;
  }
  if (!it->is_string()) {
    error = (path.empty() ? std::string(key) : path + "." + key) + ": expected a string, got " +
            TypeName(*it);
    return false;
  }
  out = it->get<std::string>();
  return true;
}

bool CheckKeys(const Json& object, const std::string& path, const std::set<std::string>& allowed,
               std::string& error) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (allowed.count(it.key()) == 0) {
      error = path + ": unexpected key " + Quoted(it.key());
      return false;
    }
  }
  return true;
}

// The mobile framework leaves "value" and "customUid" out when the event has none.
bool ParseEvent(const Json& object, const std::string& path, const std::string& parentEId,
                bool mobile, std::vector<EventRecord>& out, std::string& error) {
  if (!object.is_object()) {
    error = path + ": expected an event object, got " + TypeName(object);
    return false;
  }
  static const std::set<std::string> kTopKeys = {"eId",      "eventName", "value",     "id",
                                                 "timeInMs", "cfgId",     "customUid", "subEvents"};
  static const std::set<std::string> kSubKeys = {"eId",      "eventName", "value",    "id",
                                                 "timeInMs", "cfgId",     "customUid"};
  const bool top = parentEId.empty();
  if (!top && object.contains("subEvents")) {
    error = path + ": a sub-event cannot have \"subEvents\"";
    return false;
  }
  if (!CheckKeys(object, path, top ? kTopKeys : kSubKeys, error)) return false;

  EventRecord record;
  record.parentEId = parentEId;
  if (!RequireString(object, path, "eId", record.eId, error)) return false;
  if (!IsEventId(record.eId)) {
    error = path + ".eId: not a lower-case version-4 UUID: " + Quoted(record.eId.substr(0, 64));
    return false;
  }
  if (!RequireString(object, path, "eventName", record.name, error)) return false;
  if (record.name.empty()) {
    error = path + ".eventName: empty";
    return false;
  }
  auto value = object.find("value");
  if (value == object.end() && !mobile) {
    error = path + ": missing \"value\"";
    return false;
  }
  record.valueJson = value == object.end() ? "null" : DumpJson(*value);
  if (!RequireString(object, path, "id", record.sessionId, error)) return false;
  auto time = object.find("timeInMs");
  if (time == object.end()) {
    error = path + ": missing \"timeInMs\"";
    return false;
  }
  if (time->is_number_integer() && !time->is_number_unsigned()) {
    record.timeMs = time->get<int64_t>();
  } else if (time->is_number_unsigned() && time->get<uint64_t>() <= INT64_MAX) {
    record.timeMs = static_cast<int64_t>(time->get<uint64_t>());
  } else {
    error = path + ".timeInMs: expected an integer, got " + TypeName(*time);
    return false;
  }
  if (!RequireString(object, path, "cfgId", record.cfgId, error)) return false;
  if ((!mobile || object.contains("customUid")) &&
      !RequireString(object, path, "customUid", record.customUid, error)) {
    return false;
  }
  const std::string eId = record.eId;
  out.push_back(std::move(record));

  auto subs = object.find("subEvents");
  if (subs == object.end()) return true;
  if (!subs->is_array()) {
    error = path + ".subEvents: expected an array, got " + TypeName(*subs);
    return false;
  }
  for (size_t i = 0; i < subs->size(); ++i) {
    const std::string subPath = path + ".subEvents[" + std::to_string(i) + "]";
    if (!ParseEvent((*subs)[i], subPath, eId, mobile, out, error)) return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool IsEventId(const std::string& text) {
  // xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx with y one of 8, 9, a, b.
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
    } else if (HexValue(text[i]) < 0) {
      return false;
    }
  }
  return text[14] == '4' && HexValue(text[19]) >= 8 && HexValue(text[19]) <= 11;
}

bool ParseBatch(const std::string& body, Batch& out, std::string& error) {
  out = Batch();
  if (body.empty()) {
    error = "empty body";
    return false;
  }
  if (!JsonDepthWithin(body.data(), body.size(), kMaxBodyDepth)) {
    error = "body nests deeper than " + std::to_string(kMaxBodyDepth) + " levels";
    return false;
  }
  Json parsed;
  if (!ParseJson(body, parsed)) {
    error = "body is not valid JSON";
    return false;
  }
  if (!parsed.is_object()) {
    error = std::string("body: expected a JSON object, got ") + TypeName(parsed);
    return false;
  }
  static const std::set<std::string> kBatchKeys = {"appVersion",  "buildNumber",  "bundleId",
                                                   "platform",    "qvSdkVersion", "qvUid",
                                                   "subMessages", "wrapper",      "wrapperVersion"};
  const std::string root = "body";
  if (!CheckKeys(parsed, root, kBatchKeys, error)) return false;
  // Type problems of batch keys are reported under the bare key name.
  auto requireTop = [&](const char* key, std::string& field) {
    return RequireString(parsed, "", key, field, error);
  };
  if (!requireTop("qvUid", out.userId) || !requireTop("qvSdkVersion", out.sdkVersion) ||
      !requireTop("bundleId", out.bundleId) || !requireTop("platform", out.platform) ||
      !requireTop("appVersion", out.appVersion) || !requireTop("buildNumber", out.buildNumber)) {
    return false;
  }
  if (out.userId.empty()) {
    error = "qvUid: empty";
    return false;
  }
  for (const auto& optional : {std::make_pair("wrapper", &out.wrapper),
                               std::make_pair("wrapperVersion", &out.wrapperVersion)}) {
    auto it = parsed.find(optional.first);
    if (it == parsed.end()) continue;
    if (!it->is_string()) {
      error = std::string(optional.first) + ": expected a string, got " + TypeName(*it);
      return false;
    }
    *optional.second = it->get<std::string>();
    if (optional.second->empty()) {
      error = std::string(optional.first) + ": present but empty (the key is left out when empty)";
      return false;
    }
  }
  auto messages = parsed.find("subMessages");
  if (messages == parsed.end()) {
    error = "body: missing \"subMessages\"";
    return false;
  }
  if (!messages->is_array()) {
    error = std::string("subMessages: expected an array, got ") + TypeName(*messages);
    return false;
  }
  const bool mobile = IsMobileClient(out.platform, out.sdkVersion);
  for (size_t i = 0; i < messages->size(); ++i) {
    const std::string path = "subMessages[" + std::to_string(i) + "]";
    if (!ParseEvent((*messages)[i], path, std::string(), mobile, out.events, error)) {
      out.events.clear();
      return false;
    }
  }
  return true;
}

}  // namespace Collector
}  // namespace CorvaneSDK
