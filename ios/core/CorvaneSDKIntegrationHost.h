// What the delivery engine and the operation queue need of the manager. CorvaneSDKManager
// implements it; tests implement it directly. Every function may be called from the engine's
// serial queue, so implementations must be thread-safe and must not wait on that queue.
#pragma once

#include <string>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKIntegrationHost {
 public:
  virtual ~CorvaneSDKIntegrationHost() = default;
  // True only when the manager may send (initialised, started, online, not stopped).
  virtual bool checkReady() = 0;
  // Once per event of this process, at the first upload attempt that carries it.
  virtual void onSendEvent(const Value& event) = 0;
  // Whenever the queue becomes empty after an upload.
  virtual void onFinishFlush() = 0;
  virtual std::string getUserId() = 0;
  virtual std::string getSessionId() = 0;
  // The full upload URL.
  virtual std::string getHost() = 0;
  // Base64 of appId ":" appSecret.
  virtual std::string getCredential() = 0;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
