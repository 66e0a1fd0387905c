// Shared harness for end-to-end manager tests: a local server, a temp save folder and
// helpers to initialize the SDK through its C interface and read what the server received.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "CorvaneSDK.h"
#include "Json.h"
#include "TempDir.h"
#include "TestHttpServer.h"

namespace CorvaneSDK {
namespace Test {

class ManagerHarness : public ::testing::Test {
 protected:
  static std::atomic<int>& Ready() {
    static std::atomic<int> ready{0};
    return ready;
  }
  static void OnReady(int value) { Ready() = value; }

  void SetUp() override {
    ASSERT_TRUE(server_.Start());
    Ready() = 0;
  }
  void TearDown() override { CorvaneSDKManager_Destroy(); }

  ::InitializationData* Data() {
    ::InitializationData* data = InitializationData_Create("app", "secret");
    InitializationData_SetHost(data, server_.Url("/v4/event").c_str());
    InitializationData_SetConfigUrl(data, server_.Url("/v1/public/config").c_str());
    InitializationData_SetSavePath(data, dir_.path().c_str());
    InitializationData_SetDisableOnlineSdkConfig(data, 1);
    InitializationData_SetQueueCheckInterval(data, 20);
    InitializationData_SetSendDelay(data, 0);
    return data;
  }

  CorvaneSDKManagerRef Init(::InitializationData* data = nullptr) {
    if (data == nullptr) data = Data();
    Ready() = 0;
    CorvaneSDKManager_Initialize3(data, OnReady, 7);
    InitializationData_Destroy(data);
    for (int i = 0; i < 5000 && Ready() != 7; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return CorvaneSDKManager_GetInstance();
  }

  // Every event and sub-event received, in order; sub-events carry "parent".
  std::vector<Json> Received() {
    std::vector<Json> out;
    for (const auto& r : server_.Requests("/v4/event")) {
      Json body;
      if (!ParseJson(r.body, body) || !body.contains("subMessages")) continue;
      for (const auto& e : body["subMessages"]) {
        out.push_back(e);
        if (e.contains("subEvents")) {
          for (auto s : e["subEvents"]) {
            s["parent"] = e["eventName"];
            out.push_back(s);
          }
        }
      }
    }
    return out;
  }

  std::vector<Json> Named(const std::string& name) {
    std::vector<Json> out;
    for (const auto& e : Received()) {
      if (e["eventName"] == name) out.push_back(e);
    }
    return out;
  }

  bool WaitForCount(const std::string& name, size_t count, int timeoutMs = 10000) {
    for (int i = 0; i < timeoutMs / 2; ++i) {
      if (Named(name).size() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

  // For a manual fake clock: keeps moving time while waiting, so a sleep that began after the
  // test's last Advance still ends.
  template <typename C>
  bool WaitForCountAdvancing(C& clock, const std::string& name, size_t count) {
    for (int i = 0; i < 5000; ++i) {
      if (Named(name).size() >= count) return true;
      clock->Advance(10);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

  static std::string Take(char* text) {
    std::string out = text != nullptr ? text : "";
    std::free(text);
    return out;
  }

  TempDir dir_;
  TestHttpServer server_;
};

}  // namespace Test
}  // namespace CorvaneSDK
