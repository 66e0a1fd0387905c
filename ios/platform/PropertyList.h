// Property lists through libplist: XML and binary read, XML and binary write, mapped onto
// Value (see Value.h). Hostile input is checked before libplist sees it: at most 64 levels of
// nesting, and a binary list whose shared references would expand past kMaxPlistNodes values,
// or that refers to itself, is refused. Integers are read as signed 64-bit. Thread-safe.
#pragma once

#include <optional>
#include <string>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {
namespace PropertyList {

constexpr size_t kMaxPlistNodes = 1000000;

// XML or binary, told apart by the first bytes. None with a description in `error`.
std::optional<Value> read(const std::string& bytes, std::string* error = nullptr);
// Null (a kind a property list cannot hold) or a value nested too deep fail with a description.
std::optional<std::string> writeXml(const Value& value, std::string* error = nullptr);
std::optional<std::string> writeBinary(const Value& value, std::string* error = nullptr);
bool isBinary(const std::string& bytes);

}  // namespace PropertyList
}  // namespace Mobile
}  // namespace CorvaneSDK
