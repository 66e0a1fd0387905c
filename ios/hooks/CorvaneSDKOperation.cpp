// Descriptions of the operations for the debug log.
#include "CorvaneSDKOperation.h"

#include "CorvaneSDKEvent.h"
#include "CorvaneSDKLog.h"

namespace CorvaneSDK {
namespace Mobile {

std::string CorvaneSDKApplicationLifecycleOperation::description() const {
  return "<CorvaneSDKApplicationLifecycleOperation: " + validUtf8(notificationName) + ">";
}

std::string CorvaneSDKRemoteNotificationOperation::description() const {
  std::string out = "<CorvaneSDKRemoteNotificationOperation:";
  if (!actionIdentifier.empty()) out += " action " + validUtf8(actionIdentifier);
  if (!error.empty()) out += " error " + validUtf8(error);
  if (!deviceToken.empty()) {
    out += " token " + CorvaneSDKLog::describeData(std::string(deviceToken.begin(), deviceToken.end()));
  }
  return out + ">";
}

std::string CorvaneSDKContinueUserActivityOperation::description() const {
  return "<CorvaneSDKContinueUserActivityOperation>";
}

std::string CorvaneSDKOpenURLOperation::description() const {
  return "<CorvaneSDKOpenURLOperation: " + validUtf8(url) + ">";
}

std::string CorvaneSDKLogEventOperation::description() const {
  return "<CorvaneSDKLogEventOperation: " + (logOperation ? validUtf8(logOperation->eventName) : std::string("(null)")) +
         ">";
}

}  // namespace Mobile
}  // namespace CorvaneSDK
