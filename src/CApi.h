// Helpers shared by the C interface files: the manager check, the guarded frame that keeps
// exceptions inside, and string hand-over. Internal; not installed.
#pragma once

#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "CorvaneSDK.h"
#include "CorvaneSDKManager.h"
#include "InterfaceState.h"
#include "Logger.h"

namespace CorvaneSDK {
namespace CApi {

// The live manager when `handle` is it and it is initialized, else null (logged when
// `report`, naming `caller` and what to call instead). The returned reference keeps the
// manager alive for the call.
std::shared_ptr<CorvaneSDKManager> Check(CorvaneSDKManagerRef handle, bool report = true,
                                         const char* caller = nullptr);
// The live manager whatever its state (no logging), or null.
std::shared_ptr<CorvaneSDKManager> Current();
// Whether `manager` is still the published instance (checked again under the lock).
bool IsLive(const std::shared_ptr<CorvaneSDKManager>& manager);

inline std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

// A copy the caller releases with free(); null only when memory is exhausted.
inline char* CopyOut(const std::string& text) {
  char* out = static_cast<char*>(std::malloc(text.size() + 1));
  if (out == nullptr) return nullptr;
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return out;
}

void LogEscaped(const char* function, const char* what);

}  // namespace CApi

// The library is being unloaded (or the process exits) without Destroy: destroys the
// manager as Destroy would and joins every SDK thread, bounded.
void ShutdownForUnload();

namespace CApi {

// Runs `body`, turning any exception into an Error line and the neutral result.
template <typename R, typename F>
R Guarded(const char* function, R neutral, F&& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    LogEscaped(function, e.what());
  } catch (...) {
    LogEscaped(function, "unknown exception");
  }
  return neutral;
}

template <typename F>
void GuardedVoid(const char* function, F&& body) {
  Guarded<int>(function, 0, [&]() {
    body();
    return 0;
  });
}

// The frame of a handle-taking call: check, lock, check again, work.
template <typename R, typename F>
R WithManager(const char* function, CorvaneSDKManagerRef handle, R neutral, F&& body) {
  return Guarded<R>(function, neutral, [&]() -> R {
    std::shared_ptr<CorvaneSDKManager> manager = Check(handle, true, function);
    if (!manager) return neutral;
    InterfaceLock lock;
    if (!IsLive(manager)) return neutral;
    return body(*manager);
  });
}

template <typename F>
void WithManagerVoid(const char* function, CorvaneSDKManagerRef handle, F&& body) {
  WithManager<int>(function, handle, 0, [&](CorvaneSDKManager& m) {
    body(m);
    return 0;
  });
}

// The frame of the event-logging calls: as WithManager, but with auto start on it also
// takes an initializing manager, whose send path holds the event for the automatic start.
// Returns whether `body` ran.
template <typename F>
bool WithEventManager(const char* function, CorvaneSDKManagerRef handle, F&& body) {
  return Guarded<bool>(function, false, [&]() -> bool {
    std::shared_ptr<CorvaneSDKManager> manager = Check(handle, false);
    if (!manager) {
      manager = Current();
      if (!manager || static_cast<const void*>(manager.get()) != static_cast<const void*>(handle) ||
          !manager->HoldsEventsBeforeStart()) {
        Check(handle, true);  // reports why
        return false;
      }
    }
    std::lock_guard<std::recursive_mutex> lock(InterfaceMutex());
    if (!IsLive(manager)) return false;
    body(*manager);
    return true;
  });
}

}  // namespace CApi
}  // namespace CorvaneSDK
