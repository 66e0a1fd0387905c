// Shared pieces of the collector tests: an in-process collector on 127.0.0.1 with its
// database in a temp folder, an HTTP client for it, and builders of upload bodies.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "Env.h"
#include "Collector.h"
#include "Json.h"
#include "Random.h"
#include "TempDir.h"
#include "Version.h"

namespace CorvaneSDK {
namespace Collector {
namespace Test {

using CorvaneSDK::Test::TempDir;

// One event object as the SDK writes it.
inline Json EventObject(const std::string& name, const std::string& session = "session-1",
                        Json value = nullptr, int64_t timeMs = 1765000000000LL) {
  return Json{{"eId", NewUuid()}, {"eventName", name},  {"value", std::move(value)},
              {"id", session},    {"timeInMs", timeMs}, {"cfgId", "default"},
              {"customUid", ""}};
}

inline Json BatchObject(std::vector<Json> events, const std::string& user = "user-1") {
  Json messages = Json::array();
  for (auto& e : events) messages.push_back(std::move(e));
  return Json{{"qvUid", user},
              {"qvSdkVersion", kSdkVersion},
              {"bundleId", "com.example.game"},
              {"platform", "Linux"},
              {"appVersion", "1.0"},
              {"buildNumber", "7"},
              {"subMessages", std::move(messages)}};
}

class CollectorFixture : public ::testing::Test {
 protected:
  CollectorOptions Options() {
    CollectorOptions options;
    options.dbPath = dir_.File("events.db");
    options.apps = {{"app", "secret"}};
    return options;
  }

  void StartCollector(CollectorOptions options) {
    // The SDK's clock, so that tokens signed under a fake clock are of the collector's time.
    if (!options.wallMs) options.wallMs = [] { return CorvaneSDK::WallNowMs(); };
    collector_.reset(new Collector(std::move(options)));
    std::string error;
    ASSERT_TRUE(collector_->Start(error)) << error;
  }
  void StartCollector() { StartCollector(Options()); }

  std::unique_ptr<httplib::Client> Client() {
    std::unique_ptr<httplib::Client> client(new httplib::Client("127.0.0.1", collector_->port()));
    client->set_connection_timeout(5, 0);
    client->set_read_timeout(10, 0);
    return client;
  }

  httplib::Result PutEvents(const std::string& body, const std::string& id = "app",
                            const std::string& secret = "secret") {
    auto client = Client();
    client->set_basic_auth(id.c_str(), secret.c_str());
    return client->Put("/v4/event", body, "application/json");
  }

  // GET of a JSON API path; null JSON when the request failed or did not parse.
  Json GetJson(const std::string& path, int* status = nullptr) {
    auto result = Client()->Get(path.c_str());
    if (status != nullptr) *status = result ? result->status : -1;
    Json out;
    if (result) ParseJson(result->body, out);
    return out;
  }

  std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = dir_.File(name);
    EXPECT_TRUE(CorvaneSDK::Test::WriteFileBytes(path, text));
    return path;
  }

  TempDir dir_;
  std::unique_ptr<Collector> collector_;
};

}  // namespace Test
}  // namespace Collector
}  // namespace CorvaneSDK
