// File storage cost for the event queue: setJSON + jsonForKey of a 5000-event queue (about
// 2.5 MB), plain and encrypted in both blob forms, against a baseline measured in the same
// run: serialise the same array and write it with one atomic replace.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "CorvaneSDKCrypto.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKLog.h"
#include "BenchPorts.h"
#include "Platform.h"

using namespace CorvaneSDK::Mobile;
namespace fs = std::filesystem;

namespace {

const std::string& root() { return Bench::Root("mobile"); }

// 5000 events of about 500 bytes of JSON each.
const Value& queue() {
  static const Value q = [] {
    Value out = Value::array();
    for (int i = 0; i < 5000; ++i) {
      Value e = Value::object();
      e["eId"] = "6f1c2a9e-3b7d-4e2f-9a1c-" + std::to_string(100000000000 + i);
      e["id"] = "a3c1f0e2-5d4b-4c7a-8e9f-0b1c2d3e4f50";
      e["timeInMs"] = 1765000000000LL + i;
      e["cfgId"] = "default";
      e["customUid"] = "player-42";
      e["eventName"] = "qvsdk_level_attempt";
      e["value"] = Value{{"level", i % 100},
                         {"name", "level"},
                         {"world", "forest"},
                         {"difficulty", "hard"},
                         {"attempt", i % 7},
                         {"score", 1234.5 + i},
                         {"note", std::string(200, 'n')}};
      out.push_back(std::move(e));
    }
    return out;
  }();
  return q;
}

const char* const kKey = "corvane.sdk.queue.plist";

void BM_Baseline_SerialiseAndAtomicReplace(benchmark::State& state) {
  auto fs = Platform::current()->fileSystem;
  const std::string folder = root() + "/baseline";
  fs->createDirectories(folder, nullptr);
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = queue().dump();
    bytes = text.size();
    if (!fs->writeAtomically(folder + "/queue.json", text, nullptr)) state.SkipWithError("write failed");
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

void runStorage(benchmark::State& state, std::shared_ptr<CorvaneSDKCrypto> crypto, const char* folder) {
  CorvaneSDKFileStorage storage(root() + "/" + folder, std::move(crypto));
  for (auto _ : state) {
    storage.setJSON(queue(), kKey);
    auto back = storage.jsonForKey(kKey);
    if (!back || back->size() != 5000) state.SkipWithError("queue did not read back");
    benchmark::DoNotOptimize(back);
  }
  std::error_code ec;
  state.counters["file_bytes"] = static_cast<double>(fs::file_size(storage.urlForKey(kKey), ec));
}

void BM_FileStorage_Plain(benchmark::State& state) { runStorage(state, nullptr, "plain"); }
void BM_FileStorage_EncryptedPasswordOnly(benchmark::State& state) {
  runStorage(state, CorvaneSDKAES256Crypto::initWithPassword("bench password"), "password-only");
}
void BM_FileStorage_EncryptedSaltAndIV(benchmark::State& state) {
  runStorage(state, CorvaneSDKAES256Crypto::initWithPassword("bench password", "8bytes!!", "sixteen byte iv."),
             "salt-iv");
}

BENCHMARK(BM_Baseline_SerialiseAndAtomicReplace)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileStorage_Plain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileStorage_EncryptedPasswordOnly)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileStorage_EncryptedSaltAndIV)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each benchmark's real time per iteration for the comparison printed at the end.
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

}  // namespace

int main(int argc, char** argv) {
  root();
  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto base = reporter.times.find("BM_Baseline_SerialiseAndAtomicReplace/real_time");
  if (base != reporter.times.end() && base->second > 0) {
    std::printf("\nAgainst the baseline (serialise + one atomic replace, %.2f ms):\n", base->second);
    for (const auto& [name, t] : reporter.times) {
      if (name != base->first) std::printf("  %-48s %8.2f ms  %5.2fx\n", name.c_str(), t, t / base->second);
    }
  }
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(root(), ec);
  return 0;
}
