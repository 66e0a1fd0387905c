// The remote config fetcher: the stored document and where it came from, and the fetch
// state machine. One fetch runs at a time (on the background executor) and ends in exactly
// one callback unless Stop came first. While a fetch's callback runs, "fetching" stays set
// (Stop waits for it); a request made meanwhile starts the next fetch, which then owns
// "fetching". Locks: remoteMutex_ (held for a whole fetch, before stateMutex_) guards the
// document and its path; stateMutex_ guards the flags and the running sender.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "CallbackMaps.h"
#include "Json.h"
#include "Transport.h"

namespace CorvaneSDK {

class Env;
class Executor;
class IdentitySource;
class Properties;
class RemoteConfigSender;

class RemoteConfigFetcher {
 public:
  // `properties` (may be null: memory only) and `identity` must outlive the fetcher.
  // Waits, token times and ids come from `env`, which outlives the fetcher.
  RemoteConfigFetcher(std::string configUrl, TransportSettings transport,
                      const IdentitySource& identity, Properties* properties, Env& env);

  // Takes the stored document from the properties.
  void Load();
  // Starts a fetch on `executor`; `keepAlive` holds the fetcher's owner for the fetch. False
  // when a fetch is running, after Stop, or when the executor took nothing (the callback
  // then answers at once from the stored document).
  bool Fetch(Executor& executor, std::shared_ptr<void> keepAlive, RemoteConfigCallback callback,
             int value);
  // Cancels a running fetch and waits up to 2 s for it; later fetches are refused.
  void Stop();
  // Where the fetch asks: the origin of the configured SDK config URL, or the built-in host.
  std::string Url() const;

 private:
  void Run(RemoteConfigCallback callback, int value);
  std::string StoredAnswer();
  void EndAfterFailure();

  const std::string configUrl_;
  const TransportSettings transport_;
  Env& env_;
  const IdentitySource& identity_;
  Properties* const properties_;
  std::atomic<bool> stopped_{false};

  std::mutex remoteMutex_;
  Json config_;
  std::string path_;

  std::mutex stateMutex_;
  std::condition_variable done_;
  bool fetching_ = false;
  bool answering_ = false;
  bool nextStarted_ = false;
  RemoteConfigSender* sender_ = nullptr;  // live while a fetch runs
};

}  // namespace CorvaneSDK
