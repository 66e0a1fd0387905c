// The background executor: one serial worker thread that runs posted tasks in order, and
// delayed tasks once their time (of the SDK clock) has come. The thread is started at the
// first post, once, and ended by Join. Thread-safe; tasks run one at a time, each under
// RunGuarded, with no executor lock held.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace CorvaneSDK {

class Env;

class Executor {
 public:
  // `name` names the thread in log lines; it must outlive the executor (a literal). Delays
  // count on the clock of `env` (it outlives the worker), or of the default environment.
  Executor(const char* name, Env& env);
  explicit Executor(const char* name);
  // Joins with a bounded wait (see Join).
  ~Executor();
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;

  // Queues `task` behind the ones already posted. False when the executor was joined or no
  // thread could be had: the task has then not run, and the caller decides what to do.
  bool Post(std::function<void()> task);
  // Runs `task` once `delayMs` milliseconds of the SDK clock have passed; a task that falls
  // due waits for the one running. Tasks with the same due time run in posting order.
  bool PostDelayed(int64_t delayMs, std::function<void()> task);

  // Stops taking tasks and drops those not begun, then waits up to `timeoutMs` real
  // milliseconds for the running task to end. Returns true when the worker has ended (or
  // never started). Called from a task it only stops the worker, which ends after the task.
  bool Join(int64_t timeoutMs);
  // True on the worker thread (inside a task).
  bool OnWorkerThread() const;

 private:
  struct State;
  bool Schedule(int64_t dueMs, std::function<void()> task);
  std::shared_ptr<State> state_;  // shared with the worker, which may outlive the executor
};

}  // namespace CorvaneSDK
