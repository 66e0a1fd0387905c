// Delivery engine cost against a baseline measured in the same run (serialise one event and
// append it to a file): per-event cost of a burst of logs through the serial queue with 0,
// 1000 and 5000 events queued, the cost of the log call alone, the drain of 5000 events to a
// local server with flushAt 50, and the heap held by 5000 queued events.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "CorvaneJSONSerializer.h"
#include "CorvaneSDKConfiguration.h"
#include "CorvaneSDKEvent.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKHTTPClient.h"
#include "CorvaneSDKIntegrationHost.h"
#include "CorvaneSDKManagerIntegration.h"
#include "BenchPorts.h"
#include "Platform.h"
#include "TestHttpServer.h"

using namespace CorvaneSDK::Mobile;
namespace fs = std::filesystem;

namespace {

constexpr int kBurst = 100;

class BenchManager : public CorvaneSDKIntegrationHost {
 public:
  bool checkReady() override { return true; }
  void onSendEvent(const Value&) override {}
  void onFinishFlush() override { ++finished; }
  std::string getUserId() override { return "user"; }
  std::string getSessionId() override { return "session"; }
  std::string getHost() override { return url; }
  std::string getCredential() override { return "YXBwOnNlY3JldA=="; }
  std::string url = "http://127.0.0.1:9/v4/event";
  std::atomic<int> finished{0};
};

const std::string& root() { return Bench::Root("engine"); }

std::shared_ptr<CorvaneSDKLogOperation> event(int i) {
  Value payload{{"level", i % 100}, {"name", "level"}, {"world", "forest"}, {"difficulty", "hard"},
                {"attempt", i % 7}, {"score", 1234.5 + i}, {"note", std::string(200, 'n')}};
  return std::make_shared<CorvaneSDKLogOperation>("qvsdk_level_attempt", payload,
                                                  "a3c1f0e2-5d4b-4c7a-8e9f-0b1c2d3e4f50", "default",
                                                  std::optional<std::string>("player-42"));
}

std::shared_ptr<CorvaneSDKManagerIntegration> makeEngine(const std::shared_ptr<BenchManager>& manager,
                                                         const std::string& folder, uint64_t maxQueue,
                                                         uint64_t flushAt = 20) {
  fs::remove_all(root() + "/" + folder);
  auto configuration = std::make_shared<CorvaneSDKConfiguration>("app", "secret");
  configuration->maxQueueSize = maxQueue;
  configuration->flushAt = flushAt;
  auto storage = std::make_shared<CorvaneSDKFileStorage>(root() + "/" + folder, nullptr);
  return CorvaneSDKManagerIntegration::create(manager, configuration, std::make_shared<CorvaneSDKHTTPClient>(),
                                              storage, nullptr);
}

void BM_Baseline_SerialiseAndAppend(benchmark::State& state) {
  const std::string path = root() + "/baseline.json";
  std::FILE* file = std::fopen(path.c_str(), "ab");
  auto probe = std::make_shared<BenchManager>();
  auto engine = makeEngine(probe, "baseline-engine", 0);
  int i = 0;
  for (auto _ : state) {
    const std::string text = CorvaneJSONSerializer::dataWithRootObject(engine->generateDictionary(*event(i++), false));
    std::fwrite(text.data(), 1, text.size(), file);
    std::fputc(',', file);
    std::fflush(file);
  }
  std::fclose(file);
  state.SetItemsProcessed(state.iterations());
}

// A burst of logs, then a wait until the serial queue has done them (writes included).
void BM_Engine_BurstPerEvent(benchmark::State& state) {
  const int queued = static_cast<int>(state.range(0));
  auto manager = std::make_shared<BenchManager>();
  auto engine = makeEngine(manager, "burst-" + std::to_string(queued), queued == 0 ? kBurst : queued);
  for (int i = 0; i < queued; ++i) engine->log(event(i));
  engine->dispatchBackgroundAndWait([] {});
  const uint64_t writesBefore = engine->persistCount();
  int i = 0;
  for (auto _ : state) {
    for (int k = 0; k < kBurst; ++k) engine->log(event(i++));
    engine->dispatchBackgroundAndWait([] {});
  }
  engine->dispatchBackgroundAndWait([] {});
  state.SetItemsProcessed(state.iterations() * kBurst);
  state.counters["writes_per_burst"] =
      static_cast<double>(engine->persistCount() - writesBefore) / static_cast<double>(state.iterations());
}

// The host's side only: what one log call costs the calling thread.
void BM_Engine_LogCall(benchmark::State& state) {
  auto manager = std::make_shared<BenchManager>();
  auto engine = makeEngine(manager, "log-call", 5000);
  int i = 0;
  for (auto _ : state) {
    engine->log(event(i++));
    if (i % 1000 == 0) {
      state.PauseTiming();
      engine->dispatchBackgroundAndWait([] {});
      state.ResumeTiming();
    }
  }
  engine->dispatchBackgroundAndWait([] {});
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Baseline_SerialiseAndAppend)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Engine_BurstPerEvent)->Arg(0)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Engine_LogCall)->Unit(benchmark::kMicrosecond)->UseRealTime();

class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        times[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

size_t heapInUse() {
  malloc_trim(0);
  return mallinfo2().uordblks;
}

void drainAndMemory() {
  CorvaneSDK::Test::TestHttpServer server;
  if (!server.Start()) {
    std::printf("no local server; drain not measured\n");
    return;
  }
  auto manager = std::make_shared<BenchManager>();
  manager->url = server.Url("/v4/event");
  auto engine = makeEngine(manager, "drain", 5000, 50);
  engine->getQueueSize();
  const size_t before = heapInUse();
  for (int i = 0; i < 5000; ++i) engine->log(event(i));
  engine->getQueueSize();
  engine->dispatchBackgroundAndWait([] {});
  const size_t after = heapInUse();
  std::printf("\nHeap held by 5000 queued events: %.2f MB (target <= 4 MB)\n",
              static_cast<double>(after - before) / (1024.0 * 1024.0));
  const auto t0 = std::chrono::steady_clock::now();
  engine->start();
  while (manager->finished.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("Drain of 5000 events in %zu uploads: %.3f s, %.0f events/s (target >= 2000)\n",
              server.Count("/v4/event"), seconds, 5000.0 / seconds);
}

}  // namespace

int main(int argc, char** argv) {
  root();
  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto base = reporter.times.find("BM_Baseline_SerialiseAndAppend/real_time");
  if (base != reporter.times.end() && base->second > 0) {
    std::printf("\nPer event against the baseline (serialise one event + append, %.2f us; target <= 10x):\n",
                base->second);
    for (const auto& [name, t] : reporter.times) {
      if (name == base->first) continue;
      const double perEvent = name.find("Burst") != std::string::npos ? t / kBurst : t;
      std::printf("  %-44s %8.2f us  %6.2fx\n", name.c_str(), perEvent, perEvent / base->second);
    }
  }
  drainAndMemory();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(root(), ec);
  return 0;
}
