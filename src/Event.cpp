// Event records, their pool, the JSON wire form and the batch body.
#include "Event.h"

#include <deque>
#include <mutex>

#include "Env.h"
#include "EventWriter.h"
#include "Logger.h"
#include "PercentEncoding.h"
#include "IdentitySnapshot.h"
#include "Random.h"
#include "Version.h"

namespace CorvaneSDK {
namespace {

// Released records wait here for reuse, oldest first. Bounded so that a burst does not pin
// its peak memory for the rest of the run.
constexpr size_t kMaxPooledRecords = 1024;

std::mutex& PoolMutex() {
  static std::mutex* m = new std::mutex();
  return *m;
}
std::deque<Event*>& Pool() {
  static std::deque<Event*>* pool = new std::deque<Event*>();
  return *pool;
}

// Takes the sub-events out of their owners, so that clearing a record releases nothing twice.
void CollectForRelease(Event* event, std::vector<Event*>& out) {
  for (EventPtr& child : event->subEvents) {
    if (Event* c = child.release()) CollectForRelease(c, out);
  }
  out.push_back(event);
}

}  // namespace

void EventReleaser::operator()(Event* event) const { Event::Release(event); }

EventPtr Event::Acquire(const std::string& name) {
  Event* event = nullptr;
  {
    std::lock_guard<std::mutex> lock(PoolMutex());
    if (!Pool().empty()) {
      event = Pool().front();
      Pool().pop_front();
    }
  }
  if (event == nullptr) event = new Event();
  event->eventName = name;
  return EventPtr(event);
}

void Event::Release(Event* event) {
  if (event == nullptr) return;
  std::vector<Event*> records;
  CollectForRelease(event, records);
  // Clearing happens outside the pool lock: it frees JSON values and strings.
  for (Event* r : records) r->Clear();
  std::vector<Event*> surplus;
  {
    std::lock_guard<std::mutex> lock(PoolMutex());
    for (Event* r : records) {
      if (Pool().size() < kMaxPooledRecords) {
        Pool().push_back(r);
      } else {
        surplus.push_back(r);
      }
    }
  }
  for (Event* r : surplus) delete r;
}

size_t Event::PoolSize() {
  std::lock_guard<std::mutex> lock(PoolMutex());
  return Pool().size();
}

void Event::Clear() {
  // Cleared whole, so no stale identity rides on the record's next use.
  eventName.clear();
  value = nullptr;
  // A pooled record keeps a typical payload's buffer, not a rare large one.
  if (valueText.capacity() > 1024) {
    std::string().swap(valueText);
  } else {
    valueText.clear();
  }
  flags = 0;
  sequence = 0;
  eId.clear();
  id.clear();
  timeInMs = 0;
  cfgId.clear();
  customUid.clear();
  subEvents.clear();
}

void Event::Stamp(const std::string& sessionId, const std::string& configId,
                  const std::string& customUserId, Env& env) {
  eId = NewUuid(env);
  timeInMs = env.GetClock().WallMs();
  id = sessionId;
  cfgId = configId;
  customUid = customUserId;
  for (const EventPtr& child : subEvents) {
    if (child) child->Stamp(sessionId, configId, customUserId, env);
  }
}

void Event::FillSessionIfEmpty(const std::string& sessionId) {
  if (id.empty()) id = sessionId;
  for (const EventPtr& child : subEvents) {
    if (child) child->FillSessionIfEmpty(sessionId);
  }
}

void Event::SetIntValue(int v) { value = Json::object({{"value", v}}); }

void Event::SetStringValue(const std::string& v) { value = Json::object({{"value", v}}); }

void Event::SetMapValue(const std::string& map) {
  if (!value.is_object()) {
    if (!value.is_null()) {
      CORVANE_LOG_WARNING("Map value replaces a non-object value of event " << eventName);
    }
    value = Json::object();
  }
  size_t start = 0;
  while (start <= map.size()) {
    size_t end = map.find('\n', start);
    if (end == std::string::npos) end = map.size();
    std::string line = map.substr(start, end - start);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      // Cleaned here, not only when sent: two keys that differ in invalid bytes alone would
      // otherwise collapse into one name on the wire.
      value[ValidUtf8(FormDecode(line.substr(0, colon)))] =
          ValidUtf8(FormDecode(line.substr(colon + 1)));
    }
    start = end + 1;
  }
}

void Event::SetJsonValue(const std::string& json) {
  Json parsed;
  if (json.empty() || !ParseJson(json, parsed)) {
    if (!json.empty()) CORVANE_LOG_WARNING("Invalid JSON value for event " << eventName);
    value = nullptr;
    return;
  }
  value = std::move(parsed);
}

void Event::AddRevenueData(double revenue, const std::string& currency) {
  if (currency.empty()) return;
  Json block = Json::object({{"currency", currency}, {"revenue", revenue}});
  if (value.is_object()) {
    value["__revenue__"] = std::move(block);
    return;
  }
  if (!value.is_null()) {
    // Revenue must not be lost: an array, text or number cannot hold the block.
    CORVANE_LOG_WARNING("Revenue replaces the non-object value of event " << eventName);
  }
  value = Json::object({{"__revenue__", std::move(block)}});
}

namespace {
Json FlatJson(const Event& e) {
  Json out = Json::object();
  out["eId"] = e.eId;
  out["eventName"] = e.eventName;
  if (e.valueText.empty()) {
    out["value"] = e.value;
  } else {
    ParseEventText(e.valueText, out["value"]);
  }
  out["id"] = e.id;
  out["timeInMs"] = e.timeInMs;
  out["cfgId"] = e.cfgId;
  out["customUid"] = e.customUid;
  return out;
}
}  // namespace

Json Event::ToJson() const {
  Json out = FlatJson(*this);
  if (!subEvents.empty()) {
    Json children = Json::array();
    for (const EventPtr& child : subEvents) {
      if (child) children.push_back(FlatJson(*child));
    }
    out["subEvents"] = std::move(children);
  }
  return out;
}

std::string Event::ToJsonText() const { return WriteEventText(*this); }
void Event::WriteJsonText(std::string& out) const { WriteEventText(*this, out); }

EventPtr Event::FromJsonTree(const std::string& text) {
  Json parsed;
  if (!ParseEventText(text, parsed) || !parsed.is_object()) return nullptr;
  EventPtr event = Acquire(std::string());
  event->FromJson(text);
  auto subs = parsed.find("subEvents");
  if (subs != parsed.end() && subs->is_array()) {
    for (const Json& child : *subs) {
      if (!child.is_object()) continue;
      EventPtr sub = Acquire(std::string());
      sub->FromJson(DumpJson(child));
      event->subEvents.push_back(std::move(sub));
    }
  }
  return event;
}

bool Event::FromJson(const std::string& text) {
  Json parsed;
  if (!ParseEventText(text, parsed) || !parsed.is_object()) return false;
  auto str = [&](const char* key, std::string& field) {
    auto it = parsed.find(key);
    if (it == parsed.end()) return false;
    field = it->is_string() ? it->get<std::string>() : std::string();
    return true;
  };
  if (!str("eId", eId)) return true;
  if (!str("eventName", eventName)) return true;
  auto v = parsed.find("value");
  if (v == parsed.end()) return true;
  value = *v;
  if (!str("id", id)) return true;
  auto t = parsed.find("timeInMs");
  if (t == parsed.end()) return true;
  timeInMs = t->is_number_integer() ? t->get<int64_t>() : 0;
  if (!str("cfgId", cfgId)) return true;
  str("customUid", customUid);
  return true;
}

namespace {
void AppendQuoted(std::string& out, const std::string& text) { out += DumpJson(Json(text)); }

void AppendMember(std::string& out, const char* key, const std::string& text) {
  out += '"';
  out += key;
  out += "\":";
  AppendQuoted(out, text);
  out += ',';
}
}  // namespace

std::string BuildBatchBody(const IdentitySnapshot& identity,
                           const std::vector<std::string>& eventTexts) {
  // Written by hand in byte order of the keys, reusing each event's stored text.
  size_t size = 256;
  for (const auto& t : eventTexts) size += t.size() + 1;
  std::string out;
  out.reserve(size);
  out += '{';
  AppendMember(out, "appVersion", identity.appVersion);
  AppendMember(out, "buildNumber", identity.appBuildNumber);
  AppendMember(out, "bundleId", identity.bundleId);
  AppendMember(out, "platform", identity.platform);
  AppendMember(out, "qvSdkVersion", kSdkVersion);
  AppendMember(out, "qvUid", identity.userId);
  out += "\"subMessages\":[";
  for (size_t i = 0; i < eventTexts.size(); ++i) {
    if (i > 0) out += ',';
    out += eventTexts[i];
  }
  out += ']';
  const std::string& wrapper = identity.wrapper;
  const std::string& wrapperVersion = identity.wrapperVersion;
  if (!wrapper.empty()) {
    out += ",\"wrapper\":";
    AppendQuoted(out, wrapper);
  }
  if (!wrapperVersion.empty()) {
    out += ",\"wrapperVersion\":";
    AppendQuoted(out, wrapperVersion);
  }
  out += '}';
  return out;
}

std::string BuildBatchBody(const IdentitySnapshot& identity, const std::vector<Event*>& events) {
  std::vector<std::string> texts;
  texts.reserve(events.size());
  for (const Event* e : events) {
    if (e != nullptr) texts.push_back(e->ToJsonText());
  }
  return BuildBatchBody(identity, texts);
}

}  // namespace CorvaneSDK
