// The one value type of the framework and how the platform's value kinds map onto it:
// string, number (integer or floating), boolean and null as themselves; map = object (insertion
// order kept); list = array; data = binary without subtype; date = binary of subtype
// kDateSubtype holding the seconds since 1970 as an 8-byte big-endian IEEE double.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace CorvaneSDK {
namespace Mobile {

using Value = nlohmann::ordered_json;

// Nesting bound for every JSON text or property list from outside: the library's destructor
// and writers recurse, so a 100000-deep value would overflow the host's stack.
constexpr int kMaxValueDepth = 64;
constexpr std::uint8_t kDateSubtype = 0x64;

Value makeData(const std::string& bytes);
Value makeDate(double unixSeconds);
bool isData(const Value& value);
bool isDate(const Value& value);
std::string dataBytes(const Value& value);  // "" for anything but data
double dateSeconds(const Value& value);     // 0 for anything but a date

// True when arrays and objects of `text` nest at most `maxDepth` deep (strings skipped).
bool jsonTextDepthWithin(const char* data, size_t size, int maxDepth = kMaxValueDepth);
// True when `value` nests at most `maxDepth` deep (checked without recursion).
bool valueDepthWithin(const Value& value, int maxDepth = kMaxValueDepth);

// Parses JSON with the nesting bound; false with a description in `error` on any failure.
// Never throws.
bool parseJson(const char* data, size_t size, Value& out, std::string* error = nullptr,
               int maxDepth = kMaxValueDepth);
bool parseJson(const std::string& text, Value& out, std::string* error = nullptr);

// `text` with every invalid UTF-8 sequence (overlong, surrogate, beyond U+10FFFF, cut short)
// replaced by U+FFFD, byte by byte.
std::string validUtf8(const std::string& text);
// Length of the valid UTF-8 sequence starting at `i`, 0 when there is none.
size_t utf8SequenceLength(const std::string& text, size_t i);

// Compact text with invalid UTF-8 replaced; never throws (the value should be depth-checked).
std::string dumpJson(const Value& value);

}  // namespace Mobile
}  // namespace CorvaneSDK
