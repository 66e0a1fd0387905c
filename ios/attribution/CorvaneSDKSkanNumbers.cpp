// Number reading for the conversion schema and context.
#include "CorvaneSDKSkanNumbers.h"

#include <cmath>
#include <limits>

namespace CorvaneSDK {
namespace Mobile {
namespace SkanNumbers {

namespace {
// The value as a whole number in [lo, hi], or none.
template <typename T>
std::optional<T> readRanged(const Value& value) {
  constexpr long double lo = static_cast<long double>(std::numeric_limits<T>::min());
  constexpr long double hi = static_cast<long double>(std::numeric_limits<T>::max());
  if (value.is_number_unsigned()) {
    const uint64_t u = value.get<uint64_t>();
    if (static_cast<long double>(u) > hi) return std::nullopt;
    return static_cast<T>(u);
  }
  if (value.is_number_integer()) {
    const int64_t i = value.get<int64_t>();
    if (static_cast<long double>(i) < lo || static_cast<long double>(i) > hi) return std::nullopt;
    return static_cast<T>(i);
  }
  if (value.is_number_float()) {
    const double d = value.get<double>();
    if (!std::isfinite(d)) return std::nullopt;
    const long double t = std::trunc(static_cast<long double>(d));
    // hi + 1 is exact where hi is not (a 64-bit maximum in a double-sized long double).
    if (t < lo || t >= hi + 1.0L) return std::nullopt;
    return static_cast<T>(t);
  }
  return std::nullopt;
}
}  // namespace

std::optional<int32_t> readInt32(const Value& value) { return readRanged<int32_t>(value); }
std::optional<uint32_t> readUInt32(const Value& value) { return readRanged<uint32_t>(value); }
std::optional<uint64_t> readUInt64(const Value& value) { return readRanged<uint64_t>(value); }

std::optional<double> readDouble(const Value& value) {
  if (!value.is_number()) return std::nullopt;
  const double d = value.get<double>();
  if (!std::isfinite(d)) return std::nullopt;
  return d;
}

const Value* member(const Value& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

}  // namespace SkanNumbers
}  // namespace Mobile
}  // namespace CorvaneSDK
