// Presentation of stored events for the API, the export and the terminal commands.
#include "Report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "MobileConfig.h"

namespace CorvaneSDK {
namespace Collector {

namespace {
// Long values are cut in terminal lines; the API and the export keep them whole.
constexpr size_t kMaxLineValue = 160;

// Event names come from outside: control bytes would drive the terminal.
std::string Printable(std::string text) {
  for (char& c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) c = '?';
  }
  return text;
}
}  // namespace

Json EventJson(const StoredEvent& e) {
  Json value;
  if (!ParseJson(e.valueJson, value)) value = e.valueJson;  // stored text is always ours
  return Json{{"seq", e.seq},
              {"eId", e.eId},
              {"parentEId", e.parentEId},
              {"name", e.name},
              {"sessionId", e.sessionId},
              {"timeMs", e.timeMs},
              {"cfgId", e.cfgId},
              {"customUid", e.customUid},
              {"value", std::move(value)},
              {"userId", e.userId},
              {"sdkVersion", e.sdkVersion},
              {"platform", e.platform},
              {"client", ClientKind(e.platform, e.sdkVersion)},
              {"appVersion", e.appVersion},
              {"appId", e.appId},
              {"bundleId", e.bundleId},
              {"receivedMs", e.receivedMs}};
}

Json StatsJson(const Stats& s) {
  Json byName = Json::object();
  for (const auto& entry : s.byName) byName[entry.first] = entry.second;
  Json byClient = Json::array();
  for (const auto& c : s.byClient) {
    byClient.push_back(Json{{"client", ClientKind(c.platform, c.sdkVersion)},
                            {"platform", c.platform},
                            {"sdkVersion", c.sdkVersion},
                            {"sessions", c.sessions},
                            {"events", c.events}});
  }
  return Json{{"events", s.events},         {"batches", s.batches},       {"sessions", s.sessions},
              {"users", s.users},           {"duplicates", s.duplicates}, {"lastSeq", s.lastSeq},
              {"byName", std::move(byName)}, {"byClient", std::move(byClient)}};
}

Json SessionJson(const SessionSummary& s) {
  return Json{{"id", s.id},
              {"userId", s.userId},
              {"platform", s.platform},
              {"appVersion", s.appVersion},
              {"sdkVersion", s.sdkVersion},
              {"client", ClientKind(s.platform, s.sdkVersion)},
              {"firstMs", s.firstMs},
              {"lastMs", s.lastMs},
              {"events", s.events}};
}

std::string FormatStats(const Stats& s) {
  std::string out;
  char line[256];
  std::snprintf(line, sizeof line,
                "events: %" PRId64 "  sessions: %" PRId64 "  users: %" PRId64 "  uploads: %" PRId64
                "  duplicates: %" PRId64 "\n",
                s.events, s.sessions, s.users, s.batches, s.duplicates);
  out += line;
  // A desktop-only store needs no split; once the mobile framework has sent, both kinds show.
  bool anyMobile = false;
  for (const auto& c : s.byClient) anyMobile = anyMobile || IsMobileClient(c.platform, c.sdkVersion);
  if (anyMobile) out += "sessions by client:\n";
  for (const auto& c : anyMobile ? s.byClient : std::vector<Stats::Client>()) {
    std::snprintf(line, sizeof line, "  %-8s %-12s %-16s sessions %6" PRId64 "  events %8" PRId64 "\n",
                  ClientKind(c.platform, c.sdkVersion).c_str(), Printable(c.platform.substr(0, 12)).c_str(),
                  Printable(c.sdkVersion.substr(0, 16)).c_str(), c.sessions, c.events);
    out += line;
  }
  if (s.byName.empty()) return out;
  size_t width = 10;
  for (const auto& entry : s.byName) width = std::max(width, entry.first.size());
  out += "events by name:\n";
  for (const auto& entry : s.byName) {
    std::snprintf(line, sizeof line, "  %-*s %6" PRId64 "\n", static_cast<int>(width),
                  Printable(entry.first.substr(0, 200)).c_str(), entry.second);
    out += line;
  }
  return out;
}

std::string FormatUtcMs(int64_t ms) {
  const int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  const int millis = static_cast<int>(ms - seconds * 1000);
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (gmtime_r(&t, &tm) == nullptr) return std::to_string(ms);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
  return text;
}

std::string FormatEventLine(const StoredEvent& e) {
  std::string value = e.valueJson;
  if (value.size() > kMaxLineValue) value = value.substr(0, kMaxLineValue) + "...";
  const std::string session =
      Printable(e.sessionId.empty() ? "--------" : e.sessionId.substr(0, 8));
  const std::string name = (e.parentEId.empty() ? "" : "  + ") + Printable(e.name);
  char line[128];
  std::snprintf(line, sizeof line, "%s  %s  %-32s ", FormatUtcMs(e.timeMs).c_str(), session.c_str(),
                name.substr(0, 60).c_str());
  return line + value;
}

}  // namespace Collector
}  // namespace CorvaneSDK
