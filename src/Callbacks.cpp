// The host's callbacks.
#include "Callbacks.h"

#include "Event.h"
#include "InterfaceState.h"

namespace CorvaneSDK {

CallbackMaps Callbacks::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return maps_;
}

void Callbacks::RunLifecycle(const std::map<int, LifecycleCallback>& callbacks) {
  for (const auto& entry : callbacks) {
    if (entry.second == nullptr) continue;
    CallbackScope scope;
    entry.second(entry.first);
  }
}

void Callbacks::RunText(const std::map<int, TextCallback>& callbacks, const std::string& text) {
  for (const auto& entry : callbacks) {
    if (entry.second == nullptr) continue;
    CallbackScope scope;
    entry.second(text.c_str(), entry.first);
  }
}

void Callbacks::RunSendEvent(Event& event) const {
  std::map<int, SendEventCallback> callbacks;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    callbacks = maps_.sendEvent;
  }
  if (callbacks.empty()) return;
  event.VisitDepthFirst([&](Event& e) {
    const std::string json = DumpJson(e.value);
    for (const auto& entry : callbacks) {
      if (entry.second == nullptr) continue;
      CallbackScope scope;
      entry.second(e.eventName.c_str(), json.c_str(), entry.first);
    }
  });
}

}  // namespace CorvaneSDK
