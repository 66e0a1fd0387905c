// Shared frame of the end-to-end tests of the SDK configuration, modules, deep links and
// remote config: a real local server for events and configuration, a save folder in a temp
// directory, and initialization through the C interface with a completion callback.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "CorvaneSDK.h"
#include "Json.h"
#include "TempDir.h"
#include "TestHttpServer.h"

namespace CorvaneSDK {
namespace Test {

class ConfigHarness : public ::testing::Test {
 protected:
  static constexpr const char* kEventPath = "/v4/event";
  static constexpr const char* kConfigPath = "/v1/public/config";

  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    Ready() = 0;
  }
  void TearDown() override { CorvaneSDKManager_Destroy(); }

  static std::atomic<int>& Ready() {
    static std::atomic<int> ready{0};
    return ready;
  }
  static void OnReady(int value) { Ready() = value; }

  // Events on the test server, online SDK configuration off unless `online`.
  ::InitializationData* Data(bool online = false) {
    ::InitializationData* data = InitializationData_Create("app", "secret");
    InitializationData_SetHost(data, server_.Url(kEventPath).c_str());
    InitializationData_SetConfigUrl(data, server_.Url(kConfigPath).c_str());
    InitializationData_SetSavePath(data, dir_.path().c_str());
    InitializationData_SetDisableOnlineSdkConfig(data, online ? 0 : 1);
    InitializationData_SetQueueCheckInterval(data, 20);
    InitializationData_SetSendDelay(data, 0);
    return data;
  }

  // Initializes, destroys the record at once (the manager copied it) and waits (real time,
  // bounded) for the completion callback. Null when initialization did not finish.
  CorvaneSDKManagerRef Init(::InitializationData* data) {
    Ready() = 0;
    CorvaneSDKManager_Initialize3(data, OnReady, 7);
    InitializationData_Destroy(data);
    for (int i = 0; i < 10000 && Ready() != 7; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Ready() == 7 ? CorvaneSDKManager_GetInstance() : nullptr;
  }

  // Every event and sub-event the server received, in order (sub-events after their parent).
  std::vector<Json> Received() {
    std::vector<Json> out;
    for (const auto& r : server_.Requests(kEventPath)) {
      Json body;
      if (!ParseJson(r.body, body) || !body.contains("subMessages")) continue;
      for (const auto& e : body["subMessages"]) {
        out.push_back(e);
        if (e.contains("subEvents")) {
          for (const auto& s : e["subEvents"]) out.push_back(s);
        }
      }
    }
    return out;
  }

  std::vector<Json> ReceivedNamed(const std::string& name) {
    std::vector<Json> out;
    for (const auto& e : Received()) {
      if (e.value("eventName", "") == name) out.push_back(e);
    }
    return out;
  }

  bool WaitForEvent(const std::string& name, size_t count = 1, int timeoutMs = 10000) {
    for (int i = 0; i < timeoutMs / 5; ++i) {
      if (ReceivedNamed(name).size() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // The first batch body that carried an event of that name.
  Json BatchWith(const std::string& name) {
    for (const auto& r : server_.Requests(kEventPath)) {
      Json body;
      if (!ParseJson(r.body, body) || !body.contains("subMessages")) continue;
      for (const auto& e : body["subMessages"]) {
        if (e.value("eventName", "") == name) return body;
      }
    }
    return Json();
  }

  static std::string Take(char* text) {
    std::string out = text != nullptr ? text : "";
    std::free(text);
    return out;
  }

  TempDir dir_;
  TestHttpServer server_;
};

inline ScriptedResponse Reply(int status, const std::string& body = "") {
  ScriptedResponse r;
  r.status = status;
  r.body = body;
  return r;
}

}  // namespace Test
}  // namespace CorvaneSDK
