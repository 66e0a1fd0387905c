// Unloading the shared library without Destroy: its unload hook stops and joins the SDK's
// threads, so none runs on in unmapped code. The library is loaded with dlopen only (this
// executable does not link it), so dlclose really unmaps it.
#include <dirent.h>
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "CorvaneSDK.h"
#include "TempDir.h"

namespace {

using CorvaneSDK::Test::TempDir;

int ThreadCount() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.' ? 1 : 0;
    ::closedir(d);
  }
  return n;
}

bool Mapped(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  const std::string name = path.substr(path.rfind('/') + 1);
  for (std::string line; std::getline(maps, line);) {
    if (line.find(name) != std::string::npos) return true;
  }
  return false;
}

template <typename P>
bool WaitUntil(P predicate, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

template <typename F>
F Symbol(void* lib, const char* name) {
  return reinterpret_cast<F>(::dlsym(lib, name));
}

}  // namespace

TEST(LibraryUnload, DlcloseWithoutDestroyJoinsTheSdkThreads) {
  // No server: the sending thread runs its cycles during the open event's hold all the same,
  // and this process has no other threads to blur the count.
  const std::string nowhere = "http://127.0.0.1:9";
  TempDir dir;
  const int baseline = ThreadCount();
  void* lib = ::dlopen(CORVANE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << ::dlerror();
  auto create = Symbol<decltype(&InitializationData_Create)>(lib, "InitializationData_Create");
  auto release = Symbol<decltype(&InitializationData_Destroy)>(lib, "InitializationData_Destroy");
  auto setText = [&](const char* name, const std::string& value, InitializationData* data) {
    auto set = Symbol<void (*)(InitializationData*, const char*)>(lib, name);
    ASSERT_NE(set, nullptr) << name;
    set(data, value.c_str());
  };
  auto setInt = [&](const char* name, int value, InitializationData* data) {
    auto set = Symbol<void (*)(InitializationData*, int)>(lib, name);
    ASSERT_NE(set, nullptr) << name;
    set(data, value);
  };
  auto initialize = Symbol<decltype(&CorvaneSDKManager_Initialize)>(lib, "CorvaneSDKManager_Initialize");
  auto instance = Symbol<decltype(&CorvaneSDKManager_GetInstance)>(lib, "CorvaneSDKManager_GetInstance");
  auto log = Symbol<decltype(&CorvaneSDKManager_Log)>(lib, "CorvaneSDKManager_Log");
  auto started = Symbol<decltype(&CorvaneSDKManager_IsInitialized)>(lib, "CorvaneSDKManager_IsInitialized");
  ASSERT_TRUE(create && release && initialize && instance && log && started);

  InitializationData* data = create("app", "secret");
  setText("InitializationData_SetHost", nowhere + "/v4/event", data);
  setText("InitializationData_SetConfigUrl", nowhere + "/v1/public/config", data);
  setText("InitializationData_SetSavePath", dir.path(), data);
  setInt("InitializationData_SetDisableOnlineSdkConfig", 1, data);
  setInt("InitializationData_SetRegisterURIScheme", 0, data);
  setInt("InitializationData_SetQueueCheckInterval", 10, data);
  initialize(data);
  release(data);
  ASSERT_EQ(started(instance()), 1);
  log(instance(), "before_unload");
  ASSERT_TRUE(WaitUntil([&] { return ThreadCount() > baseline; }, 10000)) << "no SDK thread ran";

  ASSERT_EQ(::dlclose(lib), 0);
  EXPECT_FALSE(Mapped(CORVANE_LIBRARY_PATH)) << "the library stayed loaded";
  // Joined by the unload hook: none is left to wake up in unmapped code.
  EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= baseline; }, 5000))
      << ThreadCount() - baseline << " SDK thread(s) outlived the library";
}
