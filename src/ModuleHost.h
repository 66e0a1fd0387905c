// The module host: creates the modules the configuration asks for, runs their
// initialization actions one at a time, calls their Initialize, finds them by name and
// deletes them. Threads: Create runs under the interface lock before initialization ends;
// the actions and Initialize run on the background executor afterwards; the module list
// never changes once Create has returned, so Find reads it without a lock.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "InitializationData.h"
#include "ModuleContext.h"

namespace CorvaneSDK {

class CorvaneSDKModule;
class Env;
class Interrupt;

class ModuleHost final : private ModuleActionSink {
 public:
  // `handle` is the opaque manager pointer the factories receive.
  explicit ModuleHost(const void* handle) : handle_(handle) {}
  ~ModuleHost();
  ModuleHost(const ModuleHost&) = delete;
  ModuleHost& operator=(const ModuleHost&) = delete;

  // Creates the modules of `specs` in order (each name once, none of `excluded`) through the
  // registered factories; actions the modules add meanwhile are kept for RunActions.
  void Create(const std::vector<ModuleSpec>& specs, const std::vector<std::string>& excluded);
  bool HasActions() const { return !actions_.empty(); }
  // Runs the actions in order; each waits for its done, checked once a second of the clock
  // of `env` (a Warning every 10 s; there is no time-out). False when `abandoned` turned true.
  bool RunActions(const std::atomic<bool>& abandoned, Interrupt* cancel, Env& env);
  // Calls every module's Initialize in creation order; false when `abandoned` turned true.
  bool InitializeAll(const std::atomic<bool>& abandoned);
  CorvaneSDKModule* Find(const std::string& name) const;
  // Deletes the modules in creation order.
  void DeleteAll();

 private:
  void AddModuleAction(CorvaneSDKModule* module, int action, const std::string& parameters) override;

  struct Action {
    CorvaneSDKModule* module;
    int action;
    std::string parameters;
  };
  const void* const handle_;
  std::vector<CorvaneSDKModule*> modules_;  // owned
  std::vector<Action> actions_;
  bool created_ = false;  // actions are taken only while Create runs
};

}  // namespace CorvaneSDK
