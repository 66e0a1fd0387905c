// The remote config: a POST carrying a token signed with the 9-byte key names where the
// document lives; when that location differs from the stored one the document is fetched
// (GET), kept with its location and stored for the next start. Without a new document the
// stored one is the answer.
//
// Threads: thread-safe. The mutex guards the document and its location; the store and the
// requests are used without it held. Answers arrive on any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "CorvaneSDKConfigRequests.h"
#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKServerConfigStore;

class CorvaneSDKRemoteConfig : public std::enable_shared_from_this<CorvaneSDKRemoteConfig> {
 public:
  struct App {
    std::string url;  // the POST endpoint
    std::string bundleId;
    std::string platform;
    std::string buildNumber;
  };

  static std::shared_ptr<CorvaneSDKRemoteConfig> create(App app, std::shared_ptr<CorvaneSDKServerConfigStore> store,
                                                        std::shared_ptr<CorvaneSDKConfigRequests> requests);
  void restore();
  // `done` gets the configuration text ("" when none).
  void fetch(const std::string& userId, std::function<void(const std::string&)> done);
  std::string token() const;
  std::optional<Value> document() const;
  std::string path() const;

  // The key is the byte-wise XOR of two halves, so that it never sits whole in the binary.
  static std::string tokenKey();

 private:
  CorvaneSDKRemoteConfig(App app, std::shared_ptr<CorvaneSDKServerConfigStore> store,
                         std::shared_ptr<CorvaneSDKConfigRequests> requests);
  void get(const std::string& location, std::function<void(const std::string&)> done);
  std::string storedText() const;

  const App app_;
  const std::shared_ptr<CorvaneSDKServerConfigStore> store_;
  const std::shared_ptr<CorvaneSDKConfigRequests> requests_;
  mutable std::mutex mutex_;
  std::optional<Value> document_;
  std::string path_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
