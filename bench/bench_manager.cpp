// End-to-end host-side figures of the SDK: the cost of a typed log call on a started
// manager (persistence on, uploader running against a local server) against the baseline
// "build the same event JSON, serialise it and append it to a file with one write", both
// from one and from four threads, median to p99.9 (the tail is what a game sees as a
// dropped frame), Initialize return
// time with an empty and a full queue, and the time to drain 5000 queued events.
// Usage: bench_manager [--quick] [--sets N] [--tail | --tail-detail] [--calls-only]
//                      [--sync-interval MS] [--json FILE]
// --sets N: host-call measures in N alternating sets of SDK and baseline, each figure the
// median over the sets (default 5; 1 with --quick).
// --calls-only: the host-call figures alone, without the initialize and drain phases.
// --sync-interval MS: the queue file's data sync interval (default: the SDK's; 0: none).
// --tail: also say, per measure, whether its slowest calls page-faulted, waited or were
// preempted (Linux; adds two untimed getrusage calls around every call); --tail-detail also
// lists those calls one by one, with their index in their round.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <pthread.h>
#include <sys/resource.h>
#endif

#include "CorvaneSDK.h"
#include "Json.h"
#include "Random.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using CorvaneSDK::Json;

namespace {
std::atomic<int> g_ready{0};
std::atomic<long> g_received{0};
void OnReady(int) {
  g_ready = 1;
}

struct Stats {
  double medianUs = 0, p99Us = 0, p999Us = 0, callsPerSecond = 0;
  double pauseMs = 0;  // mean pause between rounds
};

// Each figure's median over several measures.
Stats Median(std::vector<Stats> all) {
  Stats m;
  if (all.empty()) return m;
  auto median = [&](double Stats::*field) {
    std::vector<double> v;
    for (const Stats& s : all) v.push_back(s.*field);
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  m.medianUs = median(&Stats::medianUs);
  m.p99Us = median(&Stats::p99Us);
  m.p999Us = median(&Stats::p999Us);
  m.callsPerSecond = median(&Stats::callsPerSecond);
  m.pauseMs = median(&Stats::pauseMs);
  return m;
}

Stats Summarise(std::vector<double>& us, double wallSeconds) {
  Stats s;
  if (us.empty()) return s;
  std::sort(us.begin(), us.end());
  auto at = [&](size_t perMille) {
    return us[std::min(us.size() - 1, us.size() * perMille / 1000)];
  };
  s.medianUs = at(500);
  s.p99Us = at(990);
  s.p999Us = at(999);
  s.callsPerSecond = us.size() / wallSeconds;
  return s;
}

bool g_tailDetail = false;  // --tail-detail: also list the slowest calls one by one

// What the calling thread went through during one call (Linux; zero elsewhere).
struct Trace {
  double us = 0;
  long faults = 0, waits = 0, preemptions = 0;
  int round = 0;     // the call's round
  int call = 0;      // the call's index in its round
  double cpuUs = 0;  // of which on the CPU
};

struct Usage {
  long faults = 0, waits = 0, preemptions = 0;
  double cpuUs = 0;  // the thread's own CPU time
};

Usage ThreadUsage() {
  Usage u;
#ifdef __linux__
  struct rusage r {};
  if (getrusage(RUSAGE_THREAD, &r) == 0) {
    u.faults = r.ru_minflt + r.ru_majflt;
    u.waits = r.ru_nvcsw;
    u.preemptions = r.ru_nivcsw;
  }
  struct timespec ts {};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) == 0)
    u.cpuUs = ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
#endif
  return u;
}

struct Samples {
  std::vector<double> us;
  double wallSeconds = 0;
  bool trace = false;  // also keep a Trace of every call (two getrusage calls, untimed)
  std::vector<Trace> traces;
};

// Runs `call(i)` `callsPerRound` times on each of `threads` threads, in `rounds` rounds with
// `between()` run before each round while the threads wait, adding the time of every call
// to `out`. The threads live through all rounds, as a game's own threads do: a fresh thread
// per round would time its first-call costs (a new malloc arena, thread-local set-up) too.
template <typename Call, typename Between>
void Measure(int threads, int rounds, int callsPerRound, Call call, Between between, Samples& out) {
  std::vector<std::vector<double>> samples(threads);
  std::vector<std::vector<Trace>> traces(threads);
  std::mutex mutex;
  std::condition_variable cv;
  int round = -1;  // the latest round the threads may run
  int done = 0;    // threads that finished the current round
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
#ifdef __linux__
      pthread_setname_np(pthread_self(), "bench-caller");
#endif
      samples[t].reserve(static_cast<size_t>(rounds) * callsPerRound);
      if (out.trace) traces[t].reserve(static_cast<size_t>(rounds) * callsPerRound);
      for (int r = 0; r < rounds; ++r) {
        {
          std::unique_lock<std::mutex> lock(mutex);
          cv.wait(lock, [&] { return round >= r; });
        }
        for (int i = 0; i < callsPerRound; ++i) {
          const Usage before = out.trace ? ThreadUsage() : Usage();
          auto a = Clock::now();
          call(i);
          const double us = std::chrono::duration<double, std::micro>(Clock::now() - a).count();
          samples[t].push_back(us);
          if (out.trace) {
            const Usage after = ThreadUsage();
            traces[t].push_back(Trace{us, after.faults - before.faults, after.waits - before.waits,
                                      after.preemptions - before.preemptions, r, i,
                                      after.cpuUs - before.cpuUs});
          }
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (++done == threads) cv.notify_all();
      }
    });
  }
  for (int r = 0; r < rounds; ++r) {
    between();
    const auto start = Clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex);
      round = r;
      done = 0;
    }
    cv.notify_all();
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return done == threads; });
    out.wallSeconds += std::chrono::duration<double>(Clock::now() - start).count();
  }
  for (auto& w : workers) w.join();
  for (auto& s : samples) out.us.insert(out.us.end(), s.begin(), s.end());
  for (auto& s : traces) out.traces.insert(out.traces.end(), s.begin(), s.end());
}

// Why the slowest calls were slow: of the calls at or above the p99.9 (at least 20), how
// many took a page fault, waited (a voluntary switch: a lock or I/O), were preempted, or
// none of these (the call's own work, or time lost outside the thread's accounting).
void ExplainTail(const char* what, std::vector<Trace> traces) {
  if (traces.empty()) return;
  std::sort(traces.begin(), traces.end(),
            [](const Trace& a, const Trace& b) { return a.us > b.us; });
  const size_t n = std::min(traces.size(), std::max<size_t>(20, traces.size() / 1000));
  size_t faulted = 0, waited = 0, preempted = 0, neither = 0;
  for (size_t i = 0; i < n; ++i) {
    const Trace& t = traces[i];
    if (t.faults > 0) ++faulted;
    if (t.waits > 0) ++waited;
    if (t.preemptions > 0) ++preempted;
    if (t.faults == 0 && t.waits == 0 && t.preemptions == 0) ++neither;
  }
  std::printf(
      "tail of %s: the %zu slowest calls (%.1f to %.1f us): %zu page-faulted, %zu waited, "
      "%zu preempted, %zu none of these\n",
      what, n, traces[n - 1].us, traces[0].us, faulted, waited, preempted, neither);
  if (!g_tailDetail) return;
  for (size_t i = 0; i < n; ++i) {
    const Trace& t = traces[i];
    std::printf(
        "  %9.1f us (%.1f on the CPU)  round %d call %d  faults %ld  waits %ld  "
        "preemptions %ld\n",
        t.us, t.cpuUs, t.round, t.call, t.faults, t.waits, t.preemptions);
  }
}

int g_syncIntervalMs = -1;  // --sync-interval; -1: the SDK's default

InitializationData* Data(const std::string& base, const std::string& save, int interval) {
  InitializationData* d = InitializationData_Create("bench-app", "bench-secret");
  InitializationData_SetHost(d, (base + "/v4/event").c_str());
  InitializationData_SetConfigUrl(d, (base + "/v1/public/config").c_str());
  InitializationData_SetSavePath(d, save.c_str());
  if (interval > 0) InitializationData_SetQueueCheckInterval(d, interval);
  if (g_syncIntervalMs >= 0) InitializationData_SetQueueSyncInterval(d, g_syncIntervalMs);
  return d;
}

void WaitReady() {
  for (int i = 0; i < 20000 && g_ready == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Calls are timed in rounds that each fit the queue's bound, uploaded between rounds: calls
// come far faster than a local upload drains them, and a full queue would time its dropping
// instead. The baseline runs in the same rounds, pausing as long: the first call after a pause
// finds cold caches, and only one side paying for that would skew the tail.
int Rounds(int threads, int callsPerThread) {
  return std::max(1, callsPerThread * threads / 2500);
}

Stats MeasureSdk(int threads, int callsPerThread, bool trace = false) {
  CorvaneSDKManagerRef m = CorvaneSDKManager_GetInstance();
  const int rounds = Rounds(threads, callsPerThread);
  Samples samples;
  samples.trace = trace;
  double pausedMs = 0;
  Measure(
      threads, rounds, callsPerThread / rounds,
      [m](int i) { CorvaneSDKManager_LogLevelStart(m, i, "bench-level"); },
      [m, &pausedMs] {
        auto a = Clock::now();
        CorvaneSDKManager_Flush(m, 10000);
        if (getenv("XSLEEP"))
          std::this_thread::sleep_for(std::chrono::milliseconds(atoi(getenv("XSLEEP"))));
        if (getenv("XPRE"))
          for (int k = 0; k < atoi(getenv("XPRE")); ++k) CorvaneSDKManager_LogLevelStart(m, 0, "x");
        pausedMs += std::chrono::duration<double, std::milli>(Clock::now() - a).count();
      },
      samples);
  if (trace)
    ExplainTail(threads == 1 ? "LogLevelStart, 1 thread" : "LogLevelStart, 4 threads",
                samples.traces);
  Stats s = Summarise(samples.us, samples.wallSeconds);
  s.pauseMs = pausedMs / rounds;
  return s;
}

// What a host that logs by hand would do: build the same event, serialise it, and append it
// (length and text) to a shared file with one write.
Stats MeasureBaseline(const std::string& path, int threads, int callsPerThread, double pauseMs,
                      bool trace = false) {
  const int rounds = Rounds(threads, callsPerThread);
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) return Stats();
  std::setvbuf(f, nullptr, _IOFBF, 1 << 16);
  Samples samples;
  samples.trace = trace;
  Measure(
      threads, rounds, callsPerThread / rounds,
      [f](int i) {
        Json e = Json::object();
        e["eId"] = CorvaneSDK::NewUuid();
        e["eventName"] = "qvsdk_level_attempt";
        e["value"] = Json::object({{"label", "bench-level"}, {"level", i}});
        e["id"] = "6a1f0c52-5b0e-4f35-a3f2-8f1e54f0a001";
        e["timeInMs"] =
            static_cast<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
        e["cfgId"] = "default";
        e["customUid"] = "";
        const std::string text = CorvaneSDK::DumpJson(e);
        const uint32_t len = static_cast<uint32_t>(text.size());
        std::string record(reinterpret_cast<const char*>(&len), 4);
        record += text;
        // One locked stream call and one flush: a single write() of the whole record.
        std::fwrite(record.data(), 1, record.size(), f);
        std::fflush(f);
      },
      [pauseMs] {
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(pauseMs));
      },
      samples);
  std::fclose(f);
  if (trace)
    ExplainTail(threads == 1 ? "baseline, 1 thread" : "baseline, 4 threads", samples.traces);
  return Summarise(samples.us, samples.wallSeconds);
}

double InitializeMs(const std::string& base, const std::string& save, double* readyMs) {
  g_ready = 0;
  InitializationData* d = Data(base, save, 0);
  auto a = Clock::now();
  CorvaneSDKManager_Initialize2(d, OnReady);
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - a).count();
  InitializationData_Destroy(d);
  WaitReady();
  *readyMs = std::chrono::duration<double, std::milli>(Clock::now() - a).count();
  return ms;
}

// A started manager that queues but never uploads.
CorvaneSDKManagerRef StartOffline(const std::string& base, const std::string& save) {
  g_ready = 0;
  InitializationData* d = Data(base, save, 0);
  InitializationData_SetOffline(d, 1);
  CorvaneSDKManager_Initialize2(d, OnReady);
  InitializationData_Destroy(d);
  WaitReady();
  return CorvaneSDKManager_GetInstance();
}

// Fills the queue with `n` events while offline, then destroys the manager (events stay on disk).
void Prefill(const std::string& base, const std::string& save, int n) {
  CorvaneSDKManagerRef m = StartOffline(base, save);
  for (int i = 0; i < n; ++i) CorvaneSDKManager_LogLevelStart(m, i, "prefill");
  CorvaneSDKManager_Destroy();
}

// Resident set size of this process in KiB (Linux), 0 when unknown.
long RssKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  if (!(statm >> pages >> resident)) return 0;
  return resident * 4;
}

// Extra memory of a manager holding `n` queued events (offline, so none leaves).
long ExtraRssKiB(const std::string& base, const std::string& save, int n) {
  CorvaneSDKManagerRef m = StartOffline(base, save);
  const long before = RssKiB();
  for (int i = 0; i < n; ++i) CorvaneSDKManager_LogLevelStart(m, i, "memory");
  const long after = RssKiB();
  CorvaneSDKManager_Destroy();
  return after - before;
}

double DrainSeconds(const std::string& base, const std::string& save, int interval, long events) {
  g_ready = 0;
  g_received = 0;
  InitializationData* d = Data(base, save, interval);
  auto a = Clock::now();
  CorvaneSDKManager_Initialize2(d, OnReady);
  InitializationData_Destroy(d);
  while (g_received < events && std::chrono::duration<double>(Clock::now() - a).count() < 300) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  double s = std::chrono::duration<double>(Clock::now() - a).count();
  CorvaneSDKManager_Destroy();
  return s;
}
}  // namespace

int main(int argc, char** argv) {
  bool quick = false, tail = false, callsOnly = false;
  int sets = 0;  // --sets N; 0: 5, or 1 with --quick
  std::string jsonPath;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--quick") quick = true;
    if (arg == "--tail") tail = true;
    if (arg == "--tail-detail") tail = g_tailDetail = true;
    if (arg == "--calls-only") callsOnly = true;
    if (arg == "--sync-interval" && i + 1 < argc) g_syncIntervalMs = std::atoi(argv[++i]);
    if (arg == "--json" && i + 1 < argc) jsonPath = argv[++i];
    if (arg == "--sets" && i + 1 < argc) sets = std::max(1, std::atoi(argv[++i]));
  }
  httplib::Server server;
  server.Put("/v4/event", [](const httplib::Request& req, httplib::Response& res) {
    Json body = Json::parse(req.body, nullptr, false);
    if (!body.is_discarded() && body.contains("subMessages")) {
      long n = 0;
      for (const auto& e : body["subMessages"]) {
        if (e.value("eventName", "") == "qvsdk_level_attempt") ++n;
      }
      g_received += n;
    }
    res.status = 204;
  });
  server.Get("/v1/public/config", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("{}", "application/json");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread serverThread([&] { server.listen_after_bind(); });
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  const fs::path root = fs::temp_directory_path() / ("corvane-bench-" + std::to_string(port));
  fs::create_directories(root);
  // Enough calls for a p99.9 of 20 samples (5 in quick mode); each is some microseconds.
  const int calls = quick ? 5000 : 20000;
  if (sets == 0) sets = quick ? 1 : 5;

  auto phase = [](const char* what) {
    std::fprintf(stderr, "[bench] %s\n", what);
    std::fflush(stderr);
  };
  // First, while the process has allocated nothing else that malloc could reuse.
  phase("memory");
  const long extraRss = ExtraRssKiB(base, (root / "memory").string(), 4998);
  // Sets of SDK and baseline measures, alternating, each figure the median over the sets: one
  // set's tail moves with whatever else the machine did meanwhile.
  std::vector<Stats> ones, fours, base1s, base4s;
  for (int set = 0; set < sets; ++set) {
    phase(
        ("host call cost, set " + std::to_string(set + 1) + " of " + std::to_string(sets)).c_str());
    // On a started manager whose uploader keeps the queue short (1 ms checks), measured after
    // the session's open event has gone, so that nothing is refused; the baseline runs with
    // the manager gone.
    const std::string tag = std::to_string(set);
    g_ready = 0;
    InitializationData* d = Data(base, (root / ("calls" + tag)).string(), 1);
    CorvaneSDKManager_Initialize2(d, OnReady);
    InitializationData_Destroy(d);
    WaitReady();
    std::this_thread::sleep_for(std::chrono::milliseconds(5500));
    ones.push_back(MeasureSdk(1, calls, tail));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    fours.push_back(MeasureSdk(4, calls / 4, tail));
    CorvaneSDKManager_Destroy();
    base1s.push_back(
        MeasureBaseline((root / ("baseline" + tag)).string(), 1, calls, ones.back().pauseMs, tail));
    base4s.push_back(MeasureBaseline((root / ("baseline4-" + tag)).string(), 4, calls / 4,
                                     fours.back().pauseMs, tail));
    if (sets > 1) {
      std::printf(
          "set %d: p99.9 %.1f us vs %.1f us (%.2fx); median %.2fx; 4-thread p99 %.2fx\n", set + 1,
          ones.back().p999Us, base1s.back().p999Us, ones.back().p999Us / base1s.back().p999Us,
          ones.back().medianUs / base1s.back().medianUs, fours.back().p99Us / base4s.back().p99Us);
    }
  }
  const Stats one = Median(ones), four = Median(fours), base1 = Median(base1s),
              base4 = Median(base4s);

  double ready0 = 0, ready5000 = 0, init0 = 0, init5000 = 0, drainDefault = 0, drainFast = 0;
  const long drainEvents = quick ? 500 : 5000;
  // Design limit at defaults: the 5 s hold of the session's open event, then one batch of 50
  // per 500 ms cycle.
  const double designSeconds = 5.0 + drainEvents / 50.0 * 0.5;
  if (!callsOnly) {
    phase("initialize");
    // Initialize with an empty queue and with 5000 queued events.
    init0 = InitializeMs(base, (root / "init0").string(), &ready0);
    CorvaneSDKManager_Destroy();
    Prefill(base, (root / "init5000").string(), 4999);
    init5000 = InitializeMs(base, (root / "init5000").string(), &ready5000);
    CorvaneSDKManager_Destroy();

    phase("drain");
    // Drain 5000 queued events at defaults and with a 1 ms check interval. Two of the 5000 are
    // open events (the prefill's and the new session's), so 4998 level events are prefilled.
    Prefill(base, (root / "drain-default").string(), static_cast<int>(drainEvents - 2));
    drainDefault = DrainSeconds(base, (root / "drain-default").string(), 0, drainEvents - 2);
    Prefill(base, (root / "drain-fast").string(), static_cast<int>(drainEvents - 2));
    drainFast = DrainSeconds(base, (root / "drain-fast").string(), 1, drainEvents - 2);
  }

  server.stop();
  serverThread.join();
  std::error_code ec;
  fs::remove_all(root, ec);

  const double ratioMedian = one.medianUs / base1.medianUs;
  const double ratioP999 = one.p999Us / base1.p999Us;
  const double ratioP99Four = four.p99Us / base4.p99Us;
  if (sets > 1) std::printf("medians over %d sets:\n", sets);
  std::printf("%-44s %10s %10s %10s %12s\n", "measure", "median us", "p99 us", "p99.9 us",
              "calls/s");
  auto row = [](const char* what, const Stats& s) {
    std::printf("%-44s %10.2f %10.2f %10.2f %12.0f\n", what, s.medianUs, s.p99Us, s.p999Us,
                s.callsPerSecond);
  };
  row("LogLevelStart, 1 thread", one);
  row("LogLevelStart, 4 threads", four);
  row("baseline: build + serialise + write, 1 thr", base1);
  row("baseline: build + serialise + write, 4 thr", base4);
  std::printf(
      "in rounds of 2500 calls; mean pause between rounds: %.1f ms (1 thread), %.1f ms "
      "(4 threads)\n",
      one.pauseMs, four.pauseMs);
  std::printf("ratios (SDK / baseline): median %.2f, p99.9 %.2f, 4-thread p99 %.2f\n", ratioMedian,
              ratioP999, ratioP99Four);
  std::printf("extra RSS with 5000 queued events: %ld KiB\n", extraRss);
  if (!callsOnly) {
    std::printf("Initialize return: %.3f ms (empty queue), %.3f ms (5000 queued)\n", init0,
                init5000);
    std::printf("Initialize to ready: %.1f ms (empty queue), %.1f ms (5000 queued)\n", ready0,
                ready5000);
    std::printf(
        "drain %ld events: %.2f s at defaults (design limit %.1f s, %.0f%%), %.2f s at 1 ms "
        "interval\n",
        drainEvents, drainDefault, designSeconds, 100.0 * designSeconds / drainDefault, drainFast);
  }
  if (!jsonPath.empty()) {
    Json out = {{"host_call_median_us", one.medianUs},
                {"host_call_p99_us", one.p99Us},
                {"host_call_p999_us", one.p999Us},
                {"host_call_p99_4_threads_us", four.p99Us},
                {"calls_per_second_1_thread", one.callsPerSecond},
                {"calls_per_second_4_threads", four.callsPerSecond},
                {"baseline_median_us", base1.medianUs},
                {"baseline_p99_us", base1.p99Us},
                {"baseline_p999_us", base1.p999Us},
                {"baseline_p99_4_threads_us", base4.p99Us},
                {"ratio_median", ratioMedian},
                {"ratio_p999", ratioP999},
                {"ratio_p99_4_threads", ratioP99Four},
                {"round_pause_ms_1_thread", one.pauseMs},
                {"round_pause_ms_4_threads", four.pauseMs},
                {"sets", sets},
                {"initialize_ms_empty", init0},
                {"initialize_ms_5000", init5000},
                {"ready_ms_empty", ready0},
                {"ready_ms_5000", ready5000},
                {"drain_events", drainEvents},
                {"drain_seconds_default", drainDefault},
                {"drain_seconds_1ms", drainFast},
                {"drain_design_seconds", designSeconds},
                {"extra_rss_kib_5000_queued", extraRss}};
    std::ofstream(jsonPath) << out.dump(2) << "\n";
  }
  return 0;
}
