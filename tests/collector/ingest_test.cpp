// PUT /v4/event over real HTTP: credentials, malformed and oversized bodies, duplicates.
// Every refusal carries a JSON error, and a refused upload stores nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "CollectorFixture.h"
#include "Crypto.h"

using namespace CorvaneSDK::Collector;
using namespace CorvaneSDK::Collector::Test;
using CorvaneSDK::DumpJson;
using CorvaneSDK::Json;
using CorvaneSDK::ParseJson;

namespace {

std::string ErrorOf(const httplib::Result& result) {
  Json body;
  if (!result || !ParseJson(result->body, body)) return "(no JSON body)";
  return CorvaneSDK::JsonString(body, "error", "(no error member)");
}

class IngestTest : public CollectorFixture {
 protected:
  int64_t StoredEvents() {
    Stats stats;
    std::string error;
    EXPECT_TRUE(collector_->storage().GetStats("", stats, error)) << error;
    return stats.events;
  }
};

}  // namespace

TEST_F(IngestTest, StoresAValidUploadAndAnswers204) {
  StartCollector();
  auto result = PutEvents(DumpJson(BatchObject({EventObject("a"), EventObject("b")})));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 204);
  EXPECT_TRUE(result->body.empty());
  EXPECT_EQ(StoredEvents(), 2);
}

TEST_F(IngestTest, RefusesMissingMalformedAndWrongCredentialsWith401) {
  StartCollector();
  const std::string body = DumpJson(BatchObject({EventObject("a")}));

  auto none = Client()->Put("/v4/event", body, "application/json");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->status, 401);
  EXPECT_EQ(none->get_header_value("WWW-Authenticate"), "Basic realm=\"corvane-collector\"");
  EXPECT_EQ(ErrorOf(none), "missing Authorization header (Basic base64(appId:appSecret))");

  auto wrong = PutEvents(body, "app", "not-the-secret");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 401);
  EXPECT_EQ(ErrorOf(wrong), "unknown app id or wrong secret for \"app\"");

  auto unknown = PutEvents(body, "other-app", "secret");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 401);

  for (const std::string& header : {std::string("Bearer abc"), std::string("Basic !!!"),
                                    "Basic " + CorvaneSDK::Base64Encode("no-colon"),
                                    "Basic " + CorvaneSDK::Base64Encode(":secret")}) {
    auto malformed =
        Client()->Put("/v4/event", {{"Authorization", header}}, body, "application/json");
    ASSERT_TRUE(malformed);
    EXPECT_EQ(malformed->status, 401) << header;
    EXPECT_EQ(ErrorOf(malformed),
              "malformed Authorization header (expected Basic base64(appId:appSecret))")
        << header;
  }
  EXPECT_EQ(StoredEvents(), 0);
}

TEST_F(IngestTest, WithoutConfiguredAppsAnyWellFormedCredentialsAreAccepted) {
  CollectorOptions options = Options();
  options.apps.clear();
  StartCollector(options);
  auto result = PutEvents(DumpJson(BatchObject({EventObject("a")})), "anything", "goes");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 204);
  std::vector<StoredEvent> events;
  std::string error;
  ASSERT_TRUE(collector_->storage().GetEvents(EventQuery(), events, error));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].appId, "anything");
}

TEST_F(IngestTest, RefusesBadJsonAndNamesTheFirstProblemWith400) {
  StartCollector();
  auto bad = PutEvents("{\"qvUid\": \"u\",");
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 400);
  EXPECT_EQ(bad->get_header_value("Content-Type"), "application/json");
  EXPECT_EQ(ErrorOf(bad), "body is not valid JSON");

  Json second = EventObject("b");
  second.erase("timeInMs");
  Json third = EventObject("c");
  third.erase("eId");
  auto missing = PutEvents(DumpJson(BatchObject({EventObject("a"), second, third})));
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 400);
  EXPECT_EQ(ErrorOf(missing), "subMessages[1]: missing \"timeInMs\"");

  Json body = BatchObject({EventObject("a")});
  body.erase("platform");
  auto noPlatform = PutEvents(DumpJson(body));
  ASSERT_TRUE(noPlatform);
  EXPECT_EQ(noPlatform->status, 400);
  EXPECT_EQ(ErrorOf(noPlatform), "body: missing \"platform\"");

  auto empty = PutEvents("");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->status, 400);
  EXPECT_EQ(ErrorOf(empty), "empty body");

  // Nothing of a refused upload is kept, not even its valid first event.
  EXPECT_EQ(StoredEvents(), 0);
}

TEST_F(IngestTest, RefusesBodiesOverTheLimitWith413) {
  CollectorOptions options = Options();
  options.maxBodyBytes = 4096;
  StartCollector(options);
  auto huge = PutEvents(DumpJson(BatchObject({EventObject("a", "s", std::string(8000, 'x'))})));
  ASSERT_TRUE(huge);
  EXPECT_EQ(huge->status, 413);
  EXPECT_EQ(ErrorOf(huge), "body too large (limit 4096 bytes)");
  // The server is still there for the next upload.
  auto small = PutEvents(DumpJson(BatchObject({EventObject("a")})));
  ASSERT_TRUE(small);
  EXPECT_EQ(small->status, 204);
  EXPECT_EQ(StoredEvents(), 1);
}

TEST_F(IngestTest, TheLimitAlsoHoldsForChunkedBodies) {
  CollectorOptions options = Options();
  options.maxBodyBytes = 4096;
  StartCollector(options);
  auto client = Client();
  client->set_basic_auth("app", "secret");
  // No length given: the client sends the body in chunks, never announcing its size. Two
  // chunks, so that the whole request is written before the answer comes back.
  const std::string chunk(3000, ' ');
  int sent = 0;
  auto result = client->Put(
      "/v4/event",
      [&](size_t, httplib::DataSink& sink) {
        if (sent++ < 2) {
          sink.write(chunk.data(), chunk.size());
        } else {
          sink.done();
        }
        return true;
      },
      "application/json");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 413);
  EXPECT_EQ(ErrorOf(result), "body too large (limit 4096 bytes)");
  EXPECT_EQ(StoredEvents(), 0);
}

TEST_F(IngestTest, RefusesCompressedBodiesWith415) {
  StartCollector();
  auto client = Client();
  client->set_basic_auth("app", "secret");
  auto result =
      client->Put("/v4/event", {{"Content-Encoding", "gzip"}}, "\x1f\x8b", 2, "application/json");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 415);
  EXPECT_EQ(ErrorOf(result), "compressed request bodies are not accepted");
}

TEST_F(IngestTest, CountsDuplicatesAcrossUploads) {
  StartCollector();
  const std::string body = DumpJson(BatchObject({EventObject("a"), EventObject("b")}));
  for (int i = 0; i < 3; ++i) {
    auto result = PutEvents(body);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 204);  // the SDK must not resend a batch it already delivered
  }
  int status = 0;
  Json stats = GetJson("/api/stats", &status);
  ASSERT_EQ(status, 200);
  EXPECT_EQ(stats["events"], 2);
  EXPECT_EQ(stats["duplicates"], 4);
  EXPECT_EQ(stats["batches"], 3);
}

TEST_F(IngestTest, UnknownPathsAndMethodsGetAJson404) {
  StartCollector();
  auto result = Client()->Get("/v4/event");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 404);
  EXPECT_EQ(ErrorOf(result), "no such endpoint: GET /v4/event");
}

TEST_F(IngestTest, ConcurrentUploadsAreAllStored) {
  StartCollector();
  std::vector<std::thread> threads;
  std::atomic<int> accepted{0};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        auto result = PutEvents(DumpJson(BatchObject({EventObject("a"), EventObject("b")})));
        if (result && result->status == 204) ++accepted;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(accepted.load(), 60);
  EXPECT_EQ(StoredEvents(), 120);
}
