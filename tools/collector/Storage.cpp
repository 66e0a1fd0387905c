// SQLite storage of uploaded events. Writes run in one immediate transaction per upload with
// synchronous=FULL, so a committed upload survives a crash of the collector or the machine.
#include "Storage.h"

#include <sqlite3.h>

namespace CorvaneSDK {
namespace Collector {

namespace {

constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

const char kSchema[] = R"SQL(
CREATE TABLE IF NOT EXISTS batches (
  id INTEGER PRIMARY KEY,
  received_ms INTEGER NOT NULL,
  app_id TEXT NOT NULL,
  user_id TEXT NOT NULL,
  sdk_version TEXT NOT NULL,
  bundle_id TEXT NOT NULL,
  platform TEXT NOT NULL,
  app_version TEXT NOT NULL,
  build_number TEXT NOT NULL,
  wrapper TEXT NOT NULL,
  wrapper_version TEXT NOT NULL,
  events INTEGER NOT NULL DEFAULT 0,
  duplicates INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS events (
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  e_id TEXT NOT NULL UNIQUE,
  parent_e_id TEXT NOT NULL,
  name TEXT NOT NULL,
  session_id TEXT NOT NULL,
  time_ms INTEGER NOT NULL,
  cfg_id TEXT NOT NULL,
  custom_uid TEXT NOT NULL,
  value_json TEXT NOT NULL,
  user_id TEXT NOT NULL,
  sdk_version TEXT NOT NULL,
  platform TEXT NOT NULL,
  app_version TEXT NOT NULL,
  app_id TEXT NOT NULL,
  bundle_id TEXT NOT NULL,
  batch_id INTEGER NOT NULL REFERENCES batches(id),
  received_ms INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS events_session ON events(session_id, time_ms);
CREATE INDEX IF NOT EXISTS events_user ON events(user_id);
CREATE TABLE IF NOT EXISTS duplicates (
  e_id TEXT PRIMARY KEY,
  user_id TEXT NOT NULL,
  count INTEGER NOT NULL,
  last_ms INTEGER NOT NULL
);
)SQL";

const char kEventColumns[] =
    "seq, e_id, parent_e_id, name, session_id, time_ms, cfg_id, custom_uid, value_json, "
    "user_id, sdk_version, platform, app_version, app_id, bundle_id, received_ms";

// A prepared statement, finalized on scope exit. Bind indexes start at 1.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  void Bind(int index, const std::string& text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Bind(int index, int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return sqlite3_step(stmt_); }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    return text == nullptr
               ? std::string()
               : std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
  }
  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::string Error() const { return sqlite3_errmsg(db_); }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

StoredEvent ReadEvent(const Statement& s) {
  StoredEvent e;
  e.seq = s.Int(0);
  e.eId = s.Text(1);
  e.parentEId = s.Text(2);
  e.name = s.Text(3);
  e.sessionId = s.Text(4);
  e.timeMs = s.Int(5);
  e.cfgId = s.Text(6);
  e.customUid = s.Text(7);
  e.valueJson = s.Text(8);
  e.userId = s.Text(9);
  e.sdkVersion = s.Text(10);
  e.platform = s.Text(11);
  e.appVersion = s.Text(12);
  e.appId = s.Text(13);
  e.bundleId = s.Text(14);
  e.receivedMs = s.Int(15);
  return e;
}

}  // namespace

Storage::Storage() = default;

Storage::~Storage() {
  Close();
}

void Storage::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool Storage::Exec(const char* sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message != nullptr ? message : sqlite3_errmsg(db_);
  sqlite3_free(message);
  return false;
}

bool Storage::Open(const std::string& path, Mode mode, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ != nullptr) {
    error = "database already open";
    return false;
  }
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;
  if (mode == Mode::kCreate) flags |= SQLITE_OPEN_CREATE;
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    error = "cannot open database " + path + ": " +
            (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  bool ok = true;
  {
    Statement wal(db_, "PRAGMA journal_mode=WAL");
    ok = wal.ok() && wal.Step() == SQLITE_ROW && wal.Text(0) == "wal";
    if (!ok) error = "cannot switch " + path + " to WAL mode: " + sqlite3_errmsg(db_);
  }
  ok = ok && Exec("PRAGMA synchronous=FULL", error) && CreateSchema(error);
  if (!ok) {
    error = path + ": " + error;
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  return ok;
}

bool Storage::CreateSchema(std::string& error) {
  Statement version(db_, "PRAGMA user_version");
  if (!version.ok() || version.Step() != SQLITE_ROW) {
    error = sqlite3_errmsg(db_);
    return false;
  }
  const int64_t existing = version.Int(0);
  if (existing == kSchemaVersion) return true;
  if (existing != 0) {
    error = "database has schema version " + std::to_string(existing) + ", expected " +
            std::to_string(kSchemaVersion);
    return false;
  }
  // A file that is not a database fails here, on its first read.
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  if (!Exec(kSchema, error) ||
      !Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str(), error) ||
      !Exec("COMMIT", error)) {
    std::string ignored;
    Exec("ROLLBACK", ignored);
    return false;
  }
  return true;
}

bool Storage::Insert(const Batch& batch, const std::string& appId, int64_t receivedMs,
                     InsertResult& result, std::string& error) {
  result = InsertResult();
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) {
    error = "database not open";
    return false;
  }
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  auto fail = [&](const std::string& what) {
    error = what;
    std::string ignored;
    Exec("ROLLBACK", ignored);
    result = InsertResult();
    return false;
  };

  Statement addBatch(db_,
                     "INSERT INTO batches (received_ms, app_id, user_id, sdk_version, bundle_id, "
                     "platform, app_version, build_number, wrapper, wrapper_version) "
                     "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  if (!addBatch.ok()) return fail(addBatch.Error());
  addBatch.Bind(1, receivedMs);
  addBatch.Bind(2, appId);
  addBatch.Bind(3, batch.userId);
  addBatch.Bind(4, batch.sdkVersion);
  addBatch.Bind(5, batch.bundleId);
  addBatch.Bind(6, batch.platform);
  addBatch.Bind(7, batch.appVersion);
  addBatch.Bind(8, batch.buildNumber);
  addBatch.Bind(9, batch.wrapper);
  addBatch.Bind(10, batch.wrapperVersion);
  if (addBatch.Step() != SQLITE_DONE) return fail(addBatch.Error());
  const int64_t batchId = sqlite3_last_insert_rowid(db_);

  Statement addEvent(db_,
                     "INSERT INTO events (e_id, parent_e_id, name, session_id, time_ms, cfg_id, "
                     "custom_uid, value_json, user_id, sdk_version, platform, app_version, "
                     "app_id, bundle_id, batch_id, received_ms) VALUES (?1, ?2, ?3, ?4, ?5, ?6, "
                     "?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16) "
                     "ON CONFLICT(e_id) DO NOTHING");
  Statement addDuplicate(db_,
                         "INSERT INTO duplicates (e_id, user_id, count, last_ms) "
                         "VALUES (?1, ?2, 1, ?3) ON CONFLICT(e_id) DO UPDATE SET "
                         "count = count + 1, last_ms = excluded.last_ms");
  if (!addEvent.ok()) return fail(addEvent.Error());
  if (!addDuplicate.ok()) return fail(addDuplicate.Error());
  for (const EventRecord& e : batch.events) {
    addEvent.Reset();
    addEvent.Bind(1, e.eId);
    addEvent.Bind(2, e.parentEId);
    addEvent.Bind(3, e.name);
    addEvent.Bind(4, e.sessionId);
    addEvent.Bind(5, e.timeMs);
    addEvent.Bind(6, e.cfgId);
    addEvent.Bind(7, e.customUid);
    addEvent.Bind(8, e.valueJson);
    addEvent.Bind(9, batch.userId);
    addEvent.Bind(10, batch.sdkVersion);
    addEvent.Bind(11, batch.platform);
    addEvent.Bind(12, batch.appVersion);
    addEvent.Bind(13, appId);
    addEvent.Bind(14, batch.bundleId);
    addEvent.Bind(15, batchId);
    addEvent.Bind(16, receivedMs);
    if (addEvent.Step() != SQLITE_DONE) return fail(addEvent.Error());
    if (sqlite3_changes(db_) == 1) {
      ++result.stored;
      continue;
    }
    ++result.duplicates;
    addDuplicate.Reset();
    addDuplicate.Bind(1, e.eId);
    addDuplicate.Bind(2, batch.userId);
    addDuplicate.Bind(3, receivedMs);
    if (addDuplicate.Step() != SQLITE_DONE) return fail(addDuplicate.Error());
  }

  Statement counts(db_, "UPDATE batches SET events = ?1, duplicates = ?2 WHERE id = ?3");
  if (!counts.ok()) return fail(counts.Error());
  counts.Bind(1, static_cast<int64_t>(result.stored));
  counts.Bind(2, static_cast<int64_t>(result.duplicates));
  counts.Bind(3, batchId);
  if (counts.Step() != SQLITE_DONE) return fail(counts.Error());
  if (!Exec("COMMIT", error)) return fail(error);
  return true;
}

bool Storage::GetStats(const std::string& userId, Stats& out, std::string& error) {
  out = Stats();
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) {
    error = "database not open";
    return false;
  }
  // ?1 is the user filter; NULL selects everyone.
  auto bindUser = [&](Statement& s) {
    if (!userId.empty()) s.Bind(1, userId);
  };
  Statement totals(db_,
                   "SELECT COUNT(*), COUNT(DISTINCT NULLIF(session_id, '')), "
                   "COUNT(DISTINCT user_id), COALESCE(MAX(seq), 0) FROM events "
                   "WHERE ?1 IS NULL OR user_id = ?1");
  Statement names(db_,
                  "SELECT name, COUNT(*) FROM events WHERE ?1 IS NULL OR user_id = ?1 "
                  "GROUP BY name ORDER BY name");
  Statement dups(db_,
                 "SELECT COALESCE(SUM(count), 0) FROM duplicates WHERE ?1 IS NULL OR user_id = ?1");
  Statement batches(db_, "SELECT COUNT(*) FROM batches WHERE ?1 IS NULL OR user_id = ?1");
  Statement clients(db_,
                    "SELECT platform, sdk_version, COUNT(DISTINCT NULLIF(session_id, '')), "
                    "COUNT(*) FROM events WHERE ?1 IS NULL OR user_id = ?1 "
                    "GROUP BY platform, sdk_version ORDER BY platform, sdk_version");
  for (Statement* s : {&totals, &names, &dups, &batches, &clients}) {
    if (!s->ok()) {
      error = s->Error();
      return false;
    }
    bindUser(*s);
  }
  if (totals.Step() != SQLITE_ROW || dups.Step() != SQLITE_ROW || batches.Step() != SQLITE_ROW) {
    error = sqlite3_errmsg(db_);
    return false;
  }
  out.events = totals.Int(0);
  out.sessions = totals.Int(1);
  out.users = totals.Int(2);
  out.lastSeq = totals.Int(3);
  out.duplicates = dups.Int(0);
  out.batches = batches.Int(0);
  int rc;
  while ((rc = names.Step()) == SQLITE_ROW) out.byName.emplace_back(names.Text(0), names.Int(1));
  if (rc != SQLITE_DONE) {
    error = names.Error();
    return false;
  }
  while ((rc = clients.Step()) == SQLITE_ROW) {
    Stats::Client client;
    client.platform = clients.Text(0);
    client.sdkVersion = clients.Text(1);
    client.sessions = clients.Int(2);
    client.events = clients.Int(3);
    out.byClient.push_back(std::move(client));
  }
  if (rc != SQLITE_DONE) {
    error = clients.Error();
    return false;
  }
  return true;
}

bool Storage::GetSessions(int limit, std::vector<SessionSummary>& out, std::string& error) {
  out.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) {
    error = "database not open";
    return false;
  }
  Statement s(db_,
              "SELECT session_id, MIN(user_id), MIN(platform), MIN(app_version), MIN(time_ms), "
              "MAX(time_ms), COUNT(*), MIN(sdk_version) FROM events GROUP BY session_id "
              "ORDER BY MIN(time_ms) DESC, session_id LIMIT ?1");
  if (!s.ok()) {
    error = s.Error();
    return false;
  }
  s.Bind(1, static_cast<int64_t>(limit));
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    SessionSummary summary;
    summary.id = s.Text(0);
    summary.userId = s.Text(1);
    summary.platform = s.Text(2);
    summary.appVersion = s.Text(3);
    summary.firstMs = s.Int(4);
    summary.lastMs = s.Int(5);
    summary.events = s.Int(6);
    summary.sdkVersion = s.Text(7);
    out.push_back(std::move(summary));
  }
  if (rc != SQLITE_DONE) {
    error = s.Error();
    return false;
  }
  return true;
}

bool Storage::GetEvents(const EventQuery& query, std::vector<StoredEvent>& out,
                        std::string& error) {
  out.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_ == nullptr) {
    error = "database not open";
    return false;
  }
  const std::string sql = std::string("SELECT ") + kEventColumns +
                          " FROM events WHERE seq > ?1 AND (?2 IS NULL OR session_id = ?2) "
                          "AND (?3 IS NULL OR user_id = ?3) ORDER BY seq LIMIT ?4";
  Statement s(db_, sql.c_str());
  if (!s.ok()) {
    error = s.Error();
    return false;
  }
  s.Bind(1, query.afterSeq);
  if (query.bySession) s.Bind(2, query.session);
  if (query.byUser) s.Bind(3, query.userId);
  s.Bind(4, static_cast<int64_t>(query.limit));
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) out.push_back(ReadEvent(s));
  if (rc != SQLITE_DONE) {
    error = s.Error();
    return false;
  }
  return true;
}

}  // namespace Collector
}  // namespace CorvaneSDK
