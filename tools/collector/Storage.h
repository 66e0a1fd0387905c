// The collector's SQLite store: one row per event and sub-event (eId unique), one row per
// accepted upload, and a count of every event that arrived again. WAL mode, so that `tail`
// and `stats` can read from another process while the server writes.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Validation.h"

struct sqlite3;
struct sqlite3_stmt;

namespace CorvaneSDK {
namespace Collector {

struct StoredEvent {
  int64_t seq = 0;  // arrival order, starts at 1
  std::string eId;
  std::string parentEId;
  std::string name;
  std::string sessionId;
  int64_t timeMs = 0;
  std::string cfgId;
  std::string customUid;
  std::string valueJson;
  std::string userId;  // the batch's "qvUid"
  std::string sdkVersion;
  std::string platform;
  std::string appVersion;
  std::string appId;
  std::string bundleId;
  int64_t receivedMs = 0;
};

struct InsertResult {
  int stored = 0;
  int duplicates = 0;  // events whose eId was already stored (or repeated in the batch)
};

struct Stats {
  int64_t events = 0;
  int64_t batches = 0;
  int64_t sessions = 0;  // distinct non-empty session ids
  int64_t users = 0;
  int64_t duplicates = 0;
  int64_t lastSeq = 0;
  std::vector<std::pair<std::string, int64_t>> byName;  // sorted by name
  // Per platform and SDK version: tells mobile sessions from desktop ones.
  struct Client {
    std::string platform;
    std::string sdkVersion;
    int64_t sessions = 0;  // distinct non-empty session ids
    int64_t events = 0;
  };
  std::vector<Client> byClient;  // sorted by platform, then SDK version
};

struct SessionSummary {
  std::string id;
  std::string userId;
  std::string platform;
  std::string appVersion;
  std::string sdkVersion;
  int64_t firstMs = 0;
  int64_t lastMs = 0;
  int64_t events = 0;
};

struct EventQuery {
  bool bySession = false;
  std::string session;
  bool byUser = false;
  std::string userId;
  int64_t afterSeq = 0;  // only events with a larger seq
  int limit = 1000;
};

// Thread contract: thread-safe. One connection, guarded by mutex_; every call takes it for
// its whole duration. Other processes may open the same file at the same time.
class Storage {
 public:
  enum class Mode { kCreate, kExisting };

  Storage();
  ~Storage();
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;

  // kCreate makes the file and its tables when missing; kExisting refuses a missing file.
  bool Open(const std::string& path, Mode mode, std::string& error);
  void Close();

  // Stores every event of `batch` in one transaction. True only once it has committed.
  bool Insert(const Batch& batch, const std::string& appId, int64_t receivedMs,
              InsertResult& result, std::string& error);

  // An empty userId means every user.
  bool GetStats(const std::string& userId, Stats& out, std::string& error);
  // Most recent first (by first event time).
  bool GetSessions(int limit, std::vector<SessionSummary>& out, std::string& error);
  // In arrival order.
  bool GetEvents(const EventQuery& query, std::vector<StoredEvent>& out, std::string& error);

 private:
  bool Exec(const char* sql, std::string& error);
  bool CreateSchema(std::string& error);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;  // guarded by mutex_
};

}  // namespace Collector
}  // namespace CorvaneSDK
