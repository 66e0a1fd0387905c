// The queue manager: owns every accepted event until the server has confirmed it. Events
// live in memory as their JSON texts, mirrored in the queue file, and are uploaded in
// batches by a sending thread that Resume/Pause switch on and off.
// Thread-safe: AddEvent from any thread; Resume/Pause/Destroy from host threads.
// Locks: commandMutex_ (commands, worker handle) and queueMutex_ (queue, file, batch); the
// event pool lock and commandMutex_ may be taken inside queueMutex_, never the reverse.
// Monitor calls run with no lock held, and so do the data syncs of the file and the
// preparation of its growth.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BriefMutex.h"
#include "Clock.h"
#include "Env.h"
#include "Event.h"
#include "QueueFile.h"
#include "TextPool.h"

namespace CorvaneSDK {

class Executor;
class EventSender;
class RandomAccessFile;

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
  // Longest wait of a changed queue file for its data sync to the disk, done on the
  // executor; 0: never synced by the SDK.
  int syncInterval = 1000;       // ms
};

class QueueManager {
 public:
  // Bounds of the queue: beyond either, the oldest events are dropped (also those of an
  // upload in flight), with a Warning that counts them at most once per kDropWarningIntervalMs.
  // The byte bound counts event text (compact JSON), which is what memory and file hold.
  static constexpr size_t kMaxQueuedEvents = 5000;
  static constexpr size_t kMaxQueuedBytes = 16u * 1024u * 1024u;
  static constexpr int64_t kDropWarningIntervalMs = 10000;
  static constexpr size_t kMaxBatchBytes = 475000;
  // After a failed write the file keeps what it held and the queue goes on in memory; the
  // sending thread tries to bring the file back in step this often, and Destroy once more.
  static constexpr int64_t kFileRetryIntervalMs = 30000;
  // A damaged queue file is moved aside as ".event_queue.corrupt-<ms since 1970>"; only the
  // newest few are kept.
  static constexpr size_t kMaxCorruptCopies = 3;
  // Most wrapped bytes a growth ahead of need moves under the queue lock; with more, the add
  // that fills the ring moves them, into space prepared already.
  static constexpr uint64_t kMaxAheadCopyBytes = 64 * 1024;
  // Free space ahead of the next add whose pages are kept ready.
  static constexpr uint64_t kArmWindowBytes = 128 * 1024;
  // Most room prepared for a file that is not filling up (see GrowthTargetLocked).
  static constexpr uint64_t kMaxRoomAheadBytes = 2 * 1024 * 1024;
  // Room prepared after start, before any burst has shown what the next one needs: a first
  // burst (a game's start-up can log thousands of events at once) would otherwise double the
  // ring on the host's thread. The first drain sets the room from that burst instead.
  static constexpr uint64_t kFirstRoomBytes = 1024 * 1024;
  // Wait before retrying after the server refused the credentials (401/403).
  static constexpr int64_t kAuthRetryDelayMs = 60000;

  // `saveFolder` empty: memory only. `fileName` is the queue file's name in that folder.
  // Out-of-range settings fall back to their defaults. Time and waits come from `env`, which
  // must outlive the manager.
  QueueManager(const QueueSettings& settings, QueueManagerMonitor* monitor, EventSender* sender,
               const std::string& saveFolder, const std::string& fileName = ".event_queue",
               Env& env = Env::Default());
  ~QueueManager();

  // Loads the queue file once; later calls do nothing.
  void Initialize();
  // Takes ownership of the stamped record. False when it was not queued.
  bool AddEvent(EventPtr event);
  // Appends event texts taken over from another queue file (oldest first) as they are,
  // without dispatch callbacks, trimming as AddEvent does. True when every one of them has
  // reached this queue's file, so that their source may be deleted.
  bool ImportEvents(const std::vector<std::string>& texts);
  // Runs the switch commands of Resume and Pause on `executor` (which must outlive this
  // queue, or be joined before it is destroyed) instead of an executor of its own.
  void SetExecutor(Executor* executor);
  void Resume();
  void Pause();
  // Uploads what is queued without waiting for the flush size or the send delay, until the
  // queue has been empty once. Any thread.
  void SendNow();
  // Stops sending and joins both threads; events stay in the file for the next run.
  void Destroy();
  // Uploads at once (SendNow) and waits until the queue is empty, `timeoutMs` has passed
  // or `abandon` turns true; true when empty. Logs the outcome as Flush lines.
  bool WaitUntilEmpty(int timeoutMs, const std::atomic<bool>& abandon);

  size_t Count() const;
  // True while the queue file holds every queued event.
  bool HasFile() const;
  std::vector<std::string> Texts() const;  // queued event texts, oldest first (tests)
  int BatchLimit() const { return batchLimit_.load(); }

 private:
  struct Entry {
    std::shared_ptr<const std::string> text;  // never null; shared with a batch being cut
    int32_t sequence = 0;
    // File elements this entry stands for: its own plus skipped non-event elements just
    // before it; 0 while it is in memory only. Entries in the file always come first.
    uint32_t fileElements = 0;
  };

  void PostCommand(int command);
  void WorkerLoop();
  void WorkerCommands();
  void StartSending();
  void StopSending();
  void SendingLoop();
  bool UploadOnce(bool more);
  // Returns whether events were left in the queue when the upload settled.
  bool Settle(int status, size_t batchSize, const std::vector<std::string>& batchTexts,
              bool fullBatchLimit);
  void RemoveOldestLocked(size_t n);
  void EnforceBoundsLocked();
  void AppendLocked(Entry entry);
  void RotateHeadLocked();
  bool OpenFileLocked(bool atStart);
  bool RebuildFileLocked();
  bool CatchUpFileLocked();
  void FileFailedLocked(const char* what);
  // The file changed: a data sync is due within the sync interval.
  void FileChangedLocked();
  // Notes whether the file's next pages and growth want preparing; PrepareNow does it.
  void PrepareDueLocked();
  uint64_t GrowthTargetLocked() const;
  void PrepareNow();
  // Pages of the file to bring in writable with no lock held: the header page and a stretch
  // of the ring.
  struct Pages {
    std::shared_ptr<RandomAccessFile> target;
    QueueFile::Range ranges[3] = {};
    int count = 0;
    void BringIn() const;
  };
  // The header page and ring bytes [position, position + len); nothing unless mapped.
  void PagesLocked(uint64_t position, uint64_t len, Pages& out) const;
  struct PrepareWork {
    Pages pages;                        // the next adds' pages
    uint64_t growFrom = 0, growTo = 0;  // growth to allocate, when growTo > growFrom
  };
  // The two halves of a preparation around the work itself, which runs with no lock held.
  // TakePrepareWork returns false when there is nothing to do.
  bool TakePrepareWork(PrepareWork& work);
  void PrepareDoneLocked(const PrepareWork& work, bool grown, const std::string& error);
  // The two halves of a sync task around the sync itself, which runs with no lock held.
  std::shared_ptr<RandomAccessFile> TakeSyncTarget();
  void SyncDone(const std::shared_ptr<RandomAccessFile>& target, bool ok, const std::string& error);
  // Needs commandMutex_: the executor given, or one of this queue's own.
  Executor* ExecutorLocked();
  void RetryFileLocked();
  std::string CorruptCopyPathLocked() const;
  void PruneCorruptCopiesLocked();

  QueueSettings settings_;
  QueueManagerMonitor* monitor_;
  EventSender* sender_;
  Env& env_;
  std::string saveFolder_;
  std::string filePath_;

  mutable BriefMutex queueMutex_;
  std::unique_ptr<QueueFile> file_;
  // A file replaced when the queue emptied, released once the lock is left.
  std::shared_ptr<RandomAccessFile> retiredFile_;
  std::deque<Entry> queue_;
  // Storage of the queued texts, recycled (see TextPool.h).
  std::shared_ptr<TextPool> textPool_ = TextPool::Create();
  size_t batchSize_ = 0;  // events of the upload in flight (always the oldest)
  int32_t enqueueCounter_ = 0;
  int32_t highestDispatched_ = 0;
  bool initialized_ = false;
  size_t bytes_ = 0;           // text bytes of the queued events
  size_t memoryOnly_ = 0;      // newest entries not in the file
  uint32_t tailGhosts_ = 0;    // skipped elements after the last entry in the file
  // The file fell behind after a failed write; read without the lock only as a hint.
  std::atomic<bool> fileRetry_{false};
  bool rebuildPending_ = false;  // a damaged file is still in place: rebuild, never reuse
  int64_t nextFileRetryMs_ = 0;
  size_t dropsUnreported_ = 0;
  size_t dropsTotal_ = 0;
  int64_t lastDropWarningMs_ = 0;
  bool dropWarned_ = false;
  bool fileDirty_ = false;      // changed since its last data sync
  bool syncScheduled_ = false;  // a sync task is posted
  bool syncFailing_ = false;
  std::atomic<bool> prepareDue_{false};  // PrepareNow has work; set under the lock
  int64_t nextGrowthTryMs_ = 0;    // after a failed growth preparation, none before this
  uint64_t appendedBytes_ = 0;     // ring bytes appended to the file, ever
  uint64_t armedBytes_ = 0;        // the file's pages are ready up to this appendedBytes_
  // Ring length of the file when the queue last emptied; before that, kFirstRoomBytes.
  uint64_t highWaterLength_ = kFirstRoomBytes;
  // A sync task may outlive this queue (an executor joined with a time limit): it calls in
  // only under the guard's mutex while `alive`, which Destroy clears first.
  struct SyncGuard {
    std::mutex mutex;
    bool alive = true;
  };
  std::shared_ptr<SyncGuard> syncGuard_ = std::make_shared<SyncGuard>();

  // Rejections (sending thread only): a lone rejected event is dropped only with proof that
  // the server accepts other uploads, an accepted batch since the rejections began.
  bool rejectionEpisode_ = false;
  bool acceptedInEpisode_ = false;
  int unprovenRejections_ = 0;

  std::mutex commandMutex_;
  std::condition_variable workerEnded_;
  std::deque<int> commands_;
  Executor* executor_ = nullptr;
  std::unique_ptr<Executor> ownExecutor_;  // when no executor was given
  bool workerRunning_ = false;  // a command task is posted or running
  bool workerActive_ = false;   // it is running
  std::thread sendingThread_;

  std::atomic<bool> shuttingDown_{false};
  std::atomic<bool> sendingActive_{false};
  std::atomic<bool> sendNow_{false};
  std::atomic<int> batchLimit_{50};
  int64_t nextSendTime_ = 0;  // monotonic ms; sending thread only
  Interrupt wake_;            // ends the sending thread's sleep at once
};

}  // namespace CorvaneSDK
