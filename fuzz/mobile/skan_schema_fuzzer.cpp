// Conversion schemas from outside JSON: build, evaluate against counters taken from the same
// input, write back, rebuild; the rebuilt schema must write the same stored form.
#include <cstdint>
#include <cstdlib>

#include "CorvaneSDKSkanConversionContext.h"
#include "CorvaneSDKSkanConversionSchema.h"
#include "Value.h"

using namespace CorvaneSDK::Mobile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Value input;
  if (!parseJson(reinterpret_cast<const char*>(data), size, input)) return 0;
  auto schema = CorvaneSDKSkanConversionSchema::create(input);
  if (!schema) return 0;
  const Value first = schema->serialize();
  auto rebuilt = CorvaneSDKSkanConversionSchema::create(first);
  if (!rebuilt || rebuilt->getVersion() != schema->getVersion()) std::abort();
  if (rebuilt->serialize() != first) std::abort();

  CorvaneSDKSkanConversionValues values;
  values.sessions = static_cast<int32_t>(size % 7);
  values.iap = static_cast<double>(size % 13);
  values.window = static_cast<int32_t>(size % 4);
  values.postInstallTime = size * 1000;
  if (input.contains("counts") && input["counts"].is_object()) values.eventCounts = input["counts"];
  if (input.contains("revenues") && input["revenues"].is_object()) values.eventRevenues = input["revenues"];
  schema->updateLockWindow(values);
  schema->updateConversionValue(values);
  if (values.fine < 0 || values.fine > 63) std::abort();
  (void)schema->getPostbackWindow(size);
  return 0;
}
