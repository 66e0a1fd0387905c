// The delivery engine's queue: the wire maps, oldest first, mirrored to the file
// "corvane.sdk.queue.plist" (read lazily on first use), bounded by the maximum queue size, and
// the process numbers an event carries until its first send.
// Thread contract: runs on the engine's serial queue only, except nextProcessId and
// persistCount, which are atomic. A pending write holds the queue alive; whatever is still
// unwritten when the last holder lets go is written then.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "CorvaneSDKWireFormat.h"
#include "Dispatch.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKFileStorage;

constexpr const char* kCorvaneSDKQueueStorageKey = "corvane.sdk.queue.plist";

class CorvaneSDKEventQueue : public std::enable_shared_from_this<CorvaneSDKEventQueue> {
 public:
  using Entry = CorvaneSDKQueuedEvent;

  CorvaneSDKEventQueue(std::shared_ptr<CorvaneSDKFileStorage> fileStorage, std::shared_ptr<DispatchQueue> serialQueue,
                       uint64_t maxQueueSize, std::string description);
  ~CorvaneSDKEventQueue();
  CorvaneSDKEventQueue(const CorvaneSDKEventQueue&) = delete;
  CorvaneSDKEventQueue& operator=(const CorvaneSDKEventQueue&) = delete;

  // Loads the file on first use.
  std::deque<Entry>& entries();
  // Drops the oldest beyond the bound, numbers the entry and schedules a write.
  void push(Entry entry);
  void remove(const std::vector<Entry>& batch);
  // Up to `limit` entries from the front, passing over `skipSeq` unless nothing else is left.
  // Their process numbers are sent once: the texts of those beyond the last one sent are
  // added to `firstSends`.
  std::vector<Entry> takeBatch(size_t limit, uint64_t skipSeq, std::vector<std::string>& firstSends);

  bool dirty() const { return dirty_; }
  void persist();
  int32_t nextProcessId() { return ++lastProcessId_; }
  uint64_t persistCount() const { return persistCount_.load(); }
  // The wire maps with their process numbers, oldest first.
  Value snapshot();

 private:
  void preprocess(Value& list);
  void schedulePersist();

  std::shared_ptr<CorvaneSDKFileStorage> fileStorage_;
  std::shared_ptr<DispatchQueue> serialQueue_;
  uint64_t maxQueueSize_;
  std::string description_;
  bool loaded_ = false;
  std::deque<Entry> queue_;
  uint64_t nextSeq_ = 1;
  bool dirty_ = false;
  bool persistScheduled_ = false;
  int32_t sentProcessId_ = 0;
  std::atomic<int32_t> lastProcessId_{0};
  std::atomic<uint64_t> persistCount_{0};
};

}  // namespace Mobile
}  // namespace CorvaneSDK
