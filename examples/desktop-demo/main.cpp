// A sample game loop driving the SDK through its C interface against a small local server
// that plays the ingestion endpoint and prints what it received.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>

#include "CorvaneSDK.h"

namespace {
std::mutex g_mutex;
std::map<std::string, int> g_byName;
std::set<std::string> g_eIds;
std::set<std::string> g_sessions;
int g_duplicates = 0;
std::atomic<int> g_total{0};
std::atomic<bool> g_ready{false};

void Record(const nlohmann::json& event) {
  const std::string eId = event.value("eId", "");
  const std::string name = event.value("eventName", "");
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_eIds.insert(eId).second) {
    ++g_duplicates;
    return;
  }
  ++g_byName[name];
  if (!event.value("id", "").empty()) g_sessions.insert(event.value("id", ""));
  ++g_total;
}

void OnReady(int) { g_ready = true; }
void OnDeepLink(const char* url, int) { std::printf("  deep link callback: %s\n", url); }
}  // namespace

int main() {
  httplib::Server server;
  server.Put("/v4/event", [](const httplib::Request& req, httplib::Response& res) {
    auto body = nlohmann::json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.contains("subMessages")) {
      res.status = 400;
      return;
    }
    for (const auto& event : body["subMessages"]) {
      Record(event);
      if (event.contains("subEvents")) {
        for (const auto& sub : event["subEvents"]) Record(sub);
      }
    }
    res.status = 204;
  });
  server.Get("/v1/public/config", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("{}", "application/json");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread serverThread([&] { server.listen_after_bind(); });
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  std::printf("local endpoint: %s\n", base.c_str());

  const std::string save =
      (std::filesystem::temp_directory_path() / ("corvane-demo-" + std::to_string(port))).string();
  InitializationData* data = InitializationData_Create("demo-app", "demo-secret");
  InitializationData_SetHost(data, (base + "/v4/event").c_str());
  InitializationData_SetConfigUrl(data, (base + "/v1/public/config").c_str());
  InitializationData_SetSavePath(data, save.c_str());
  InitializationData_SetQueueCheckInterval(data, 100);
  InitializationData_SetSendDelay(data, 200);
  InitializationData_SetAppVersion(data, "1.2.0");
  InitializationData_SetWrapper(data, "demo-engine");
  CorvaneSDKManager_OpenURL("demo://reward?item=sword");
  CorvaneSDKManager_AddDeepLinkCallback(OnDeepLink, 1);
  CorvaneSDKManager_Initialize2(data, OnReady);
  InitializationData_Destroy(data);
  for (int i = 0; i < 200 && !g_ready; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));

  CorvaneSDKManagerRef sdk = CorvaneSDKManager_GetInstance();
  char* user = CorvaneSDKManager_GetUserId(sdk);
  std::printf("user id: %s\n", user != nullptr ? user : "(none)");
  std::free(user);

  // The game loop.
  CorvaneSDKManager_LogBootStart(sdk);
  CorvaneSDKManager_LogBootEnd(sdk);
  for (int level = 1; level <= 3; ++level) {
    CorvaneSDKManager_LogLevelStart(sdk, level, "forest");
    CorvaneSDKManager_LogLevelEnd(sdk, level, "forest", level != 2);
  }
  CorvaneSDKManager_LogAdImpression(sdk, "reward-video", CORVANE_AD_REWARDED_VIDEO);
  CorvaneSDKManager_LogAdRevenue3(sdk, "demo-mediation", 0.012, "USD", "demo-network", "{}");
  CorvaneSDKManager_LogIAPResult(sdk, "gems_100", 4.99, 1, "EUR", 1);
  CorvaneSDKManager_LogIAPReceipt_Windows(sdk, "<receipt/>");
  CorvaneSDKManager_SetUserCity(sdk, "Lisbon");
  CorvaneSDKManager_OnPause(sdk);
  CorvaneSDKManager_OnResume(sdk);
  CorvaneSDKManager_LogWithMapValue(sdk, "shop_open", "tab:weapons\nfrom:menu");

  const int expected = 16;
  for (int i = 0; i < 400 && g_total < expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  CorvaneSDKManager_Destroy();
  server.stop();
  serverThread.join();
  std::error_code ec;
  std::filesystem::remove_all(save, ec);

  std::lock_guard<std::mutex> lock(g_mutex);
  std::printf("\nthe server received %d events in %zu session(s), duplicates: %d\n", g_total.load(),
              g_sessions.size(), g_duplicates);
  for (const auto& entry : g_byName) std::printf("  %-28s %d\n", entry.first.c_str(), entry.second);
  return g_total >= expected && g_duplicates == 0 ? 0 : 1;
}
