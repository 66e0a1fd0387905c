// Platform-neutral part of the file lock: the bounded wait.
#include "FileLock.h"

#include <chrono>
#include <thread>

namespace CorvaneSDK {

std::unique_ptr<FileLock> FileLock::Acquire(const std::string& utf8Path, int timeoutMs) {
  // Real time on purpose: the other holder is another process, outside any injected clock.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    bool busy = false;
    std::unique_ptr<FileLock> lock = TryAcquire(utf8Path, &busy);
    if (lock || !busy || std::chrono::steady_clock::now() >= deadline) return lock;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

FileLock::~FileLock() { Release(); }

}  // namespace CorvaneSDK
