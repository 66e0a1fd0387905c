// Compact JSON written straight into a buffer, byte for byte what DumpJson gives for the
// same tree (keys in byte order, invalid UTF-8 replaced by U+FFFD, nlohmann's number forms),
// without building the tree. The typed events' payload keys are fixed, so they are written
// this way; host-supplied JSON values still go through nlohmann.
#pragma once

#include <cstdint>
#include <string>

#include "Json.h"

namespace CorvaneSDK {

// A JSON string literal of `text`.
void AppendJsonString(std::string& out, const std::string& text);
void AppendJsonInt(std::string& out, int64_t value);
// NaN and infinities become null, as in a dump.
void AppendJsonDouble(std::string& out, double value);

// The members of one object, appended in the order given: callers give keys in byte order
// (a tree would sort them) and each key once. Keys are plain ASCII needing no escapes.
class JsonObjectWriter {
 public:
  explicit JsonObjectWriter(std::string& out);
  JsonObjectWriter& Text(const char* key, const std::string& value);
  // Text members of the typed events are sent only when non-empty.
  JsonObjectWriter& TextIfAny(const char* key, const std::string& value);
  JsonObjectWriter& Int(const char* key, int64_t value);
  JsonObjectWriter& Double(const char* key, double value);
  // A nested object under `key`; End it before writing on here.
  JsonObjectWriter Object(const char* key);
  // Writes `key` and returns the buffer, for the caller to append the member's JSON value.
  std::string& Member(const char* key);
  void End();

 private:

  std::string& out_;
  bool first_ = true;
};

namespace EventText {

// Bytes of the fixed parts of one flat event object (keys, quotes, commas, braces).
constexpr size_t kFlatEventOverhead =
    sizeof(R"({"cfgId":"","customUid":"","eId":"","eventName":"","id":"","timeInMs":,"value":})") - 1;

// What the event's text needs when nothing has to be escaped (numbers at their widest).
template <typename E>
size_t EstimateFlat(const E& e) {
  return kFlatEventOverhead + e.cfgId.size() + e.customUid.size() + e.eId.size() +
         e.eventName.size() + e.id.size() + 20 + (e.valueText.empty() ? 4 : e.valueText.size());
}

template <typename E>
void AppendFlat(std::string& out, const E& e, bool withSubEvents) {
  JsonObjectWriter w(out);
  w.Text("cfgId", e.cfgId)
      .Text("customUid", e.customUid)
      .Text("eId", e.eId)
      .Text("eventName", e.eventName)
      .Text("id", e.id);
  if (withSubEvents && !e.subEvents.empty()) {
    // One level deep: a sub-event's own sub-events are not sent.
    std::string& list = w.Member("subEvents");
    list += '[';
    bool first = true;
    for (const auto& child : e.subEvents) {
      if (child == nullptr) continue;
      if (!first) list += ',';
      first = false;
      AppendFlat(list, *child, false);
    }
    list += ']';
  }
  w.Int("timeInMs", e.timeInMs);
  std::string& value = w.Member("value");
  if (!e.valueText.empty()) {
    value += e.valueText;
  } else if (e.value.is_null()) {
    value += "null";
  } else {
    value += DumpJson(e.value);
  }
  w.End();
}

}  // namespace EventText

// The compact text of an event record (its seven keys, one level of sub-events): the same
// bytes as DumpJson of its tree. A template over the record, so that this unit stays below it.
// `out` is replaced; its capacity is reused.
template <typename E>
void WriteEventText(const E& event, std::string& out) {
  size_t size = EventText::EstimateFlat(event);
  if (!event.subEvents.empty()) {
    size += sizeof(R"(,"subEvents":[])") - 1;
    for (const auto& child : event.subEvents) {
      if (child != nullptr) size += EventText::EstimateFlat(*child) + 1;
    }
  }
  out.clear();
  out.reserve(size);
  EventText::AppendFlat(out, event, true);
}

template <typename E>
std::string WriteEventText(const E& event) {
  std::string out;
  WriteEventText(event, out);
  return out;
}

}  // namespace CorvaneSDK
