// The initialization sequence: SDK configuration fetch, post-configuration, post-initialize
// (queue load, left-over open event, modules), the modules' initialization actions and the
// finish (modules' Initialize, completion callback, pending deep link and push token, auto
// start). The steps run on the background executor, or on the host thread where nothing
// needs to wait; the state-changing parts hold the interface lock. The flags are atomics;
// the other fields belong to whichever step runs (the steps never overlap).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CallbackMaps.h"
#include "Clock.h"
#include "InitializationData.h"

namespace CorvaneSDK {

// What the sequence asks of its owner (the manager). "Locked" steps are called with the
// interface lock held.
class InitializationHost {
 public:
  // Destroy has begun: every step stops.
  virtual bool Abandoned() const = 0;
  // Runs `task` on the background executor (false: it took nothing).
  virtual bool Post(std::function<void()> task) = 0;
  // The server's SDK configuration answer, empty on failure (background, no lock).
  virtual std::string FetchSdkConfig() = 0;
  // Locked: keeps and applies the configuration, updating the module lists.
  virtual void ApplySdkConfig(const std::string& response, std::vector<ModuleSpec>& modules,
                              std::vector<std::string>& excluded) = 0;
  // Locked: app values, queue load, left-over open event, orphan queues, module creation,
  // sending state and COPPA.
  virtual void PrepareAfterConfiguration(const std::vector<ModuleSpec>& modules,
                                         const std::vector<std::string>& excluded) = 0;
  virtual bool HasModuleActions() const = 0;
  // False when Destroy came first.
  virtual bool RunModuleActions(Interrupt* cancel) = 0;
  virtual bool InitializeModules() = 0;
  // Locked: the deep link and push token set so far.
  virtual void PendingDeepLink(std::string& url, int64_t& timeMs, std::string& token) const = 0;
  // Locked: their events, without callbacks.
  virtual void ReportDeepLink(const std::string& url, int64_t timeMs, const std::string& token) = 0;
  virtual CallbackMaps CallbacksSnapshot() const = 0;
  // Locked: the automatic start and the events cached for it.
  virtual void AutoStart() = 0;

 protected:
  ~InitializationHost() = default;
};

class InitializationSequence {
 public:
  InitializationSequence(InitializationHost& host, const InitializationData& data);

  // Starts the sequence once; `keepAlive` holds the host for every step.
  void Begin(std::shared_ptr<void> keepAlive, CompletionCallback callback, int value);
  bool Initialized() const { return initialized_.load(); }
  bool Initializing() const { return initializing_.load(); }
  // Ends the waits of a running step (Destroy).
  void Cancel() { cancel_.Set(); }

 private:
  // Runs `step` in the background, or here when the executor takes nothing.
  void InBackground(std::function<void()> step, const char* what);
  void PostConfiguration(const std::shared_ptr<void>& keepAlive, const std::string& response);
  void PostInitialize(const std::shared_ptr<void>& keepAlive);
  void Finish();

  InitializationHost& host_;
  const bool disableOnlineSdkConfig_;
  std::atomic<bool> initializing_{false};
  std::atomic<bool> initialized_{false};
  CompletionCallback completion_ = nullptr;
  int completionValue_ = 0;
  Interrupt cancel_;
  // Released after post-initialize.
  std::vector<ModuleSpec> moduleSpecs_;
  std::vector<InitializationAction> hostActions_;
  std::vector<std::string> excludedModules_;
};

}  // namespace CorvaneSDK
