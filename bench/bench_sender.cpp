// Upload throughput: batches of 50 events (~300 bytes each) PUT to a local keep-alive server
// through EventSender's reused handle, against two baselines measured in the same run: a
// fresh libcurl handle (and so a fresh connection) per batch, and building the body alone.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <chrono>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CurlTransport.h"
#include "Event.h"
#include "EventSender.h"
#include "FixedProperties.h"
#include "IdentitySnapshot.h"
#include "Version.h"

namespace {

using namespace CorvaneSDK;

size_t DropBody(char*, size_t size, size_t count, void*) { return size * count; }

struct BenchProperties : Test::FixedProperties {
  BenchProperties() {
    appId = "bench-app";
    userId = "8a6c1e52-3f0b-4c7e-9d21-5b7f0e4a9c13";
    bundleId = "com.example.bench";
    appVersion = "1.0.0";
    buildNumber = "100";
  }
};

constexpr int kEventsPerBatch = 50;
constexpr size_t kEventBytes = 300;

std::vector<std::string> MakeBatch() {
  std::vector<std::string> batch;
  for (int i = 0; i < kEventsPerBatch; ++i) {
    std::string text = R"({"eId":"3f2a9c4e-8b1d-4e6f-a0c2-7d5e9b1f3a)" + std::to_string(100 + i) +
                       R"(","eventName":"level_complete","id":"session","timeInMs":1765000000000,)"
                       R"("value":{"level":)" +
                       std::to_string(i) + R"(,"note":")";
    text += std::string(kEventBytes - 2 - text.size(), 'x');
    text += "\"}}";
    batch.push_back(text);
  }
  return batch;
}

// The local ingestion endpoint: 204 to every PUT, keep-alive, no Nagle delay.
class LocalServer {
 public:
  bool Start() {
    server_.Put(".*", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    server_.set_tcp_nodelay(true);
    server_.set_keep_alive_max_count(1000000);
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int i = 0; i < 2000 && !server_.is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return server_.is_running();
  }
  void Stop() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/v4/event"; }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
};

LocalServer* g_server = nullptr;
const BenchProperties g_properties;

void BM_EventSenderReusedHandle(benchmark::State& state) {
  const auto batch = MakeBatch();
  EventSender sender(g_server->Url(), 0, 500, "YmVuY2g6c2VjcmV0", g_properties);
  for (auto _ : state) {
    sender.SendEvents(batch);
    if (sender.Status() != kSenderSucceeded) {
      state.SkipWithError("upload failed");
      break;
    }
  }
  state.counters["batches/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["events/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kEventsPerBatch), benchmark::Counter::kIsRate);
}

// What every upload would cost without handle reuse: a new handle, a new connection.
void BM_FreshHandlePerBatch(benchmark::State& state) {
  const auto batch = MakeBatch();
  const std::string url = g_server->Url();
  for (auto _ : state) {
    const std::string body = BuildBatchBody(g_properties, batch);
    CURL* h = curl_easy_init();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Accept: */*");
    headers = curl_slist_append(headers, (std::string("User-Agent: ") + kUserAgent).c_str());
    headers = curl_slist_append(headers, "Authorization: Basic YmVuY2g6c2VjcmV0");
    headers = curl_slist_append(headers, "Content-Type: application/json");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, 5000L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &DropBody);
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "PUT");
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    const CURLcode rc = curl_easy_perform(h);
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    curl_slist_free_all(headers);
    curl_easy_cleanup(h);
    if (rc != CURLE_OK || code != 204) {
      state.SkipWithError("upload failed");
      break;
    }
  }
  state.counters["batches/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The part of an upload that is not network: serialising the batch body.
void BM_BuildBatchBodyOnly(benchmark::State& state) {
  const auto batch = MakeBatch();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string body = BuildBatchBody(g_properties, batch);
    bytes += body.size();
    benchmark::DoNotOptimize(body);
  }
  state.counters["batches/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

BENCHMARK(BM_EventSenderReusedHandle)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FreshHandlePerBatch)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildBatchBodyOnly)->Unit(benchmark::kMicrosecond);

// Console output plus the seconds per iteration of every run, for the closing comparison.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  RecordingReporter() : ConsoleReporter(OO_Tabular) {}  // plain text: output goes to logs
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      secondsPerIteration[run.run_name.function_name] =
          run.real_accumulated_time / static_cast<double>(run.iterations);
    }
  }
  std::map<std::string, double> secondsPerIteration;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  EnsureCurlGlobalInit();
  LocalServer server;
  if (!server.Start()) {
    std::cerr << "cannot start the local server\n";
    return 1;
  }
  g_server = &server;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  g_server = nullptr;
  server.Stop();

  const auto& s = reporter.secondsPerIteration;
  auto rate = [&](const char* name) {
    auto it = s.find(name);
    return it == s.end() || it->second <= 0 ? 0.0 : 1.0 / it->second;
  };
  const double reused = rate("BM_EventSenderReusedHandle");
  const double fresh = rate("BM_FreshHandlePerBatch");
  const double build = rate("BM_BuildBatchBodyOnly");
  std::cout << std::fixed << std::setprecision(0) << "\nBatches of " << kEventsPerBatch
            << " events (~" << kEventBytes << " B each), local keep-alive server:\n"
            << "  reused handle (EventSender): " << reused << " batches/s\n"
            << "  fresh handle per batch:      " << fresh << " batches/s\n"
            << "  building the body alone:     " << build << " batches/s\n";
  if (reused > 0 && fresh > 0) {
    std::cout << std::setprecision(2) << "  handle reuse gain: " << reused / fresh << "x\n";
  }
  benchmark::Shutdown();
  return 0;
}
