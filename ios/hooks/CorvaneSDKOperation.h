// The operations that travel from the manager through the middleware chain to the operation
// queue: their type numbers (the context's `operationType`) and the objects that carry their
// arguments. An operation is built by the manager and then only read.
// Thread contract: immutable once handed to the chain; may be read from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKLogOperation;

// Values of CorvaneSDKContext::operationType. Types above 12 are passed along untouched.
constexpr int64_t kCorvaneSDKOperationTypeUndefined = 0;
constexpr int64_t kCorvaneSDKOperationTypeLog = 1;
constexpr int64_t kCorvaneSDKOperationTypeReset = 2;
constexpr int64_t kCorvaneSDKOperationTypeFlush = 3;
constexpr int64_t kCorvaneSDKOperationTypePause = 4;
constexpr int64_t kCorvaneSDKOperationTypeResume = 5;
constexpr int64_t kCorvaneSDKOperationTypeReceivedRemoteNotification = 6;
constexpr int64_t kCorvaneSDKOperationTypeFailedToRegisterForRemoteNotifications = 7;
constexpr int64_t kCorvaneSDKOperationTypeRegisteredForRemoteNotifications = 8;
constexpr int64_t kCorvaneSDKOperationTypeHandleActionWithIdentifier = 9;
constexpr int64_t kCorvaneSDKOperationTypeApplicationLifecycle = 10;
constexpr int64_t kCorvaneSDKOperationTypeContinueUserActivity = 11;
constexpr int64_t kCorvaneSDKOperationTypeOpenURL = 12;

class CorvaneSDKOperation {
 public:
  virtual ~CorvaneSDKOperation() = default;
  // The options map forwarded with the operation's call (empty unless a subclass has some).
  virtual Value options() const { return Value::object(); }
  virtual std::string description() const { return "<CorvaneSDKOperation>"; }
};

// Type 10.
class CorvaneSDKApplicationLifecycleOperation : public CorvaneSDKOperation {
 public:
  std::string notificationName;
  Value launchOptions = Value::object();
  std::string description() const override;
};

// Types 6 to 9.
class CorvaneSDKRemoteNotificationOperation : public CorvaneSDKOperation {
 public:
  std::string actionIdentifier;
  Value userInfo = Value::object();
  std::string error;  // the platform error's description
  std::vector<uint8_t> deviceToken;
  std::string description() const override;
};

// Type 11; the activity as a map (its type, web page URL, user info).
class CorvaneSDKContinueUserActivityOperation : public CorvaneSDKOperation {
 public:
  Value activity = Value::object();
  std::string description() const override;
};

// Type 12.
class CorvaneSDKOpenURLOperation : public CorvaneSDKOperation {
 public:
  std::string url;
  Value urlOptions = Value::object();
  Value options() const override { return urlOptions; }
  std::string description() const override;
};

// Type 1: carries the event the manager built (the delivery engine's log operation).
class CorvaneSDKLogEventOperation : public CorvaneSDKOperation {
 public:
  explicit CorvaneSDKLogEventOperation(std::shared_ptr<const CorvaneSDKLogOperation> operation)
      : logOperation(std::move(operation)) {}
  std::shared_ptr<const CorvaneSDKLogOperation> logOperation;
  std::string description() const override;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
