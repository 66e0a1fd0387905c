// A sample game loop driving the SDK through its C interface against a running
// corvane-collector (./run demo starts one and passes its address). It waits until the
// collector has stored every event the SDK reports as sent, then exits.
#include <httplib.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "CorvaneSDK.h"

namespace {

using Json = nlohmann::json;

const char kUsage[] =
    "usage: desktop-demo BASE_URL\n"
    "  BASE_URL  address of a running corvane-collector, e.g. http://127.0.0.1:8787\n"
    "            (./run demo starts one and runs this demo against it)\n";

std::atomic<bool> g_ready{false};
std::atomic<int> g_sent{0};            // events and sub-events the SDK reports as sent
std::atomic<int> g_openEventsSent{0};  // one per session
std::atomic<bool> g_finishSent{false};

std::mutex g_remoteMutex;
std::condition_variable g_remoteCv;
bool g_remoteDone = false;
std::string g_remoteConfig;

void OnReady(int) {
  g_ready = true;
}

void OnDeepLink(const char* url, int) {
  std::printf("  deep link callback: %s\n", url);
}

// Runs on the SDK's upload thread, once per event when it first goes out.
void OnSendEvent(const char* name, const char*, int) {
  const std::string event = name;
  if (event == "qvsdk_open" || event == "qvsdk_first_open") ++g_openEventsSent;
  if (event == "demo_finished") g_finishSent = true;
  ++g_sent;
}

void OnRemoteConfig(const char* json, int) {
  std::lock_guard<std::mutex> lock(g_remoteMutex);
  g_remoteConfig = json != nullptr ? json : "";
  g_remoteDone = true;
  g_remoteCv.notify_all();
}

std::string Take(char* text) {
  std::string out = text != nullptr ? text : "";
  std::free(text);
  return out;
}

void Pause(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string QueryEscape(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// The collector's count of stored events for one user, or -1 when it cannot be read.
long long StoredEvents(httplib::Client& collector, const std::string& user) {
  auto result = collector.Get(("/api/stats?user=" + QueryEscape(user)).c_str());
  if (!result || result->status != 200) return -1;
  Json stats = Json::parse(result->body, nullptr, false);
  if (!stats.is_object() || !stats["events"].is_number_integer()) return -1;
  return stats["events"].get<long long>();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]).compare(0, 7, "http://") != 0) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string base = argv[1];
  while (!base.empty() && base.back() == '/') base.pop_back();

  httplib::Client collector(base);
  collector.set_connection_timeout(2, 0);
  collector.set_read_timeout(5, 0);
  if (StoredEvents(collector, "") < 0) {
    std::fprintf(stderr,
                 "no corvane-collector answers at %s (start one with: corvane-collector serve)\n",
                 base.c_str());
    return 1;
  }

  // A fresh save folder: a first run, with a new user id.
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const std::filesystem::path save =
      std::filesystem::temp_directory_path() / ("corvane-demo-" + std::to_string(stamp));

  std::printf("[demo] starting the SDK against %s\n", base.c_str());
  InitializationData* data = InitializationData_Create("demo-app", "demo-secret");
  InitializationData_SetHost(data, (base + "/v4/event").c_str());
  InitializationData_SetConfigUrl(data, (base + "/v1/public/config").c_str());
  InitializationData_SetSavePath(data, save.string().c_str());
  InitializationData_SetBundleId(data, "com.corvane.demo");
  InitializationData_SetAppVersion(data, "1.2.0");
  InitializationData_SetAppBuildNumber(data, "120");
  InitializationData_SetWrapper(data, "demo-engine");
  InitializationData_SetWrapperVersion(data, "1.0");
  InitializationData_SetQueueCheckInterval(data, 100);
  InitializationData_SetSendDelay(data, 200);
  // The game was opened from a link; the SDK reports it once it is ready.
  CorvaneSDKManager_OpenURL("demo://reward?item=sword");
  CorvaneSDKManager_AddDeepLinkCallback(OnDeepLink, 1);
  CorvaneSDKManager_AddSendEventCallback(OnSendEvent, 1);
  CorvaneSDKManager_Initialize2(data, OnReady);
  InitializationData_Destroy(data);
  for (int i = 0; i < 600 && !g_ready; ++i) Pause(25);
  if (!g_ready) {
    std::fprintf(stderr, "[demo] the SDK did not finish initializing\n");
    CorvaneSDKManager_Destroy();
    return 1;
  }

  CorvaneSDKManagerRef sdk = CorvaneSDKManager_GetInstance();
  const std::string user = Take(CorvaneSDKManager_GetUserId(sdk));
  std::printf("[demo] user %s, session %s\n", user.c_str(),
              Take(CorvaneSDKManager_GetSessionId(sdk)).c_str());
  const Json sdkConfig = Json::parse(Take(CorvaneSDKManager_GetSdkConfig(sdk)), nullptr, false);
  if (sdkConfig.is_object()) {
    std::printf(
        "[demo] SDK configuration received, hash %.12s..., facebookAppId %s\n",
        sdkConfig.value("hash", "").c_str(),
        sdkConfig.value("/thirdPartySettings/facebookAppId"_json_pointer, "(none)").c_str());
  }

  std::printf("[demo] session 1: boot, three levels, an ad, a purchase\n");
  CorvaneSDKManager_LogBootStart(sdk);
  Pause(50);
  CorvaneSDKManager_LogBootEnd(sdk);
  for (int level = 1; level <= 3; ++level) {
    CorvaneSDKManager_LogLevelStart(sdk, level, "forest");
    Pause(30);
    CorvaneSDKManager_LogLevelEnd(sdk, level, "forest", level != 2);
  }
  CorvaneSDKManager_LogAdImpression(sdk, "reward-video", CORVANE_AD_REWARDED_VIDEO);
  CorvaneSDKManager_LogAdRevenue3(sdk, "demo-mediation", 0.012, "USD", "demo-network", "{}");
  CorvaneSDKManager_LogIAPResult(sdk, "gems_100", 4.99, 1, "EUR", 1);
  CorvaneSDKManager_LogIAPReceipt_Windows(sdk, "<receipt/>");

  std::printf("[demo] the player switches away and back (same session)\n");
  CorvaneSDKManager_OnPause(sdk);
  Pause(300);
  CorvaneSDKManager_OnResume(sdk);

  std::printf("[demo] user info and a custom event\n");
  CorvaneSDKManager_SetUserCity(sdk, "Lisbon");
  CorvaneSDKManager_SetUserYearOfBirth(sdk, 1990);
  CorvaneSDKManager_LogWithMapValue(sdk, "shop_open", "tab:weapons\nfrom:menu");

  std::printf("[demo] fetching the remote config\n");
  CorvaneSDKManager_FetchRemoteConfig(sdk, OnRemoteConfig);
  std::string remote;
  {
    std::unique_lock<std::mutex> lock(g_remoteMutex);
    g_remoteCv.wait_for(lock, std::chrono::seconds(30), [] { return g_remoteDone; });
    remote = g_remoteDone ? g_remoteConfig : "(no answer)";
  }
  const Json remoteJson = Json::parse(remote, nullptr, false);
  if (remoteJson.is_object()) remote = remoteJson.dump();
  std::printf("  remote config: %s\n", remote.empty() ? "(none)" : remote.c_str());
  const std::string difficulty = remoteJson.is_object() && remoteJson.contains("difficulty") &&
                                         remoteJson["difficulty"].is_string()
                                     ? remoteJson["difficulty"].get<std::string>()
                                     : "normal";
  CorvaneSDKManager_LogWithStringValue(sdk, "difficulty_applied", difficulty.c_str());

  std::printf("[demo] the game is closed and opened again (session 2)\n");
  CorvaneSDKManager_Stop(sdk);
  CorvaneSDKManager_Start(sdk);
  std::printf("  new session %s\n", Take(CorvaneSDKManager_GetSessionId(sdk)).c_str());
  CorvaneSDKManager_LogLevelStart(sdk, 4, "cave");
  Pause(30);
  CorvaneSDKManager_LogLevelEnd(sdk, 4, "cave", 1);
  CorvaneSDKManager_Log(sdk, "demo_finished");

  // Done when both sessions' open events and the last event have gone out, and the collector
  // holds as many events for this user as the SDK reported sending.
  // A game about to exit: send what is queued now rather than leaving it for the next run
  // (this also ends the open event's 5 s hold).
  const auto flushStart = std::chrono::steady_clock::now();
  const int empty = CorvaneSDKManager_Flush(sdk, 10000);
  std::printf("[demo] flush: queue %s after %lld ms\n", empty ? "empty" : "not empty",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - flushStart)
                                         .count()));
  std::printf("[demo] waiting for the collector to hold every event\n");
  long long stored = -1;
  bool delivered = false;
  for (int i = 0; i < 300 && !delivered; ++i) {
    Pause(100);
    stored = StoredEvents(collector, user);
    delivered = g_openEventsSent >= 2 && g_finishSent && stored == g_sent.load();
  }
  CorvaneSDKManager_Destroy();
  std::error_code ignored;
  std::filesystem::remove_all(save, ignored);

  if (!delivered) {
    std::printf(
        "[demo] not everything arrived: the SDK sent %d events, the collector stored %lld\n",
        g_sent.load(), stored);
    return 1;
  }
  std::printf("[demo] delivered: the SDK sent %d events, the collector stored %lld\n",
              g_sent.load(), stored);
  return 0;
}
