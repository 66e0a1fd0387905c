// The serial worker. Its state is shared with the thread, so an executor destroyed from one
// of its own tasks (the last reference to its owner dropped there) leaves the thread a valid
// state to finish on.
#include "Executor.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "Env.h"
#include "Logger.h"
#include "SdkThreads.h"

namespace CorvaneSDK {

struct Executor::State {
  const char* name = "";
  Env* env = nullptr;  // null: the default environment
  std::mutex mutex;
  std::condition_variable changed;  // a task came, or the worker stopped or ended
  Interrupt wake;                   // ends the wait for a delayed task early
  std::deque<std::function<void()>> ready;
  std::multimap<int64_t, std::function<void()>> delayed;  // by due time, then posting order
  bool started = false, stopping = false, ended = false;
  std::thread::id worker;

  void Run();
  Clock& TheClock() const { return env != nullptr ? env->GetClock() : GetClock(); }
};

void Executor::State::Run() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    worker = std::this_thread::get_id();
  }
  for (;;) {
    std::function<void()> task;
    int64_t waitMs = 0;
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [this] { return stopping || !ready.empty() || !delayed.empty(); });
      if (stopping) break;
      if (!delayed.empty()) {
        const int64_t now = TheClock().MonotonicMs();
        if (delayed.begin()->first <= now) {
          // A delayed task that fell due goes behind the tasks already waiting.
          ready.push_back(std::move(delayed.begin()->second));
          delayed.erase(delayed.begin());
        } else if (ready.empty()) {
          waitMs = delayed.begin()->first - now;
          wake.Clear();  // under the lock: a post after this sets it again
        }
      }
      if (waitMs == 0) {
        task = std::move(ready.front());
        ready.pop_front();
      }
    }
    if (task) {
      RunGuarded(name, task);
      task = nullptr;  // what it captured goes before the next task starts
    } else {
      TheClock().Sleep(waitMs, &wake);
    }
  }
  std::lock_guard<std::mutex> lock(mutex);
  ended = true;
  changed.notify_all();
}

Executor::Executor(const char* name) : state_(std::make_shared<State>()) { state_->name = name; }

Executor::Executor(const char* name, Env& env) : Executor(name) { state_->env = &env; }

Executor::~Executor() { Join(3000); }

bool Executor::Post(std::function<void()> task) { return Schedule(-1, std::move(task)); }

bool Executor::PostDelayed(int64_t delayMs, std::function<void()> task) {
  return Schedule(state_->TheClock().MonotonicMs() + (delayMs > 0 ? delayMs : 0), std::move(task));
}

bool Executor::Schedule(int64_t dueMs, std::function<void()> task) {
  if (!task) return false;
  std::shared_ptr<State> s = state_;
  std::lock_guard<std::mutex> lock(s->mutex);
  if (s->stopping) return false;
  if (!s->started) {
    if (!SdkThreads::Start(s->name, [s]() {
          SdkThreads::NameCurrentThread("exec");
          s->Run();
        })) {
      CORVANE_LOG_ERROR("Cannot start the " << s->name << " thread");
      return false;
    }
    s->started = true;
  }
  if (dueMs < 0) {
    s->ready.push_back(std::move(task));
  } else {
    s->delayed.emplace(dueMs, std::move(task));
  }
  s->wake.Set();
  s->changed.notify_all();
  return true;
}

bool Executor::Join(int64_t timeoutMs) {
  std::shared_ptr<State> s = state_;
  std::deque<std::function<void()>> dropped;
  std::multimap<int64_t, std::function<void()>> droppedLater;
  std::unique_lock<std::mutex> lock(s->mutex);
  s->stopping = true;
  dropped.swap(s->ready);
  droppedLater.swap(s->delayed);
  s->wake.Set();
  s->changed.notify_all();
  if (!s->started) return true;
  if (s->worker == std::this_thread::get_id()) return false;
  const bool ended = s->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                         [&] { return s->ended; });
  if (!ended) CORVANE_LOG_WARNING("The " << s->name << " thread did not end within " << timeoutMs << " ms");
  lock.unlock();
  return ended;  // the dropped tasks (and what they hold) go here, with no lock held
}

bool Executor::OnWorkerThread() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->started && state_->worker == std::this_thread::get_id();
}

}  // namespace CorvaneSDK
