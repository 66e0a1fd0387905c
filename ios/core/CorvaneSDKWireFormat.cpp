#include "CorvaneSDKWireFormat.h"

#include "CorvaneJSONSerializer.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKLog.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {

// Payloads are bounded so that the whole stored array (list, event, sub-event list, sub-event,
// payload) stays within the reading bound.
constexpr int kMaxEventDepth = kMaxValueDepth - 1;
constexpr int kMaxSubEventNesting = 8;

}  // namespace

Value CorvaneSDKWireFormat::eventMap(const CorvaneSDKLogOperation& event, const std::function<int32_t()>& nextProcessId,
                                     const std::function<std::string()>& sessionId, const std::string& logPrefix) {
  // Sub-events nest by recursion of the builder; the nesting is bounded (a cycle of
  // sub-events would otherwise never end).
  std::function<Value(const CorvaneSDKLogOperation&, bool, int)> build = [&](const CorvaneSDKLogOperation& op,
                                                                              bool withProcessId, int nesting) {
    Value m = Value::object();
    if (withProcessId) m["processId"] = nextProcessId();
    m["eId"] = op.eId;
    std::string id = op.id;
    if (id.empty()) id = sessionId();
    m["id"] = id;
    m["timeInMs"] = op.timeInMs;
    m["cfgId"] = op.cfgId;
    if (op.customUid) m["customUid"] = *op.customUid;
    m["eventName"] = op.eventName;
    std::optional<Value> payload;
    std::string reason;
    if (op.value && !op.value->is_null()) {
      payload = serializableCopy(*op.value, &reason);
      if (!payload) CorvaneSDKLog::debug(logPrefix + " Payload of " + op.eventName + " dropped: " + reason);
    }
    if (op.revenueData) {
      if (!payload) payload = Value::object();
      auto revenue = serializableCopy(*op.revenueData, &reason);
      if (payload->is_object() && revenue) {
        (*payload)[kCorvaneSDKEvent_REVENUE_DATA_FIELD_NAME] = std::move(*revenue);
      } else {
        CorvaneSDKLog::debug(logPrefix + " Revenue data of " + op.eventName +
                             " not added: the payload is not a map");
      }
    }
    if (payload) m["value"] = std::move(*payload);
    if (op.hasSubEvents()) {
      if (nesting >= kMaxSubEventNesting) {
        CorvaneSDKLog::debug(logPrefix + " Sub-events of " + op.eventName + " nest too deep; left out");
      } else {
        Value list = Value::array();
        for (const auto& sub : op.subEvents) {
          if (sub) list.push_back(build(*sub, false, nesting + 1));
        }
        if (!list.empty()) m["subEvents"] = std::move(list);
      }
    }
    return m;
  };
  return build(event, static_cast<bool>(nextProcessId), 0);
}

std::optional<CorvaneSDKQueuedEvent> CorvaneSDKWireFormat::queuedEvent(Value map, const std::string& logPrefix) {
  if (!map.is_object()) {
    CorvaneSDKLog::debug(logPrefix + " Ignoring an event that is not a map");
    return std::nullopt;
  }
  CorvaneSDKQueuedEvent entry;
  auto pid = map.find("processId");
  if (pid != map.end()) {
    if (pid->is_number_integer()) {
      const int64_t n = pid->get<int64_t>();
      if (n > 0 && n <= INT32_MAX) entry.processId = static_cast<int32_t>(n);
    }
    map.erase("processId");
  }
  if (!valueDepthWithin(map, kMaxEventDepth)) {
    map.erase("value");
    if (!valueDepthWithin(map, kMaxEventDepth)) map.erase("subEvents");
    CorvaneSDKLog::debug(logPrefix + " Event nests too deep; its payload was left out");
  }
  // Serialised once, here on the caller's thread: the queue file and every upload body reuse it.
  entry.text = CorvaneJSONSerializer::dataWithRootObject(map);
  entry.text.shrink_to_fit();  // held until delivered: up to 5000 of them
  return entry;
}

std::string CorvaneSDKWireFormat::batchBody(const std::vector<CorvaneSDKQueuedEvent>& batch, const Value& context,
                                            const std::string& userId) {
  auto contextString = [&](const char* key) -> Value {
    auto it = context.find(key);
    return it != context.end() ? *it : Value("");
  };
  Value header = Value::object();
  header["qvUid"] = userId;
  header["qvSdkVersion"] = contextString("$version");
  if (context.contains("$wrapper") && !context["$wrapper"].is_null()) header["wrapper"] = context["$wrapper"];
  if (context.contains("$wrapper_version") && !context["$wrapper_version"].is_null()) {
    header["wrapperVersion"] = context["$wrapper_version"];
  }
  header["bundleId"] = contextString("$bundle_id");
  header["platform"] = contextString("$platform");
  header["appVersion"] = contextString("$build_version");
  header["buildNumber"] = contextString("$build_number");
  std::string body = CorvaneJSONSerializer::dataWithRootObject(header);
  // The events are spliced in as the texts they were stored as.
  size_t size = body.size() + 16;
  for (const auto& e : batch) size += e.text.size() + 1;
  std::string out;
  out.reserve(size);
  out.append(body, 0, body.size() - 1);
  out += ",\"subMessages\":[";
  for (size_t i = 0; i < batch.size(); ++i) {
    if (i) out += ',';
    out += batch[i].text;
  }
  out += "]}";
  return out;
}

Value CorvaneSDKWireFormat::batchList(const std::vector<CorvaneSDKQueuedEvent>& batch) {
  Value list = Value::array();
  for (const auto& e : batch) {
    Value v;
    if (parseJson(e.text, v)) list.push_back(std::move(v));
  }
  return list;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
