// The SQLite store on real files: columns, duplicates, queries, reopening, and files that
// are not (or not our) databases.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include "CollectorFixture.h"
#include "Storage.h"
#include "TempDir.h"

using namespace CorvaneSDK::Collector;
using CorvaneSDK::DumpJson;
using CorvaneSDK::Json;
using CorvaneSDK::Collector::Test::BatchObject;
using CorvaneSDK::Collector::Test::EventObject;
using CorvaneSDK::Test::TempDir;

namespace {

Batch MakeBatch(std::vector<Json> events, const std::string& user = "user-1") {
  Batch batch;
  std::string error;
  EXPECT_TRUE(ParseBatch(DumpJson(BatchObject(std::move(events), user)), batch, error)) << error;
  return batch;
}

class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(storage_.Open(dir_.File("events.db"), Storage::Mode::kCreate, error)) << error;
  }
  std::vector<StoredEvent> All() {
    std::vector<StoredEvent> out;
    std::string error;
    EXPECT_TRUE(storage_.GetEvents(EventQuery(), out, error)) << error;
    return out;
  }
  TempDir dir_;
  Storage storage_;
};

}  // namespace

TEST_F(StorageTest, StoresEveryColumnOfEventsAndSubEvents) {
  Json open = EventObject("qvsdk_open", "s1", Json{{"os_name", "Debian"}}, 1000);
  Json link = EventObject("qvsdk_deep_link", "s1", Json{{"url", "demo://x"}}, 1001);
  link["cfgId"] = "cfg-2";
  link["customUid"] = "player-7";
  open["subEvents"] = Json::array({link});
  InsertResult result;
  std::string error;
  ASSERT_TRUE(storage_.Insert(MakeBatch({open}), "app", 5000, result, error)) << error;
  EXPECT_EQ(result.stored, 2);
  EXPECT_EQ(result.duplicates, 0);

  const auto events = All();
  ASSERT_EQ(events.size(), 2u);
  const StoredEvent& sub = events[1];
  EXPECT_EQ(sub.seq, 2);
  EXPECT_EQ(sub.eId, link["eId"].get<std::string>());
  EXPECT_EQ(sub.parentEId, open["eId"].get<std::string>());
  EXPECT_EQ(sub.name, "qvsdk_deep_link");
  EXPECT_EQ(sub.sessionId, "s1");
  EXPECT_EQ(sub.timeMs, 1001);
  EXPECT_EQ(sub.cfgId, "cfg-2");
  EXPECT_EQ(sub.customUid, "player-7");
  EXPECT_EQ(sub.valueJson, R"({"url":"demo://x"})");
  EXPECT_EQ(sub.userId, "user-1");
  EXPECT_EQ(sub.sdkVersion, CorvaneSDK::kSdkVersion);
  EXPECT_EQ(sub.platform, "Linux");
  EXPECT_EQ(sub.appVersion, "1.0");
  EXPECT_EQ(sub.appId, "app");
  EXPECT_EQ(sub.bundleId, "com.example.game");
  EXPECT_EQ(sub.receivedMs, 5000);
  EXPECT_EQ(events[0].parentEId, "");
}

TEST_F(StorageTest, CountsRepeatedEventsInsteadOfStoringThemTwice) {
  Json a = EventObject("a"), b = EventObject("b");
  InsertResult result;
  std::string error;
  ASSERT_TRUE(storage_.Insert(MakeBatch({a, b}), "app", 1, result, error));
  // The same upload again (a lost 204), then one repeating an eId inside itself.
  ASSERT_TRUE(storage_.Insert(MakeBatch({a, b}), "app", 2, result, error));
  EXPECT_EQ(result.stored, 0);
  EXPECT_EQ(result.duplicates, 2);
  Json c = EventObject("c");
  ASSERT_TRUE(storage_.Insert(MakeBatch({c, c, a}), "app", 3, result, error));
  EXPECT_EQ(result.stored, 1);
  EXPECT_EQ(result.duplicates, 2);

  Stats stats;
  ASSERT_TRUE(storage_.GetStats("", stats, error)) << error;
  EXPECT_EQ(stats.events, 3);
  EXPECT_EQ(stats.duplicates, 4);
  EXPECT_EQ(stats.batches, 3);
  EXPECT_EQ(All().size(), 3u);
}

TEST_F(StorageTest, StatsCountNamesSessionsAndUsersAndFilterByUser) {
  InsertResult result;
  std::string error;
  ASSERT_TRUE(storage_.Insert(
      MakeBatch({EventObject("level", "s1"), EventObject("level", "s1"), EventObject("ad", "s2")},
                "u1"),
      "app", 1, result, error));
  ASSERT_TRUE(
      storage_.Insert(MakeBatch({EventObject("level", "s3"), EventObject("early", "")}, "u2"),
                      "app", 2, result, error));
  Stats all;
  ASSERT_TRUE(storage_.GetStats("", all, error));
  EXPECT_EQ(all.events, 5);
  EXPECT_EQ(all.sessions, 3);  // the empty session id is not a session
  EXPECT_EQ(all.users, 2);
  EXPECT_EQ(all.lastSeq, 5);
  const std::vector<std::pair<std::string, int64_t>> names = {
      {"ad", 1}, {"early", 1}, {"level", 3}};
  EXPECT_EQ(all.byName, names);

  Stats one;
  ASSERT_TRUE(storage_.GetStats("u1", one, error));
  EXPECT_EQ(one.events, 3);
  EXPECT_EQ(one.sessions, 2);
  EXPECT_EQ(one.batches, 1);
}

TEST_F(StorageTest, SessionsNewestFirstAndEventQueries) {
  InsertResult result;
  std::string error;
  ASSERT_TRUE(storage_.Insert(
      MakeBatch({EventObject("a", "old", nullptr, 100), EventObject("b", "old", nullptr, 400),
                 EventObject("c", "new", nullptr, 900)}),
      "app", 1, result, error));
  std::vector<SessionSummary> sessions;
  ASSERT_TRUE(storage_.GetSessions(10, sessions, error));
  ASSERT_EQ(sessions.size(), 2u);
  EXPECT_EQ(sessions[0].id, "new");
  EXPECT_EQ(sessions[1].id, "old");
  EXPECT_EQ(sessions[1].firstMs, 100);
  EXPECT_EQ(sessions[1].lastMs, 400);
  EXPECT_EQ(sessions[1].events, 2);
  ASSERT_TRUE(storage_.GetSessions(1, sessions, error));
  EXPECT_EQ(sessions.size(), 1u);

  EventQuery query;
  query.bySession = true;
  query.session = "old";
  std::vector<StoredEvent> events;
  ASSERT_TRUE(storage_.GetEvents(query, events, error));
  ASSERT_EQ(events.size(), 2u);
  query.afterSeq = events[0].seq;
  ASSERT_TRUE(storage_.GetEvents(query, events, error));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "b");
  EventQuery limited;
  limited.limit = 2;
  ASSERT_TRUE(storage_.GetEvents(limited, events, error));
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(StorageTest, DataSurvivesReopeningAndIsReadableFromASecondConnection) {
  InsertResult result;
  std::string error;
  ASSERT_TRUE(storage_.Insert(MakeBatch({EventObject("kept")}), "app", 1, result, error));
  Storage reader;
  ASSERT_TRUE(reader.Open(dir_.File("events.db"), Storage::Mode::kExisting, error)) << error;
  Stats stats;
  ASSERT_TRUE(reader.GetStats("", stats, error));
  EXPECT_EQ(stats.events, 1);
  storage_.Close();
  Storage again;
  ASSERT_TRUE(again.Open(dir_.File("events.db"), Storage::Mode::kCreate, error)) << error;
  ASSERT_TRUE(again.GetStats("", stats, error));
  EXPECT_EQ(stats.events, 1);
}

TEST_F(StorageTest, UsesWriteAheadLogging) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir_.File("events.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &stmt, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "wal");
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST(StorageOpen, RefusesMissingCorruptAndForeignFiles) {
  TempDir dir;
  Storage storage;
  std::string error;
  EXPECT_FALSE(storage.Open(dir.File("missing.db"), Storage::Mode::kExisting, error));
  EXPECT_NE(error.find("cannot open database"), std::string::npos) << error;

  ASSERT_TRUE(CorvaneSDK::Test::WriteFileBytes(dir.File("text.db"), std::string(4096, 'x')));
  error.clear();
  EXPECT_FALSE(storage.Open(dir.File("text.db"), Storage::Mode::kCreate, error));
  EXPECT_NE(error.find("not a database"), std::string::npos) << error;

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("other.db").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA user_version=9", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  error.clear();
  EXPECT_FALSE(storage.Open(dir.File("other.db"), Storage::Mode::kCreate, error));
  EXPECT_NE(error.find("schema version 9"), std::string::npos) << error;

  // Nothing was opened, so a failed store refuses work instead of crashing.
  Stats stats;
  EXPECT_FALSE(storage.GetStats("", stats, error));
  EXPECT_EQ(error, "database not open");
}
