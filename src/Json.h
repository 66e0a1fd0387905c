// JSON helpers over nlohmann json: bounded, exception-free parsing and compact dumps
// that replace invalid UTF-8 instead of throwing. Thread-safe (no shared state).
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace CorvaneSDK {

using Json = nlohmann::json;

// Documents we read are shallow; deeper input is refused because nlohmann's destructor and
// serialiser recurse and a very deep value would overflow the host's stack.
constexpr int kMaxJsonDepth = 64;

// Parses `text`; false (and `out` null) on a syntax error or nesting deeper than kMaxJsonDepth.
bool ParseJson(const std::string& text, Json& out);
bool ParseJson(const char* data, size_t size, Json& out, int maxDepth = kMaxJsonDepth);

// A stored event object wraps a value of up to kMaxJsonDepth levels in one more level, and
// its parent's "subEvents" in two more: reading our own texts back allows for that.
constexpr int kMaxEventTextDepth = kMaxJsonDepth + 3;
bool ParseEventText(const std::string& text, Json& out);

// True when the nesting of arrays and objects in `text` stays within `maxDepth`.
bool JsonDepthWithin(const char* data, size_t size, int maxDepth);

// Compact serialisation; bytes that are not valid UTF-8 become U+FFFD. Never throws.
std::string DumpJson(const Json& value);

// `text` with every byte sequence that is not valid UTF-8 replaced by U+FFFD, as dumps do.
std::string ValidUtf8(const std::string& text);

// Typed reads that never throw: the member's value when present and of the right type.
std::string JsonString(const Json& object, const char* key, const std::string& fallback = "");
bool JsonBool(const Json& object, const char* key, bool fallback = false);

}  // namespace CorvaneSDK
