// Checks of the upload body the SDK sends to PUT /v4/event: the batch object and every
// event object in it. A failed check names the first problem, so that a developer sees
// exactly which key of which event is wrong. Thread-safe: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace CorvaneSDK {
namespace Collector {

// One event or sub-event as it is stored. A sub-event names its parent's eId.
struct EventRecord {
  std::string eId;
  std::string parentEId;  // empty for a top-level event
  std::string name;
  std::string sessionId;
  int64_t timeMs = 0;
  std::string cfgId;
  std::string customUid;
  std::string valueJson;  // compact JSON of "value" ("null" when unset)
};

struct Batch {
  std::string userId;  // "qvUid"
  std::string sdkVersion;
  std::string bundleId;
  std::string platform;
  std::string appVersion;
  std::string buildNumber;
  std::string wrapper;         // empty when the key is absent
  std::string wrapperVersion;  // empty when the key is absent
  // Every event of "subMessages" in body order, each followed by its sub-events.
  std::vector<EventRecord> events;
};

// Nesting deeper than this is refused. An event value may be 64 levels deep; the event object,
// a parent's "subEvents" and the batch body add up to five more.
constexpr int kMaxBodyDepth = 64 + 5;

// Parses and checks `body`. On failure returns false and sets `error` to the first
// problem, e.g. `subMessages[2].timeInMs: expected an integer`.
bool ParseBatch(const std::string& body, Batch& out, std::string& error);

// True for the event identifier form: a lower-case version-4 UUID.
bool IsEventId(const std::string& text);

}  // namespace Collector
}  // namespace CorvaneSDK
