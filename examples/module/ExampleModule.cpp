// An example plug-in module, built on its own against corvane-sdk-cpp and its public headers
// only. It shows what a module does: read its parameters, add and run an initialization
// action, and log an event through the SDK once the SDK is ready.
//
// A host loads the library, then registers the factory before CorvaneSDKManager_Initialize:
//   void* factory = CorvaneExampleModule_CreateFactory();
//   CorvaneSDKManager_RegisterModuleFactory(CorvaneExampleModule_Name(), factory);
//   InitializationData_AddModule(data, CorvaneExampleModule_Name(), "{\"level\":3}");
// and, after CorvaneSDKManager_Destroy, removes it with
//   CorvaneSDKManager_UnregisterModuleFactory(CorvaneExampleModule_Name(), 1);
#include <CorvaneSDKModule.h>

#include <string>

#if defined(_WIN32)
#define EXAMPLE_MODULE_EXPORT __declspec(dllexport)
#else
#define EXAMPLE_MODULE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using CorvaneSDK::CorvaneSDKModule;
using CorvaneSDK::CorvaneSDKModuleFactory;

// Parameters (from InitializationData_AddModule, merged with the SDK configuration's entry
// for this module): "partner" (string), "level" (int), "announce" (bool).
// Threads: constructed on the SDK's initialization thread, the action runs on the SDK's
// action thread and Initialize on the thread finishing initialization, one after another;
// nothing here is shared with other threads.
class ExampleModule : public CorvaneSDKModule {
 public:
  static constexpr int kConnectAction = 1;

  ExampleModule(const void* manager, const std::string& parameters)
      : CorvaneSDKModule(manager, parameters),
        partner_(GetStringParameter("partner", "example-partner")),
        level_(GetIntParameter("level", 1)),
        announce_(GetBoolParameter("announce", true)) {
    // Actions can be added only here: the SDK runs them before it finishes initializing.
    AddInitializationAction(kConnectAction, partner_);
  }

  void RunInitializationAction(int action, const std::string& parameters,
                               void (*done)()) override {
    // A real module would connect to its partner here and might call done() later from its
    // own thread; this one is ready at once.
    if (action == kConnectAction && parameters == partner_) connected_ = true;
    done();
  }

  void Initialize() override {
    if (!announce_ || !connected_) return;
    // The SDK has not started yet at this point: only an event flagged early is kept.
    LogWithIntValue("example_module_ready", level_, CORVANE_EVENT_FLAG_EARLY);
  }

 private:
  const std::string partner_;
  const int level_;
  const bool announce_;
  bool connected_ = false;
};

class ExampleModuleFactory : public CorvaneSDKModuleFactory {
 public:
  CorvaneSDKModule* CreateModule(const void* manager, const std::string& parameters) override {
    return new ExampleModule(manager, parameters);
  }
};

}  // namespace

extern "C" {

// The name the factory is meant to be registered under.
EXAMPLE_MODULE_EXPORT const char* CorvaneExampleModule_Name(void) { return "ExampleModule"; }

// A new CorvaneSDK::CorvaneSDKModuleFactory*, owned by the caller (or by the SDK once it is
// unregistered with a non-zero delete flag).
EXAMPLE_MODULE_EXPORT void* CorvaneExampleModule_CreateFactory(void) {
  try {
    return static_cast<CorvaneSDKModuleFactory*>(new ExampleModuleFactory());
  } catch (...) {
    return nullptr;
  }
}

}  // extern "C"
