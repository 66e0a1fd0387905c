// Fuzz target for the collector's upload parser: any request body must give either a
// validated batch or an error naming the first problem, never a crash or a runaway parse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Validation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string body(reinterpret_cast<const char*>(data), size);
  CorvaneSDK::Collector::Batch batch;
  std::string error;
  const bool ok = CorvaneSDK::Collector::ParseBatch(body, batch, error);
  // A refusal always says why.
  if (!ok && error.empty()) std::abort();
  return 0;
}
