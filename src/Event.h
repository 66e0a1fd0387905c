// The event record: name, payload, flags, identity stamps and sub-events, its JSON wire
// form, the process-wide record pool and the batch body around a list of records.
// A record belongs to one thread at a time (its owner); the pool is thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Json.h"

namespace CorvaneSDK {

class Env;
class Event;
struct IdentitySnapshot;

// Returns a record, with its sub-events, to the pool (Event::Release).
struct EventReleaser {
  void operator()(Event* event) const;
};
// The one owner of a pooled record: dropping it returns the record to the pool, handing it
// on moves the ownership.
using EventPtr = std::unique_ptr<Event, EventReleaser>;

// Acceptance bits read by the manager's send path.
enum EventFlags : int32_t {
  kEventFlagClosing = 2,    // enqueued, then the manager accepts nothing more
  kEventFlagCacheable = 4,  // held (at most 100) while the manager is not yet sending
  kEventFlagEarly = 8,      // enqueued even before the manager has started
};

class Event {
 public:
  std::string eventName;
  Json value;  // null until set
  // The value's compact JSON when written directly (the typed events); then `value` is unused.
  std::string valueText;
  int32_t flags = 0;
  std::string eId;
  std::string id;  // session id
  int64_t timeInMs = 0;
  std::string cfgId;
  std::string customUid;
  std::vector<EventPtr> subEvents;
  int32_t sequence = 0;           // queue order; not serialised

  // Pool: Acquire pops the oldest released record (or allocates); Release returns a record
  // and its sub-events, cleared whole (EventPtr calls it). Both take the pool lock.
  // Release(null) is ignored.
  static EventPtr Acquire(const std::string& name);
  static void Release(Event* event);
  // Records waiting in the pool (tests and benchmarks).
  static size_t PoolSize();

  // Fresh eId and wall time (from `env`), copies of the three stamps; the same for every
  // sub-event.
  void Stamp(const std::string& sessionId, const std::string& configId,
             const std::string& customUserId, Env& env);
  void FillSessionIfEmpty(const std::string& sessionId);

  void SetIntValue(int v);
  void SetStringValue(const std::string& v);
  // "key:value" lines, form-decoded, merged into an object value.
  void SetMapValue(const std::string& map);
  // Parsed JSON; an empty text or a parse failure leaves the value null.
  void SetJsonValue(const std::string& json);
  // Puts {"currency","revenue"} under "__revenue__". An empty currency does nothing. A value
  // that is neither null nor an object is replaced by an object holding only the block.
  void AddRevenueData(double revenue, const std::string& currency);

  Json ToJson() const;            // sub-events one level deep, without their own sub-events
  std::string ToJsonText() const;  // compact, keys in byte order, invalid UTF-8 replaced
  void WriteJsonText(std::string& out) const;  // the same into `out`, reusing its capacity
  // Reads the seven keys in order; stops silently at the first missing one. Never throws.
  // Returns false when the text is not a JSON object.
  bool FromJson(const std::string& text);
  // A pooled record with its sub-events read back too (the queue keeps only texts and
  // rebuilds the record when it first dispatches it). Null when the text is not an object.
  static EventPtr FromJsonTree(const std::string& text);

  // Counts this record and its sub-events, depth first (for callbacks).
  template <typename F>
  void VisitDepthFirst(F&& f) {
    f(*this);
    for (const EventPtr& child : subEvents) {
      if (child) child->VisitDepthFirst(f);
    }
  }

 private:
  void Clear();
};

// The upload body: the identity keys, the event objects under "subMessages".
// `eventTexts` are the compact JSON texts of the events, in queue order.
std::string BuildBatchBody(const IdentitySnapshot& identity,
                           const std::vector<std::string>& eventTexts);
std::string BuildBatchBody(const IdentitySnapshot& identity, const std::vector<Event*>& events);

}  // namespace CorvaneSDK
