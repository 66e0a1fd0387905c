// The separately built example module loaded with dlopen into a host of the real shared
// library: its factory is registered, the SDK configuration asks for the module, the SDK
// creates it with merged parameters, runs its action, and its event reaches the event host.
// Real clock: the upload waits out the 5 s hold of the open event.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CorvaneSDK.h"
#include "CorvaneSDKModule.h"

namespace {

using Json = nlohmann::json;

std::atomic<int> g_ready{0};
void OnReady(int value) { g_ready = value; }

// The local event and SDK-config host.
class Host {
 public:
  bool Start() {
    server_.Get("/v1/public/config", [](const httplib::Request&, httplib::Response& res) {
      const Json answer = {
          {"sdk_config",
           {{"appId", "app"},
            {"appSecret", "secret"},
            {"modules",
             Json::array({{{"type", "ExampleModule"},
                           {"platforms", {"Linux", "Windows"}},
                           {"level", 7},
                           {"partner", "acme"}}})}}},
          {"sdk_config_hash", "h1"}};
      res.set_content(answer.dump(), "application/json");
    });
    auto events = [this](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        bodies_.push_back(req.body);
      }
      res.status = 204;
    };
    server_.Put("/v4/event", events);
    server_.Post("/v4/event", events);
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int i = 0; i < 2000 && !server_.is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return server_.is_running();
  }
  ~Host() {
    server_.stop();
    if (thread_.joinable()) thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // The uploaded event of that name, or null.
  Json FindEvent(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& body : bodies_) {
      const Json batch = Json::parse(body, nullptr, false);
      if (!batch.is_object() || !batch.contains("subMessages")) continue;
      for (const auto& e : batch["subMessages"]) {
        if (e.value("eventName", "") == name) return e;
      }
    }
    return Json();
  }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mutex_;
  std::vector<std::string> bodies_;
};

}  // namespace

TEST(ExampleModule, LoadedWithDlopenCreatedAndLogging) {
#ifndef CORVANE_EXAMPLE_MODULE_PATH
  GTEST_SKIP() << "the example module is built with the examples (CORVANE_BUILD_EXAMPLES)";
#else
  Host host;
  ASSERT_TRUE(host.Start());
  namespace fs = std::filesystem;
  const fs::path save = fs::temp_directory_path() /
                        ("corvane-example-module-" + std::to_string(std::rand()) + "-" +
                         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(save);

  void* library = dlopen(CORVANE_EXAMPLE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using NameFn = const char* (*)();
  using FactoryFn = void* (*)();
  auto name = reinterpret_cast<NameFn>(dlsym(library, "CorvaneExampleModule_Name"));
  auto create = reinterpret_cast<FactoryFn>(dlsym(library, "CorvaneExampleModule_CreateFactory"));
  ASSERT_NE(name, nullptr);
  ASSERT_NE(create, nullptr);
  const std::string moduleName = name();
  CorvaneSDKManager_RegisterModuleFactory(moduleName.c_str(), create());

  InitializationData* data = InitializationData_Create("app", "secret");
  InitializationData_SetHost(data, host.Url("/v4/event").c_str());
  InitializationData_SetConfigUrl(data, host.Url("/v1/public/config").c_str());
  InitializationData_SetSavePath(data, save.string().c_str());
  InitializationData_SetQueueCheckInterval(data, 20);
  InitializationData_SetSendDelay(data, 0);
  // The SDK configuration's entry adds "partner" and replaces "level".
  InitializationData_AddModule(data, moduleName.c_str(), R"({"level":1,"announce":true})");
  g_ready = 0;
  CorvaneSDKManager_Initialize3(data, OnReady, 5);
  InitializationData_Destroy(data);
  for (int i = 0; i < 10000 && g_ready != 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  CorvaneSDKManagerRef manager = CorvaneSDKManager_GetInstance();
  ASSERT_EQ(CorvaneSDKManager_IsInitialized(manager), 1);

  auto* module = static_cast<CorvaneSDK::CorvaneSDKModule*>(
      CorvaneSDKManager_GetModule(manager, moduleName.c_str()));
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->GetName(), moduleName);
  EXPECT_EQ(module->GetIntParameter("level", 0), 7);
  EXPECT_EQ(module->GetStringParameter("partner", ""), "acme");
  EXPECT_TRUE(module->GetBoolParameter("announce", false));

  // Its Initialize logged an early event once its action had run; it is uploaded when the
  // open event's hold ends.
  Json event;
  for (int i = 0; i < 2000 && event.is_null(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    event = host.FindEvent("example_module_ready");
  }
  ASSERT_FALSE(event.is_null());
  EXPECT_EQ(event["value"], Json::parse(R"({"value":7})"));

  CorvaneSDKManager_Destroy();  // deletes the module: its code must still be loaded
  CorvaneSDKManager_UnregisterModuleFactory(moduleName.c_str(), 1);
  EXPECT_EQ(dlclose(library), 0);
  std::error_code ec;
  fs::remove_all(save, ec);
#endif
}
