// Shared frame of the fault and disk-fault tests: the SDK through its C interface with an
// auto-advancing fake clock, labelled events, a ledger of what a server accepted (by eId),
// the retry-schedule bound on request times, and the queue file header read from outside.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Clock.h"
#include "Env.h"
#include "CorvaneSDK.h"
#include "FakeClock.h"
#include "Json.h"
#include "TempDir.h"
#include "TestHttpServer.h"

namespace CorvaneSDK {
namespace Test {

// Every labelled event of every accepted upload, by eId. Thread-safe.
class LabelLedger {
 public:
  static constexpr const char* kEventName = "fault_label";

  // Reads one accepted upload body.
  void Record(const std::string& body) {
    // Unbounded parse: an event may carry a value at the SDK's depth bound, and the body
    // nests it two levels deeper.
    const Json batch = Json::parse(body, nullptr, false);
    std::lock_guard<std::mutex> lock(mutex_);
    ++uploads_;
    if (batch.is_discarded() || !batch.is_object() || !batch.contains("subMessages") ||
        !batch["subMessages"].is_array()) {
      ++corrupt_;
      return;
    }
    if (batch.contains("qvUid") && batch["qvUid"].is_string()) userIds_.insert(batch["qvUid"].get<std::string>());
    for (const Json& e : batch["subMessages"]) {
      if (!e.is_object() || !e.contains("eId") || !e["eId"].is_string()) {
        ++corrupt_;
        continue;
      }
      if (e.value("eventName", std::string()) != kEventName) continue;
      const Json* value = e.contains("value") ? &e["value"] : nullptr;
      if (value == nullptr || !value->is_object() || !value->contains("value") ||
          !(*value)["value"].is_string()) {
        ++corrupt_;
        continue;
      }
      const std::string eId = e["eId"];
      ++eIdCount_[eId];
      labelIds_[(*value)["value"].get<std::string>()].insert(eId);
    }
  }

  bool Has(const std::vector<std::string>& labels) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& l : labels) {
      if (labelIds_.count(l) == 0) return false;
    }
    return true;
  }
  // Labels that arrived under more than one eId, or whose eId arrived more than once.
  int Duplicates() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& e : eIdCount_) n += e.second - 1;
    for (const auto& l : labelIds_) n += static_cast<int>(l.second.size()) - 1;
    return n;
  }
  int Missing(const std::vector<std::string>& labels) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& l : labels) n += labelIds_.count(l) == 0 ? 1 : 0;
    return n;
  }
  int Corrupt() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return corrupt_;
  }
  int Uploads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return uploads_;
  }
  std::set<std::string> UserIds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return userIds_;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, int> eIdCount_;
  std::map<std::string, std::set<std::string>> labelIds_;
  std::set<std::string> userIds_;
  int uploads_ = 0;
  int corrupt_ = 0;
};

// An HTTP server (cpp-httplib) whose answer status can be switched; it records accepted
// bodies in its ledger and the fake time of every request. Thread-safe.
class SwitchServer {
 public:
  SwitchServer() {
    server_.SetHandler("/v4/event", [this](const RecordedRequest& r) {
      const int status = status_.load();
      const int inFlight = ++inFlight_;
      int peak = peakInFlight_.load();
      while (inFlight > peak && !peakInFlight_.compare_exchange_weak(peak, inFlight)) {
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        times_.push_back(GetClock().MonotonicMs());
        codes_.push_back(status);
      }
      if (status >= 200 && status <= 299) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          accepted_.push_back(r.body);
        }
        ledger_.Record(r.body);  // last: tests wait on the ledger, then read the bodies
      }
      const int delay = delayMs_.load();
      if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
      --inFlight_;
      return ScriptedResponse{status, "", "text/plain", 0};
    });
  }
  bool Start() { return server_.Start(); }
  std::string Url() const { return server_.Url("/v4/event"); }
  void SetStatus(int status) { status_ = status; }
  void SetDelay(int ms) { delayMs_ = ms; }
  std::vector<int64_t> Times() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return times_;
  }
  size_t Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return times_.size();
  }
  int PeakInFlight() const { return peakInFlight_; }
  // Whether some accepted body contains `text`.
  bool BodyContains(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& body : accepted_) {
      if (body.find(text) != std::string::npos) return true;
    }
    return false;
  }
  int Refused() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (int code : codes_) n += (code < 200 || code > 299) ? 1 : 0;
    return n;
  }
  LabelLedger& ledger() { return ledger_; }

 private:
  TestHttpServer server_;
  std::atomic<int> status_{204};
  std::atomic<int> delayMs_{0};
  std::atomic<int> inFlight_{0};
  std::atomic<int> peakInFlight_{0};
  mutable std::mutex mutex_;
  std::vector<int64_t> times_;
  std::vector<int> codes_;
  std::vector<std::string> accepted_;
  LabelLedger ledger_;
};

// The header of a queue file, read without the SDK's reader.
struct QueueHeader {
  bool present = false;
  uint32_t fileLength = 0;
  uint32_t count = 0;
};

inline QueueHeader ReadQueueHeader(const std::string& path) {
  QueueHeader h;
  std::ifstream in(path, std::ios::binary);
  unsigned char b[8];
  if (in.read(reinterpret_cast<char*>(b), sizeof(b)) && in.gcount() == sizeof(b)) {
    h.present = true;
    h.fileLength = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    h.count = (uint32_t{b[4]} << 24) | (uint32_t{b[5]} << 16) | (uint32_t{b[6]} << 8) | b[7];
  }
  return h;
}

// The attempts of one upload come 500, 1500 and 4500 ms apart (default back-off, 3 retries)
// and the next upload of a failed batch waits for the queue check interval, so any five
// consecutive attempts span at least 6500 ms + that interval of SDK time. `times` are the
// fake monotonic times at which the server saw each attempt. Returns attempts per minute.
inline double ExpectRetrySchedule(const std::vector<int64_t>& times, int64_t checkIntervalMs,
                                  const char* what) {
  const int64_t cycle = 500 + 1500 + 4500 + checkIntervalMs;
  for (size_t i = 0; i + 4 < times.size(); ++i) {
    EXPECT_GE(times[i + 4] - times[i], cycle)
        << what << ": attempts " << i << " to " << i + 4 << " came faster than the back-off allows";
  }
  if (times.size() < 2 || times.back() == times.front()) return 0;
  return 60000.0 * static_cast<double>(times.size() - 1) /
         static_cast<double>(times.back() - times.front());
}

template <typename P>
bool WaitUntil(P predicate, int timeoutMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// The SDK through its C interface, with time injected. The manager is destroyed before
// the fake clock is retired.
class SdkHarness : public ::testing::Test {
 protected:
  static constexpr int kCheckIntervalMs = 20;

  void TearDown() override { CorvaneSDKManager_Destroy(); }

  std::string SaveDir() const { return dir_.File("save"); }
  std::string QueuePath() const { return SaveDir() + "/.event_queue"; }

  // A record with the host, the save folder and short check intervals; online SDK config off.
  ::InitializationData* Data(const std::string& host) {
    ::InitializationData* data = InitializationData_Create("app", "secret");
    InitializationData_SetHost(data, host.c_str());
    InitializationData_SetConfigUrl(data, "http://127.0.0.1:9/v1/public/config");
    InitializationData_SetSavePath(data, SaveDir().c_str());
    InitializationData_SetDisableOnlineSdkConfig(data, 1);
    InitializationData_SetRegisterURIScheme(data, 0);
    InitializationData_SetQueueCheckInterval(data, kCheckIntervalMs);
    InitializationData_SetSendDelay(data, 0);
    return data;
  }

  // Initializes and waits for the start; destroys `data`.
  CorvaneSDKManagerRef Init(::InitializationData* data) {
    Started() = false;
    CorvaneSDKManager_AddStartCallback(OnStart, 1);
    CorvaneSDKManager_Initialize(data);
    InitializationData_Destroy(data);
    EXPECT_TRUE(WaitUntil([] { return Started().load(); }, 10000)) << "the manager did not start";
    return CorvaneSDKManager_GetInstance();
  }

  // Logs `n` labelled events; returns their labels.
  std::vector<std::string> Log(const std::string& prefix, int n, size_t padding = 0) {
    std::vector<std::string> labels;
    CorvaneSDKManagerRef m = CorvaneSDKManager_GetInstance();
    for (int i = 0; i < n; ++i) {
      labels.push_back(prefix + std::to_string(i) + std::string(padding, '.'));
      CorvaneSDKEvent e = CorvaneSDKEvent_Get(LabelLedger::kEventName);
      CorvaneSDKEvent_SetStringValue(e, labels.back().c_str());
      CorvaneSDKManager_LogEvent(m, e);
    }
    return labels;
  }

  static std::atomic<bool>& Started() {
    static std::atomic<bool> started{false};
    return started;
  }
  static void OnStart(int) { Started() = true; }

  TempDir dir_;
  ScopedFakeClock clock_;  // auto-advance: every SDK sleep moves time at once
};

}  // namespace Test
}  // namespace CorvaneSDK
