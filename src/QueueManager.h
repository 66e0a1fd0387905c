// The queue manager: owns every accepted event until the server has confirmed it. Events
// live in memory as their JSON texts, mirrored in the queue file, and are uploaded in
// batches by a sending thread that Resume/Pause switch on and off.
// Thread-safe: AddEvent from any thread; Resume/Pause/Destroy from host threads.
// Locks: commandMutex_ (commands, worker handle) and queueMutex_ (queue, file, batch); the
// event pool lock is taken inside queueMutex_. Monitor calls run with no lock held.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Clock.h"

namespace CorvaneSDK {

class Event;
class EventSender;
class QueueFile;

// Implemented by the manager.
class QueueManagerMonitor {
 public:
  // Whether an upload may start now.
  virtual bool CanSend() = 0;
  // Called once per event, the first time it enters an upload batch, with no lock held.
  virtual void OnEventDispatch(Event* event) = 0;
  // A finished upload left the queue empty.
  virtual void OnQueueEmpty() = 0;

 protected:
  ~QueueManagerMonitor() = default;
};

struct QueueSettings {
  int flushQueueSize = 3;
  int flushSendSize = 50;
  int queueCheckInterval = 500;  // ms
  int sendDelay = 1000;          // ms
};

class QueueManager {
 public:
  static constexpr size_t kMaxQueuedEvents = 5000;
  static constexpr size_t kMaxBatchBytes = 475000;
  // Wait before retrying after the server refused the credentials (401/403).
  static constexpr int64_t kAuthRetryDelayMs = 60000;

  // `saveFolder` empty: memory only. Out-of-range settings fall back to their defaults.
  QueueManager(const QueueSettings& settings, QueueManagerMonitor* monitor, EventSender* sender,
               const std::string& saveFolder);
  ~QueueManager();

  // Loads the queue file once; later calls do nothing.
  void Initialize();
  // Takes ownership of the stamped record. False when it was not queued.
  bool AddEvent(Event* event);
  void Resume();
  void Pause();
  // Uploads what is queued without waiting for the flush size or the send delay, until the
  // queue has been empty once. Any thread.
  void SendNow();
  // Stops sending and joins both threads; events stay in the file for the next run.
  void Destroy();

  size_t Count() const;
  bool HasFile() const;
  std::vector<std::string> Texts() const;  // queued event texts, oldest first (tests)
  int BatchLimit() const { return batchLimit_.load(); }

 private:
  struct Entry {
    std::string text;
    int32_t sequence = 0;
  };

  void PostCommand(int command);
  void WorkerLoop();
  void StartSending();
  void StopSending();
  void SendingLoop();
  bool UploadOnce(bool more);
  void Settle(int status, size_t batchSize, const std::vector<std::string>& batchTexts);
  void RemoveOldestLocked(size_t n);
  void DropFileLocked(const char* why);

  QueueSettings settings_;
  QueueManagerMonitor* monitor_;
  EventSender* sender_;
  std::string filePath_;

  mutable std::mutex queueMutex_;
  std::unique_ptr<QueueFile> file_;
  std::deque<Entry> queue_;
  size_t batchSize_ = 0;  // events of the upload in flight (always the oldest)
  int32_t enqueueCounter_ = 0;
  int32_t highestDispatched_ = 0;
  bool initialized_ = false;

  std::mutex commandMutex_;
  std::deque<int> commands_;
  std::thread worker_;
  bool workerRunning_ = false;
  std::thread sendingThread_;

  std::atomic<bool> shuttingDown_{false};
  std::atomic<bool> sendingActive_{false};
  std::atomic<bool> sendNow_{false};
  std::atomic<int> batchLimit_{50};
  int64_t nextSendTime_ = 0;  // monotonic ms; sending thread only
  Interrupt wake_;            // ends the sending thread's sleep at once
};

}  // namespace CorvaneSDK
