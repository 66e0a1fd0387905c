// Platform-neutral part of the file I/O layer: the fault injector and path joining.
#include "FileIO.h"

#include <atomic>
#include <mutex>

namespace CorvaneSDK {
namespace {

using Injector = std::function<bool(FileOp, const std::string&)>;

std::atomic<bool> g_hasInjector{false};
std::mutex g_injectorMutex;  // guards g_injector
std::shared_ptr<const Injector> g_injector;

}  // namespace

void SetFileFaultInjector(std::function<bool(FileOp, const std::string& path)> shouldFail) {
  std::shared_ptr<const Injector> next;
  if (shouldFail) next = std::make_shared<const Injector>(std::move(shouldFail));
  std::lock_guard<std::mutex> lock(g_injectorMutex);
  g_injector = std::move(next);
  g_hasInjector.store(g_injector != nullptr, std::memory_order_release);
}

namespace detail {

namespace {
thread_local bool t_injected = false;
}  // namespace

bool LastFileOpInjected() { return t_injected; }

bool ShouldFailFileOp(FileOp op, const std::string& path) {
  t_injected = false;
  if (!g_hasInjector.load(std::memory_order_acquire)) return false;
  std::shared_ptr<const Injector> injector;
  {
    std::lock_guard<std::mutex> lock(g_injectorMutex);
    injector = g_injector;
  }
  // Called outside the lock so that the injector may itself install another one.
  t_injected = injector != nullptr && (*injector)(op, path);
  return t_injected;
}

}  // namespace detail

std::string JoinPath(const std::string& folder, const std::string& name) {
  std::string out;
  out.reserve(folder.size() + 1 + name.size());
  out += folder;
  out += NativeSeparator();
  out += name;
  return out;
}

}  // namespace CorvaneSDK
