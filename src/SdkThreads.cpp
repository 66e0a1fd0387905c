// Guarded, tracked SDK threads. The registry is leaked on purpose: threads may still end
// during static destruction.
#include "SdkThreads.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "Logger.h"

#if defined(__linux__)
#include <pthread.h>
#endif

namespace CorvaneSDK {

bool RunGuarded(const char* what, const std::function<void()>& body) noexcept {
  try {
    body();
    return true;
  } catch (const std::exception& e) {
    try {
      CORVANE_LOG_ERROR("Caught an exception on the " << what << " thread: " << e.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      CORVANE_LOG_ERROR("Caught an unknown exception on the " << what << " thread");
    } catch (...) {
    }
  }
  return false;
}

namespace SdkThreads {
namespace {

struct Tracked {
  std::thread thread;
  bool done = false;
};

struct Registry {
  std::mutex mutex;
  std::condition_variable ended;
  std::list<Tracked> threads;
};

Registry& R() {
  static Registry* registry = new Registry();
  return *registry;
}

// Caller holds the registry mutex. Joining a thread that has marked itself done waits only
// for its last instructions.
void ReapLocked(Registry& r) {
  for (auto it = r.threads.begin(); it != r.threads.end();) {
    if (it->done && it->thread.get_id() != std::this_thread::get_id()) {
      if (it->thread.joinable()) it->thread.join();
      it = r.threads.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

void ForgetAfterFork() {
  Registry& r = R();
  // Only the forking thread exists in the child: the threads listed are the parent's, and
  // the mutex may have been copied while one of them held it.
  new (&r.mutex) std::mutex();
  new (&r.ended) std::condition_variable();
  new std::list<Tracked>(std::move(r.threads));  // never joined nor destroyed here
  r.threads.clear();
}

bool Start(const char* what, std::function<void()> body) {
  Registry& r = R();
  std::lock_guard<std::mutex> lock(r.mutex);
  ReapLocked(r);
  try {
    r.threads.emplace_back();
  } catch (...) {
    return false;
  }
  Tracked* slot = &r.threads.back();
  try {
    slot->thread = std::thread([slot, what, body]() {
      RunGuarded(what, body);
      Registry& reg = R();
      std::lock_guard<std::mutex> done(reg.mutex);
      slot->done = true;
      reg.ended.notify_all();
    });
  } catch (...) {
    r.threads.pop_back();
    return false;
  }
  return true;
}

void NameCurrentThread(const char* name) {
#if defined(__linux__)
  char full[16] = "corvane-";
  std::strncat(full, name != nullptr ? name : "", sizeof(full) - std::strlen(full) - 1);
  ::pthread_setname_np(::pthread_self(), full);
#else
  (void)name;
#endif
}

int JoinAll(int64_t timeoutMs) {
  Registry& r = R();
  std::unique_lock<std::mutex> lock(r.mutex);
  const auto self = std::this_thread::get_id();
  auto running = [&]() {
    int n = 0;
    for (const Tracked& t : r.threads) n += (!t.done && t.thread.get_id() != self) ? 1 : 0;
    return n;
  };
  r.ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return running() == 0; });
  ReapLocked(r);
  return running();
}

}  // namespace SdkThreads
}  // namespace CorvaneSDK
