// How the conversion schema and the stored context read JSON numbers: a boolean is never a
// number, a fraction is cut toward zero and then checked against the type's range, and a value
// outside the type is no value at all (never wrapped by a cast). Stateless; thread-safe.
#pragma once

#include <cstdint>
#include <optional>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {
namespace SkanNumbers {

std::optional<int32_t> readInt32(const Value& value);
std::optional<uint32_t> readUInt32(const Value& value);
std::optional<uint64_t> readUInt64(const Value& value);
// Finite numbers only.
std::optional<double> readDouble(const Value& value);

// Member `key` of an object read as above; none when `object` is no object or lacks the key.
const Value* member(const Value& object, const char* key);

}  // namespace SkanNumbers
}  // namespace Mobile
}  // namespace CorvaneSDK
