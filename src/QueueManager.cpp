// Queue manager: enqueue, start-up reload, the 5000 cap, batch cutting, upload settling and
// the command worker that switches the sending thread on and off.
#include "QueueManager.h"

#include <algorithm>

#include "Event.h"
#include "EventSender.h"
#include "FileIO.h"
#include "Logger.h"
#include "QueueFile.h"

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
                           EventSender* sender, const std::string& saveFolder)
    : monitor_(monitor), sender_(sender) {
  QueueSettings defaults;
  settings_.flushQueueSize =
      OrDefault(settings.flushQueueSize, defaults.flushQueueSize, "Flush queue size", true);
  settings_.flushSendSize =
      OrDefault(settings.flushSendSize, defaults.flushSendSize, "Flush send size", false);
  settings_.queueCheckInterval = OrDefault(settings.queueCheckInterval,
                                           defaults.queueCheckInterval, "Queue check interval", false);
  settings_.sendDelay = OrDefault(settings.sendDelay, defaults.sendDelay, "Send delay", true);
  batchLimit_ = settings_.flushSendSize;
  if (!saveFolder.empty()) {
    CORVANE_LOG_DEBUG("Save Path: " << saveFolder);
    filePath_ = JoinPath(saveFolder, ".event_queue");
  }
}

QueueManager::~QueueManager() { Destroy(); }

void QueueManager::Initialize() {
  Logger::DeferScope defer;  // no host log callback under the queue lock
  std::lock_guard<std::mutex> lock(queueMutex_);
  if (initialized_) return;
  initialized_ = true;
  if (filePath_.empty()) return;

  file_.reset(new QueueFile(filePath_));
  std::vector<std::string> texts;
  std::string why;
  bool ok = file_->Init() && file_->ValidateHeader(&why) && file_->ReadAll(texts, &why);
  for (auto& text : texts) {
    // An element that is not an event object is skipped; its neighbours are kept.
    Json parsed;
    if (!ParseEventText(text, parsed) || !parsed.is_object()) {
      CORVANE_LOG_WARNING("Skipping a queued element that is not an event (" << text.size()
                                                                             << " bytes)");
      continue;
    }
    queue_.push_back(Entry{std::move(text), 0});
  }
  if (!ok) {
    if (!why.empty()) CORVANE_LOG_DEBUG("Queue file rejected: " << why);
    file_->Close();
    file_.reset();
    RemoveFile(filePath_);
    CORVANE_LOG_ERROR("Cannot init queue file " << filePath_ << "; continuing in memory only");
    // What was read stays queued; it will not survive this run without a file.
    return;
  }
  if (queue_.size() > kMaxQueuedEvents) RemoveOldestLocked(queue_.size() - kMaxQueuedEvents);
}

bool QueueManager::AddEvent(Event* event) {
  if (event == nullptr) return false;
  if (shuttingDown_) {
    Event::Release(event);
    return false;
  }
  std::string text = event->ToJsonText();
  const std::string name = event->eventName;
  Event::Release(event);
  if (text.size() > kMaxBatchBytes) {
    // It could never fit a batch and would block every later event at the head.
    CORVANE_LOG_ERROR("Dropping event " << name << ": " << text.size()
                                        << " bytes exceed the upload limit of " << kMaxBatchBytes);
    return false;
  }
  Logger::DeferScope defer;  // no host log callback under the queue lock
  std::lock_guard<std::mutex> lock(queueMutex_);
  if (file_) {
    const uint32_t length = static_cast<uint32_t>(text.size());
    while (file_ && file_->Writable() && !file_->CanAdd(length) && batchSize_ == 0 &&
           !queue_.empty()) {
      CORVANE_LOG_WARNING("Queue file full, dropping the oldest event");
      RemoveOldestLocked(1);
    }
    if (file_ && !file_->Add(text.data(), length)) DropFileLocked("write failed");
  }
  const size_t count = queue_.size() + 1;
  CORVANE_LOG_VERBOSE("Enqueued " << text << "event. " << count << " elements in the queue.");
  queue_.push_back(Entry{std::move(text), ++enqueueCounter_});
  if (queue_.size() > kMaxQueuedEvents && batchSize_ == 0) {
    RemoveOldestLocked(queue_.size() - kMaxQueuedEvents);
  }
  return true;
}

void QueueManager::RemoveOldestLocked(size_t n) {
  n = std::min(n, queue_.size());
  if (n == 0) return;
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(n));
  if (file_ && !file_->Remove(static_cast<uint32_t>(n))) DropFileLocked("remove failed");
}

void QueueManager::DropFileLocked(const char* why) {
  CORVANE_LOG_ERROR("Queue file " << filePath_ << " " << why << "; continuing in memory only");
  file_->Close();
  file_.reset();
  // The file no longer matches the queue; the next start begins clean.
  RemoveFile(filePath_);
}

size_t QueueManager::Count() const {
  std::lock_guard<std::mutex> lock(queueMutex_);
  return queue_.size();
}

bool QueueManager::HasFile() const {
  std::lock_guard<std::mutex> lock(queueMutex_);
  return file_ != nullptr;
}

std::vector<std::string> QueueManager::Texts() const {
  std::lock_guard<std::mutex> lock(queueMutex_);
  std::vector<std::string> out;
  for (const auto& e : queue_) out.push_back(e.text);
  return out;
}

void QueueManager::Resume() { PostCommand(kCommandResume); }
void QueueManager::Pause() { PostCommand(kCommandPause); }

void QueueManager::PostCommand(int command) {
  std::lock_guard<std::mutex> lock(commandMutex_);
  if (shuttingDown_) return;
  commands_.push_back(command);
  if (workerRunning_) return;
  // The previous worker decided to exit under this mutex; joining it is immediate.
  if (worker_.joinable()) worker_.join();
  workerRunning_ = true;
  try {
    worker_ = std::thread(&QueueManager::WorkerLoop, this);
  } catch (...) {
    workerRunning_ = false;
    commands_.clear();
    CORVANE_LOG_ERROR("Cannot start the queue command thread");
  }
}

void QueueManager::WorkerLoop() {
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
    if (pending && !shuttingDown_) GetClock().Sleep(1, nullptr);
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
  nextSendTime_ = GetClock().MonotonicMs();
  bool more = false;
  while (sendingActive_ && !shuttingDown_) {
    more = UploadOnce(more);
    if (!sendingActive_ || shuttingDown_) break;
    wake_.Clear();
    // Re-checked after clearing: a stop that set the wake-up just before is not lost.
    if (!sendingActive_ || shuttingDown_) break;
    GetClock().Sleep(settings_.queueCheckInterval, &wake_);
  }
}

// One cycle: cut a batch when allowed, dispatch its new events, upload and settle.
// Returns the "more" flag for the next cycle.
bool QueueManager::UploadOnce(bool more) {
  if (monitor_ != nullptr && !monitor_->CanSend()) return more;
  const int64_t now = GetClock().MonotonicMs();
  std::vector<std::string> texts;
  std::vector<std::pair<size_t, int32_t>> toDispatch;  // batch index, sequence
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    const size_t count = queue_.size();
    const bool due = count >= static_cast<size_t>(std::max(1, settings_.flushQueueSize)) ||
                     (count > 0 && now >= nextSendTime_) || (more && count > 0) || sendNow_;
    if (count == 0) sendNow_ = false;
    if (!due || count == 0) return false;
    size_t total = 0;
    const size_t limit = static_cast<size_t>(std::max(1, batchLimit_.load()));
    for (const Entry& entry : queue_) {
      if (texts.size() >= limit) break;
      total += entry.text.size();
      if (total > kMaxBatchBytes) break;
      if (entry.sequence > highestDispatched_) {
        highestDispatched_ = entry.sequence;
        toDispatch.emplace_back(texts.size(), entry.sequence);
      }
      texts.push_back(entry.text);
    }
    batchSize_ = texts.size();
  }
  if (texts.empty()) return false;

  // Host callbacks run here with no lock held, so they may log events themselves.
  for (const auto& d : toDispatch) {
    Event* event = Event::FromJsonTree(texts[d.first]);
    if (event == nullptr) continue;
    if (monitor_ != nullptr) monitor_->OnEventDispatch(event);
    std::string updated = event->ToJsonText();
    Event::Release(event);
    if (updated == texts[d.first]) continue;
    texts[d.first] = updated;
    std::lock_guard<std::mutex> lock(queueMutex_);
    for (Entry& entry : queue_) {
      if (entry.sequence == d.second) {
        entry.text = updated;
        break;
      }
    }
  }

  int status = kSenderFailed;
  if (sender_ != nullptr) {
    sender_->SendEvents(texts);
    status = sender_->Status();
  }
  Settle(status, texts.size(), texts);
  std::lock_guard<std::mutex> lock(queueMutex_);
  return !queue_.empty();
}

void QueueManager::Settle(int status, size_t batchSize, const std::vector<std::string>& batchTexts) {
  const int code = sender_ != nullptr ? sender_->LastHttpCode() : 0;
  bool empty;
  {
    Logger::DeferScope defer;  // no host log callback under the queue lock
    std::lock_guard<std::mutex> lock(queueMutex_);
    size_t drop = queue_.size() > kMaxQueuedEvents ? queue_.size() - kMaxQueuedEvents : 0;
    if (status == kSenderSucceeded) {
      drop = std::max(drop, batchSize);
      batchLimit_ = settings_.flushSendSize;
    } else if (PermanentRejection(code)) {
      if (batchSize <= 1) {
        // The server will never take this event; keeping it would starve the rest.
        CORVANE_LOG_ERROR("Dropping event " << (batchTexts.empty() ? "?" : EventNameOf(batchTexts[0]))
                                            << ": rejected by the server with HTTP " << code);
        drop = std::max<size_t>(drop, 1);
      } else {
        batchLimit_ = static_cast<int>(std::max<size_t>(1, batchSize / 2));
        CORVANE_LOG_WARNING("Batch of " << batchSize << " rejected with HTTP " << code
                                        << ", retrying in batches of " << batchLimit_.load());
      }
    }
    if (drop > 0) RemoveOldestLocked(drop);
    batchSize_ = 0;
    empty = queue_.empty();
  }
  if (empty && monitor_ != nullptr) monitor_->OnQueueEmpty();
  if (sender_ != nullptr) sender_->SetStatus(kSenderIdle);
  nextSendTime_ = GetClock().MonotonicMs() + settings_.sendDelay;
  if (status != kSenderSucceeded && (code == 401 || code == 403)) {
    CORVANE_LOG_ERROR("The server refused the app credentials (HTTP "
                      << code << "); events are kept, next try in " << kAuthRetryDelayMs / 1000
                      << " s");
    // Sleep through the wait, interruptible by Pause and Destroy.
    GetClock().Sleep(kAuthRetryDelayMs, &wake_);
  }
}

void QueueManager::SendNow() {
  sendNow_ = true;
  wake_.Set();
}

void QueueManager::Destroy() {
  {
    std::lock_guard<std::mutex> lock(commandMutex_);
    if (shuttingDown_.exchange(true)) return;
    commands_.clear();
  }
  wake_.Set();
  if (worker_.joinable()) worker_.join();
  StopSending();
  Logger::DeferScope defer;  // no host log callback under the queue lock
  std::lock_guard<std::mutex> lock(queueMutex_);
  queue_.clear();
  if (file_) {
    file_->Close();
    file_.reset();
  }
}

}  // namespace CorvaneSDK
