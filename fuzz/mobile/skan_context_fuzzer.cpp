// Stored conversion contexts from outside JSON: rebuild, write back, rebuild again; the two
// stored forms must match. Then start it with a fixed schema and record into it.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "CorvaneSDKSkanConversionContext.h"
#include "Dispatch.h"
#include "Platform.h"
#include "Value.h"

using namespace CorvaneSDK::Mobile;

namespace {
struct Env {
  Env() {
    clock = std::make_shared<ManualClock>();
    dispatch = std::make_shared<ManualDispatch>(clock, true);
    auto ports = std::make_shared<Ports>();
    ports->clock = clock;
    ports->dispatch = dispatch;
    Platform::install(ports);
    queue = std::make_shared<ManualQueue>("com.corvane.sdk.skan", clock);
    Value dict;
    parseJson(R"({"window_one":{"fine_cv_mappings":[
        {"fine_cv":3,"value_mappings":[{"mapping_type":"session","min_session_count":2}]},
        {"fine_cv":9,"value_mappings":[{"mapping_type":"event","event_name":"a","min_revenue":1}]}],
        "coarse_cv_mappings":[{"coarse_cv":"high","value_mappings":[{"mapping_type":"revenue","min_revenue":5}]}],
        "lock_conditions":[{"lock_condition_type":"fine_cv","fine_cvs":[9]}]},
        "window_two":{"coarse_cv_mappings":[]}})",
              dict);
    schema = CorvaneSDKSkanConversionSchema::create(dict);
  }
  std::shared_ptr<ManualClock> clock;
  std::shared_ptr<ManualDispatch> dispatch;
  std::shared_ptr<ManualQueue> queue;
  std::shared_ptr<CorvaneSDKSkanConversionSchema> schema;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Env* env = new Env();
  Value input;
  if (!parseJson(reinterpret_cast<const char*>(data), size, input)) return 0;
  auto context = CorvaneSDKSkanConversionContextImpl::initWithData(input, env->queue);
  const Value first = context->serialize();
  auto again = CorvaneSDKSkanConversionContextImpl::initWithData(first, env->queue);
  if (again->serialize() != first) std::abort();

  context->start(env->schema);
  context->recordSession();
  context->recordEvent("a", 2.0);
  context->recordRevenueAd(static_cast<double>(size));
  context->updateTime();
  if (context->fineCv() < 0 || context->fineCv() > 63 || context->postbackWindowIndex() < 0 ||
      context->postbackWindowIndex() > 2) {
    std::abort();
  }
  context.reset();
  again.reset();
  env->dispatch->main().advance(CorvaneSDKSkanConversionContextImpl::kUpdateIntervalMs);  // drops the stale timer
  return 0;
}
