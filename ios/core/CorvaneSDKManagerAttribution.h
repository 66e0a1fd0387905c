// The manager's attribution parts: tracking authorization, the attribution token, purchase
// capture (when configured) and the application-delegate hook. Each is its own object; this
// one creates them and routes what they report back into the manager through weak pointers,
// so a part answering after the manager is gone does nothing.
//
// Threads: created once, during the manager's construction; afterwards the pointers are only
// read, from any thread. The parts answer on platform threads and the main queue; the routes
// call the manager's public, thread-safe methods.
#pragma once

#include <memory>

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKAttributionToken;
class CorvaneSDKConfiguration;
class CorvaneSDKDeepLinks;
class CorvaneSDKManager;
class CorvaneSDKManagerAppDelegate;
class CorvaneSDKStoreKitCapturer;
class CorvaneSDKTrackingAuthorization;

class CorvaneSDKManagerAttribution {
 public:
  CorvaneSDKManagerAttribution(std::weak_ptr<CorvaneSDKManager> manager, std::weak_ptr<CorvaneSDKDeepLinks> links,
                               const CorvaneSDKConfiguration& configuration);
  ~CorvaneSDKManagerAttribution();

  const std::shared_ptr<CorvaneSDKTrackingAuthorization>& tracking() const { return tracking_; }
  const std::shared_ptr<CorvaneSDKAttributionToken>& token() const { return token_; }
  // Null unless purchases are captured.
  const std::shared_ptr<CorvaneSDKStoreKitCapturer>& capturer() const { return capturer_; }

 private:
  std::shared_ptr<CorvaneSDKTrackingAuthorization> tracking_;
  std::shared_ptr<CorvaneSDKAttributionToken> token_;
  std::shared_ptr<CorvaneSDKStoreKitCapturer> capturer_;
  std::shared_ptr<CorvaneSDKManagerAppDelegate> appDelegate_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
