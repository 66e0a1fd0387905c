// Queue manager: enqueue, start-up reload, the 5000 cap, batch cutting, upload settling and
// the command worker that switches the sending thread on and off.
#include "QueueManager.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "Event.h"
#include "EventSender.h"
#include "Executor.h"
#include "FileIO.h"
#include "Logger.h"
#include "QueueFile.h"
#include "SdkThreads.h"

namespace CorvaneSDK {
namespace {
constexpr int kCommandResume = 0;
constexpr int kCommandPause = 1;

bool PermanentRejection(int code) {
  return code >= 400 && code <= 499 && code != 408 && code != 429 && code != 401 && code != 403;
}

std::string EventNameOf(const std::string& text) {
  Json parsed;
  if (ParseEventText(text, parsed)) return JsonString(parsed, "eventName", "?");
  return "?";
}

int OrDefault(int value, int fallback, const char* name, bool allowZero) {
  if (value < 0 || (!allowZero && value == 0)) {
    CORVANE_LOG_WARNING(name << " " << value << " is out of range, using " << fallback);
    return fallback;
  }
  return value;
}
}  // namespace

QueueManager::QueueManager(const QueueSettings& settings, QueueManagerMonitor* monitor,
                           EventSender* sender, const std::string& saveFolder,
                           const std::string& fileName, Env& env)
    : monitor_(monitor), sender_(sender), env_(env) {
  QueueSettings defaults;
  settings_.flushQueueSize =
      OrDefault(settings.flushQueueSize, defaults.flushQueueSize, "Flush queue size", true);
  settings_.flushSendSize =
      OrDefault(settings.flushSendSize, defaults.flushSendSize, "Flush send size", false);
  settings_.queueCheckInterval = OrDefault(settings.queueCheckInterval,
                                           defaults.queueCheckInterval, "Queue check interval", false);
  settings_.sendDelay = OrDefault(settings.sendDelay, defaults.sendDelay, "Send delay", true);
  settings_.syncInterval =
      OrDefault(settings.syncInterval, defaults.syncInterval, "Queue sync interval", true);
  batchLimit_ = settings_.flushSendSize;
  if (!saveFolder.empty()) {
    CORVANE_LOG_DEBUG("Save Path: " << saveFolder);
    saveFolder_ = saveFolder;
    filePath_ = JoinPath(saveFolder, fileName);
  }
}

QueueManager::~QueueManager() { Destroy(); }

void QueueManager::Initialize() {
  Logger::DeferScope defer;  // no host log callback under the queue lock
  std::lock_guard<BriefMutex> lock(queueMutex_);
  if (initialized_) return;
  initialized_ = true;
  if (filePath_.empty()) return;
  OpenFileLocked(true);
  EnforceBoundsLocked();
}

// Opens the file and brings it in step with the queue. At start its events are loaded (a
// damaged file gives what can be walked from its first element); later, after a failed
// write, it is checked against what the queue expects it to hold. A damaged file is moved
// aside and rebuilt from the queue, never deleted. False leaves the queue in memory only.
bool QueueManager::OpenFileLocked(bool atStart) {
  const std::string rebuilt = filePath_ + ".new";
  // A rebuild interrupted between its two renames leaves only the complete new copy.
  if (atStart && GetPathKind(filePath_) == PathKind::Missing &&
      GetPathKind(rebuilt) == PathKind::Regular) {
    RenameFile(rebuilt, filePath_);
  }
  std::vector<std::string> texts;
  std::string why;
  bool damaged = false;
  if (rebuildPending_) {
    damaged = true;
    why = "it could not be replaced before";
  } else if (GetPathKind(filePath_) == PathKind::Other) {
    damaged = true;
    why = "it is not a regular file";
    file_.reset();
  } else {
    if (!file_) file_.reset(new QueueFile(filePath_));
    if (!file_->Init()) {
      if (file_->OpenFailed()) {
        file_.reset();
        if (atStart) CORVANE_LOG_ERROR("Cannot init queue file " << filePath_ << "; continuing in memory only");
        return false;
      }
      damaged = true;
      why = "its header cannot be read";
    } else if (!file_->ValidateHeader(&why) || (atStart && !file_->ReadAll(texts, &why))) {
      damaged = true;
      if (atStart) texts = file_->Salvage();
    }
  }

  if (atStart) {
    uint32_t skipped = 0;
    for (auto& text : texts) {
      Json parsed;
      if (!ParseEventText(text, parsed) || !parsed.is_object()) {
        // Skipped but counted, so that removals from the file stay in step with memory.
        CORVANE_LOG_WARNING("Skipping a queued element that is not an event ("
                            << text.size() << " bytes)");
        ++skipped;
        continue;
      }
      bytes_ += text.size();
      queue_.push_back(Entry{textPool_->Share(std::move(text)), 0, damaged ? 0u : 1u + skipped});
      skipped = 0;
    }
    tailGhosts_ = damaged ? 0 : skipped;
    if (damaged) memoryOnly_ = queue_.size();
  }

  if (!damaged) {
    uint64_t owned = tailGhosts_;
    for (const Entry& e : queue_) owned += e.fileElements;
    if (file_->Count() < owned) {
      damaged = true;
      why = "it holds fewer events than the queue expects";
    } else {
      // Elements whose removal failed earlier are still at its head.
      const uint32_t stale = static_cast<uint32_t>(file_->Count() - owned);
      if (stale > 0 && !file_->Remove(stale)) {
        FileFailedLocked("removal");
        return false;
      }
      // Skipped elements at the head go at once; a clean restart must not see them again.
      RemoveOldestLocked(0);
      return CatchUpFileLocked();
    }
  }

  CORVANE_LOG_WARNING("Queue file damaged (" << why << "); " << queue_.size()
                                              << " events kept, the file is rebuilt");
  if (file_) file_->Close();
  file_.reset();
  for (Entry& e : queue_) e.fileElements = 0;
  memoryOnly_ = queue_.size();
  tailGhosts_ = 0;
  return RebuildFileLocked();
}

// Writes the whole queue to a new file, moves the damaged one aside and puts the new one in
// its place; a crash at any point leaves a file with every event.
bool QueueManager::RebuildFileLocked() {
  const std::string rebuilt = filePath_ + ".new";
  RemoveFile(rebuilt);
  bool ok;
  {
    QueueFile copy(rebuilt);
    ok = copy.Init() && copy.Count() == 0;
    for (const Entry& e : queue_) {
      ok = ok && copy.Add(e.text->data(), static_cast<uint32_t>(e.text->size()));
    }
    ok = copy.Close() && ok;  // closed before any rename
  }
  if (ok && GetPathKind(filePath_) != PathKind::Missing) {
    const std::string aside = CorruptCopyPathLocked();
    ok = RenameFile(filePath_, aside);
    if (ok) {
      CORVANE_LOG_WARNING("Damaged queue file moved aside as " << aside);
      PruneCorruptCopiesLocked();
    }
  }
  ok = ok && RenameFile(rebuilt, filePath_);
  if (ok) {
    file_.reset(new QueueFile(filePath_));
    ok = file_->Init() && file_->ValidateHeader(nullptr) && file_->Count() == queue_.size();
  }
  rebuildPending_ = !ok;
  if (!ok) {
    RemoveFile(rebuilt);
    file_.reset();
    if (!fileRetry_) {
      CORVANE_LOG_ERROR("Cannot init queue file: the damaged one cannot be replaced; "
                        "continuing in memory only");
    }
    fileRetry_ = true;
    nextFileRetryMs_ = env_.GetClock().MonotonicMs() + kFileRetryIntervalMs;
    return false;
  }
  for (Entry& e : queue_) e.fileElements = 1;
  memoryOnly_ = 0;
  fileRetry_ = false;
  FileChangedLocked();
  return true;
}

std::string QueueManager::CorruptCopyPathLocked() const {
  const std::string base = filePath_ + ".corrupt-" + std::to_string(env_.GetClock().WallMs());
  std::string path = base;
  for (int i = 1; GetPathKind(path) != PathKind::Missing && i < 1000; ++i) {
    path = base + "-" + std::to_string(i);
  }
  return path;
}

void QueueManager::PruneCorruptCopiesLocked() {
  const std::string prefix = filePath_.substr(filePath_.find_last_of("/\\") + 1) + ".corrupt-";
  std::vector<std::pair<unsigned long long, std::string>> copies;
  for (const std::string& name : ListFolder(saveFolder_)) {
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    copies.emplace_back(std::strtoull(name.c_str() + prefix.size(), nullptr, 10), name);
  }
  if (copies.size() <= kMaxCorruptCopies) return;
  std::sort(copies.begin(), copies.end());
  for (size_t i = 0; i + kMaxCorruptCopies < copies.size(); ++i) {
    // A folder planted under the name stays; a link is removed, never what it points to.
    RemoveFile(JoinPath(saveFolder_, copies[i].second));
  }
}

// Appends the events that are in memory only, oldest first; stops at the first failure.
bool QueueManager::CatchUpFileLocked() {
  for (size_t i = queue_.size() - memoryOnly_; i < queue_.size(); ++i) {
    Entry& e = queue_[i];
    if (!file_ || !file_->Add(e.text->data(), static_cast<uint32_t>(e.text->size()))) {
      FileFailedLocked("write");
      return false;
    }
    e.fileElements = 1 + tailGhosts_;
    tailGhosts_ = 0;
    appendedBytes_ += 4 + e.text->size();
    --memoryOnly_;
    FileChangedLocked();
  }
  PrepareDueLocked();
  if (fileRetry_) CORVANE_LOG_INFO("Queue file is written again");
  fileRetry_ = false;
  return true;
}

void QueueManager::FileFailedLocked(const char* what) {
  if (!fileRetry_) {
    const std::string detail =
        file_ && !file_->LastFailure().empty() ? " (" + file_->LastFailure() + ")" : "";
    const std::string kept = file_ && file_->IsOpen()
                                 ? "The file keeps the " + std::to_string(file_->Count()) +
                                       " events it holds and is tried again later"
                                 : "The file is tried again later";
    CORVANE_LOG_ERROR("Queue file " << what << " failed" << detail
                                    << "; continuing in memory only for new events. " << kept);
  }
  fileRetry_ = true;
  nextFileRetryMs_ = env_.GetClock().MonotonicMs() + kFileRetryIntervalMs;
}

void QueueManager::RetryFileLocked() {
  if (OpenFileLocked(false)) return;
  if (!file_ && GetPathKind(filePath_) == PathKind::Missing) {
    // It cannot even be created (its folder is gone): no more tries in this run.
    CORVANE_LOG_DEBUG("Queue file cannot be reopened; memory only until the next start");
    fileRetry_ = false;
  }
}

void QueueManager::FileChangedLocked() {
  fileDirty_ = true;
  if (syncScheduled_ || settings_.syncInterval <= 0 || shuttingDown_) return;
  Executor* executor;
  {
    std::lock_guard<std::mutex> lock(commandMutex_);
    executor = ExecutorLocked();
  }
  // The sync runs on the executor with no queue lock held: appends go on meanwhile and leave
  // the file dirty for the next one.
  std::shared_ptr<SyncGuard> guard = syncGuard_;
  syncScheduled_ = executor->PostDelayed(settings_.syncInterval, [this, guard] {
    std::shared_ptr<RandomAccessFile> target;
    {
      std::lock_guard<std::mutex> lock(guard->mutex);
      if (!guard->alive) return;
      target = TakeSyncTarget();
    }
    if (target == nullptr) return;
    const bool ok = target->SyncData();
    const std::string error = ok ? std::string() : LastFileErrorText();
    std::lock_guard<std::mutex> lock(guard->mutex);
    if (!guard->alive) return;
    SyncDone(target, ok, error);
    PrepareNow();
  });
}

// The file's next pages are made ready off the calling threads, by the sending thread
// after its cycles and by the sync task after its sync, which are awake then anyway (a
// task of its own would wake a thread that can preempt the host's): the header page and
// the free space the next adds go to are brought in writable (a first store into a page,
// or the first after a data sync, is a page fault, which can wait on the file system), and
// a ring more than half full gets its doubled length allocated and, where cheap, taken; and a
// file made anew when the queue emptied gets the room the last burst needed.
void QueueManager::PrepareDueLocked() {
  if (prepareDue_ || shuttingDown_ || !file_ || fileRetry_ || !file_->Mapped()) return;
  bool due = appendedBytes_ + kArmWindowBytes / 2 > armedBytes_;
  const uint64_t next = file_->GrowthToPrepare();
  if (!due && next != 0 && next <= file_->PreparedLength()) {
    due = file_->CanExpandAhead(kMaxAheadCopyBytes);
  } else if (!due && GrowthTargetLocked() > file_->PreparedLength()) {
    due = env_.GetClock().MonotonicMs() >= nextGrowthTryMs_;
  }
  prepareDue_ = due;
}

// Two doublings ahead of a ring more than half full, or as far as the ring reached before
// it last emptied: adds that grow it before the next preparation still find their room
// ready, and a burst like the last one grows without allocating. A file that is not filling
// up gets the room of the last burst, up to kMaxRoomAheadBytes, so that an empty queue does
// not keep a long file's blocks.
uint64_t QueueManager::GrowthTargetLocked() const {
  const uint64_t next = file_->GrowthToPrepare();
  const uint64_t target = next != 0 ? std::max<uint64_t>(next * 2, highWaterLength_)
                                    : std::min<uint64_t>(highWaterLength_, kMaxRoomAheadBytes);
  return std::min<uint64_t>(target, file_->PreparableLength());
}

// No lock held; on the sending thread, or in the sync task while the queue is alive.
void QueueManager::PrepareNow() {
  if (!prepareDue_) return;
  PrepareWork work;
  if (!TakePrepareWork(work)) return;
  bool grown = true;
  std::string error;
  if (work.growTo > work.growFrom) {
    grown = work.pages.target->PrepareGrowth(work.growFrom, work.growTo);
    if (!grown) error = LastFileErrorText();
  }
  work.pages.BringIn();
  Logger::DeferScope defer;  // no host log callback under the queue lock
  std::lock_guard<BriefMutex> lock(queueMutex_);
  PrepareDoneLocked(work, grown, error);
}

bool QueueManager::TakePrepareWork(PrepareWork& work) {
  Logger::DeferScope defer;  // no host log callback under the queue lock
  std::lock_guard<BriefMutex> lock(queueMutex_);
  if (!prepareDue_) return false;
  prepareDue_ = false;
  if (shuttingDown_ || !file_ || fileRetry_ || !file_->Mapped()) return false;
  const uint64_t target = GrowthTargetLocked();
  if (target > file_->PreparedLength() && env_.GetClock().MonotonicMs() >= nextGrowthTryMs_) {
    work.growFrom = file_->PreparedLength();
    work.growTo = target;
  }
  if (file_->Count() == 0) {
    // An empty ring fills from its start into the room kept for the next burst: all of that
    // room is made ready, as a burst outruns a window re-armed from this thread.
    const uint64_t end = std::min<uint64_t>(std::max(work.growTo, file_->PreparedLength()),
                                            kMaxRoomAheadBytes);
    PagesLocked(file_->NextPosition(), 0, work.pages);
    if (work.pages.target && end > QueueFile::kInitialLength) {
      work.pages.ranges[work.pages.count++] = {QueueFile::kInitialLength, end};
    }
    armedBytes_ = appendedBytes_ + std::max<uint64_t>(kArmWindowBytes, end);
    return true;
  }
  const uint64_t window = std::min<uint64_t>(kArmWindowBytes, file_->RemainingBytes());
  PagesLocked(file_->NextPosition(), window, work.pages);
  armedBytes_ = appendedBytes_ + kArmWindowBytes;
  return true;
}

void QueueManager::PrepareDoneLocked(const PrepareWork& work, bool grown,
                                     const std::string& error) {
  if (!file_ || fileRetry_ || shuttingDown_) return;
  if (work.growTo != 0) {
    if (!grown) {
      // A full disk shows at the add that needs the room; until then, no task per add.
      CORVANE_LOG_DEBUG("Queue file growth to " << work.growTo << " bytes cannot be prepared ("
                                                << error << ")");
      nextGrowthTryMs_ = env_.GetClock().MonotonicMs() + kFileRetryIntervalMs;
      return;
    }
    file_->GrowthPrepared(work.pages.target, work.growTo);
  }
  if (file_->ExpandAhead(kMaxAheadCopyBytes)) {
    FileChangedLocked();
  } else if (!file_->Writable()) {
    FileFailedLocked("growth");
  }
}

void QueueManager::PagesLocked(uint64_t position, uint64_t len, Pages& out) const {
  if (!file_ || !file_->Mapped()) return;
  out.target = file_->SyncTarget();
  out.ranges[0] = {0, QueueFile::kInitialLength};
  out.count = 1 + file_->RingRanges(position, len, out.ranges + 1);
}

void QueueManager::Pages::BringIn() const {
  for (int i = 0; i < count; ++i) target->Prefault(ranges[i].from, ranges[i].to);
}

std::shared_ptr<RandomAccessFile> QueueManager::TakeSyncTarget() {
  Logger::DeferScope defer;  // no host log callback under the queue lock
  std::lock_guard<BriefMutex> lock(queueMutex_);
  syncScheduled_ = false;
  if (shuttingDown_ || !fileDirty_ || !file_) return nullptr;
  fileDirty_ = false;
  return file_->SyncTarget();
}

void QueueManager::SyncDone(const std::shared_ptr<RandomAccessFile>& target, bool ok,
                            const std::string& error) {
  Logger::DeferScope defer;  // no host log callback under the queue lock
  std::lock_guard<BriefMutex> lock(queueMutex_);
  // A file replaced meanwhile was closed under the sync; its successor is dirty already.
  const bool current = file_ && file_->SyncTarget() == target;
  if (!ok && current) {
    if (!syncFailing_) {
      CORVANE_LOG_WARNING("Queue file sync failed (" << filePath_ << ": " << error
                                                     << "); it is tried again");
    }
    syncFailing_ = true;
    fileDirty_ = true;
  } else if (ok && syncFailing_) {
    CORVANE_LOG_INFO("Queue file sync works again");
    syncFailing_ = false;
  }
  if (ok && current) {
    // The sync left the pages it wrote back read-only: the next ones are made ready again.
    armedBytes_ = appendedBytes_;
    PrepareDueLocked();
  }
  if (fileDirty_) FileChangedLocked();
}

bool QueueManager::AddEvent(EventPtr event) {
  if (!event) return false;
  if (shuttingDown_) return false;
  // Written into recycled storage: a host call allocates nothing here in a steady flow.
  std::string text = textPool_->Take();
  event->WriteJsonText(text);
  if (text.size() > kMaxBatchBytes) {
    // It could never fit a batch and would block every later event at the head.
    CORVANE_LOG_ERROR("Dropping event " << event->eventName << ": " << text.size()
                                        << " bytes exceed the upload limit of " << kMaxBatchBytes);
    return false;
  }
  event.reset();
  std::shared_ptr<const std::string> shared = textPool_->Share(std::move(text));
  Logger::DeferScope defer;  // no host log callback under the queue lock
  std::lock_guard<BriefMutex> lock(queueMutex_);
  const size_t count = queue_.size() + 1;
  CORVANE_LOG_VERBOSE("Enqueued " << *shared << "event. " << count << " elements in the queue.");
  AppendLocked(Entry{std::move(shared), ++enqueueCounter_, 0});
  EnforceBoundsLocked();
  return true;
}

// Appends to memory, and to the file while it holds every older event.
void QueueManager::AppendLocked(Entry entry) {
  bytes_ += entry.text->size();
  entry.fileElements = 0;
  queue_.push_back(std::move(entry));
  ++memoryOnly_;
  if (memoryOnly_ == 1 && file_ && file_->Writable() && !fileRetry_) CatchUpFileLocked();
}

// Drops the oldest events beyond the bounds, whether or not an upload holds them.
void QueueManager::EnforceBoundsLocked() {
  size_t n = 0;
  size_t bytes = bytes_;
  while (n < queue_.size() && (queue_.size() - n > kMaxQueuedEvents || bytes > kMaxQueuedBytes)) {
    bytes -= queue_[n].text->size();
    ++n;
  }
  if (n == 0) return;
  RemoveOldestLocked(n);
  dropsUnreported_ += n;
  dropsTotal_ += n;
  const int64_t now = env_.GetClock().MonotonicMs();
  if (dropWarned_ && now - lastDropWarningMs_ < kDropWarningIntervalMs) return;
  CORVANE_LOG_WARNING("Event queue full (" << kMaxQueuedEvents << " events or " << kMaxQueuedBytes
                                           << " bytes): dropped the " << dropsUnreported_
                                           << " oldest events (" << dropsTotal_ << " in total)");
  dropsUnreported_ = 0;
  dropWarned_ = true;
  lastDropWarningMs_ = now;
}

bool QueueManager::ImportEvents(const std::vector<std::string>& texts) {
  Logger::DeferScope defer;  // no host log callback under the queue lock
  std::lock_guard<BriefMutex> lock(queueMutex_);
  if (shuttingDown_) return false;
  for (const std::string& text : texts) {
    if (text.empty() || text.size() > kMaxBatchBytes) continue;
    // Sequence 0: like events loaded at start, they were dispatched by their own instance.
    AppendLocked(Entry{textPool_->Share(text), 0, 0});
  }
  EnforceBoundsLocked();
  return file_ != nullptr && file_->Writable() && !fileRetry_ && memoryOnly_ == 0;
}

void QueueManager::RemoveOldestLocked(size_t n) {
  n = std::min(n, queue_.size());
  uint64_t fromFile = 0;
  for (size_t i = 0; i < n; ++i) {
    fromFile += queue_[i].fileElements;
    bytes_ -= queue_[i].text->size();
  }
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(n));
  batchSize_ -= std::min(n, batchSize_);
  memoryOnly_ = std::min(memoryOnly_, queue_.size());
  // Skipped elements that now lead the file go too.
  if (!queue_.empty() && queue_.front().fileElements > 1) {
    fromFile += queue_.front().fileElements - 1;
    queue_.front().fileElements = 1;
  } else if (queue_.empty() || queue_.front().fileElements == 0) {
    fromFile += tailGhosts_;
    tailGhosts_ = 0;
  }
  if (fromFile == 0) return;
  // A file that cannot be written keeps them at its head; the next reopen removes them.
  if (file_ && file_->Writable() && !fileRetry_) {
    FileChangedLocked();
    const uint64_t emptiedLength = file_->FileLength();
    if (!file_->Remove(static_cast<uint32_t>(std::min<uint64_t>(fromFile, UINT32_MAX)))) {
      FileFailedLocked("removal");
    } else if (file_->Count() == 0) {
      highWaterLength_ = emptiedLength;
      retiredFile_ = file_->TakeRetired();
      // A fresh file: none of its pages are ready yet.
      armedBytes_ = appendedBytes_;
      PrepareDueLocked();
    }
  }
}

// Moves the oldest event behind the others (kept with its sequence, so it is not dispatched
// again). Added before it is removed: a crash in between repeats it rather than losing it.
void QueueManager::RotateHeadLocked() {
  if (queue_.size() < 2) return;
  Entry copy{queue_.front().text, queue_.front().sequence, 0};
  AppendLocked(std::move(copy));
  RemoveOldestLocked(1);
}

size_t QueueManager::Count() const {
  std::lock_guard<BriefMutex> lock(queueMutex_);
  return queue_.size();
}

bool QueueManager::HasFile() const {
  std::lock_guard<BriefMutex> lock(queueMutex_);
  return file_ != nullptr && file_->Writable() && !fileRetry_ && memoryOnly_ == 0;
}

std::vector<std::string> QueueManager::Texts() const {
  std::lock_guard<BriefMutex> lock(queueMutex_);
  std::vector<std::string> out;
  for (const auto& e : queue_) out.push_back(*e.text);
  return out;
}

void QueueManager::Resume() { PostCommand(kCommandResume); }
void QueueManager::Pause() { PostCommand(kCommandPause); }

void QueueManager::SetExecutor(Executor* executor) {
  std::lock_guard<std::mutex> lock(commandMutex_);
  executor_ = executor;
}

void QueueManager::PostCommand(int command) {
  std::lock_guard<std::mutex> lock(commandMutex_);
  if (shuttingDown_) return;
  commands_.push_back(command);
  if (workerRunning_) return;
  workerRunning_ = true;
  if (!ExecutorLocked()->Post([this] { WorkerLoop(); })) {
    workerRunning_ = false;
    commands_.clear();
    CORVANE_LOG_ERROR("Cannot start the queue command thread");
  }
}

Executor* QueueManager::ExecutorLocked() {
  if (executor_ == nullptr) {
    if (!ownExecutor_) ownExecutor_.reset(new Executor("queue command"));
    executor_ = ownExecutor_.get();
  }
  return executor_;
}

void QueueManager::WorkerLoop() {
  {
    std::lock_guard<std::mutex> lock(commandMutex_);
    workerActive_ = true;
  }
  const bool finished = RunGuarded("queue command", [this] { WorkerCommands(); });
  // Thrown or not, the next command posts a new task.
  std::lock_guard<std::mutex> lock(commandMutex_);
  if (!finished) workerRunning_ = false;
  workerActive_ = false;
  workerEnded_.notify_all();
}

void QueueManager::WorkerCommands() {
  for (;;) {
    int command = -1;
    {
      std::lock_guard<std::mutex> lock(commandMutex_);
      if (shuttingDown_ || commands_.empty()) {
        // Exit decision and handle state change together, so no command is stranded.
        workerRunning_ = false;
        return;
      }
      if (commands_.front() == kCommandResume || commands_.front() == kCommandPause) {
        // A run of switches acts as its last one.
        while (!commands_.empty() &&
               (commands_.front() == kCommandResume || commands_.front() == kCommandPause)) {
          command = commands_.front();
          commands_.pop_front();
        }
      } else {
        commands_.pop_front();
      }
    }
    if (command == kCommandResume) StartSending();
    if (command == kCommandPause) StopSending();
    bool pending;
    {
      std::lock_guard<std::mutex> lock(commandMutex_);
      pending = !commands_.empty();
    }
    if (pending && !shuttingDown_) env_.GetClock().Sleep(1, nullptr);
  }
}

void QueueManager::StartSending() {
  if (sendingActive_) return;
  if (sendingThread_.joinable()) sendingThread_.join();
  if (sender_ != nullptr) sender_->SetStop(0);
  wake_.Clear();
  sendingActive_ = true;
  try {
    sendingThread_ = std::thread(&QueueManager::SendingLoop, this);
  } catch (...) {
    sendingActive_ = false;
    CORVANE_LOG_ERROR("Cannot start the sending thread");
  }
}

void QueueManager::StopSending() {
  if (!sendingActive_ && !sendingThread_.joinable()) return;
  if (sender_ != nullptr) sender_->SetStop(1);
  sendingActive_ = false;
  wake_.Set();
  if (sendingThread_.joinable()) sendingThread_.join();
}

void QueueManager::SendingLoop() {
  SdkThreads::NameCurrentThread("sending");
  nextSendTime_ = env_.GetClock().MonotonicMs();
  bool more = false;
  while (sendingActive_ && !shuttingDown_) {
    {
      // No upload is in flight here, so the file may be reopened and caught up.
      Logger::DeferScope defer;  // no host log callback under the queue lock
      if (fileRetry_) {
        std::lock_guard<BriefMutex> lock(queueMutex_);
        if (fileRetry_ && env_.GetClock().MonotonicMs() >= nextFileRetryMs_) RetryFileLocked();
      }
    }
    // A failure inside one cycle (memory exhausted, a throwing callback) costs that cycle
    // only: the batch stays queued and the next cycle tries again.
    if (!RunGuarded("sending", [&] {
          more = UploadOnce(more);
          PrepareNow();
        })) {
      more = false;
      Logger::DeferScope defer;  // no host log callback under the queue lock
      std::lock_guard<BriefMutex> lock(queueMutex_);
      batchSize_ = 0;
      if (sender_ != nullptr) sender_->SetStatus(kSenderIdle);
    }
    if (!sendingActive_ || shuttingDown_) break;
    wake_.Clear();
    // Re-checked after clearing: a stop that set the wake-up just before is not lost.
    if (!sendingActive_ || shuttingDown_) break;
    env_.GetClock().Sleep(settings_.queueCheckInterval, &wake_);
  }
}

// One cycle: cut a batch when allowed, dispatch its new events, upload and settle.
// Returns the "more" flag for the next cycle.
bool QueueManager::UploadOnce(bool more) {
  if (monitor_ != nullptr && !monitor_->CanSend()) return more;
  const int64_t now = env_.GetClock().MonotonicMs();
  // The batch shares the queued texts: only pointers are copied under the queue lock.
  std::vector<std::shared_ptr<const std::string>> batch;
  std::vector<std::pair<size_t, int32_t>> toDispatch;  // batch index, sequence
  bool fullLimit = true;
  Pages head;  // what the removal after a successful upload will zero
  {
    Logger::DeferScope defer;  // no host log callback under the queue lock
    std::lock_guard<BriefMutex> lock(queueMutex_);
    const size_t count = queue_.size();
    const bool due = count >= static_cast<size_t>(std::max(1, settings_.flushQueueSize)) ||
                     (count > 0 && now >= nextSendTime_) || (more && count > 0) || sendNow_;
    if (count == 0) sendNow_ = false;
    if (!due || count == 0) return false;
    size_t total = 0;
    const size_t limit = static_cast<size_t>(std::max(1, batchLimit_.load()));
    fullLimit = batchLimit_.load() >= settings_.flushSendSize;
    for (const Entry& entry : queue_) {
      if (batch.size() >= limit) break;
      total += entry.text->size();
      if (total > kMaxBatchBytes) break;
      if (entry.sequence > highestDispatched_) {
        highestDispatched_ = entry.sequence;
        toDispatch.emplace_back(batch.size(), entry.sequence);
      }
      batch.push_back(entry.text);
    }
    batchSize_ = batch.size();
    if (!fileRetry_ && file_ && file_->Count() > 0) {
      const uint64_t used = file_->UsedBytes() - QueueFile::kHeaderLength;
      const uint64_t removed = std::min<uint64_t>(total + 4 * batch.size(), used);
      PagesLocked(file_->First().position, removed, head);
    }
  }
  if (batch.empty()) return false;
  std::vector<std::string> texts;
  texts.reserve(batch.size());
  for (const auto& text : batch) texts.push_back(*text);
  batch.clear();

  // Host callbacks run here with no lock held, so they may log events themselves.
  std::vector<std::pair<int32_t, std::shared_ptr<const std::string>>> updates;  // sequence, text
  for (const auto& d : toDispatch) {
    EventPtr event = Event::FromJsonTree(texts[d.first]);
    if (!event) continue;
    if (monitor_ != nullptr) monitor_->OnEventDispatch(event.get());
    std::string updated = event->ToJsonText();
    event.reset();
    if (updated == texts[d.first]) continue;
    updates.emplace_back(d.second, textPool_->Share(updated));
    texts[d.first] = std::move(updated);
  }
  if (!updates.empty()) {
    // One lock for the whole batch: each taking is a chance to make a host call wait.
    Logger::DeferScope defer;  // no host log callback under the queue lock
    std::lock_guard<BriefMutex> lock(queueMutex_);
    // Sequences rise through `updates`; an entry trimmed meanwhile is simply not found.
    auto bySequence = [](const std::pair<int32_t, std::shared_ptr<const std::string>>& u,
                         int32_t sequence) { return u.first < sequence; };
    for (Entry& entry : queue_) {
      auto it = std::lower_bound(updates.begin(), updates.end(), entry.sequence, bySequence);
      if (it == updates.end() || it->first != entry.sequence || !it->second) continue;
      bytes_ = bytes_ - entry.text->size() + it->second->size();
      entry.text = std::move(it->second);
    }
  }

  int status = kSenderFailed;
  if (sender_ != nullptr) {
    sender_->SendEvents(texts);
    status = sender_->Status();
  }
  if (status == kSenderSucceeded) head.BringIn();
  // Only what was queued when the upload settled goes on at once; a later event waits for
  // the send delay.
  return Settle(status, texts.size(), texts, fullLimit);
}

bool QueueManager::Settle(int status, size_t batchSize, const std::vector<std::string>& batchTexts,
                          bool fullBatchLimit) {
  const int code = sender_ != nullptr ? sender_->LastHttpCode() : 0;
  int64_t rejectedWaitMs = 0;
  size_t kept = 0;
  bool empty;
  std::shared_ptr<RandomAccessFile> retired;
  {
    Logger::DeferScope defer;  // no host log callback under the queue lock
    std::lock_guard<BriefMutex> lock(queueMutex_);
    // What is left of the batch: the bounds may have dropped some of it meanwhile.
    const size_t inQueue = batchSize_;
    if (status == kSenderSucceeded) {
      RemoveOldestLocked(inQueue);
      batchLimit_ = settings_.flushSendSize;
      unprovenRejections_ = 0;
      if (rejectionEpisode_) {
        acceptedInEpisode_ = true;
        // A full-size batch accepted, or nothing left: the rejections are over.
        if (fullBatchLimit || queue_.empty()) rejectionEpisode_ = false;
      }
    } else if (PermanentRejection(code)) {
      if (!rejectionEpisode_) {
        rejectionEpisode_ = true;
        acceptedInEpisode_ = false;
      }
      if (batchSize > 1) {
        batchLimit_ = static_cast<int>(std::max<size_t>(1, batchSize / 2));
        CORVANE_LOG_WARNING("Batch of " << batchSize << " rejected with HTTP " << code
                                        << ", retrying in batches of " << batchLimit_.load());
      } else if (inQueue == 1 && acceptedInEpisode_) {
        // The server accepts other uploads, so this event is what it refuses; keeping it
        // would starve the rest.
        CORVANE_LOG_ERROR("Dropping event " << (batchTexts.empty() ? "?" : EventNameOf(batchTexts[0]))
                                            << ": rejected by the server with HTTP " << code);
        RemoveOldestLocked(1);
        rejectionEpisode_ = false;
        unprovenRejections_ = 0;
      } else if (inQueue == 1) {
        // Nothing shows that the server takes anything now (a wrong host URL, a gateway
        // in trouble): keep every event, let the others show whether this one is the
        // problem, and slow down.
        RotateHeadLocked();
        rejectedWaitMs = EventSender::RetryWaitMs(
            unprovenRejections_, sender_ != nullptr ? sender_->InitialRetryIntervalMs() : 0);
        ++unprovenRejections_;
        kept = queue_.size();
      }
    }
    batchSize_ = 0;
    empty = queue_.empty();
    retired = std::move(retiredFile_);
  }
  retired.reset();  // closes and unmaps a replaced file outside the lock
  if (empty && monitor_ != nullptr) monitor_->OnQueueEmpty();
  if (sender_ != nullptr) sender_->SetStatus(kSenderIdle);
  nextSendTime_ = env_.GetClock().MonotonicMs() + settings_.sendDelay;
  if (rejectedWaitMs > 0) {
    CORVANE_LOG_WARNING("The server rejects every upload with HTTP "
                        << code << "; the " << kept << " queued events are kept, next try in "
                        << rejectedWaitMs << " ms"
                        << (code == 404 ? ". Check the host URL: it should end with \"/v4/event\""
                                        : ""));
    env_.GetClock().Sleep(rejectedWaitMs, &wake_);
  }
  if (status != kSenderSucceeded && (code == 401 || code == 403)) {
    CORVANE_LOG_ERROR("The server refused the app credentials (HTTP "
                      << code << "); events are kept, next try in " << kAuthRetryDelayMs / 1000
                      << " s");
    // Sleep through the wait, interruptible by Pause and Destroy.
    env_.GetClock().Sleep(kAuthRetryDelayMs, &wake_);
  }
  return !empty;
}

void QueueManager::SendNow() {
  sendNow_ = true;
  wake_.Set();
}

bool QueueManager::WaitUntilEmpty(int timeoutMs, const std::atomic<bool>& abandon) {
  const int64_t start = GetClock().MonotonicMs();
  const int64_t deadline = start + std::max(0, timeoutMs);
  SendNow();
  for (;;) {
    const size_t left = Count();
    if (left == 0) {
      CORVANE_LOG_DEBUG("Flush: queue empty after " << GetClock().MonotonicMs() - start << " ms");
      return true;
    }
    const int64_t now = GetClock().MonotonicMs();
    if (now >= deadline || abandon) {
      CORVANE_LOG_WARNING("Flush: " << left << " events still queued after " << now - start
                                    << " ms; they are kept for a later upload or the next run");
      return false;
    }
    GetClock().Sleep(std::min<int64_t>(10, deadline - now), nullptr);
  }
}

void QueueManager::Destroy() {
  {
    std::lock_guard<std::mutex> lock(commandMutex_);
    if (shuttingDown_.exchange(true)) return;
    commands_.clear();
  }
  {
    // Waits for a sync task that is calling in; later ones find the queue gone.
    std::lock_guard<std::mutex> lock(syncGuard_->mutex);
    syncGuard_->alive = false;
  }
  // An upload in flight is abandoned at once; its batch stays in the file for the next run.
  if (sender_ != nullptr) sender_->Cancel();
  wake_.Set();
  // A command task not begun yet finds the queue shutting down; one running ends soon.
  if (ownExecutor_) ownExecutor_->Join(60000);
  {
    std::unique_lock<std::mutex> lock(commandMutex_);
    workerEnded_.wait(lock, [this] { return !workerActive_; });
  }
  StopSending();
  Logger::DeferScope defer;  // no host log callback under the queue lock
  std::lock_guard<BriefMutex> lock(queueMutex_);
  // One more try to leave the file holding exactly what is still undelivered.
  if (fileRetry_) RetryFileLocked();
  if (dropsUnreported_ > 0) {
    CORVANE_LOG_WARNING("Event queue full: dropped the " << dropsUnreported_
                                                         << " oldest events since the last report");
    dropsUnreported_ = 0;
  }
  queue_.clear();
  if (file_) {
    // What the periodic sync has not reached yet goes to the disk before the file is left.
    if (fileDirty_ && settings_.syncInterval > 0 && file_->IsOpen()) {
      std::shared_ptr<RandomAccessFile> target = file_->SyncTarget();
      if (target) target->SyncData();
    }
    file_->Close();
    file_.reset();
  }
}

}  // namespace CorvaneSDK
