// The initialization steps, in order.
#include "InitializationSequence.h"

#include "Callbacks.h"
#include "InterfaceState.h"
#include "Logger.h"
#include "SdkThreads.h"

namespace CorvaneSDK {

InitializationSequence::InitializationSequence(InitializationHost& host,
                                               const InitializationData& data)
    : host_(host), disableOnlineSdkConfig_(data.disableOnlineSdkConfig),
      moduleSpecs_(data.modules), hostActions_(data.initializationActions),
      excludedModules_(data.excludedModuleNames) {}

void InitializationSequence::InBackground(std::function<void()> step, const char* what) {
  if (host_.Post(step)) return;
  CORVANE_LOG_ERROR("Cannot start the " << what << " thread; running it on this thread");
  RunGuarded(what, step);
}

void InitializationSequence::Begin(std::shared_ptr<void> keepAlive, CompletionCallback callback,
                                   int value) {
  if (initialized_ || initializing_) return;
  initializing_ = true;
  completion_ = callback;
  completionValue_ = value;
  if (disableOnlineSdkConfig_) {
    PostConfiguration(keepAlive, std::string());
    return;
  }
  InBackground(
      [this, keepAlive]() {
        const std::string response = host_.FetchSdkConfig();
        PostConfiguration(keepAlive, response);
      },
      "SDK configuration");
}

void InitializationSequence::PostConfiguration(const std::shared_ptr<void>& keepAlive,
                                               const std::string& response) {
  {
    InterfaceLock lock;
    if (host_.Abandoned()) return;
    host_.ApplySdkConfig(response, moduleSpecs_, excludedModules_);
  }
  if (!hostActions_.empty()) {
    InBackground([this, keepAlive]() { PostInitialize(keepAlive); }, "initialization");
    return;
  }
  PostInitialize(keepAlive);
}

void InitializationSequence::PostInitialize(const std::shared_ptr<void>& keepAlive) {
  {
    InterfaceLock lock;
    if (host_.Abandoned()) return;
    host_.PrepareAfterConfiguration(moduleSpecs_, excludedModules_);
    moduleSpecs_.clear();
    hostActions_.clear();
  }
  if (host_.HasModuleActions()) {
    const bool posted = host_.Post([this, keepAlive]() {
      if (host_.RunModuleActions(&cancel_)) Finish();
    });
    if (posted) return;
    CORVANE_LOG_ERROR("Cannot start the module action thread; finishing initialization");
  }
  Finish();
}

void InitializationSequence::Finish() {
  std::string url, token;
  int64_t urlTime = 0;
  {
    InterfaceLock lock;
    if (host_.Abandoned()) return;
    initializing_ = false;
    initialized_ = true;
    // Taken in the same locked section that sets initialized: from here on OpenURL and
    // SetPushToken report by themselves (the completion callback may call them).
    host_.PendingDeepLink(url, urlTime, token);
  }
  if (!host_.InitializeModules()) return;
  CompletionCallback completion = completion_;
  completion_ = nullptr;
  if (completion != nullptr && !host_.Abandoned()) {
    CallbackScope scope;
    completion(completionValue_);
  }
  CallbackMaps callbacks;
  {
    InterfaceLock lock;
    if (host_.Abandoned()) return;
    host_.ReportDeepLink(url, urlTime, token);
    callbacks = host_.CallbacksSnapshot();
  }
  // Callbacks of the finish step run on this thread without the interface lock.
  if (!url.empty()) Callbacks::RunText(callbacks.deepLink, url);
  if (!token.empty()) Callbacks::RunText(callbacks.pushToken, token);
  InterfaceLock lock;
  if (host_.Abandoned()) return;
  host_.AutoStart();
}

}  // namespace CorvaneSDK
