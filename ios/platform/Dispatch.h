// The dispatch port: serial queues with the queue-specific rule, delayed work, and a main
// queue whose repeating timers the host drives. SerialQueue runs on a thread of its own;
// ManualQueue is the test double, run by hand against a ManualClock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Clock.h"

namespace CorvaneSDK {
namespace Mobile {

using Task = std::function<void()>;

// A queue runs its tasks one at a time, in the order they were given. Thread-safe.
// A task that throws is caught and dropped: no exception leaves a queue.
class DispatchQueue {
 public:
  virtual ~DispatchQueue() = default;
  virtual const std::string& label() const = 0;
  // Queued; returns at once.
  virtual void async(Task task) = 0;
  // Queued; returns once it has run. From inside this queue it would wait for itself: use
  // dispatchOn, which runs such work inline.
  virtual void sync(Task task) = 0;
  // Queued once `delayMs` of the queue's clock (monotonic) have passed.
  virtual void after(int64_t delayMs, Task task) = 0;
  // The queue-specific marker: true while the calling code runs as a task of this queue.
  bool isCurrent() const;

 protected:
  // Runs `task` marked as this queue's (the marker nests, innermost wins), catching everything.
  void runMarked(const Task& task);
};

// Work sent to a queue from inside it runs inline; otherwise async or sync as asked.
void dispatchOn(DispatchQueue& queue, Task task, bool wait);

// A repeating timer of a main queue. Thread-safe.
class Timer {
 public:
  void invalidate();
  bool isValid() const;

 private:
  friend class MainQueue;
  std::atomic<bool> valid_{true};
};

// The main queue also carries repeating timers (the run loop's timers on Apple).
class MainQueue : public DispatchQueue {
 public:
  // The first run comes after one interval; later runs follow every interval until invalidated.
  std::shared_ptr<Timer> scheduleRepeating(int64_t intervalMs, Task task);
  int timersCreated() const { return timersCreated_.load(); }

 private:
  void scheduleNext(std::shared_ptr<Timer> timer, int64_t intervalMs, std::shared_ptr<Task> task);
  std::atomic<int> timersCreated_{0};
};

// Shared state of the thread-backed queues.
class QueueCore;

// A serial queue on a thread of its own. Destruction runs the tasks already queued (not the
// delayed ones) and joins the thread; a queue released from its own task detaches instead.
class SerialQueue : public DispatchQueue {
 public:
  explicit SerialQueue(std::string label, std::shared_ptr<const Clock> clock = nullptr);
  ~SerialQueue() override;
  const std::string& label() const override { return label_; }
  void async(Task task) override;
  void sync(Task task) override;
  void after(int64_t delayMs, Task task) override;
  // Which queue's marker the thread carries (a wrapping queue passes itself). Set before use.
  void setMarker(const DispatchQueue* marker);

 private:
  std::string label_;
  std::shared_ptr<QueueCore> core_;
};

// The portable main queue: a SerialQueue with timers.
class ThreadMainQueue : public MainQueue {
 public:
  explicit ThreadMainQueue(std::shared_ptr<const Clock> clock = nullptr)
      : queue_("com.corvane.main", std::move(clock)) {
    queue_.setMarker(this);
  }
  const std::string& label() const override { return queue_.label(); }
  void async(Task task) override;
  void sync(Task task) override;
  void after(int64_t delayMs, Task task) override;

 private:
  SerialQueue queue_;
};

// The test double: nothing runs until the test calls runPending or advance. sync from any
// thread runs the queue on the calling thread when nobody else is running it, else waits.
class ManualQueue : public MainQueue {
 public:
  ManualQueue(std::string label, std::shared_ptr<ManualClock> clock);
  const std::string& label() const override { return label_; }
  void async(Task task) override;
  void sync(Task task) override;
  void after(int64_t delayMs, Task task) override;

  // Runs every ready task, including those queued meanwhile; returns how many ran.
  int runPending();
  // Moves the clock by `ms`, running every delayed task that comes due (in deadline order,
  // each at its own time) and the ready tasks after each.
  int advance(int64_t ms);
  size_t pendingCount() const;
  size_t delayedCount() const;
  ManualClock& clock() { return *clock_; }

 private:
  bool takeReady(Task& out);
  std::string label_;
  std::shared_ptr<ManualClock> clock_;
  mutable std::mutex mutex_;
  std::condition_variable done_;
  std::deque<Task> ready_;
  std::multimap<int64_t, Task> delayed_;
  bool running_ = false;
};

// The factory the core asks for queues. Thread-safe.
class Dispatch {
 public:
  virtual ~Dispatch() = default;
  virtual std::shared_ptr<DispatchQueue> makeSerialQueue(const std::string& label) = 0;
  virtual std::shared_ptr<MainQueue> mainQueue() = 0;
};

// Serial queues and a main queue on threads of their own.
class ThreadDispatch : public Dispatch {
 public:
  explicit ThreadDispatch(std::shared_ptr<const Clock> clock = nullptr);
  std::shared_ptr<DispatchQueue> makeSerialQueue(const std::string& label) override;
  std::shared_ptr<MainQueue> mainQueue() override;

 private:
  std::shared_ptr<const Clock> clock_;
  std::mutex mutex_;
  std::shared_ptr<MainQueue> main_;
};

// The double: a hand-run main queue; serial queues on threads (timed by the manual clock), or
// hand-run too when `manualSerialQueues` is set (then serialQueue(label) finds them).
class ManualDispatch : public Dispatch {
 public:
  explicit ManualDispatch(std::shared_ptr<ManualClock> clock, bool manualSerialQueues = false);
  std::shared_ptr<DispatchQueue> makeSerialQueue(const std::string& label) override;
  std::shared_ptr<MainQueue> mainQueue() override { return main_; }
  ManualQueue& main() { return *main_; }
  std::shared_ptr<ManualQueue> serialQueue(const std::string& label);

 private:
  std::shared_ptr<ManualClock> clock_;
  bool manualSerial_;
  std::shared_ptr<ManualQueue> main_;
  std::mutex mutex_;
  std::map<std::string, std::weak_ptr<ManualQueue>> serial_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
