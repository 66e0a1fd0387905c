// The local collector server: event ingestion, SDK configuration, remote configuration,
// fault switches, the JSON API and the live page, all on one cpp-httplib server. Runs
// in-process (tests) or from corvane-collector serve.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Storage.h"

namespace CorvaneSDK {
namespace Collector {

struct AppCredential {
  std::string id;
  std::string secret;
};

// Switches that make the SDK endpoints misbehave. The JSON API and the live page are never
// affected, so a test can always read the store and clear the faults.
struct Faults {
  int status = 0;            // non-zero: answer every SDK request with this status, unprocessed
  double failRate = 0.0;     // fraction of SDK requests answered 503, unprocessed
  int latencyMs = 0;         // added before an SDK request is handled
  bool neverAnswer = false;  // hold SDK requests without answering until switched off or stopped
};

struct CollectorOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
  std::string dbPath;
  // Accepted Basic credentials. Empty: any well-formed credentials are accepted.
  std::vector<AppCredential> apps;
  std::map<std::string, std::string> sdkConfigs;  // app id -> JSON file
  // app id -> JSON file of the mobile answer's members (currency, conversion schema, exchange
  // rates; MobileConfig.h), added for mobile clients' config requests.
  std::map<std::string, std::string> mobileConfigs;
  // Remote config documents, looked up by the request's bundle id, then by the app id whose
  // uploads carried that bundle id, then under "*"; a single document serves every bundle.
  std::map<std::string, std::string> remoteConfigs;
  size_t maxBodyBytes = 8u * 1024u * 1024u;  // larger bodies get 413
  Faults faults;
  int threads = 16;
  // One line per SDK request and per problem. Null: silent. Called on server threads.
  std::function<void(const std::string&)> log;
};

// One handled SDK request (or refused request), for /api/requests.
struct RequestRecord {
  int64_t seq = 0;
  int64_t timeMs = 0;
  std::string method;
  std::string path;
  std::string query;
  int status = 0;
  std::string appId;
  std::string note;  // what was done, or why the request was refused
  // An expected answer that is not a failure of the SDK (a config 404 for an app that has no
  // SDK configuration here): shown as information, not counted as refused.
  bool informational = false;
};

// Thread contract: Start and Stop from one owning thread; SetFaults, GetFaults, port,
// RecentRequests and storage() are safe from any thread while running. The destructor stops.
class Collector {
 public:
  explicit Collector(CollectorOptions options);
  ~Collector();
  Collector(const Collector&) = delete;
  Collector& operator=(const Collector&) = delete;

  // Checks the configuration files, opens the store and starts listening. False with
  // `error` when any of that fails.
  bool Start(std::string& error);
  // Releases held requests, stops listening and waits for the server threads. Idempotent.
  void Stop();

  int port() const;
  std::string BaseUrl() const;  // "http://<host>:<port>"

  void SetFaults(const Faults& faults);
  Faults GetFaults() const;

  // Newest first, at most `limit`.
  std::vector<RequestRecord> RecentRequests(size_t limit) const;
  Storage& storage();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// "id:secret" into a credential; false when either side is empty.
bool ParseCredential(const std::string& text, AppCredential& out);

}  // namespace Collector
}  // namespace CorvaneSDK
