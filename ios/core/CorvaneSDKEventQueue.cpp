#include "CorvaneSDKEventQueue.h"

#include <algorithm>
#include <optional>

#include "CorvaneJSONSerializer.h"
#include "CorvaneSDKFileStorage.h"
#include "CorvaneSDKLog.h"
#include "CorvaneSDKUtils.h"

namespace CorvaneSDK {
namespace Mobile {

CorvaneSDKEventQueue::CorvaneSDKEventQueue(std::shared_ptr<CorvaneSDKFileStorage> fileStorage,
                                           std::shared_ptr<DispatchQueue> serialQueue, uint64_t maxQueueSize,
                                           std::string description)
    : fileStorage_(std::move(fileStorage)),
      serialQueue_(std::move(serialQueue)),
      maxQueueSize_(maxQueueSize),
      description_(std::move(description)) {}

CorvaneSDKEventQueue::~CorvaneSDKEventQueue() {
  // No task refers to the queue any more: whatever waited for its write is written now.
  if (dirty_ && fileStorage_) persist();
}

std::deque<CorvaneSDKEventQueue::Entry>& CorvaneSDKEventQueue::entries() {
  if (loaded_) return queue_;
  loaded_ = true;
  std::optional<Value> stored;
  if (auto data = fileStorage_->dataForKey(kCorvaneSDKQueueStorageKey)) {
    Value parsed;
    if (parseJson(*data, parsed)) {
      stored = std::move(parsed);
    } else if (parseJson(validUtf8(*data), parsed)) {
      // A damaged byte inside a string costs that character, not the queue.
      CorvaneSDKLog::debug(description_ + " The stored queue held invalid UTF-8; it was replaced");
      stored = std::move(parsed);
      dirty_ = true;
    } else {
      // Garbage is logged and read as absent; an older property list is converted here.
      stored = fileStorage_->jsonForKey(kCorvaneSDKQueueStorageKey);
    }
  }
  if (stored && !stored->is_array()) {
    CorvaneSDKLog::debug(description_ + " The stored queue is not a list; starting with an empty queue");
    dirty_ = true;
  } else if (stored) {
    preprocess(*stored);
  }
  return queue_;
}

void CorvaneSDKEventQueue::preprocess(Value& list) {
  size_t skipped = 0;
  for (auto& element : list) {
    if (!element.is_object()) {
      ++skipped;
      continue;
    }
    // Process numbers belong to the process that made them.
    element.erase("processId");
    Entry entry;
    entry.seq = nextSeq_++;
    entry.text = CorvaneJSONSerializer::dataWithRootObject(element);
    entry.text.shrink_to_fit();
    queue_.push_back(std::move(entry));
    element = Value();  // the text is all that is kept
  }
  list = Value();
  if (skipped > 0) {
    CorvaneSDKLog::debug(description_ + " Left out " + std::to_string(skipped) +
                         " stored queue element(s) that are not events");
    dirty_ = true;
  }
  if (maxQueueSize_ > 0 && queue_.size() > maxQueueSize_) {
    const size_t extra = queue_.size() - maxQueueSize_;
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(extra));
    CorvaneSDKLog::debug(description_ + " The stored queue held " + std::to_string(extra) +
                         " event(s) beyond the queue bound; the oldest were dropped");
    dirty_ = true;
  }
}

void CorvaneSDKEventQueue::push(Entry entry) {
  auto& q = entries();
  if (maxQueueSize_ > 0) {
    const size_t keep = static_cast<size_t>(maxQueueSize_ - 1);
    if (q.size() >= keep && q.size() - keep > 0) {
      const size_t extra = q.size() - keep;
      q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(extra));
      CorvaneSDKLog::debug(description_ + " Queue full; dropped the " + std::to_string(extra) + " oldest event(s)");
    }
  }
  entry.seq = nextSeq_++;
  q.push_back(std::move(entry));
  schedulePersist();
}

void CorvaneSDKEventQueue::remove(const std::vector<Entry>& batch) {
  if (batch.empty()) return;
  auto& q = entries();
  std::vector<uint64_t> seqs;
  seqs.reserve(batch.size());
  for (const auto& e : batch) seqs.push_back(e.seq);
  std::sort(seqs.begin(), seqs.end());
  const uint64_t last = seqs.back();
  auto end = std::find_if(q.begin(), q.end(), [last](const Entry& e) { return e.seq > last; });
  auto kept = std::remove_if(q.begin(), end,
                             [&seqs](const Entry& e) { return std::binary_search(seqs.begin(), seqs.end(), e.seq); });
  q.erase(kept, end);
  schedulePersist();
}

std::vector<CorvaneSDKEventQueue::Entry> CorvaneSDKEventQueue::takeBatch(size_t limit, uint64_t skipSeq,
                                                                       std::vector<std::string>& firstSends) {
  auto& q = entries();
  std::vector<size_t> chosen;
  for (size_t i = 0; i < q.size() && chosen.size() < limit; ++i) {
    if (skipSeq != 0 && q[i].seq == skipSeq) continue;
    chosen.push_back(i);
  }
  if (chosen.empty() && !q.empty()) chosen.push_back(0);
  std::vector<Entry> batch;
  batch.reserve(chosen.size());
  for (size_t i : chosen) {
    Entry& e = q[i];
    if (e.processId != 0) {
      const int32_t pid = e.processId;
      e.processId = 0;
      if (pid > sentProcessId_) {
        sentProcessId_ = pid;
        firstSends.push_back(e.text);
      }
    }
    batch.push_back(e);
  }
  return batch;
}

void CorvaneSDKEventQueue::schedulePersist() {
  dirty_ = true;
  if (persistScheduled_) return;
  persistScheduled_ = true;
  // Behind every change already waiting on the queue: one write covers them all.
  auto self = shared_from_this();
  serialQueue_->async([self] {
    self->persistScheduled_ = false;
    if (self->dirty_) self->persist();
  });
}

void CorvaneSDKEventQueue::persist() {
  auto& q = entries();
  size_t size = 2 + q.size();
  for (const auto& e : q) size += e.text.size();
  std::string out;
  out.reserve(size);
  out += '[';
  bool first = true;
  for (const auto& e : q) {
    if (!first) out += ',';
    first = false;
    out += e.text;
  }
  out += ']';
  dirty_ = false;
  fileStorage_->setData(out, kCorvaneSDKQueueStorageKey);
  ++persistCount_;
}

Value CorvaneSDKEventQueue::snapshot() {
  Value list = Value::array();
  for (const auto& e : entries()) {
    Value v;
    parseJson(e.text, v);
    if (e.processId) {
      Value withId = Value::object();
      withId["processId"] = e.processId;
      for (auto& item : v.items()) withId[item.key()] = item.value();
      v = std::move(withId);
    }
    list.push_back(std::move(v));
  }
  return list;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
