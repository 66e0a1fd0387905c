// What the delivery engine writes: an event's wire map (sub-events nested at most 8 deep, a
// payload that no JSON writer would accept dropped with a debug line), the queued text of a
// map (its process id taken out, nesting bounded so the stored array stays readable), and the
// upload body, whose events are spliced in as the texts they were stored as.
//
// Threads: stateless functions; any thread may call them. Callers pass what they read from
// shared state (the process-id counter, the session id, the context snapshot).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKLogOperation;

// One queued event.
struct CorvaneSDKQueuedEvent {
  uint64_t seq = 0;
  int32_t processId = 0;  // 0: none (already sent once, or read back from the file)
  std::string text;       // the wire map, serialised without "processId"
};

class CorvaneSDKWireFormat {
 public:
  // `nextProcessId` numbers the top-level map (null: no number); `sessionId` fills an empty id.
  static Value eventMap(const CorvaneSDKLogOperation& event, const std::function<int32_t()>& nextProcessId,
                        const std::function<std::string()>& sessionId, const std::string& logPrefix);
  // None for a map that is not an object.
  static std::optional<CorvaneSDKQueuedEvent> queuedEvent(Value map, const std::string& logPrefix);
  static std::string batchBody(const std::vector<CorvaneSDKQueuedEvent>& batch, const Value& context,
                               const std::string& userId);
  // The queued texts parsed back (for notifications).
  static Value batchList(const std::vector<CorvaneSDKQueuedEvent>& batch);
};

}  // namespace Mobile
}  // namespace CorvaneSDK
