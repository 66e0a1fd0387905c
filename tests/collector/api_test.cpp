// The JSON API the live page reads, the page itself, and the fault switches (set through
// the options, the API and in-process).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "CollectorFixture.h"

using namespace CorvaneSDK::Collector;
using namespace CorvaneSDK::Collector::Test;
using CorvaneSDK::DumpJson;
using CorvaneSDK::Json;

namespace {

class ApiTest : public CollectorFixture {
 protected:
  // Two users, three sessions, one sub-event.
  void Fill() {
    Json open = EventObject("qvsdk_open", "s1", Json{{"os", "Debian"}}, 1000);
    Json link = EventObject("qvsdk_deep_link", "s1", Json{{"url", "demo://x"}}, 1001);
    open["subEvents"] = Json::array({link});
    openEId_ = open["eId"].get<std::string>();
    ASSERT_EQ(
        PutEvents(DumpJson(BatchObject(
                      {open, EventObject("qvsdk_level_attempt", "s1", Json{{"level", 1}}, 1500),
                       EventObject("qvsdk_level_attempt", "s2", Json{{"level", 2}}, 9000)},
                      "u1")))
            ->status,
        204);
    ASSERT_EQ(
        PutEvents(DumpJson(BatchObject({EventObject("qvsdk_open", "s3", nullptr, 5000)}, "u2")))
            ->status,
        204);
  }
  std::string openEId_;
};

}  // namespace

TEST_F(ApiTest, StatsCountEventsSessionsUsersAndRequests) {
  StartCollector();
  Fill();
  ASSERT_EQ(PutEvents("nope")->status, 400);
  int status = 0;
  Json stats = GetJson("/api/stats", &status);
  ASSERT_EQ(status, 200);
  EXPECT_EQ(stats["events"], 5);
  EXPECT_EQ(stats["sessions"], 3);
  EXPECT_EQ(stats["users"], 2);
  EXPECT_EQ(stats["batches"], 2);
  EXPECT_EQ(stats["duplicates"], 0);
  EXPECT_EQ(stats["lastSeq"], 5);
  EXPECT_EQ(stats["requests"], 3);
  EXPECT_EQ(stats["rejected"], 1);
  EXPECT_EQ(stats["byName"],
            Json::parse(R"({"qvsdk_deep_link":1,"qvsdk_level_attempt":2,"qvsdk_open":2})"));

  Json one = GetJson("/api/stats?user=u2");
  EXPECT_EQ(one["events"], 1);
  EXPECT_EQ(one["byName"], Json::parse(R"({"qvsdk_open":1})"));
}

TEST_F(ApiTest, SessionsComeNewestFirstWithTheirTimelines) {
  StartCollector();
  Fill();
  Json sessions = GetJson("/api/sessions?events=1")["sessions"];
  ASSERT_EQ(sessions.size(), 3u);
  EXPECT_EQ(sessions[0]["id"], "s2");
  EXPECT_EQ(sessions[1]["id"], "s3");
  EXPECT_EQ(sessions[1]["userId"], "u2");
  const Json& s1 = sessions[2];
  EXPECT_EQ(s1["id"], "s1");
  EXPECT_EQ(s1["firstMs"], 1000);
  EXPECT_EQ(s1["lastMs"], 1500);
  EXPECT_EQ(s1["events"], 3);
  EXPECT_EQ(s1["platform"], "Linux");
  EXPECT_EQ(s1["appVersion"], "1.0");
  ASSERT_EQ(s1["timeline"].size(), 3u);
  EXPECT_EQ(s1["timeline"][1]["name"], "qvsdk_deep_link");
  EXPECT_EQ(s1["timeline"][1]["parentEId"], openEId_);

  Json limited = GetJson("/api/sessions?limit=1")["sessions"];
  ASSERT_EQ(limited.size(), 1u);
  EXPECT_FALSE(limited[0].contains("timeline"));
}

TEST_F(ApiTest, EventsFilterBySessionUserAndPosition) {
  StartCollector();
  Fill();
  Json s1 = GetJson("/api/events?session=s1");
  ASSERT_EQ(s1["events"].size(), 3u);
  const Json& link = s1["events"][1];
  EXPECT_EQ(link["name"], "qvsdk_deep_link");
  EXPECT_EQ(link["value"], Json::parse(R"({"url":"demo://x"})"));
  EXPECT_EQ(link["parentEId"], openEId_);
  EXPECT_EQ(link["userId"], "u1");
  EXPECT_EQ(link["sdkVersion"], CorvaneSDK::kSdkVersion);
  EXPECT_EQ(link["appId"], "app");
  EXPECT_EQ(s1["lastSeq"], s1["events"][2]["seq"]);

  Json page = GetJson("/api/events?after=2&limit=2");
  ASSERT_EQ(page["events"].size(), 2u);
  EXPECT_EQ(page["events"][0]["seq"], 3);
  EXPECT_EQ(page["lastSeq"], 4);
  EXPECT_EQ(GetJson("/api/events?after=99")["lastSeq"], 99);
  EXPECT_EQ(GetJson("/api/events?user=u2")["events"].size(), 1u);
  EXPECT_EQ(GetJson("/api/events?session=none")["events"].size(), 0u);

  int status = 0;
  Json bad = GetJson("/api/events?limit=-1", &status);
  EXPECT_EQ(status, 400);
  EXPECT_EQ(bad["error"], "after and limit: expected non-negative integers");
  GetJson("/api/sessions?limit=x", &status);
  EXPECT_EQ(status, 400);
}

TEST_F(ApiTest, RequestsListTheLatestSdkRequestsWithTheirOutcome) {
  StartCollector();
  Fill();
  ASSERT_EQ(PutEvents(DumpJson(BatchObject({EventObject("a")})), "app", "bad")->status, 401);
  Json requests = GetJson("/api/requests?limit=2")["requests"];
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0]["status"], 401);
  EXPECT_EQ(requests[0]["method"], "PUT");
  EXPECT_EQ(requests[0]["path"], "/v4/event");
  EXPECT_EQ(requests[0]["note"], "unknown app id or wrong secret for \"app\"");
  EXPECT_EQ(requests[1]["status"], 204);
  EXPECT_EQ(requests[1]["appId"], "app");
  EXPECT_EQ(requests[1]["note"], "stored 1, duplicates 0");
}

TEST_F(ApiTest, LivePageIsServedAsHtmlThatReadsTheApi) {
  StartCollector();
  auto page = Client()->Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  for (const char* needle :
       {"<!doctype html>", "/api/stats", "/api/sessions", "/api/events", "setInterval(refresh"}) {
    EXPECT_NE(page->body.find(needle), std::string::npos) << needle;
  }
  // Self-contained: nothing is loaded from another origin.
  EXPECT_EQ(page->body.find("http://"), std::string::npos);
  EXPECT_EQ(page->body.find("https://"), std::string::npos);
}

TEST_F(ApiTest, FixedFaultStatusAnswersWithoutStoring) {
  CollectorOptions options = Options();
  options.faults.status = 503;
  StartCollector(options);
  const std::string body = DumpJson(BatchObject({EventObject("a")}));
  auto result = PutEvents(body);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 503);
  // 2xx faults too: a server that says yes and keeps nothing.
  collector_->SetFaults(Faults{204, 0.0, 0, false});
  EXPECT_EQ(PutEvents(body)->status, 204);
  EXPECT_EQ(GetJson("/api/stats")["events"], 0);  // the API is never faulted

  // Cleared through the API, the next upload is stored.
  auto cleared = Client()->Put("/api/faults", R"({"status":0})", "application/json");
  ASSERT_TRUE(cleared);
  EXPECT_EQ(cleared->status, 200);
  EXPECT_EQ(Json::parse(cleared->body)["status"], 0);
  EXPECT_EQ(PutEvents(body)->status, 204);
  EXPECT_EQ(GetJson("/api/stats")["events"], 1);
}

TEST_F(ApiTest, FailRateOneRefusesEverySdkRequestAndZeroNone) {
  CollectorOptions options = Options();
  options.faults.failRate = 1.0;
  options.sdkConfigs["app"] = WriteFile("sdk.json", R"({"appId":"app","appSecret":"secret"})");
  StartCollector(options);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(PutEvents(DumpJson(BatchObject({EventObject("a")})))->status, 503);
    EXPECT_EQ(Client()->Get("/v1/public/config?app_id=app")->status, 503);
  }
  collector_->SetFaults(Faults());
  EXPECT_EQ(Client()->Get("/v1/public/config?app_id=app")->status, 200);
}

TEST_F(ApiTest, FaultsApiReadsAndValidatesTheSwitches) {
  StartCollector();
  auto set = Client()->Put("/api/faults", R"({"failRate":0.25,"latencyMs":5})", "application/json");
  ASSERT_TRUE(set);
  EXPECT_EQ(set->status, 200);
  Json faults = GetJson("/api/faults");
  EXPECT_EQ(faults["failRate"], 0.25);
  EXPECT_EQ(faults["latencyMs"], 5);
  EXPECT_EQ(faults["status"], 0);
  EXPECT_EQ(faults["neverAnswer"], false);
  EXPECT_EQ(collector_->GetFaults().failRate, 0.25);

  for (const char* bad : {R"({"failRate":2})", R"({"status":"500"})", R"({"status":100})",
                          R"({"latency":1})", "[]"}) {
    auto refused = Client()->Put("/api/faults", bad, "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400) << bad;
  }
  EXPECT_EQ(collector_->GetFaults().failRate, 0.25);  // a refused change changes nothing
}

TEST_F(ApiTest, LatencyHoldsSdkRequestsButNotTheApi) {
  CollectorOptions options = Options();
  options.faults.latencyMs = 300;
  StartCollector(options);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PutEvents(DumpJson(BatchObject({EventObject("a")})))->status, 204);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(GetJson("/api/stats")["events"], 1);
}

TEST_F(ApiTest, NeverAnswerHoldsRequestsUntilSwitchedOff) {
  CollectorOptions options = Options();
  options.faults.neverAnswer = true;
  StartCollector(options);
  const std::string body = DumpJson(BatchObject({EventObject("a")}));

  auto client = Client();
  client->set_basic_auth("app", "secret");
  client->set_read_timeout(0, 300000);  // 300 ms: the client gives up, like the SDK after 5 s
  EXPECT_FALSE(client->Put("/v4/event", body, "application/json"));

  // A held request is released unprocessed once the switch goes off.
  std::atomic<int> heldStatus{0};
  std::thread held([&] {
    auto result = PutEvents(body);
    heldStatus = result ? result->status : -1;
  });
  for (int i = 0; i < 200 && heldStatus == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(heldStatus.load(), 0);
  collector_->SetFaults(Faults());
  held.join();
  EXPECT_EQ(heldStatus.load(), 503);
  EXPECT_EQ(GetJson("/api/stats")["events"], 0);
  EXPECT_EQ(PutEvents(body)->status, 204);
}

TEST_F(ApiTest, StopReleasesRequestsHeldByNeverAnswer) {
  CollectorOptions options = Options();
  options.faults.neverAnswer = true;
  StartCollector(options);
  std::thread held([&] { PutEvents(DumpJson(BatchObject({EventObject("a")}))); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  collector_->Stop();  // must not wait for the held handler forever
  held.join();
  Stats stats;
  std::string error;
  EXPECT_FALSE(collector_->storage().GetStats("", stats, error));  // closed, not crashed
}

// The page carries the state of the moment it was served, so it shows the sessions before
// its first poll; event text cannot end the script element that holds it.
TEST_F(ApiTest, LivePageStartsFromTheCurrentState) {
  StartCollector();
  Fill();
  const std::string hostile = "</script><script>alert(1)</script>";
  ASSERT_EQ(PutEvents(DumpJson(BatchObject(
                          {EventObject("chat_message", "s4", Json{{"name", hostile}}, 20000)},
                          "u3")))
                ->status,
            204);
  auto page = Client()->Get("/");
  ASSERT_TRUE(page);
  const std::string open = "<script id=\"initial\" type=\"application/json\">";
  const size_t begin = page->body.find(open);
  ASSERT_NE(begin, std::string::npos);
  const size_t end = page->body.find("</script>", begin);
  ASSERT_NE(end, std::string::npos);
  const Json state = Json::parse(page->body.substr(begin + open.size(), end - begin - open.size()));
  EXPECT_EQ(state["stats"]["events"], 6);
  ASSERT_EQ(state["sessions"].size(), 4u);
  EXPECT_EQ(state["selected"], "s4");  // the newest session, as the page selects it
  ASSERT_EQ(state["events"].size(), 1u);
  EXPECT_EQ(state["events"][0]["value"]["name"], hostile);
  EXPECT_EQ(page->body.find("<script>alert"), std::string::npos);
  EXPECT_FALSE(state["requests"].empty());
}

TEST_F(ApiTest, LivePageOfAnEmptyCollectorSaysSoWithoutWaiting) {
  StartCollector();
  auto page = Client()->Get("/");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("\"sessions\":[]"), std::string::npos);
  EXPECT_NE(page->body.find("\"events\":0"), std::string::npos);
}

// Without --sdk-config for the app the SDK keeps its own configuration: a 404 then is
// expected, shown as information and not counted as refused.
TEST_F(ApiTest, ConfigNotFoundForAnUnconfiguredAppIsInformational) {
  StartCollector();
  int status = 0;
  GetJson("/v1/public/config?app_id=other&platform=linux", &status);
  EXPECT_EQ(status, 404);
  Json stats = GetJson("/api/stats");
  EXPECT_EQ(stats["rejected"], 0);
  EXPECT_EQ(stats["requests"], 1);
  Json requests = GetJson("/api/requests")["requests"];
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0]["status"], 404);
  EXPECT_EQ(requests[0]["informational"], true);
  // A refused upload still counts.
  ASSERT_EQ(PutEvents("nope")->status, 400);
  EXPECT_EQ(GetJson("/api/stats")["rejected"], 1);
  EXPECT_EQ(GetJson("/api/requests")["requests"][0]["informational"], false);
}

// A long session comes as counts per name over slices of its span, so the page can draw
// all of it; a short one keeps its events, each at its own time.
TEST_F(ApiTest, LongSessionsComeAsBinnedCounts) {
  StartCollector();
  std::vector<Json> events;
  for (int i = 0; i < 2000; ++i) {
    events.push_back(EventObject(i % 4 == 0 ? "qvsdk_ad_load" : "qvsdk_level_attempt", "long",
                                 Json{{"i", i}}, 100000 + i * 10));
  }
  for (size_t at = 0; at < events.size(); at += 50) {
    std::vector<Json> batch(events.begin() + static_cast<std::ptrdiff_t>(at),
                            events.begin() + static_cast<std::ptrdiff_t>(at + 50));
    ASSERT_EQ(PutEvents(DumpJson(BatchObject(batch)))->status, 204);
  }
  ASSERT_EQ(PutEvents(DumpJson(BatchObject({EventObject("qvsdk_open", "short", nullptr, 5000),
                                            EventObject("qvsdk_boot_end", "short", nullptr, 1000)})))
                ->status,
            204);
  Json sessions = GetJson("/api/sessions?events=1")["sessions"];
  ASSERT_EQ(sessions.size(), 2u);
  const Json& long_ = sessions[0]["id"] == "long" ? sessions[0] : sessions[1];
  const Json& short_ = sessions[0]["id"] == "long" ? sessions[1] : sessions[0];
  EXPECT_FALSE(long_.contains("timeline"));
  ASSERT_EQ(long_["bins"].size(), 100u);
  int64_t total = 0, ads = 0;
  for (const auto& bin : long_["bins"]) {
    for (const auto& entry : bin.items()) total += entry.value().get<int64_t>();
    ads += bin.value("qvsdk_ad_load", 0);
  }
  EXPECT_EQ(total, 2000);
  EXPECT_EQ(ads, 500);
  EXPECT_EQ(long_["firstMs"], 100000);
  // The short session spans from its first event; the open event keeps its own time.
  EXPECT_EQ(short_["firstMs"], 1000);
  EXPECT_EQ(short_["lastMs"], 5000);
  ASSERT_EQ(short_["timeline"].size(), 2u);
  for (const auto& e : short_["timeline"]) {
    if (e["name"] == "qvsdk_open") {
      EXPECT_EQ(e["timeMs"], 5000);
    }
  }
}
