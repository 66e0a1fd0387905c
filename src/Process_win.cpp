// Process events on Windows: there is no fork. Threads cannot be joined from DllMain
// (DLL_PROCESS_DETACH runs under the loader lock), so a host unloading the library must call
// CorvaneSDKManager_Destroy first.
#include "SdkThreads.h"

namespace CorvaneSDK {

unsigned ForkGeneration() { return 0; }

}  // namespace CorvaneSDK
