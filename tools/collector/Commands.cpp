// Subcommands of corvane-collector. serve runs the server until stopped; tail, stats and
// export open the store of a running (or stopped) collector and only read it.
#include "Commands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>

#include "Clock.h"
#include "Report.h"

namespace CorvaneSDK {
namespace Collector {

namespace {

constexpr int kDefaultPort = 8787;
constexpr int kDefaultTailIntervalMs = 500;
constexpr int kExportPage = 5000;

bool ParseInt(const std::string& text, int64_t min, int64_t max, int64_t& out) {
  if (text.empty() || text.size() > 18) return false;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0' || value < min || value > max) return false;
  out = value;
  return true;
}

bool ParseRate(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !(value >= 0.0 && value <= 1.0)) return false;
  out = value;
  return true;
}

// Splits "--name=value" or takes the next argument as the value.
class ArgReader {
 public:
  explicit ArgReader(const std::vector<std::string>& args) : args_(args) {}
  bool Next(std::string& name, std::string& value, bool& hasInline) {
    if (index_ >= args_.size()) return false;
    name = args_[index_++];
    value.clear();
    hasInline = false;
    const size_t eq = name.find('=');
    if (name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasInline = true;
    }
    return true;
  }
  bool Value(const std::string& name, std::string& value, bool hasInline, std::string& error) {
    if (hasInline) return true;
    if (index_ >= args_.size()) {
      error = name + " needs a value";
      return false;
    }
    value = args_[index_++];
    return true;
  }

 private:
  const std::vector<std::string>& args_;
  size_t index_ = 0;
};

bool ParseKeyPath(const std::string& name, const std::string& value, std::string& key,
                  std::string& path, std::string& error) {
  const size_t eq = value.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 >= value.size()) {
    error = name + " expects KEY=FILE, got \"" + value + "\"";
    return false;
  }
  key = value.substr(0, eq);
  path = value.substr(eq + 1);
  return true;
}

struct ReadSettings {
  std::string db = "corvane-collector.db";
  std::string user;
  std::string session;
  bool json = false;
  bool all = false;
  int intervalMs = kDefaultTailIntervalMs;
};

bool ParseReadArgs(const std::vector<std::string>& args, ReadSettings& out, std::string& error) {
  ArgReader reader(args);
  std::string name, value;
  bool inlineValue = false;
  while (reader.Next(name, value, inlineValue)) {
    if (name == "--json") {
      out.json = true;
    } else if (name == "--all") {
      out.all = true;
    } else if (name == "--db" || name == "--user" || name == "--session" ||
               name == "--interval-ms") {
      if (!reader.Value(name, value, inlineValue, error)) return false;
      if (name == "--db") out.db = value;
      if (name == "--user") out.user = value;
      if (name == "--session") out.session = value;
      if (name == "--interval-ms") {
        int64_t ms = 0;
        if (!ParseInt(value, 10, 60000, ms)) {
          error = "--interval-ms expects 10..60000";
          return false;
        }
        out.intervalMs = static_cast<int>(ms);
      }
    } else {
      error = "unknown argument \"" + name + "\"";
      return false;
    }
  }
  return true;
}

bool OpenExisting(Storage& storage, const std::string& path, std::ostream& err) {
  std::string error;
  if (storage.Open(path, Storage::Mode::kExisting, error)) return true;
  err << "corvane-collector: " << error << "\n";
  return false;
}

int Serve(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
          const std::function<bool(int)>& wait) {
  ServeSettings settings;
  std::string error;
  if (!ParseServeArgs(args, settings, error)) {
    err << "corvane-collector serve: " << error << "\n";
    return 2;
  }
  // Log lines come from server threads; one lock keeps them whole.
  auto logMutex = std::make_shared<std::mutex>();
  if (!settings.quiet) {
    settings.options.log = [&err, logMutex](const std::string& line) {
      std::lock_guard<std::mutex> lock(*logMutex);
      err << FormatUtcMs(WallNowMs()) << "  " << line << std::endl;
    };
  }
  Collector collector(settings.options);
  if (!collector.Start(error)) {
    err << "corvane-collector serve: " << error << "\n";
    return 1;
  }
  if (!settings.portFile.empty() && !WritePortFile(settings.portFile, collector.port(), error)) {
    err << "corvane-collector serve: " << error << "\n";
    collector.Stop();
    return 1;
  }
  out << "corvane-collector listening on " << collector.BaseUrl() << "  (database "
      << settings.options.dbPath << ")\n"
      << "  live page:  " << collector.BaseUrl() << "/\n"
      << "  events:     PUT " << collector.BaseUrl() << "/v4/event\n"
      << "  SDK config: GET " << collector.BaseUrl() << "/v1/public/config\n"
      << std::flush;
  while (wait(-1)) {
  }
  collector.Stop();
  {
    std::lock_guard<std::mutex> lock(*logMutex);
    out << "corvane-collector stopped\n" << std::flush;
  }
  return 0;
}

int StatsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ReadSettings settings;
  std::string error;
  if (!ParseReadArgs(args, settings, error)) {
    err << "corvane-collector stats: " << error << "\n";
    return 2;
  }
  Storage storage;
  if (!OpenExisting(storage, settings.db, err)) return 1;
  Stats stats;
  if (!storage.GetStats(settings.user, stats, error)) {
    err << "corvane-collector stats: " << error << "\n";
    return 1;
  }
  if (settings.json) {
    out << DumpJson(StatsJson(stats)) << "\n";
  } else {
    out << FormatStats(stats);
  }
  return 0;
}

int Export(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ReadSettings settings;
  std::string error;
  if (!ParseReadArgs(args, settings, error)) {
    err << "corvane-collector export: " << error << "\n";
    return 2;
  }
  Storage storage;
  if (!OpenExisting(storage, settings.db, err)) return 1;
  EventQuery query;
  query.byUser = !settings.user.empty();
  query.userId = settings.user;
  query.bySession = !settings.session.empty();
  query.session = settings.session;
  query.limit = kExportPage;
  // A JSON array, one event per line, written page by page so memory stays bounded.
  out << "[";
  bool first = true;
  for (;;) {
    std::vector<StoredEvent> page;
    if (!storage.GetEvents(query, page, error)) {
      err << "corvane-collector export: " << error << "\n";
      return 1;
    }
    for (const StoredEvent& e : page) {
      out << (first ? "\n" : ",\n") << DumpJson(EventJson(e));
      first = false;
    }
    if (page.size() < static_cast<size_t>(query.limit)) break;
    query.afterSeq = page.back().seq;
  }
  out << (first ? "]\n" : "\n]\n");
  return out.good() ? 0 : 1;
}

int Tail(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
         const std::function<bool(int)>& wait) {
  ReadSettings settings;
  std::string error;
  if (!ParseReadArgs(args, settings, error)) {
    err << "corvane-collector tail: " << error << "\n";
    return 2;
  }
  Storage storage;
  if (!OpenExisting(storage, settings.db, err)) return 1;
  int64_t after = 0;
  if (!settings.all) {
    Stats stats;
    if (!storage.GetStats("", stats, error)) {
      err << "corvane-collector tail: " << error << "\n";
      return 1;
    }
    after = stats.lastSeq;
  }
  return TailEvents(storage, after, settings.intervalMs, out, err, wait);
}

}  // namespace

bool ParseServeArgs(const std::vector<std::string>& args, ServeSettings& out, std::string& error) {
  out = ServeSettings();
  out.options.port = kDefaultPort;
  out.options.dbPath = "corvane-collector.db";
  ArgReader reader(args);
  std::string name, value;
  bool inlineValue = false;
  while (reader.Next(name, value, inlineValue)) {
    if (name == "--never-answer") {
      out.options.faults.neverAnswer = true;
      continue;
    }
    if (name == "--quiet") {
      out.quiet = true;
      continue;
    }
    static const char* const kValued[] = {
        "--host",    "--port",         "--port-file",     "--db",
        "--app",     "--sdk-config",   "--remote-config", "--max-body",
        "--threads", "--fault-status", "--fail-rate",     "--latency-ms", "--mobile-config"};
    bool known = false;
    for (const char* option : kValued) known = known || name == option;
    if (!known) {
      error = "unknown argument \"" + name + "\"";
      return false;
    }
    if (!reader.Value(name, value, inlineValue, error)) return false;
    int64_t number = 0;
    std::string key, path;
    if (name == "--host") {
      out.options.host = value;
    } else if (name == "--port") {
      if (!ParseInt(value, 0, 65535, number)) {
        error = "--port expects 0..65535";
        return false;
      }
      out.options.port = static_cast<int>(number);
    } else if (name == "--port-file") {
      out.portFile = value;
    } else if (name == "--db") {
      out.options.dbPath = value;
    } else if (name == "--app") {
      AppCredential app;
      if (!ParseCredential(value, app)) {
        error = "--app expects APP_ID:APP_SECRET, got \"" + value + "\"";
        return false;
      }
      out.options.apps.push_back(app);
    } else if (name == "--sdk-config") {
      if (!ParseKeyPath(name, value, key, path, error)) return false;
      out.options.sdkConfigs[key] = path;
    } else if (name == "--mobile-config") {
      if (!ParseKeyPath(name, value, key, path, error)) return false;
      out.options.mobileConfigs[key] = path;
    } else if (name == "--remote-config") {
      if (!ParseKeyPath(name, value, key, path, error)) return false;
      out.options.remoteConfigs[key] = path;
    } else if (name == "--max-body") {
      if (!ParseInt(value, 1024, int64_t(1) << 32, number)) {
        error = "--max-body expects a byte count from 1024 to 4294967296";
        return false;
      }
      out.options.maxBodyBytes = static_cast<size_t>(number);
    } else if (name == "--threads") {
      if (!ParseInt(value, 2, 256, number)) {
        error = "--threads expects 2..256";
        return false;
      }
      out.options.threads = static_cast<int>(number);
    } else if (name == "--fault-status") {
      if (!ParseInt(value, 200, 599, number)) {
        error = "--fault-status expects an HTTP status 200..599";
        return false;
      }
      out.options.faults.status = static_cast<int>(number);
    } else if (name == "--fail-rate") {
      if (!ParseRate(value, out.options.faults.failRate)) {
        error = "--fail-rate expects a number from 0 to 1";
        return false;
      }
    } else if (name == "--latency-ms") {
      if (!ParseInt(value, 0, 600000, number)) {
        error = "--latency-ms expects 0..600000";
        return false;
      }
      out.options.faults.latencyMs = static_cast<int>(number);
    } else {
      error = "unknown argument \"" + name + "\"";
      return false;
    }
  }
  return true;
}

bool WritePortFile(const std::string& path, int port, std::string& error) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    file << port << "\n";
    file.flush();
    if (!file) {
      error = "cannot write " + temp;
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "cannot rename " + temp + " to " + path;
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

int TailEvents(Storage& storage, int64_t afterSeq, int intervalMs, std::ostream& out,
               std::ostream& err, const std::function<bool(int)>& wait) {
  for (;;) {
    EventQuery query;
    query.afterSeq = afterSeq;
    query.limit = 1000;
    std::vector<StoredEvent> events;
    std::string error;
    if (!storage.GetEvents(query, events, error)) {
      err << "corvane-collector tail: " << error << "\n";
      return 1;
    }
    for (const StoredEvent& e : events) out << FormatEventLine(e) << "\n";
    out << std::flush;
    if (!out) return 0;  // the reader went away
    if (!events.empty()) afterSeq = events.back().seq;
    // A full page means more is waiting: read on without sleeping.
    if (events.size() == static_cast<size_t>(query.limit)) continue;
    if (!wait(intervalMs)) return 0;
  }
}

std::string UsageText() {
  return R"(usage: corvane-collector COMMAND [options]

commands:
  serve     run the local collector (PUT /v4/event, GET /v1/public/config,
            POST /rc/fetch, the live page at / and the JSON API under /api/)
  tail      print each newly stored event, one line per event, until Ctrl-C
  stats     events per name, sessions, users, duplicates
  export    every stored event as a JSON array (--json)

serve options:
  --host ADDR               listen address (default 127.0.0.1)
  --port N                  port, 0 for any free port (default 8787)
  --port-file FILE          write the port to FILE once listening
  --db FILE                 SQLite database (default corvane-collector.db)
  --app ID:SECRET           accepted credentials, repeatable (none: accept any)
  --sdk-config APP=FILE     SDK configuration served to app APP
  --mobile-config APP=FILE  currency, conversion schema and exchange rates for APP's
                            mobile clients
  --remote-config KEY=FILE  remote config document for bundle id or app id KEY
                            ("*" for every bundle; a single one serves all)
  --max-body BYTES          larger request bodies get 413 (default 8388608)
  --fault-status N          answer every SDK request with status N, unprocessed
  --fail-rate P             answer this fraction (0..1) of SDK requests with 503
  --latency-ms N            wait N ms before handling each SDK request
  --never-answer            hold SDK requests without ever answering
  --threads N               server threads (default 16)
  --quiet                   no request log on standard error

tail, stats and export options:
  --db FILE                 database to read (default corvane-collector.db)
  --user ID                 only events of this user (stats, export)
  --session ID              only events of this session (export)
  --json                    JSON output (stats; export always writes JSON)
  --all                     tail: start from the first stored event
  --interval-ms N           tail: polling interval (default 500)
)";
}

int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const std::function<bool(int)>& wait) {
  if (args.empty()) {
    err << UsageText();
    return 2;
  }
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "serve") return Serve(rest, out, err, wait);
  if (command == "tail") return Tail(rest, out, err, wait);
  if (command == "stats") return StatsCommand(rest, out, err);
  if (command == "export") return Export(rest, out, err);
  if (command == "help" || command == "--help" || command == "-h") {
    out << UsageText();
    return 0;
  }
  err << "corvane-collector: unknown command \"" << command << "\"\n" << UsageText();
  return 2;
}

}  // namespace Collector
}  // namespace CorvaneSDK
