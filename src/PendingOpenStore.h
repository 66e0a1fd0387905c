// The open event held at a session start, written with its held events beside the queue
// file while it waits, so that a process that dies during the hold still delivers it at
// its next start. The side file ".pending_open" holds the event's wire text, replaced
// atomically at each change and removed once the event has gone into the queue.
// One thread at a time (the manager's open-event mutex).
#pragma once

#include <string>

namespace CorvaneSDK {

class PendingOpenStore {
 public:
  static constexpr const char* kFileName = ".pending_open";
  // Largest text read back; a bigger file is damaged and is removed.
  static constexpr size_t kMaxBytes = 4 * 1024 * 1024;

  explicit PendingOpenStore(const std::string& folder);

  // Replaces the stored text. False when it could not be written (logged).
  bool Save(const std::string& eventText);
  // Removes the stored text; nothing to deliver any more.
  void Clear();
  // The text a previous run left, or empty. It stays stored until Clear.
  std::string LeftOver() const;

 private:
  std::string path_;
  bool stored_ = false;  // whether this run wrote the file (saves a removal when not)
};

}  // namespace CorvaneSDK
