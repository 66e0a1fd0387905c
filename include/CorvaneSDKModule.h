/*
 * Corvane SDK plug-in modules (C++). A module derives from CorvaneSDKModule; a factory
 * derived from CorvaneSDKModuleFactory is registered under the module's name with
 * CorvaneSDKManager_RegisterModuleFactory before Initialize. The manager creates the modules
 * the configuration asks for, runs their initialization actions one at a time on the SDK's
 * background thread, calls Initialize when the SDK is ready and deletes them at CorvaneSDKManager_Destroy.
 *
 * Threads: the factory and the module constructor run on the SDK's initialization thread
 * with the SDK's interface lock held (they may call the C interface). The initialization
 * actions run on the SDK's background thread; their done may be called from any thread. Initialize runs on
 * the thread finishing initialization, with no SDK lock held. The Log members may be called
 * from any thread. Parameters and name do not change after creation.
 */
#ifndef CORVANE_SDK_MODULE_H
#define CORVANE_SDK_MODULE_H

#include <string>

#include "CorvaneSDK.h"

namespace CorvaneSDK {

struct CorvaneSDKModulePrivate;

class CORVANE_API CorvaneSDKModule {
 public:
  // `manager` is the opaque pointer the factory received; `parameters` a JSON object text
  // (anything else gives no parameters).
  CorvaneSDKModule(const void* manager, const std::string& parameters);
  virtual ~CorvaneSDKModule();
  // Called once when the SDK has finished initializing. The base does nothing.
  virtual void Initialize();
  // Runs one initialization action and calls done() exactly once when it has finished, from
  // this call or later from any thread (a second call would end the next action's wait). The
  // next action, and the end of initialization, wait for it; there is no time-out (a Warning
  // is logged every 10 s). The base calls done() at once.
  virtual void RunInitializationAction(int action, const std::string& parameters, void (*done)());
  // What the SDK calls to run an action. The same contract, but done takes `context` back,
  // so that a call can end only the action it was given for. The base runs
  // RunInitializationAction with a done that ends the action running now. Override this one
  // in new modules; it comes after the others in the class's virtual table.
  virtual void RunInitializationActionWithContext(int action, const std::string& parameters,
                                                  void (*done)(void* context), void* context);

  void SetName(const std::string& name);
  std::string GetName() const;
  // Parameter values of the right JSON type, else the default: 2.5, "3" and integers beyond
  // the range of int are not ints.
  int GetIntParameter(const std::string& key, int defaultValue) const;
  std::string GetStringParameter(const std::string& key, const std::string& defaultValue) const;
  bool GetBoolParameter(const std::string& key, bool defaultValue) const;

  // Events through the manager's send path; nothing happens before the SDK has finished
  // initializing or after it was destroyed. flags: CORVANE_EVENT_FLAG_* or 0. Until the
  // manager has started (it starts right after the modules' Initialize when auto start is on)
  // an event with flags 0 is dropped: log from Initialize with CORVANE_EVENT_FLAG_EARLY.
  void Log(const std::string& eventName);
  void LogWithIntValue(const std::string& eventName, int value, int flags);
  void LogWithStringValue(const std::string& eventName, const std::string& value, int flags);
  void LogWithJsonValue(const std::string& eventName, const std::string& json, int flags);
  void LogWithMapValue(const std::string& eventName, const std::string& map, int flags);

 protected:
  // Appends an action, run in order before the SDK finishes initializing. Only effective
  // from the module's constructor; a later call is ignored with a Warning.
  void AddInitializationAction(int action);
  void AddInitializationAction(int action, const std::string& parameters);

 private:
  CorvaneSDKModule(const CorvaneSDKModule&);
  CorvaneSDKModule& operator=(const CorvaneSDKModule&);
  CorvaneSDKModulePrivate* d_;
};

class CORVANE_API CorvaneSDKModuleFactory {
 public:
  // Returns a new module (deleted by the SDK) or null. Called at most once per module name
  // and initialization.
  virtual CorvaneSDKModule* CreateModule(const void* manager, const std::string& parameters) = 0;
  virtual ~CorvaneSDKModuleFactory();
};

}  // namespace CorvaneSDK

#endif /* CORVANE_SDK_MODULE_H */
