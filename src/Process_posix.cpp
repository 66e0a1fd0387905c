// Process events on POSIX: fork detection and the library's unload hook.
#include <pthread.h>

#include <atomic>
#include <mutex>

#include "CApi.h"
#include "SdkThreads.h"

namespace CorvaneSDK {
namespace {
std::atomic<unsigned> g_forkGeneration{0};
void OnForkChild() {
  g_forkGeneration.fetch_add(1);
  SdkThreads::ForgetAfterFork();
}
}  // namespace

unsigned ForkGeneration() {
  static std::once_flag once;
  std::call_once(once, [] { pthread_atfork(nullptr, nullptr, &OnForkChild); });
  return g_forkGeneration.load();
}

}  // namespace CorvaneSDK

// Runs on dlclose of the library and at process exit: no SDK thread may run on once the
// code is unmapped, so they are stopped and joined here as Destroy would.
__attribute__((destructor)) static void CorvaneSDKUnload() { CorvaneSDK::ShutdownForUnload(); }
