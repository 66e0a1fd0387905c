// The remote config fetch.
#include "RemoteConfigFetcher.h"

#include <chrono>
#include <utility>

#include "ConfigDocuments.h"
#include "Executor.h"
#include "InitializationData.h"
#include "InterfaceState.h"
#include "Logger.h"
#include "Properties.h"
#include "RemoteConfigSender.h"
#include "SdkThreads.h"

namespace CorvaneSDK {
namespace {
void RunCallback(RemoteConfigCallback callback, const std::string& answer, int value) {
  try {
    CallbackScope scope;
    callback(answer.c_str(), value);
  } catch (...) {
    CORVANE_LOG_ERROR("The remote config callback threw");
  }
}
}  // namespace

RemoteConfigFetcher::RemoteConfigFetcher(std::string configUrl, TransportSettings transport,
                                         const IdentitySource& identity, Properties* properties,
                                         Env& env)
    : configUrl_(std::move(configUrl)), transport_(std::move(transport)), env_(env),
      identity_(identity), properties_(properties) {}

void RemoteConfigFetcher::Load() {
  if (properties_ == nullptr) return;
  Json remote;
  if (ParseJson(properties_->GetString("remoteConfig"), remote) && remote.is_object()) {
    std::lock_guard<std::mutex> lock(remoteMutex_);
    config_ = remote;
    path_ = properties_->GetString("remoteConfigPath");
  }
}

std::string RemoteConfigFetcher::Url() const {
  // Self-hosted and test servers serve it at the origin of the configured SDK config URL;
  // without one that is the built-in host.
  if (configUrl_ == kDefaultConfigUrl) return kDefaultRemoteConfigUrl;
  return RemoteConfigEndpoint(configUrl_);
}

std::string RemoteConfigFetcher::StoredAnswer() {
  std::lock_guard<std::mutex> remote(remoteMutex_);
  return config_.is_object() ? DumpJson(config_) : std::string();
}

bool RemoteConfigFetcher::Fetch(Executor& executor, std::shared_ptr<void> keepAlive,
                                RemoteConfigCallback callback, int value) {
  bool handedOver = false;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (stopped_) return false;
    if (fetching_) {
      if (!answering_ || nextStarted_) {
        CORVANE_LOG_DEBUG("A remote config fetch is running; request dropped");
        return false;
      }
      nextStarted_ = true;
      handedOver = true;
    } else {
      fetching_ = true;
    }
  }
  auto fetch = [this, keepAlive, callback, value]() {
    if (RunGuarded("remote config", [&] { Run(callback, value); })) return;
    EndAfterFailure();
  };
  if (executor.Post(fetch)) return true;
  CORVANE_LOG_ERROR("Cannot start the remote config fetch; answering from the stored "
                    "configuration");
  // The caller still gets its one answer. This request keeps "fetching" during the callback,
  // so a fetch asked for from inside it is dropped rather than recursing here.
  const std::string answer = StoredAnswer();
  if (callback != nullptr) RunCallback(callback, answer, value);
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (handedOver && answering_) {
      nextStarted_ = false;  // the fetch still answering clears "fetching" itself
    } else {
      fetching_ = false;
    }
  }
  done_.notify_all();
  return false;
}

// Stopped by an exception: later fetches and Stop must not wait for this one.
void RemoteConfigFetcher::EndAfterFailure() {
  std::lock_guard<std::mutex> lock(stateMutex_);
  answering_ = false;
  nextStarted_ = false;
  fetching_ = false;
  done_.notify_all();
}

void RemoteConfigFetcher::Stop() {
  // The fetch holds a reference to the fetcher's owner, so it can never outlive what it
  // touches; it is cancelled and given a bounded time to end.
  std::unique_lock<std::mutex> lock(stateMutex_);
  stopped_ = true;
  if (sender_ != nullptr) sender_->Cancel();
  done_.wait_for(lock, std::chrono::seconds(2), [this] { return !fetching_; });
}

void RemoteConfigFetcher::Run(RemoteConfigCallback callback, int value) {
  std::string answer;
  // Lines of the fetch reach a host log callback once the remote config lock is released.
  Logger::DeferScope deferRemote;
  try {
    std::lock_guard<std::mutex> remoteLock(remoteMutex_);
    RemoteConfigSender sender(identity_, transport_, env_);
    // Unpublished before the sender goes, however this block ends, so that Stop never
    // cancels a sender that no longer exists.
    struct Published {
      RemoteConfigFetcher* fetcher;
      ~Published() {
        std::lock_guard<std::mutex> lock(fetcher->stateMutex_);
        fetcher->sender_ = nullptr;
      }
    } published{this};
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      sender_ = &sender;
      if (stopped_) sender.Cancel();
    }
    const std::string endpoint = Url();
    std::string response, location, document;
    if (endpoint.empty()) {
      CORVANE_LOG_ERROR("No remote config endpoint: the SDK config URL \"" << configUrl_
                                                                          << "\" has no http(s) origin");
    } else if (sender.FetchRemoteConfigInfo(endpoint, response)) {
      location = RemoteConfigLocation(response);
      if (location.empty()) CORVANE_LOG_WARNING("Remote config answer names no location");
    }
    Json config;
    if (location.empty()) {
      // Failed or empty answer: the stored configuration below.
    } else if (location == path_) {
      CORVANE_LOG_DEBUG("Remote config unchanged at " << location);
    } else if (!sender.FetchDocument(location, document)) {
      // Logged by the sender.
    } else if (!ReadRemoteConfigDocument(document, config)) {
      CORVANE_LOG_WARNING("Remote config document at " << location
                                                       << " is not a JSON object; ignored");
    } else {
      answer = document;
      if (properties_ != nullptr) {
        properties_->SetString("remoteConfig", document);
        properties_->SetString("remoteConfigPath", location);
        properties_->Save();
      }
      config_ = std::move(config);
      path_ = location;
    }
    if (answer.empty() && config_.is_object()) answer = DumpJson(config_);
  } catch (const std::exception& e) {
    CORVANE_LOG_ERROR("Remote config fetch failed: " << e.what());
  } catch (...) {
    CORVANE_LOG_ERROR("Remote config fetch failed");
  }
  // The remote config lock is released first, so the callback may start the next fetch.
  if (callback != nullptr && !stopped_) {
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      answering_ = true;
      nextStarted_ = false;
    }
    RunCallback(callback, answer, value);
  }
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    const bool handedOver = answering_ && nextStarted_;
    answering_ = false;
    nextStarted_ = false;
    if (!handedOver) fetching_ = false;
  }
  done_.notify_all();
}

}  // namespace CorvaneSDK
