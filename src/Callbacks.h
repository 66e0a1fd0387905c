// The host's callbacks: the maps by id behind their own lock, and the runners. A runner
// calls out with no SDK lock held but, where its caller holds it, the interface lock; each
// call is marked as running inside a callback. Thread-safe.
#pragma once

#include <mutex>
#include <string>

#include "CallbackMaps.h"

namespace CorvaneSDK {

class Event;

class Callbacks {
 public:
  explicit Callbacks(CallbackMaps initial) : maps_(std::move(initial)) {}

  CallbackMaps Snapshot() const;
  template <typename F>
  void Edit(F&& edit) {
    std::lock_guard<std::mutex> lock(mutex_);
    edit(maps_);
  }

  static void RunLifecycle(const std::map<int, LifecycleCallback>& callbacks);
  static void RunText(const std::map<int, TextCallback>& callbacks, const std::string& text);
  // The send-event callbacks, once for `event` and each of its sub-events, depth first.
  void RunSendEvent(Event& event) const;

 private:
  mutable std::mutex mutex_;
  CallbackMaps maps_;
};

}  // namespace CorvaneSDK
