// Event and log operation: payload setters, revenue data, sub-events.
#include "CorvaneSDKEvent.h"

#include "CorvaneJSONSerializer.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKUtils.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

std::optional<Value> serializableCopy(const Value& value, std::string* reason) {
  if (!valueDepthWithin(value)) {
    if (reason) *reason = "nesting deeper than " + std::to_string(kMaxValueDepth) + " levels";
    return std::nullopt;
  }
  // The framework's writer already maps data, dates, non-finite numbers and invalid UTF-8 to
  // JSON; reading its text back gives exactly what will be stored and sent.
  Value copy;
  std::string error;
  if (!parseJson(CorvaneJSONSerializer::dataWithRootObject(value), copy, &error)) {
    if (reason) *reason = error;
    return std::nullopt;
  }
  return copy;
}

CorvaneSDKEvent::CorvaneSDKEvent(std::string name) : eventName(std::move(name)) {}

CorvaneSDKEvent::CorvaneSDKEvent(std::string name, std::optional<Value> v) : eventName(std::move(name)) {
  setJsonValue(v);
}

CorvaneSDKEvent::CorvaneSDKEvent(std::string name, std::optional<Value> v, int f)
    : CorvaneSDKEvent(std::move(name), std::move(v)) {
  flag = f;
}

void CorvaneSDKEvent::setIntValue(int64_t n) { value = Value{{"value", n}}; }

void CorvaneSDKEvent::setStringValue(const std::optional<std::string>& s) {
  if (s) {
    value = Value{{"value", *s}};
  } else {
    value.reset();
  }
}

void CorvaneSDKEvent::setMapValue(const std::optional<Value>& map) {
  if (map && map->is_object()) {
    setJsonValue(map);
  } else {
    if (map) CorvaneSDKLog::debug("Event " + eventName + ": a map value that is not a map is ignored");
    value.reset();
  }
}

void CorvaneSDKEvent::setJsonValue(const std::optional<Value>& json) {
  if (!json || json->is_null()) {
    value.reset();
    return;
  }
  std::string reason;
  value = serializableCopy(*json, &reason);
  if (!value) CorvaneSDKLog::debug("Event " + eventName + ": payload dropped, " + reason);
}

void CorvaneSDKEvent::setRevenue(double r, const std::optional<std::string>& c) {
  revenue = r;
  currency = c;
  hasRevenue = true;
}

CorvaneSDKLogOperation::CorvaneSDKLogOperation(std::string name, std::optional<Value> v, std::string sessionId,
                                               std::string configId, std::optional<std::string> customUserId)
    : eId(CorvaneSDKUtils::createUUIDString()),
      eventName(std::move(name)),
      value(std::move(v)),
      id(std::move(sessionId)),
      cfgId(std::move(configId)),
      customUid(std::move(customUserId)) {
  const int64_t now = Platform::current()->clock->wallMs();
  timeInMs = now > 0 ? static_cast<uint64_t>(now) : 0;
}

void CorvaneSDKLogOperation::setRevenue(double revenue, const std::optional<std::string>& currency) {
  Value data = Value::object();
  data["revenue"] = revenue;
  data["currency"] = currency ? Value(*currency) : Value(nullptr);
  revenueData = std::move(data);
}

void CorvaneSDKLogOperation::addSubEvent(std::shared_ptr<CorvaneSDKLogOperation> op) {
  if (!op) return;
  if (op->id.empty() && !id.empty()) op->id = id;
  subEvents.push_back(std::move(op));
}

std::shared_ptr<CorvaneSDKLogOperation> CorvaneSDKLogOperation::getSubEvent(size_t index) const {
  return index < subEvents.size() ? subEvents[index] : nullptr;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
