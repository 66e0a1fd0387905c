// Compact JSON written straight into a buffer, byte for byte what DumpJson gives for the
// same tree (keys in byte order, invalid UTF-8 replaced by U+FFFD, nlohmann's number forms),
// without building the tree. The typed events' payload keys are fixed, so they are written
// this way; host-supplied JSON values still go through nlohmann.
#pragma once

#include <cstdint>
#include <string>

namespace CorvaneSDK {

class Event;

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

// The event's compact text: the same bytes as DumpJson(event.ToJson()).
std::string WriteEventText(const Event& event);

}  // namespace CorvaneSDK
