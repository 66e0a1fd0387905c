// Request handling of the collector. Every SDK endpoint passes the fault switches first;
// an upload is answered 204 only after its transaction has committed, so an accepted batch
// is never lost. Handlers catch everything: a hostile request gets a JSON error, never a crash.
#include "Collector.h"

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <algorithm>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "Clock.h"
#include "Crypto.h"
#include "Json.h"
#include "LivePage.h"
#include "MobileConfig.h"
#include "RemoteConfigSender.h"
#include "Report.h"
#include "Token.h"
#include "Validation.h"

namespace CorvaneSDK {
namespace Collector {

namespace {

constexpr size_t kMaxRecords = 200;   // request records kept for /api/requests
constexpr size_t kMaxDocuments = 64;  // remote config versions kept for their GET
constexpr size_t kMaxConfigFileBytes = 4u * 1024u * 1024u;
constexpr int kMaxApiLimit = 10000;
// Events per session read for /api/sessions?events=1. Up to kTimelineMarks they are sent one
// by one; a longer session is sent as kTimelineBins counts per name over its span.
constexpr int kSessionTimelineEvents = 20000;
constexpr size_t kTimelineMarks = 300;
constexpr int kTimelineBins = 100;
constexpr int kPageSessions = 20;
constexpr int kPageRequests = 15;
constexpr int kPageEvents = 2000;

using httplib::Request;
using httplib::Response;

std::string ErrorBody(const std::string& message) {
  return DumpJson(Json{{"error", message}});
}

void SetError(Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(ErrorBody(message), "application/json");
}

void SetJson(Response& res, const Json& body) {
  res.status = 200;
  res.set_content(DumpJson(body), "application/json");
}

bool ReadFile(const std::string& path, std::string& out, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string data;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    data.append(buffer, static_cast<size_t>(in.gcount()));
    if (data.size() > kMaxConfigFileBytes) {
      error = path + " is larger than " + std::to_string(kMaxConfigFileBytes) + " bytes";
      return false;
    }
  }
  out = std::move(data);
  return true;
}

// A JSON object file: its parsed form and the hex SHA-256 of its bytes.
bool ReadJsonObjectFile(const std::string& path, Json& object, std::string& hash,
                        std::string& error) {
  std::string bytes;
  if (!ReadFile(path, bytes, error)) return false;
  if (!ParseJson(bytes, object) || !object.is_object()) {
    error = path + " is not a JSON object";
    return false;
  }
  hash = ToHex(Sha256(bytes));
  return true;
}

std::string PercentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// A Host header fit to build the document location from; else empty.
std::string SafeHost(const std::string& host) {
  if (host.empty() || host.size() > 255) return std::string();
  for (char c : host) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
    if (!ok) return std::string();
  }
  return host;
}

// Non-negative integer query parameter; `fallback` when absent, false when malformed.
bool IntParam(const Request& req, const char* name, int64_t fallback, int64_t max, int64_t& out) {
  out = fallback;
  if (!req.has_param(name)) return true;
  const std::string text = req.get_param_value(name);
  if (text.empty() || text.size() > 18) return false;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  out = value < max ? value : max;
  return true;
}

}  // namespace

bool ParseCredential(const std::string& text, AppCredential& out) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
  out.id = text.substr(0, colon);
  out.secret = text.substr(colon + 1);
  return true;
}

struct Collector::Impl {
  explicit Impl(CollectorOptions o) : options(std::move(o)), faults(options.faults) {}

  CollectorOptions options;
  Storage store;
  httplib::Server server;
  std::thread thread;
  int port = 0;
  bool started = false;  // owner thread only

  // Guards faults, stopping, records, documents, bundleApps and random.
  mutable std::mutex mutex;
  std::condition_variable wake;  // fault change or stop: releases held requests
  Faults faults;
  bool stopping = false;
  std::deque<RequestRecord> records;
  int64_t recordSeq = 0;
  int64_t rejected = 0;
  std::deque<std::string> documentOrder;
  std::map<std::string, std::string> documents;   // "<key>/<hash>" -> document bytes
  std::map<std::string, std::string> bundleApps;  // bundle id -> app id of its uploads
  std::mt19937_64 random{std::random_device{}()};

  void Log(const std::string& line) const {
    if (options.log) options.log(line);
  }

  void Record(const Request& req, int status, const std::string& appId, const std::string& note,
              bool informational = false) {
    RequestRecord r;
    r.timeMs = WallNowMs();
    r.method = req.method;
    r.path = req.path.substr(0, 256);
    const size_t q = req.target.find('?');
    if (q != std::string::npos) r.query = req.target.substr(q + 1, 512);
    r.status = status;
    r.appId = appId;
    r.note = note.substr(0, 512);
    r.informational = informational;
    {
      std::lock_guard<std::mutex> lock(mutex);
      r.seq = ++recordSeq;
      if (status >= 400 && !informational) ++rejected;
      records.push_front(r);
      if (records.size() > kMaxRecords) records.pop_back();
    }
    std::string line = r.method + " " + r.path + " " + std::to_string(status);
    if (!appId.empty()) line += " " + appId;
    if (!note.empty()) line += " " + r.note;
    Log(line);
  }

  // Runs the fault switches; true when the request has been answered by them.
  bool ApplyFaults(const Request& req, Response& res) {
    std::unique_lock<std::mutex> lock(mutex);
    if (faults.latencyMs > 0) {
      const auto until =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(faults.latencyMs);
      wake.wait_until(lock, until, [&] { return stopping; });
    }
    if (faults.neverAnswer && !stopping) {
      wake.wait(lock, [&] { return stopping || !faults.neverAnswer; });
      lock.unlock();
      SetError(res, 503, "held by the never-answer switch");
      Record(req, 503, "", "released from the never-answer switch");
      return true;
    }
    if (stopping) {
      lock.unlock();
      SetError(res, 503, "collector is stopping");
      return true;
    }
    if (faults.status != 0) {
      const int status = faults.status;
      lock.unlock();
      res.status = status;
      if (status >= 400)
        res.set_content(ErrorBody("fault switch: status " + std::to_string(status)),
                        "application/json");
      Record(req, status, "", "fault switch: fixed status");
      return true;
    }
    if (faults.failRate > 0.0 &&
        std::uniform_real_distribution<double>(0.0, 1.0)(random) < faults.failRate) {
      lock.unlock();
      SetError(res, 503, "fault switch: failure rate");
      Record(req, 503, "", "fault switch: failure rate");
      return true;
    }
    return false;
  }

  // Wraps an SDK endpoint: faults first, then the handler; nothing escapes.
  httplib::Server::Handler SdkEndpoint(void (Impl::*handler)(const Request&, Response&)) {
    return [this, handler](const Request& req, Response& res) {
      try {
        if (ApplyFaults(req, res)) return;
        (this->*handler)(req, res);
      } catch (const std::exception& e) {
        SetError(res, 500, std::string("internal error: ") + e.what());
        Record(req, 500, "", res.body);
      } catch (...) {
        SetError(res, 500, "internal error");
        Record(req, 500, "", res.body);
      }
    };
  }

  // Reads the body through the content reader so that the size limit also holds for
  // chunked bodies, which the server's own limit does not cover. False when the request was
  // answered (too large or cut short).
  bool ReadBody(const Request& req, Response& res, const httplib::ContentReader& reader,
                std::string& body) {
    bool tooLarge = false;
    const size_t limit = options.maxBodyBytes;
    const bool complete = reader([&](const char* data, size_t length) {
      if (length > limit - body.size()) {
        tooLarge = true;
        return false;
      }
      body.append(data, length);
      return true;
    });
    if (complete && !tooLarge) return true;
    // The rest of the body is unread, so the client is asked to drop the connection.
    res.set_header("Connection", "close");
    if (tooLarge || res.status == 413) {
      const std::string error = "body too large (limit " + std::to_string(limit) + " bytes)";
      SetError(res, 413, error);
      Record(req, 413, "", error);
    } else {
      SetError(res, 400, "incomplete request body");
      Record(req, 400, "", "incomplete request body");
    }
    return false;
  }

  using BodyHandler = void (Impl::*)(const Request&, const std::string&, Response&);

  // An SDK endpoint with a body: read (bounded), then faults, then the handler.
  httplib::Server::HandlerWithContentReader SdkBodyEndpoint(BodyHandler handler) {
    return
        [this, handler](const Request& req, Response& res, const httplib::ContentReader& reader) {
          try {
            std::string body;
            if (!ReadBody(req, res, reader, body)) return;
            if (ApplyFaults(req, res)) return;
            (this->*handler)(req, body, res);
          } catch (const std::exception& e) {
            SetError(res, 500, std::string("internal error: ") + e.what());
            Record(req, 500, "", res.body);
          } catch (...) {
            SetError(res, 500, "internal error");
            Record(req, 500, "", res.body);
          }
        };
  }

  httplib::Server::HandlerWithContentReader ApiBodyEndpoint(BodyHandler handler) {
    return
        [this, handler](const Request& req, Response& res, const httplib::ContentReader& reader) {
          try {
            std::string body;
            if (!ReadBody(req, res, reader, body)) return;
            (this->*handler)(req, body, res);
          } catch (const std::exception& e) {
            SetError(res, 500, std::string("internal error: ") + e.what());
          } catch (...) {
            SetError(res, 500, "internal error");
          }
        };
  }

  httplib::Server::Handler ApiEndpoint(void (Impl::*handler)(const Request&, Response&)) {
    return [this, handler](const Request& req, Response& res) {
      try {
        (this->*handler)(req, res);
      } catch (const std::exception& e) {
        SetError(res, 500, std::string("internal error: ") + e.what());
      } catch (...) {
        SetError(res, 500, "internal error");
      }
    };
  }

  // Basic credentials against the configured apps. Sets `appId` on success.
  bool Authorize(const Request& req, std::string& appId, std::string& error) const {
    const std::string header = req.get_header_value("Authorization");
    const std::string prefix = "Basic ";
    if (header.empty()) {
      error = "missing Authorization header (Basic base64(appId:appSecret))";
      return false;
    }
    std::string decoded;
    AppCredential given;
    if (header.compare(0, prefix.size(), prefix) != 0 ||
        !Base64Decode(header.substr(prefix.size()), decoded) || !ParseCredential(decoded, given)) {
      error = "malformed Authorization header (expected Basic base64(appId:appSecret))";
      return false;
    }
    if (options.apps.empty()) {
      appId = given.id;
      return true;
    }
    for (const AppCredential& app : options.apps) {
      if (app.id == given.id && app.secret == given.secret) {
        appId = app.id;
        return true;
      }
    }
    error = "unknown app id or wrong secret for \"" + given.id.substr(0, 64) + "\"";
    return false;
  }

  void HandleEvents(const Request& req, const std::string& body, Response& res) {
    std::string appId, error;
    if (!Authorize(req, appId, error)) {
      res.set_header("WWW-Authenticate", "Basic realm=\"corvane-collector\"");
      SetError(res, 401, error);
      Record(req, 401, "", error);
      return;
    }
    Batch batch;
    if (!ParseBatch(body, batch, error)) {
      SetError(res, 400, error);
      Record(req, 400, appId, error);
      return;
    }
    InsertResult result;
    if (!store.Insert(batch, appId, WallNowMs(), result, error)) {
      SetError(res, 500, "storage: " + error);
      Record(req, 500, appId, "storage: " + error);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      bundleApps[batch.bundleId] = appId;
    }
    res.status = 204;
    Record(req, 204, appId,
           "stored " + std::to_string(result.stored) + ", duplicates " +
               std::to_string(result.duplicates));
  }

  void HandleSdkConfig(const Request& req, Response& res) {
    const std::string appId = req.get_param_value("app_id");
    if (appId.empty()) {
      SetError(res, 400, "missing query member app_id");
      Record(req, 400, "", "missing query member app_id");
      return;
    }
    const bool mobile = IsMobileClient(req.get_param_value("platform"), std::string());
    auto file = options.sdkConfigs.find(appId);
    auto mobileFile = mobile ? options.mobileConfigs.find(appId) : options.mobileConfigs.end();
    if (file == options.sdkConfigs.end() && mobileFile == options.mobileConfigs.end()) {
      const std::string error = "no SDK configuration for app \"" + appId.substr(0, 64) +
                                "\" (start the collector with --sdk-config APP=FILE" +
                                (mobile ? " or --mobile-config APP=FILE)" : ")");
      SetError(res, 404, error);
      // The SDK keeps its stored or built-in configuration: nothing went wrong.
      Record(req, 404, appId, error, true);
      return;
    }
    Json body = Json::object();
    std::string note;
    std::string error;
    if (file != options.sdkConfigs.end()) {
      Json config;
      std::string hash;
      if (!ReadJsonObjectFile(file->second, config, hash, error)) {
        SetError(res, 500, error);
        Record(req, 500, appId, error);
        return;
      }
      body["sdk_config_hash"] = hash;
      const bool unchanged = req.get_param_value("sdk_config_hash") == hash;
      if (!unchanged) body["sdk_config"] = std::move(config);
      note = unchanged ? "configuration unchanged" : "configuration sent";
    }
    if (mobileFile != options.mobileConfigs.end()) {
      Json document;
      std::string hash;
      MobileExtras extras;
      if (!ReadJsonObjectFile(mobileFile->second, document, hash, error) ||
          !ParseMobileExtras(document, extras, error)) {
        error = mobileFile->second + ": " + error;
        SetError(res, 500, error);
        Record(req, 500, appId, error);
        return;
      }
      std::vector<std::string> sent;
      AddMobileAnswer(extras, [&req](const char* key) { return req.get_param_value(key); }, body, sent);
      std::string list;
      for (const std::string& name : sent) list += (list.empty() ? "" : ", ") + name;
      note += std::string(note.empty() ? "" : "; ") + "mobile: " + (list.empty() ? "nothing new" : list);
    }
    SetJson(res, body);
    Record(req, 200, appId, note);
  }

  // The document for a remote config request; false when none is configured for it.
  bool FindRemoteConfig(const std::string& bundleId, std::string& key, std::string& path) {
    const auto& docs = options.remoteConfigs;
    auto it = docs.find(bundleId);
    if (it == docs.end()) {
      std::lock_guard<std::mutex> lock(mutex);
      auto app = bundleApps.find(bundleId);
      if (app != bundleApps.end()) it = docs.find(app->second);
    }
    if (it == docs.end()) it = docs.find("*");
    if (it == docs.end() && docs.size() == 1) it = docs.begin();
    if (it == docs.end()) return false;
    key = it->first;
    path = it->second;
    return true;
  }

  void HandleRemoteConfigFetch(const Request& req, const std::string& text, Response& res) {
    TokenClaims claims;
    std::string error;
    if (!VerifyToken(req.get_header_value("Quorvel-Token"), TokenKey(), WallNowMs() / 1000, claims,
                     error)) {
      SetError(res, 401, error);
      Record(req, 401, "", error);
      return;
    }
    Json body;
    static const char* const kKeys[] = {"buildNumber", "bundleId", "platform", "qvUid"};
    if (!ParseJson(text, body) || !body.is_object()) {
      error = "body is not a JSON object";
    } else {
      for (auto it = body.begin(); it != body.end() && error.empty(); ++it) {
        bool known = false;
        for (const char* k : kKeys) known = known || it.key() == k;
        if (!known) error = "body: unexpected key \"" + it.key().substr(0, 64) + "\"";
      }
      for (const char* k : kKeys) {
        if (!error.empty()) break;
        auto v = body.find(k);
        if (v == body.end()) {
          error = std::string("body: missing \"") + k + "\"";
        } else if (std::string(k) == "buildNumber" ? !v->is_number_integer() : !v->is_string()) {
          error = std::string(k) + (std::string(k) == "buildNumber" ? ": expected an integer"
                                                                    : ": expected a string");
        }
      }
    }
    if (!error.empty()) {
      SetError(res, 400, error);
      Record(req, 400, "", error);
      return;
    }
    const std::string bundleId = body["bundleId"].get<std::string>();
    if (claims.subject != bundleId) {
      error = "token subject does not match the body's bundleId";
      SetError(res, 401, error);
      Record(req, 401, "", error);
      return;
    }
    std::string key, path;
    if (!FindRemoteConfig(bundleId, key, path)) {
      error = "no remote config for bundle \"" + bundleId.substr(0, 64) +
              "\" (start the collector with --remote-config KEY=FILE)";
      SetError(res, 404, error);
      Record(req, 404, "", error);
      return;
    }
    std::string document;
    if (!ReadFile(path, document, error)) {
      SetError(res, 500, error);
      Record(req, 500, "", error);
      return;
    }
    // The location changes with the content, which is how the SDK notices a new version.
    const std::string hash = ToHex(Sha256(document)).substr(0, 16);
    {
      std::lock_guard<std::mutex> lock(mutex);
      const std::string id = key + "/" + hash;
      if (documents.find(id) == documents.end()) {
        documents[id] = document;
        documentOrder.push_back(id);
        if (documentOrder.size() > kMaxDocuments) {
          documents.erase(documentOrder.front());
          documentOrder.pop_front();
        }
      }
    }
    std::string host = SafeHost(req.get_header_value("Host"));
    if (host.empty()) host = options.host + ":" + std::to_string(port);
    const std::string location =
        "http://" + host + "/rc/doc/" + PercentEncode(key) + "/" + hash + ".json";
    SetJson(res, Json{{"message", location}});
    Record(req, 200, "", "location " + location);
  }

  void HandleRemoteConfigDocument(const Request& req, Response& res) {
    const std::string id =
        req.matches.size() == 3 ? req.matches[1].str() + "/" + req.matches[2].str() : std::string();
    std::string document;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto it = documents.find(id);
      if (it != documents.end()) document = it->second;
    }
    if (document.empty()) {
      SetError(res, 404, "no such remote config document");
      Record(req, 404, "", "no such remote config document");
      return;
    }
    res.status = 200;
    res.set_content(document, "application/json");
    Record(req, 200, "", "document sent");
  }

  // ----- JSON API and live page

  void HandlePage(const Request&, Response& res) {
    // The page starts from the state of this moment, not from an empty shell that waits for
    // its first poll.
    Json state = Json::object();
    std::string error;
    Json stats, sessions;
    if (BuildStats("", stats, error)) state["stats"] = std::move(stats);
    if (BuildSessions(kPageSessions, true, sessions, error)) {
      if (!sessions.empty()) {
        const std::string first = sessions[0].value("id", "");
        EventQuery query;
        query.bySession = true;
        query.session = first;
        query.limit = kPageEvents;
        std::vector<StoredEvent> events;
        if (store.GetEvents(query, events, error)) {
          Json list = Json::array();
          for (const StoredEvent& e : events) list.push_back(EventJson(e));
          state["selected"] = first;
          state["events"] = std::move(list);
        }
      }
      state["sessions"] = std::move(sessions);
    }
    state["requests"] = BuildRequests(kPageRequests);
    // Inside a script element no "<" may end it early; JSON reads the escape as the same "<".
    std::string json = DumpJson(state);
    std::string safe;
    safe.reserve(json.size() + 16);
    for (char c : json) {
      if (c == '<') {
        safe += "\\u003c";
      } else {
        safe += c;
      }
    }
    std::string page = LivePageHtml();
    const std::string marker = "{\"initial\":null}";
    const size_t at = page.find(marker);
    if (at != std::string::npos) page.replace(at, marker.size(), safe);
    res.status = 200;
    res.set_header("Cache-Control", "no-store");
    res.set_content(page, "text/html; charset=utf-8");
  }

  bool BuildStats(const std::string& user, Json& out, std::string& error) {
    Stats stats;
    if (!store.GetStats(user, stats, error)) return false;
    out = StatsJson(stats);
    std::lock_guard<std::mutex> lock(mutex);
    out["requests"] = recordSeq;
    out["rejected"] = rejected;
    return true;
  }

  bool BuildSessions(int limit, bool withEvents, Json& out, std::string& error) {
    std::vector<SessionSummary> sessions;
    if (!store.GetSessions(limit, sessions, error)) return false;
    out = Json::array();
    for (const SessionSummary& s : sessions) {
      Json item = SessionJson(s);
      if (withEvents) {
        EventQuery query;
        query.bySession = true;
        query.session = s.id;
        query.limit = kSessionTimelineEvents;
        std::vector<StoredEvent> events;
        if (!store.GetEvents(query, events, error)) return false;
        if (events.size() <= kTimelineMarks) {
          Json timeline = Json::array();
          for (const StoredEvent& e : events) {
            timeline.push_back(Json{{"seq", e.seq},
                                    {"eId", e.eId},
                                    {"parentEId", e.parentEId},
                                    {"name", e.name},
                                    {"timeMs", e.timeMs}});
          }
          item["timeline"] = std::move(timeline);
        } else {
          // Counts per name in equal slices of the span: a long session stays readable.
          const int64_t span = std::max<int64_t>(1, s.lastMs - s.firstMs);
          std::vector<std::map<std::string, int64_t>> bins(kTimelineBins);
          for (const StoredEvent& e : events) {
            int64_t index = (e.timeMs - s.firstMs) * kTimelineBins / (span + 1);
            index = std::min<int64_t>(std::max<int64_t>(index, 0), kTimelineBins - 1);
            ++bins[static_cast<size_t>(index)][e.name];
          }
          Json list = Json::array();
          for (const auto& bin : bins) {
            Json counts = Json::object();
            for (const auto& entry : bin) counts[entry.first] = entry.second;
            list.push_back(std::move(counts));
          }
          item["bins"] = std::move(list);
          item["binMs"] = (span + kTimelineBins) / kTimelineBins;
        }
      }
      out.push_back(std::move(item));
    }
    return true;
  }

  Json BuildRequests(int64_t limit) {
    Json list = Json::array();
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = 0; i < records.size() && static_cast<int64_t>(i) < limit; ++i) {
      const RequestRecord& r = records[i];
      list.push_back(Json{{"seq", r.seq},
                          {"timeMs", r.timeMs},
                          {"method", r.method},
                          {"path", r.path},
                          {"query", r.query},
                          {"status", r.status},
                          {"appId", r.appId},
                          {"note", r.note},
                          {"informational", r.informational}});
    }
    return list;
  }

  void HandleStats(const Request& req, Response& res) {
    Json body;
    std::string error;
    if (!BuildStats(req.get_param_value("user"), body, error)) {
      SetError(res, 500, "storage: " + error);
      return;
    }
    SetJson(res, body);
  }

  void HandleSessions(const Request& req, Response& res) {
    int64_t limit = 0;
    if (!IntParam(req, "limit", 50, kMaxApiLimit, limit)) {
      SetError(res, 400, "limit: expected a non-negative integer");
      return;
    }
    Json list;
    std::string error;
    if (!BuildSessions(static_cast<int>(limit), req.get_param_value("events") == "1", list, error)) {
      SetError(res, 500, "storage: " + error);
      return;
    }
    SetJson(res, Json{{"sessions", std::move(list)}});
  }

  void HandleEventList(const Request& req, Response& res) {
    EventQuery query;
    int64_t after = 0, limit = 0;
    if (!IntParam(req, "after", 0, INT64_MAX, after) ||
        !IntParam(req, "limit", 1000, kMaxApiLimit, limit)) {
      SetError(res, 400, "after and limit: expected non-negative integers");
      return;
    }
    query.afterSeq = after;
    query.limit = static_cast<int>(limit);
    query.bySession = req.has_param("session");
    query.session = req.get_param_value("session");
    query.byUser = req.has_param("user");
    query.userId = req.get_param_value("user");
    std::vector<StoredEvent> events;
    std::string error;
    if (!store.GetEvents(query, events, error)) {
      SetError(res, 500, "storage: " + error);
      return;
    }
    Json list = Json::array();
    for (const StoredEvent& e : events) list.push_back(EventJson(e));
    SetJson(res, Json{{"events", std::move(list)},
                      {"lastSeq", events.empty() ? after : events.back().seq}});
  }

  void HandleRequests(const Request& req, Response& res) {
    int64_t limit = 0;
    if (!IntParam(req, "limit", 50, static_cast<int64_t>(kMaxRecords), limit)) {
      SetError(res, 400, "limit: expected a non-negative integer");
      return;
    }
    SetJson(res, Json{{"requests", BuildRequests(limit)}});
  }


  static Json FaultsJson(const Faults& f) {
    return Json{{"status", f.status},
                {"failRate", f.failRate},
                {"latencyMs", f.latencyMs},
                {"neverAnswer", f.neverAnswer}};
  }

  void HandleGetFaults(const Request&, Response& res) {
    std::lock_guard<std::mutex> lock(mutex);
    SetJson(res, FaultsJson(faults));
  }

  void HandlePutFaults(const Request&, const std::string& text, Response& res) {
    Json body;
    if (!ParseJson(text, body) || !body.is_object()) {
      SetError(res, 400, "body is not a JSON object");
      return;
    }
    Faults next;
    {
      std::lock_guard<std::mutex> lock(mutex);
      next = faults;
    }
    for (auto it = body.begin(); it != body.end(); ++it) {
      const std::string& key = it.key();
      const Json& v = it.value();
      if (key == "status" && v.is_number_integer() &&
          (v.get<int64_t>() == 0 || (v.get<int64_t>() >= 200 && v.get<int64_t>() <= 599))) {
        next.status = v.get<int>();
      } else if (key == "failRate" && v.is_number() && v.get<double>() >= 0.0 &&
                 v.get<double>() <= 1.0) {
        next.failRate = v.get<double>();
      } else if (key == "latencyMs" && v.is_number_integer() && v.get<int64_t>() >= 0 &&
                 v.get<int64_t>() <= 600000) {
        next.latencyMs = v.get<int>();
      } else if (key == "neverAnswer" && v.is_boolean()) {
        next.neverAnswer = v.get<bool>();
      } else {
        SetError(res, 400, "faults: bad or unknown member \"" + key.substr(0, 64) + "\"");
        return;
      }
    }
    SetFaults(next);
    SetJson(res, FaultsJson(next));
  }

  void SetFaults(const Faults& next) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      faults = next;
    }
    wake.notify_all();
    Log("faults: status " + std::to_string(next.status) + ", fail rate " +
        std::to_string(next.failRate) + ", latency " + std::to_string(next.latencyMs) +
        " ms, never answer " + (next.neverAnswer ? "on" : "off"));
  }

  bool CheckFiles(std::string& error) const {
    for (const auto& entry : options.sdkConfigs) {
      Json config;
      std::string hash;
      if (!ReadJsonObjectFile(entry.second, config, hash, error)) return false;
      // The SDK ignores a configuration whose credentials are not its own.
      for (const AppCredential& app : options.apps) {
        if (app.id != entry.first) continue;
        if (JsonString(config, "appId") != app.id ||
            JsonString(config, "appSecret") != app.secret) {
          Log("warning: " + entry.second + ": \"appId\"/\"appSecret\" differ from --app " + app.id +
              "; the SDK will ignore this configuration");
        }
      }
    }
    for (const auto& entry : options.remoteConfigs) {
      Json document;
      std::string hash;
      if (!ReadJsonObjectFile(entry.second, document, hash, error)) return false;
    }
    for (const auto& entry : options.mobileConfigs) {
      Json document;
      std::string hash;
      MobileExtras extras;
      if (!ReadJsonObjectFile(entry.second, document, hash, error)) return false;
      if (!ParseMobileExtras(document, extras, error)) {
        error = entry.second + ": " + error;
        return false;
      }
    }
    return true;
  }

  void Route() {
    server.new_task_queue = [n = options.threads] {
      return new httplib::ThreadPool(static_cast<size_t>(n > 0 ? n : 16));
    };
    server.set_payload_max_length(options.maxBodyBytes);
    // Short, so that Stop is not held up by idle keep-alive connections.
    server.set_keep_alive_timeout(2);
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    server.set_pre_routing_handler([this](const Request& req, Response& res) {
      // Compressed request bodies could expand far beyond the body limit.
      const std::string encoding = req.get_header_value("Content-Encoding");
      if (!encoding.empty() && encoding != "identity") {
        res.set_header("Connection", "close");
        SetError(res, 415, "compressed request bodies are not accepted");
        Record(req, 415, "", "Content-Encoding " + encoding.substr(0, 32));
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([this](const Request& req, Response& res) {
          if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
          std::string message;
          switch (res.status) {
            case 413:
              message = "body too large (limit " + std::to_string(options.maxBodyBytes) + " bytes)";
              break;
            case 404:
              message = "no such endpoint: " + req.method + " " + req.path.substr(0, 128);
              break;
            case 400:
              message = "malformed request";
              break;
            default:
              message = "HTTP status " + std::to_string(res.status);
              break;
          }
          res.set_content(ErrorBody(message), "application/json");
          if (req.path.compare(0, 5, "/api/") != 0 && req.path != "/favicon.ico") {
            Record(req, res.status, "", message);
          }
          return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler([](const Request&, Response& res, std::exception_ptr) {
      SetError(res, 500, "internal error");
    });

    server.Put("/v4/event", SdkBodyEndpoint(&Impl::HandleEvents));
    server.Get("/v1/public/config", SdkEndpoint(&Impl::HandleSdkConfig));
    server.Post("/rc/fetch", SdkBodyEndpoint(&Impl::HandleRemoteConfigFetch));
    server.Get(R"(/rc/doc/([^/]+)/([0-9a-f]{16})\.json)",
               SdkEndpoint(&Impl::HandleRemoteConfigDocument));

    server.Get("/", ApiEndpoint(&Impl::HandlePage));
    server.Get("/favicon.ico", [](const Request&, Response& res) { res.status = 204; });
    server.Get("/api/stats", ApiEndpoint(&Impl::HandleStats));
    server.Get("/api/sessions", ApiEndpoint(&Impl::HandleSessions));
    server.Get("/api/events", ApiEndpoint(&Impl::HandleEventList));
    server.Get("/api/requests", ApiEndpoint(&Impl::HandleRequests));
    server.Get("/api/faults", ApiEndpoint(&Impl::HandleGetFaults));
    server.Put("/api/faults", ApiBodyEndpoint(&Impl::HandlePutFaults));
  }
};

Collector::Collector(CollectorOptions options) : impl_(new Impl(std::move(options))) {}

Collector::~Collector() {
  Stop();
}

bool Collector::Start(std::string& error) {
  Impl& d = *impl_;
  if (d.started) {
    error = "already started";
    return false;
  }
  if (d.options.dbPath.empty()) {
    error = "no database path";
    return false;
  }
  if (!d.CheckFiles(error)) return false;
  if (!d.store.Open(d.options.dbPath, Storage::Mode::kCreate, error)) return false;
  d.Route();
  if (d.options.port == 0) {
    d.port = d.server.bind_to_any_port(d.options.host);
  } else {
    d.port = d.server.bind_to_port(d.options.host, d.options.port) ? d.options.port : -1;
  }
  if (d.port <= 0) {
    error = "cannot listen on " + d.options.host + ":" + std::to_string(d.options.port);
    d.store.Close();
    return false;
  }
  d.thread = std::thread([&d] { d.server.listen_after_bind(); });
  for (int i = 0; i < 5000 && !d.server.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  d.started = true;
  if (!d.server.is_running()) {
    Stop();
    error = "the server did not start";
    return false;
  }
  if (d.options.apps.empty()) d.Log("no --app given: any Basic credentials are accepted");
  return true;
}

void Collector::Stop() {
  Impl& d = *impl_;
  if (!d.started) return;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.stopping = true;
  }
  d.wake.notify_all();
  d.server.stop();
  if (d.thread.joinable()) d.thread.join();
  d.store.Close();
  d.started = false;
}

int Collector::port() const {
  return impl_->port;
}

std::string Collector::BaseUrl() const {
  return "http://" + impl_->options.host + ":" + std::to_string(impl_->port);
}

void Collector::SetFaults(const Faults& faults) {
  impl_->SetFaults(faults);
}

Faults Collector::GetFaults() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->faults;
}

std::vector<RequestRecord> Collector::RecentRequests(size_t limit) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  std::vector<RequestRecord> out;
  for (size_t i = 0; i < impl_->records.size() && i < limit; ++i) out.push_back(impl_->records[i]);
  return out;
}

Storage& Collector::storage() {
  return impl_->store;
}

}  // namespace Collector
}  // namespace CorvaneSDK
