// Serial queues on threads, the hand-run double, and repeating timers over after().
#include "Dispatch.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <vector>

namespace CorvaneSDK {
namespace Mobile {

namespace {
// The innermost queue whose task the thread is running.
thread_local const DispatchQueue* tCurrent = nullptr;

void runWithMarker(const DispatchQueue* marker, const Task& task) {
  const DispatchQueue* previous = tCurrent;
  tCurrent = marker;
  try {
    if (task) task();
  } catch (...) {
    // A task's failure stays inside the queue; the queue goes on with the next one.
  }
  tCurrent = previous;
}

std::shared_ptr<const Clock> orSystem(std::shared_ptr<const Clock> clock) {
  return clock ? std::move(clock) : std::make_shared<SystemClock>();
}
}  // namespace

bool DispatchQueue::isCurrent() const { return tCurrent == this; }

void DispatchQueue::runMarked(const Task& task) { runWithMarker(this, task); }

void dispatchOn(DispatchQueue& queue, Task task, bool wait) {
  if (queue.isCurrent()) {
    try {
      if (task) task();
    } catch (...) {
    }
  } else if (wait) {
    queue.sync(std::move(task));
  } else {
    queue.async(std::move(task));
  }
}

void Timer::invalidate() { valid_ = false; }
bool Timer::isValid() const { return valid_.load(); }

std::shared_ptr<Timer> MainQueue::scheduleRepeating(int64_t intervalMs, Task task) {
  auto timer = std::make_shared<Timer>();
  ++timersCreated_;
  scheduleNext(timer, std::max<int64_t>(intervalMs, 1), std::make_shared<Task>(std::move(task)));
  return timer;
}

void MainQueue::scheduleNext(std::shared_ptr<Timer> timer, int64_t intervalMs,
                             std::shared_ptr<Task> task) {
  after(intervalMs, [this, timer, intervalMs, task] {
    if (!timer->isValid()) return;
    try {
      (*task)();
    } catch (...) {
    }
    if (timer->isValid()) scheduleNext(timer, intervalMs, task);
  });
}

// ---- thread-backed serial queue ----

class QueueCore {
 public:
  explicit QueueCore(std::shared_ptr<const Clock> clock) : clock(std::move(clock)) {}

  void loop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      const int64_t now = clock->monotonicMs();
      while (!delayed.empty() && delayed.begin()->first <= now) {
        ready.push_back(std::move(delayed.begin()->second));
        delayed.erase(delayed.begin());
      }
      if (!ready.empty()) {
        Task task = std::move(ready.front());
        ready.pop_front();
        lock.unlock();
        runWithMarker(marker, task);
        task = nullptr;  // captured state is released off the lock
        lock.lock();
        continue;
      }
      if (stopping) return;
      if (delayed.empty()) {
        wake.wait(lock);
      } else {
        int64_t waitMs = delayed.begin()->first - now;
        // A hand-moved clock gives no real-time deadline: look again shortly.
        if (!clock->isReal()) waitMs = std::min<int64_t>(waitMs, 2);
        wake.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(waitMs, 1)));
      }
    }
  }

  std::shared_ptr<const Clock> clock;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Task> ready;
  std::multimap<int64_t, Task> delayed;
  bool stopping = false;
  const DispatchQueue* marker = nullptr;
  std::thread thread;
};

SerialQueue::SerialQueue(std::string label, std::shared_ptr<const Clock> clock)
    : label_(std::move(label)), core_(std::make_shared<QueueCore>(orSystem(std::move(clock)))) {
  core_->marker = this;
  auto core = core_;
  core_->thread = std::thread([core] { core->loop(); });
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->stopping = true;
    core_->delayed.clear();
  }
  core_->wake.notify_all();
  if (core_->thread.get_id() == std::this_thread::get_id()) {
    core_->thread.detach();  // the loop holds the core and ends after this task
  } else if (core_->thread.joinable()) {
    core_->thread.join();
  }
}

void SerialQueue::setMarker(const DispatchQueue* marker) { core_->marker = marker; }

void SerialQueue::async(Task task) {
  // A task may hold the last reference to this queue and free it as soon as it runs: only
  // the core (shared with the thread) is touched after the push.
  auto core = core_;
  {
    std::lock_guard<std::mutex> lock(core->mutex);
    if (core->stopping) return;
    core->ready.push_back(std::move(task));
  }
  core->wake.notify_one();
}

void SerialQueue::sync(Task task) {
  if (tCurrent == core_->marker) {
    runWithMarker(core_->marker, task);  // waiting for itself would never end
    return;
  }
  auto state = std::make_shared<std::pair<std::mutex, std::condition_variable>>();
  auto done = std::make_shared<bool>(false);
  auto core = core_;
  {
    std::lock_guard<std::mutex> lock(core->mutex);
    if (core->stopping) return;
    core->ready.push_back([task = std::move(task), state, done] {
      struct Signal {
        std::shared_ptr<std::pair<std::mutex, std::condition_variable>> state;
        std::shared_ptr<bool> done;
        ~Signal() {
          std::lock_guard<std::mutex> l(state->first);
          *done = true;
          state->second.notify_all();
        }
      } signal{state, done};
      if (task) task();
    });
  }
  core->wake.notify_one();
  std::unique_lock<std::mutex> lock(state->first);
  state->second.wait(lock, [&] { return *done; });
}

void SerialQueue::after(int64_t delayMs, Task task) {
  auto core = core_;
  {
    std::lock_guard<std::mutex> lock(core->mutex);
    if (core->stopping) return;
    core->delayed.emplace(core->clock->monotonicMs() + std::max<int64_t>(delayMs, 0), std::move(task));
  }
  core->wake.notify_one();
}

void ThreadMainQueue::async(Task task) { queue_.async(std::move(task)); }
void ThreadMainQueue::sync(Task task) { queue_.sync(std::move(task)); }
void ThreadMainQueue::after(int64_t delayMs, Task task) { queue_.after(delayMs, std::move(task)); }

// ---- hand-run double ----

ManualQueue::ManualQueue(std::string label, std::shared_ptr<ManualClock> clock)
    : label_(std::move(label)), clock_(clock ? std::move(clock) : std::make_shared<ManualClock>()) {}

void ManualQueue::async(Task task) {
  std::lock_guard<std::mutex> lock(mutex_);
  ready_.push_back(std::move(task));
}

void ManualQueue::after(int64_t delayMs, Task task) {
  std::lock_guard<std::mutex> lock(mutex_);
  delayed_.emplace(clock_->monotonicMs() + std::max<int64_t>(delayMs, 0), std::move(task));
}

void ManualQueue::sync(Task task) {
  if (isCurrent()) {
    runMarked(task);
    return;
  }
  auto done = std::make_shared<bool>(false);
  bool runHere = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.push_back([this, task = std::move(task), done] {
      struct Mark {
        ManualQueue* queue;
        std::shared_ptr<bool> done;
        ~Mark() {
          std::lock_guard<std::mutex> l(queue->mutex_);
          *done = true;
          queue->done_.notify_all();
        }
      } mark{this, done};
      if (task) task();
    });
    runHere = !running_;
  }
  // When another runner started between the check and runPending, it runs the task.
  if (runHere) runPending();
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return *done; });
}

bool ManualQueue::takeReady(Task& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ready_.empty()) {
    running_ = false;
    done_.notify_all();
    return false;
  }
  out = std::move(ready_.front());
  ready_.pop_front();
  return true;
}

int ManualQueue::runPending() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return 0;  // re-entered from one of its own tasks, or run elsewhere
    running_ = true;
  }
  int ran = 0;
  Task task;
  while (takeReady(task)) {
    runMarked(task);
    task = nullptr;
    ++ran;
  }
  return ran;
}

int ManualQueue::advance(int64_t ms) {
  const int64_t target = clock_->monotonicMs() + std::max<int64_t>(ms, 0);
  int ran = runPending();
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (delayed_.empty() || delayed_.begin()->first > target) break;
      const int64_t due = delayed_.begin()->first;
      if (due > clock_->monotonicMs()) clock_->advance(due - clock_->monotonicMs());
      ready_.push_back(std::move(delayed_.begin()->second));
      delayed_.erase(delayed_.begin());
    }
    ran += runPending();
  }
  if (target > clock_->monotonicMs()) clock_->advance(target - clock_->monotonicMs());
  return ran + runPending();
}

size_t ManualQueue::pendingCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ready_.size();
}

size_t ManualQueue::delayedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delayed_.size();
}

// ---- factories ----

ThreadDispatch::ThreadDispatch(std::shared_ptr<const Clock> clock) : clock_(orSystem(std::move(clock))) {}

std::shared_ptr<DispatchQueue> ThreadDispatch::makeSerialQueue(const std::string& label) {
  return std::make_shared<SerialQueue>(label, clock_);
}

std::shared_ptr<MainQueue> ThreadDispatch::mainQueue() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!main_) main_ = std::make_shared<ThreadMainQueue>(clock_);
  return main_;
}

ManualDispatch::ManualDispatch(std::shared_ptr<ManualClock> clock, bool manualSerialQueues)
    : clock_(clock ? std::move(clock) : std::make_shared<ManualClock>()),
      manualSerial_(manualSerialQueues),
      main_(std::make_shared<ManualQueue>("com.corvane.main", clock_)) {}

std::shared_ptr<DispatchQueue> ManualDispatch::makeSerialQueue(const std::string& label) {
  if (!manualSerial_) return std::make_shared<SerialQueue>(label, clock_);
  auto queue = std::make_shared<ManualQueue>(label, clock_);
  std::lock_guard<std::mutex> lock(mutex_);
  serial_[label] = queue;
  return queue;
}

std::shared_ptr<ManualQueue> ManualDispatch::serialQueue(const std::string& label) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = serial_.find(label);
  return it == serial_.end() ? nullptr : it->second.lock();
}

}  // namespace Mobile
}  // namespace CorvaneSDK
