// The mobile manager's costs against baselines measured in the same run:
// - a typed log call (logLevelStart) on a started manager, from 1 and 4 threads: median, p99
//   and calls/s, against the desktop-style baseline (build the same event, serialise it and
//   append it to a file under a lock);
// - the return time of `initialize` over a stored queue of 5000 events.
// Targets: median log call within 2x the baseline; initialize under 5 ms.
// A plain program (flags of the benchmark runner are accepted and ignored).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "CorvaneSDKLog.h"
#include "CorvaneSDKManager.h"
#include "CorvaneSDKUtils.h"
#include "BenchPorts.h"
#include "Platform.h"

using namespace CorvaneSDK::Mobile;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

using Bench::SilentLog;

struct Stats {
  double medianUs = 0, p99Us = 0, callsPerSecond = 0;
};

// Runs `call` `perThread` times on each of `threads` threads; every call timed on its own.
template <typename F>
Stats measure(int threads, int perThread, F call) {
  std::vector<std::vector<double>> samples(threads);
  const auto start = Steady::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      samples[t].reserve(perThread);
      for (int i = 0; i < perThread; ++i) {
        const auto a = Steady::now();
        call(i);
        samples[t].push_back(std::chrono::duration<double, std::micro>(Steady::now() - a).count());
      }
    });
  }
  for (auto& w : workers) w.join();
  const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
  std::vector<double> all;
  for (auto& s : samples) all.insert(all.end(), s.begin(), s.end());
  std::sort(all.begin(), all.end());
  Stats out;
  out.medianUs = all[all.size() / 2];
  out.p99Us = all[std::min(all.size() - 1, all.size() * 99 / 100)];
  out.callsPerSecond = static_cast<double>(all.size()) / seconds;
  return out;
}

std::shared_ptr<CorvaneSDKConfiguration> configuration() {
  auto c = CorvaneSDKConfiguration::configurationWithAppId("bench", "secret");
  c->host = "http://127.0.0.1:9/v4/event";  // nothing listens: the run is offline anyway
  c->configUrl = "http://127.0.0.1:9/v1/public/config";
  c->disableOnlineSdkConfig = true;
  c->offline = true;
  c->flushAt = 1000000;
  return c;
}

std::shared_ptr<CorvaneSDKManager> startManager() {
  auto m = CorvaneSDKManager::initialize(configuration());
  const auto deadline = Steady::now() + std::chrono::seconds(30);
  while (m && !m->hasStarted() && Steady::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return m;
}

void report(const char* name, const Stats& s, const Stats& base) {
  std::printf("%-34s median %8.2f us  p99 %8.2f us  %10.0f calls/s  (median %.2fx baseline)\n", name, s.medianUs,
              s.p99Us, s.callsPerSecond, base.medianUs > 0 ? s.medianUs / base.medianUs : 0.0);
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / ("corvane-bench-manager-" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  auto ports = std::make_shared<Ports>(Platform::portable(dir.string()));
  ports->log = std::make_shared<SilentLog>();
  auto device = std::make_shared<LinuxDevice>();
  device->setBundle(BundleRecord{"com.corvane.bench", std::nullopt, ""});
  ports->device = device;
  Platform::install(ports);
  CorvaneSDKLog::setDebug(false);

  // Baseline: the same event built, serialised and appended to a file under a lock.
  std::mutex fileMutex;
  std::ofstream file(dir / "baseline.jsonl", std::ios::app);
  auto baseline = [&](int i) {
    Value e = Value::object();
    e["eId"] = CorvaneSDKUtils::createUUIDString();
    e["eventName"] = "qvsdk_level_attempt";
    e["value"] = Value{{"level", i % 100}, {"label", "forest"}};
    e["id"] = "a3c1f0e2-5d4b-4c7a-8e9f-0b1c2d3e4f50";
    e["timeInMs"] = 1765000000000LL + i;
    e["cfgId"] = "default";
    const std::string line = dumpJson(e) + "\n";
    std::lock_guard<std::mutex> lock(fileMutex);
    file << line;
  };

  auto manager = startManager();
  if (!manager) {
    std::fprintf(stderr, "manager did not start\n");
    return 1;
  }
  const int calls = 4000;  // the queue keeps at most 5000: every call is an accepted event
  for (int threads : {1, 4}) {
    const Stats base = measure(threads, calls / threads, baseline);
    const Stats log = measure(threads, calls / threads, [&](int i) { manager->logLevelStart(i % 100, "forest"); });
    std::printf("-- %d thread%s\n", threads, threads > 1 ? "s" : "");
    report("baseline (serialise + append)", base, base);
    report("logLevelStart on a started manager", log, base);
    CorvaneSDKManager::shutdown();  // writes the queue; the next round starts from it
    manager = startManager();
  }

  // initialize over a stored queue of 5000 events.
  for (int i = 0; static_cast<int>(manager->getQueueSize()) < 5000 && i < 6000; ++i) manager->log("filler", 0);
  CorvaneSDKManager::shutdown();
  std::vector<double> times;
  for (int round = 0; round < 9; ++round) {
    const auto a = Steady::now();
    auto m = CorvaneSDKManager::initialize(configuration());
    times.push_back(std::chrono::duration<double, std::milli>(Steady::now() - a).count());
    const auto deadline = Steady::now() + std::chrono::seconds(30);
    while (m->getQueueSize() < 5000 && Steady::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (round == 0) std::printf("-- stored queue: %llu events\n", static_cast<unsigned long long>(m->getQueueSize()));
    CorvaneSDKManager::shutdown();
  }
  std::sort(times.begin(), times.end());
  std::printf("initialize with the stored queue      median %8.2f ms  max %8.2f ms  (target < 5 ms)\n",
              times[times.size() / 2], times.back());
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return 0;
}
