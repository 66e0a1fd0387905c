// The C interface: the manager check and the thin shims over the classes; its process-wide
// state lives in InterfaceState. Every exported body catches everything: no exception
// crosses the interface.
#include "CorvaneSDK.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "CApi.h"
#include "CorvaneSDKManager.h"
#include "CorvaneSDKModule.h"
#include "Env.h"
#include "Event.h"
#include "InitializationData.h"
#include "InterfaceState.h"
#include "Logger.h"
#include "SdkThreads.h"
#include "Version.h"

namespace CorvaneSDK {
namespace CApi {

std::shared_ptr<CorvaneSDKManager> Current() { return Instance::Current(); }

bool IsLive(const std::shared_ptr<CorvaneSDKManager>& manager) {
  return manager && Instance::Pointer() == manager.get();
}

std::shared_ptr<CorvaneSDKManager> Check(CorvaneSDKManagerRef handle, bool report,
                                         const char* caller) {
  // A stale or foreign handle is compared, never dereferenced.
  std::shared_ptr<CorvaneSDKManager> manager =
      Instance::Live(reinterpret_cast<const void*>(handle));
  const std::string in = caller != nullptr ? std::string(" (") + caller + ")" : std::string();
  if (!manager) {
    if (report) {
      std::ostringstream message;
      if (Instance::Pointer() == nullptr) {
        message << "Corvane SDK Manager doesn't exist" << in
                << ": call CorvaneSDKManager_Initialize first";
      } else {
        message << "Corvane SDK Manager doesn't exist" << in
                << ": the handle is stale or foreign; pass CorvaneSDKManager_GetInstance()";
      }
      Logger::Log(kLogError, message.str(), "AssertCorvaneSDKManager", __FILE__, __LINE__);
    }
    return nullptr;
  }
  if (manager->IsInitialized()) return manager;
  if (report) {
    std::ostringstream message;
    message << "Corvane SDK Manager isn't initialized" << in
            << ": wait for the completion callback of CorvaneSDKManager_Initialize2";
    Logger::Log(kLogError, message.str(), "AssertCorvaneSDKManager", __FILE__, __LINE__);
  }
  return nullptr;
}

void LogEscaped(const char* function, const char* what) {
  Logger::Log(kLogError, std::string("Unexpected failure: ") + (what != nullptr ? what : ""),
              function, __FILE__, __LINE__);
}

}  // namespace CApi
}  // namespace CorvaneSDK

using CorvaneSDK::CallbackMaps;
using CorvaneSDK::CorvaneSDKManager;
using CorvaneSDK::CorvaneSDKModuleFactory;
using CorvaneSDK::Event;
using CorvaneSDK::EventPtr;
using CorvaneSDK::InterfaceLock;
using CorvaneSDK::Pending;
namespace Instance = CorvaneSDK::Instance;
using CorvaneSDK::ThirdPartyId;
using CorvaneSDK::kSdkVersion;
namespace CApi = CorvaneSDK::CApi;
using CorvaneSDK::CApi::CopyOut;
using CorvaneSDK::CApi::Guarded;
using CorvaneSDK::CApi::GuardedVoid;
using CorvaneSDK::CApi::Text;
using CorvaneSDK::CApi::WithManager;
using CorvaneSDK::CApi::WithManagerVoid;

static CorvaneSDK::InitializationData* Data(InitializationData* data) {
  return reinterpret_cast<CorvaneSDK::InitializationData*>(data);
}
static Event* Ev(CorvaneSDKEvent event) { return reinterpret_cast<Event*>(event); }

// ======================================================================================
// Configuration record

extern "C" {

InitializationData* InitializationData_Create(const char* appId, const char* appSecret) {
  return Guarded<InitializationData*>(__func__, nullptr, [&]() {
    return reinterpret_cast<InitializationData*>(
        new CorvaneSDK::InitializationData(Text(appId), Text(appSecret)));
  });
}

void InitializationData_Destroy(InitializationData* data) {
  GuardedVoid(__func__, [&]() { delete Data(data); });
}

#define CORVANE_TEXT_SETTER(Name, field)                                     \
  void InitializationData_##Name(InitializationData* data, const char* v) { \
    GuardedVoid(__func__, [&]() {                                           \
      if (data != nullptr) Data(data)->field = Text(v);                     \
    });                                                                     \
  }
#define CORVANE_INT_SETTER(Name, field)                              \
  void InitializationData_##Name(InitializationData* data, int v) { \
    if (data != nullptr) Data(data)->field = v;                     \
  }
#define CORVANE_BOOL_SETTER(Name, field)                             \
  void InitializationData_##Name(InitializationData* data, int v) { \
    if (data != nullptr) Data(data)->field = v != 0;                \
  }

CORVANE_INT_SETTER(SetLogLevel, logLevel)
CORVANE_TEXT_SETTER(SetSavePath, savePath)
CORVANE_TEXT_SETTER(SetCustomUserId, customUserId)
CORVANE_TEXT_SETTER(SetConfigId, configId)
CORVANE_TEXT_SETTER(SetBundleId, bundleId)
CORVANE_TEXT_SETTER(SetHost, host)
CORVANE_TEXT_SETTER(SetConfigUrl, configUrl)
CORVANE_TEXT_SETTER(SetFacebookAppId, facebookAppId)
CORVANE_TEXT_SETTER(SetInstagramAppId, instagramAppId)
CORVANE_TEXT_SETTER(SetAppleAppId, appleAppId)
CORVANE_TEXT_SETTER(SetAppleSignInClientId, appleSignInClientId)
CORVANE_TEXT_SETTER(SetAppleDeveloperTeamId, appleDeveloperTeamId)
CORVANE_TEXT_SETTER(SetGooglePlayGameServicesProjectId, googlePlayGameServicesProjectId)
CORVANE_TEXT_SETTER(SetGooglePlayDeveloperAccountId, googlePlayDeveloperAccountId)
CORVANE_TEXT_SETTER(SetLinkedInAppId, linkedInAppId)
CORVANE_TEXT_SETTER(SetQQAppId, qqAppId)
CORVANE_TEXT_SETTER(SetWeChatAppId, weChatAppId)
CORVANE_TEXT_SETTER(SetTikTokAppId, tikTokAppId)
CORVANE_TEXT_SETTER(SetSnapAppId, snapAppId)
CORVANE_TEXT_SETTER(SetWrapper, wrapper)
CORVANE_TEXT_SETTER(SetWrapperVersion, wrapperVersion)
CORVANE_TEXT_SETTER(SetAppName, appName)
CORVANE_TEXT_SETTER(SetAppVersion, appVersion)
CORVANE_TEXT_SETTER(SetAppBuildNumber, appBuildNumber)
CORVANE_INT_SETTER(SetStoreType, storeType)
CORVANE_INT_SETTER(SetMaxRetries, maxRetries)
CORVANE_INT_SETTER(SetInitialRetryInterval, initialRetryInterval)
CORVANE_INT_SETTER(SetFlushQueueSize, flushQueueSize)
CORVANE_INT_SETTER(SetFlushSendSize, flushSendSize)
CORVANE_INT_SETTER(SetQueueCheckInterval, queueCheckInterval)
CORVANE_INT_SETTER(SetSendDelay, sendDelay)
CORVANE_INT_SETTER(SetQueueSyncInterval, queueSyncInterval)
CORVANE_BOOL_SETTER(SetAutoStart, autoStart)
CORVANE_BOOL_SETTER(SetEnableSave, enableSave)
CORVANE_BOOL_SETTER(SetOffline, offline)
CORVANE_BOOL_SETTER(SetSendInBackground, sendInBackground)
CORVANE_BOOL_SETTER(SetEnableCoppa, enableCoppa)
CORVANE_BOOL_SETTER(SetDisableOnlineSdkConfig, disableOnlineSdkConfig)
CORVANE_BOOL_SETTER(SetCustomConfigId, customConfigId)
CORVANE_BOOL_SETTER(SetRegisterURIScheme, registerUriScheme)
CORVANE_TEXT_SETTER(SetSendProxy, sendProxy)
CORVANE_TEXT_SETTER(SetSendProxyCertificateAuthority, sendProxyCertificateAuthority)
CORVANE_TEXT_SETTER(SetSendCertificateAuthority, sendCertificateAuthority)
CORVANE_BOOL_SETTER(SetSendSSLVerify, sendSslVerify)
CORVANE_BOOL_SETTER(SetCollectDeviceIdentifiers, collectDeviceIdentifiers)

void InitializationData_AddURIScheme(InitializationData* data, const char* scheme) {
  GuardedVoid(__func__, [&]() {
    if (data != nullptr) Data(data)->uriSchemes.push_back(Text(scheme));
  });
}

void InitializationData_AddModule(InitializationData* data, const char* name, const char* parameters) {
  GuardedVoid(__func__, [&]() {
    if (data != nullptr) Data(data)->AddModule(Text(name), Text(parameters));
  });
}

void InitializationData_AddInitializationAction(InitializationData* data, int action, const char* parameters) {
  GuardedVoid(__func__, [&]() {
    if (data != nullptr) Data(data)->AddInitializationAction(action, Text(parameters));
  });
}

void InitializationData_AddExcludedModuleName(InitializationData* data, const char* name) {
  GuardedVoid(__func__, [&]() {
    if (data != nullptr) Data(data)->AddExcludedModuleName(Text(name));
  });
}

void InitializationData_SetSteamBuild(InitializationData* data, int steamAppId) {
  if (data == nullptr) return;
  Data(data)->steamBuild = true;
  Data(data)->steamAppId = steamAppId;
}

void InitializationData_UnsetSteamBuild(InitializationData* data) {
  if (data == nullptr) return;
  Data(data)->steamBuild = false;
  Data(data)->steamAppId = 0;
}

// ======================================================================================
// Event records

CorvaneSDKEvent CorvaneSDKEvent_Get(const char* eventName) {
  return Guarded<CorvaneSDKEvent>(__func__, nullptr, [&]() -> CorvaneSDKEvent {
    if (eventName == nullptr) return nullptr;
    // The host owns the record until it logs it.
    return reinterpret_cast<CorvaneSDKEvent>(Event::Acquire(eventName).release());
  });
}

void CorvaneSDKEvent_SetIntValue(CorvaneSDKEvent event, int value) {
  GuardedVoid(__func__, [&]() {
    if (event != nullptr) Ev(event)->SetIntValue(value);
  });
}

void CorvaneSDKEvent_SetStringValue(CorvaneSDKEvent event, const char* value) {
  GuardedVoid(__func__, [&]() {
    if (event != nullptr && value != nullptr) Ev(event)->SetStringValue(value);
  });
}

void CorvaneSDKEvent_SetMapValue(CorvaneSDKEvent event, const char* map) {
  GuardedVoid(__func__, [&]() {
    if (event != nullptr && map != nullptr) Ev(event)->SetMapValue(map);
  });
}

void CorvaneSDKEvent_SetJsonValue(CorvaneSDKEvent event, const char* json) {
  GuardedVoid(__func__, [&]() {
    if (event != nullptr && json != nullptr) Ev(event)->SetJsonValue(json);
  });
}

void CorvaneSDKEvent_AddRevenueData(CorvaneSDKEvent event, double revenue, const char* currency) {
  GuardedVoid(__func__, [&]() {
    if (event != nullptr && currency != nullptr) Ev(event)->AddRevenueData(revenue, currency);
  });
}

void CorvaneSDKEvent_SetFlag(CorvaneSDKEvent event, int flags) {
  if (event != nullptr) Ev(event)->flags = flags;
}

// ======================================================================================
// Manager frame and lifecycle

CorvaneSDKManagerRef CorvaneSDKManager_GetInstance(void) {
  return reinterpret_cast<CorvaneSDKManagerRef>(Instance::Pointer());
}

static void InitializeWith(InitializationData* data, CorvaneSDKCompletionCallback callback, int value) {
  GuardedVoid("CorvaneSDKManager_Initialize", [&]() {
    if (data == nullptr) return;
    CorvaneSDK::Logger::DeferScope defer;  // no host log callback under the lifecycle lock
    std::lock_guard<std::mutex> lifecycle(CorvaneSDK::LifecycleMutex());
    InterfaceLock lock;
    std::shared_ptr<CorvaneSDKManager> manager = CApi::Current();
    if (!manager) {
      manager = std::make_shared<CorvaneSDKManager>(*Data(data), Pending().callbacks,
                                                    Pending().url, Pending().token,
                                                    CorvaneSDK::Env::Default());
      Pending().Clear();
      Instance::Publish(manager, manager);
    }
    manager->BeginInitialize(manager, callback, value);
  });
}

void CorvaneSDKManager_Initialize(InitializationData* data) { InitializeWith(data, nullptr, 0); }
void CorvaneSDKManager_Initialize2(InitializationData* data, CorvaneSDKCompletionCallback callback) {
  InitializeWith(data, callback, 0);
}
void CorvaneSDKManager_Initialize3(InitializationData* data, CorvaneSDKCompletionCallback callback, int value) {
  InitializeWith(data, callback, value);
}

void CorvaneSDKManager_Destroy(void) {
  GuardedVoid(__func__, [&]() {
    // A child of fork(): the parent's threads and upload are not here, and a lock may have
    // been copied while held. Forget the manager without touching any of it.
    if (Instance::ForgetIfInherited()) return;
    if (CorvaneSDK::InCallback()) {
      CORVANE_LOG(CorvaneSDK::kLogError, "CorvaneSDKManager_Destroy called from inside an SDK callback; ignored");
      return;
    }
    CorvaneSDK::Logger::DeferScope defer;  // no host log callback under the lifecycle lock
    std::lock_guard<std::mutex> lifecycle(CorvaneSDK::LifecycleMutex());
    std::shared_ptr<CorvaneSDKManager> manager;
    {
      InterfaceLock lock;
      manager = CApi::Current();
      if (manager) manager->Stop();
      Instance::Publish(nullptr, nullptr);
      Pending().Clear();
    }
    // Threads are stopped outside the interface lock: a send-event callback running on the
    // upload thread may be waiting for it.
    if (manager) manager->Teardown();
  });
}

int CorvaneSDKManager_IsInitialized(CorvaneSDKManagerRef manager) {
  return WithManager<int>(__func__, manager, 0, [](CorvaneSDKManager&) { return 1; });
}

void CorvaneSDKManager_Start(CorvaneSDKManagerRef manager) {
  WithManagerVoid(__func__, manager, [](CorvaneSDKManager& m) { m.Start(); });
}

void CorvaneSDKManager_Stop(CorvaneSDKManagerRef manager) {
  WithManagerVoid(__func__, manager, [](CorvaneSDKManager& m) { m.Stop(); });
}

void CorvaneSDKManager_SetOffline(CorvaneSDKManagerRef manager, int offline) {
  WithManagerVoid(__func__, manager, [&](CorvaneSDKManager& m) { m.SetOffline(offline != 0); });
}

static void PauseOrResume(CorvaneSDKManagerRef handle, bool pause) {
  GuardedVoid(pause ? "CorvaneSDKManager_OnPause" : "CorvaneSDKManager_OnResume", [&]() {
    std::shared_ptr<CorvaneSDKManager> manager = CApi::Check(handle, false);
    if (!manager) return;
    InterfaceLock lock;
    if (!CApi::IsLive(manager)) return;
    pause ? manager->OnPause() : manager->OnResume();
  });
}

int CorvaneSDKManager_Flush(CorvaneSDKManagerRef manager, int timeoutMs) {
  return Guarded<int>(__func__, 0, [&]() -> int {
    std::shared_ptr<CorvaneSDKManager> live = CApi::Check(manager, true, "CorvaneSDKManager_Flush");
    if (!live) return 0;
    {
      CorvaneSDK::InterfaceLock lock;
      if (!CApi::IsLive(live)) return 0;
      live->EndOpenEventHold();
    }
    // The wait runs without the interface lock: the upload thread may need it.
    return live->WaitForEmptyQueue(timeoutMs) ? 1 : 0;
  });
}

void CorvaneSDKManager_SetLogCallback(CorvaneSDKLogCallback callback, void* userData) {
  GuardedVoid(__func__, [&]() { CorvaneSDK::Logger::SetCallback(callback, userData); });
}

void CorvaneSDKManager_OnPause(CorvaneSDKManagerRef manager) { PauseOrResume(manager, true); }
void CorvaneSDKManager_OnResume(CorvaneSDKManagerRef manager) { PauseOrResume(manager, false); }

#define CORVANE_STRING_GETTER(Name, expr)                                                \
  char* CorvaneSDKManager_##Name(CorvaneSDKManagerRef manager) {                        \
    return WithManager<char*>(__func__, manager, nullptr,                                \
                              [](CorvaneSDKManager& m) { return CopyOut(expr); });       \
  }
CORVANE_STRING_GETTER(GetAppId, m.GetAppId())
CORVANE_STRING_GETTER(GetUserId, m.GetUserId())
CORVANE_STRING_GETTER(GetSessionId, m.GetSessionId())
CORVANE_STRING_GETTER(GetHost, m.GetHost())
CORVANE_STRING_GETTER(GetConfigUrl, m.GetConfigUrl())
CORVANE_STRING_GETTER(GetSdkConfig, m.GetSdkConfigText())
CORVANE_STRING_GETTER(GetFacebookAppId, m.GetThirdPartyId(ThirdPartyId::kFacebook))
CORVANE_STRING_GETTER(GetInstagramAppId, m.GetThirdPartyId(ThirdPartyId::kInstagram))
CORVANE_STRING_GETTER(GetAppleAppId, m.GetThirdPartyId(ThirdPartyId::kApple))
CORVANE_STRING_GETTER(GetAppleSignInClientId, m.GetThirdPartyId(ThirdPartyId::kAppleSignInClient))
CORVANE_STRING_GETTER(GetAppleDeveloperTeamId, m.GetThirdPartyId(ThirdPartyId::kAppleDeveloperTeam))
CORVANE_STRING_GETTER(GetGooglePlayGameServicesProjectId,
                      m.GetThirdPartyId(ThirdPartyId::kGooglePlayGameServicesProject))
CORVANE_STRING_GETTER(GetGooglePlayDeveloperAccountId,
                      m.GetThirdPartyId(ThirdPartyId::kGooglePlayDeveloperAccount))
CORVANE_STRING_GETTER(GetLinkedInAppId, m.GetThirdPartyId(ThirdPartyId::kLinkedIn))
CORVANE_STRING_GETTER(GetQQAppId, m.GetThirdPartyId(ThirdPartyId::kQQ))
CORVANE_STRING_GETTER(GetWeChatAppId, m.GetThirdPartyId(ThirdPartyId::kWeChat))
CORVANE_STRING_GETTER(GetTikTokAppId, m.GetThirdPartyId(ThirdPartyId::kTikTok))
CORVANE_STRING_GETTER(GetSnapAppId, m.GetThirdPartyId(ThirdPartyId::kSnap))

int CorvaneSDKManager_GetStoreType(CorvaneSDKManagerRef manager) {
  return WithManager<int>(__func__, manager, -1, [](CorvaneSDKManager& m) { return m.GetStoreType(); });
}

char* CorvaneSDKManager_GetVersion(void) {
  return Guarded<char*>(__func__, nullptr, []() {
    InterfaceLock lock;
    return CopyOut(kSdkVersion);
  });
}

void CorvaneSDKManager_SetCustomUserId(CorvaneSDKManagerRef manager, const char* id) {
  WithManagerVoid(__func__, manager, [&](CorvaneSDKManager& m) { m.SetCustomUserId(Text(id)); });
}

void CorvaneSDKManager_SetConfigId(CorvaneSDKManagerRef manager, const char* id) {
  WithManagerVoid(__func__, manager, [&](CorvaneSDKManager& m) { m.SetConfigId(Text(id)); });
}

void CorvaneSDKManager_SetAdvertisingId(CorvaneSDKManagerRef manager, const char* id) {
  WithManagerVoid(__func__, manager, [&](CorvaneSDKManager& m) { m.SetAdvertisingId(Text(id)); });
}

void CorvaneSDKManager_LogEvent(CorvaneSDKManagerRef manager, CorvaneSDKEvent event) {
  GuardedVoid(__func__, [&]() {
    // Ownership passes with the call: a refused event is released, never leaked.
    EventPtr owned(Ev(event));
    CApi::WithEventManager(__func__, manager,
                           [&](CorvaneSDKManager& m) { m.SendEvent(std::move(owned)); });
  });
}

void CorvaneSDKManager_LogEventCache(CorvaneSDKEvent event) {
  GuardedVoid(__func__, [&]() {
    if (event == nullptr) return;
    EventPtr owned(Ev(event));
    InterfaceLock lock;
    std::shared_ptr<CorvaneSDKManager> manager = CApi::Current();
    // Until the manager has started, the event waits (it would be dropped otherwise).
    if (manager && manager->IsInitialized() && manager->IsStarted()) {
      manager->SendEvent(std::move(owned));
      return;
    }
    CorvaneSDK::Logger::DeferScope deferCache;
    CorvaneSDK::CacheEvent(std::move(owned), CorvaneSDK::GetClock().WallMs());
  });
}

// ======================================================================================
// Callbacks

}  // extern "C"

template <typename Map, typename Callback>
static void EditCallbacks(const char* function, Map CallbackMaps::*member, int id, Callback callback,
                          bool add) {
  GuardedVoid(function, [&]() {
    InterfaceLock lock;
    std::shared_ptr<CorvaneSDKManager> manager = CApi::Current();
    auto edit = [&](CallbackMaps& maps) {
      if (add) {
        (maps.*member)[id] = callback;
      } else {
        (maps.*member).erase(id);
      }
    };
    if (manager) {
      manager->EditCallbacks(edit);
    } else {
      edit(Pending().callbacks);
    }
  });
}

extern "C" {

#define CORVANE_CALLBACK_PAIR(Name, member, Type)                                              \
  void CorvaneSDKManager_Add##Name##Callback(Type callback, int id) {                          \
    EditCallbacks(__func__, &CallbackMaps::member, id, callback, true);                         \
  }                                                                                            \
  void CorvaneSDKManager_Remove##Name##Callback(int id) {                                      \
    EditCallbacks(__func__, &CallbackMaps::member, id, static_cast<Type>(nullptr), false);      \
  }
CORVANE_CALLBACK_PAIR(Start, start, CorvaneSDKLifecycleCallback)
CORVANE_CALLBACK_PAIR(Stop, stop, CorvaneSDKLifecycleCallback)
CORVANE_CALLBACK_PAIR(Pause, pause, CorvaneSDKLifecycleCallback)
CORVANE_CALLBACK_PAIR(Resume, resume, CorvaneSDKLifecycleCallback)
CORVANE_CALLBACK_PAIR(DeepLink, deepLink, CorvaneSDKTextCallback)
CORVANE_CALLBACK_PAIR(PushToken, pushToken, CorvaneSDKTextCallback)
CORVANE_CALLBACK_PAIR(SendEvent, sendEvent, CorvaneSDKSendEventCallback)

// ======================================================================================
// Modules

void CorvaneSDKManager_RegisterModuleFactory(const char* name, void* factory) {
  GuardedVoid(__func__, [&]() {
    if (name == nullptr || factory == nullptr) return;
    InterfaceLock lock;
    CorvaneSDK::ModuleFactories().emplace(name, static_cast<CorvaneSDKModuleFactory*>(factory));
  });
}

void CorvaneSDKManager_UnregisterModuleFactory(const char* name, int deleteFactory) {
  GuardedVoid(__func__, [&]() {
    if (name == nullptr) return;
    InterfaceLock lock;
    auto& factories = CorvaneSDK::ModuleFactories();
    auto it = factories.find(name);
    if (it == factories.end()) return;
    CorvaneSDKModuleFactory* factory = it->second;
    factories.erase(it);
    if (deleteFactory != 0) delete factory;
  });
}

void* CorvaneSDKManager_GetModule(CorvaneSDKManagerRef manager, const char* name) {
  return WithManager<void*>(__func__, manager, nullptr, [&](CorvaneSDKManager& m) -> void* {
    if (name == nullptr) return nullptr;
    return m.GetModule(name);
  });
}

// ======================================================================================
// Deep links and push token

void CorvaneSDKManager_OpenURL(const char* url) {
  GuardedVoid(__func__, [&]() {
    if (url == nullptr) return;
    InterfaceLock lock;
    std::shared_ptr<CorvaneSDKManager> manager = CApi::Current();
    if (!manager) {
      Pending().url = url;
      return;
    }
    manager->OpenURL(url);
  });
}

char* CorvaneSDKManager_GetDeepLinkUrl(void) {
  return Guarded<char*>(__func__, nullptr, [&]() {
    InterfaceLock lock;
    std::shared_ptr<CorvaneSDKManager> manager = CApi::Current();
    return CopyOut(manager ? manager->GetDeepLinkUrl() : Pending().url);
  });
}

void CorvaneSDKManager_SetPushToken(const char* token) {
  GuardedVoid(__func__, [&]() {
    if (token == nullptr) return;
    InterfaceLock lock;
    std::shared_ptr<CorvaneSDKManager> manager = CApi::Current();
    if (!manager) {
      Pending().token = token;
      return;
    }
    manager->SetPushToken(token);
  });
}

char* CorvaneSDKManager_GetPushToken(void) {
  return Guarded<char*>(__func__, nullptr, [&]() {
    InterfaceLock lock;
    std::shared_ptr<CorvaneSDKManager> manager = CApi::Current();
    return CopyOut(manager ? manager->GetPushToken() : Pending().token);
  });
}

// ======================================================================================
// Remote config

void CorvaneSDKManager_FetchRemoteConfig(CorvaneSDKManagerRef manager, CorvaneSDKRemoteConfigCallback callback) {
  CorvaneSDKManager_FetchRemoteConfig2(manager, callback, 0);
}

void CorvaneSDKManager_FetchRemoteConfig2(CorvaneSDKManagerRef manager, CorvaneSDKRemoteConfigCallback callback, int value) {
  GuardedVoid(__func__, [&]() {
    std::shared_ptr<CorvaneSDKManager> live = CApi::Check(manager, true, __func__);
    if (!live) return;
    InterfaceLock lock;
    if (!CApi::IsLive(live)) return;
    live->FetchRemoteConfig(live, callback, value);
  });
}

}  // extern "C"

namespace CorvaneSDK {

void ShutdownForUnload() {
  CorvaneSDKManager_Destroy();
  const int left = SdkThreads::JoinAll(3000);
  if (left > 0) {
    CORVANE_LOG_ERROR(left << " SDK thread(s) still running while the library is unloaded");
  }
}

}  // namespace CorvaneSDK
