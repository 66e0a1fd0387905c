// Fuzz target for the delivery engine's stored queue: any bytes in "corvane.sdk.queue.plist"
// (JSON, a property list, garbage). Loading never crashes or throws; what is kept is a list of
// maps without process numbers, within the queue bound; after one more event and the
// termination save, the file reads back as exactly the engine's queue.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKHTTPClient.h"
#include "CorvaneSDKManagerIntegration.h"
#include "FuzzPorts.h"

using namespace CorvaneSDK::Mobile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = Fuzz::installFuzzPorts("engine-queue");
  static bool ready = [] {
    // Queues run by hand on the calling thread; no request ever leaves (nothing is started).
    auto ports = std::make_shared<Ports>(*Platform::current());
    ports->dispatch = std::make_shared<ManualDispatch>(std::make_shared<ManualClock>(), true);
    ports->httpSession = std::make_shared<ManualHTTPSessionFactory>();
    Platform::install(ports);
    return true;
  }();
  (void)ready;
  static auto client = std::make_shared<CorvaneSDKHTTPClient>();
  static auto storage = std::make_shared<CorvaneSDKFileStorage>(root + "/storage", nullptr);
  static auto configuration = [] {
    auto c = std::make_shared<CorvaneSDKConfiguration>("app", "secret");
    c->maxQueueSize = 100;
    return c;
  }();
  {
    std::ofstream out(storage->urlForKey(kCorvaneSDKQueueStorageKey), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  auto engine = CorvaneSDKManagerIntegration::create({}, configuration, client, storage, nullptr);
  const Value loaded = engine->queueSnapshot();
  Fuzz::require(loaded.is_array() && loaded.size() <= configuration->maxQueueSize);
  for (const auto& e : loaded) Fuzz::require(e.is_object() && !e.contains("processId"));
  engine->enqueueEvent(Value{{"eId", "fuzz"}, {"eventName", "fuzz"}});
  engine->applicationWillTerminate();
  const Value queued = engine->queueSnapshot();
  Fuzz::require(queued.size() == std::min<size_t>(loaded.size() + 1, configuration->maxQueueSize));
  Fuzz::require(queued.back()["eId"] == "fuzz");
  auto stored = storage->arrayForKey(kCorvaneSDKQueueStorageKey);
  Fuzz::require(stored.has_value() && dumpJson(*stored) == dumpJson(queued));
  return 0;
}
