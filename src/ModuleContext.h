// What a module reaches of the SDK: its manager's send path, the initialization action list
// while its manager creates it, and the completion of its actions. Sits below the manager
// and the module classes, so neither includes the other.
#pragma once

#include <cstdint>
#include <string>

#include "Event.h"

namespace CorvaneSDK {

class CorvaneSDKModule;

// Implemented by the manager; a module finds its live one with Instance::LiveModuleContext.
// Thread-safe.
class ModuleContext {
 public:
  // Sends a module's event through the send path and takes ownership of it; before
  // initialization has finished it is released.
  virtual void LogModuleEvent(EventPtr event) = 0;

 protected:
  ~ModuleContext() = default;
};

// Receives the initialization actions of the modules created on this thread.
class ModuleActionSink {
 public:
  virtual void AddModuleAction(CorvaneSDKModule* module, int action,
                               const std::string& parameters) = 0;

 protected:
  ~ModuleActionSink() = default;
};

// Marks the current thread as creating the modules of the manager `handle` (the opaque
// pointer the factories receive) for the scope's lifetime.
class CreatingModulesScope {
 public:
  CreatingModulesScope(const void* handle, ModuleActionSink* sink);
  ~CreatingModulesScope();
  CreatingModulesScope(const CreatingModulesScope&) = delete;
  CreatingModulesScope& operator=(const CreatingModulesScope&) = delete;
};

// Appends an action when `handle` is creating its modules on this thread (a module's
// constructor runs inside its factory); otherwise a Warning naming `moduleName` and nothing,
// so the action list never changes while the actions run.
void AddInitializationActionFromModule(const void* handle, CorvaneSDKModule* module,
                                       const std::string& moduleName, int action,
                                       const std::string& parameters);

// One ticket per running initialization action. Its context, handed to the module with the
// `done` below, ends that action only: a late or second call cannot end another one. A
// ticket is a number, never a pointer, so a call after Destroy touches nothing freed.
// Thread-safe.
namespace ActionTickets {
uint64_t Open();
bool IsOpen(uint64_t ticket);
void Close(uint64_t ticket);
void* Context(uint64_t ticket);
// The `done` given with a ticket's context.
void Done(void* context);
}  // namespace ActionTickets

}  // namespace CorvaneSDK
