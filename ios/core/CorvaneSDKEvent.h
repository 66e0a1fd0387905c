// The two event shapes of the mobile framework: CorvaneSDKEvent is what the host or a typed
// log method fills (name, payload, flags, optional revenue); CorvaneSDKLogOperation is the
// manager's stamped form (event id, session id, time, config id, custom user id, revenue
// data, sub-events) that the delivery engine turns into its wire map.
// Thread contract: an instance belongs to the thread that fills it; once handed to the
// manager it is only read.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

// The payload key that carries an event's revenue data.
constexpr const char* kCorvaneSDKEvent_REVENUE_DATA_FIELD_NAME = "__revenue__";

// A copy of `value` that every JSON writer accepts: data becomes its base64 text, a date its
// Unix seconds, a non-finite number null; none (with the reason) when it nests too deep.
std::optional<Value> serializableCopy(const Value& value, std::string* reason = nullptr);

class CorvaneSDKEvent {
 public:
  explicit CorvaneSDKEvent(std::string name);
  CorvaneSDKEvent(std::string name, std::optional<Value> value);
  CorvaneSDKEvent(std::string name, std::optional<Value> value, int flag);

  // {"value": n}
  void setIntValue(int64_t n);
  // {"value": s}; none leaves the event without a payload.
  void setStringValue(const std::optional<std::string>& s);
  // A copy of the map; anything but a map leaves no payload.
  void setMapValue(const std::optional<Value>& map);
  // A serialisable deep copy of any JSON value; none when it cannot be made one.
  void setJsonValue(const std::optional<Value>& json);
  void setRevenue(double revenue, const std::optional<std::string>& currency);

  std::string eventName;
  std::optional<Value> value;
  int flag = 0;
  double revenue = 0;
  std::optional<std::string> currency;
  bool hasRevenue = false;
};

class CorvaneSDKLogOperation {
 public:
  // A fresh event id; the time is the platform clock's wall time now.
  CorvaneSDKLogOperation(std::string name, std::optional<Value> value, std::string id, std::string cfgId,
                         std::optional<std::string> customUid);

  // revenueData = {"revenue": revenue, "currency": currency}.
  void setRevenue(double revenue, const std::optional<std::string>& currency);
  // A sub-event without an id takes this operation's id. A null operation is ignored.
  void addSubEvent(std::shared_ptr<CorvaneSDKLogOperation> op);
  size_t getNumSubEvents() const { return subEvents.size(); }
  // Null for an index out of range.
  std::shared_ptr<CorvaneSDKLogOperation> getSubEvent(size_t index) const;
  bool hasSubEvents() const { return !subEvents.empty(); }

  std::string eId;
  std::string eventName;
  std::optional<Value> value;
  std::string id;
  uint64_t timeInMs = 0;
  std::string cfgId;
  std::optional<std::string> customUid;
  std::optional<Value> revenueData;
  std::vector<std::shared_ptr<CorvaneSDKLogOperation>> subEvents;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
