// SKAdNetwork reports through the installed port pair.
#include "CorvaneSDKSkanPlatform.h"

#include <memory>

#include "CorvaneSDKLog.h"
#include "SKAdNetwork.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
struct Resolved {
  std::shared_ptr<const SKAdNetworkPorts> pair;
  SKAdNetworkPort* port = nullptr;
  OSVersion version;
};

// The installed pair when it has the class, else none.
bool resolve(Resolved& out) {
  out.pair = SKAdNetworkPlatform::current();
  if (!out.pair || !out.pair->skAdNetwork) return false;
  out.port = out.pair->skAdNetwork.get();
  if (!out.port->classPresent()) return false;
  out.version = out.pair->osVersion ? out.pair->osVersion->operatingSystemVersion() : OSVersion{};
  return true;
}

bool answers(const Resolved& r, int major, int minor, const char* selector) {
  return r.version.isAtLeast(major, minor) && r.port->respondsToSelector(selector);
}

void callback(const std::optional<std::string>& error) {
  CorvaneSDKSkanPlatform::updatePostbackConversionValueCallback(error);
}

void reportFine(const Resolved& r, int32_t fine) {
  if (answers(r, 15, 4, kSelUpdatePostback)) {
    CorvaneSDKLog::debug("Update Postback Conversion Value: " + std::to_string(fine));
    r.port->updatePostbackConversionValue(fine, callback);
  } else if (answers(r, 14, 0, kSelUpdateConversionValue)) {
    CorvaneSDKLog::debug("Update Postback Conversion Value: " + std::to_string(fine));
    r.port->updateConversionValue(fine);
  }
}
}  // namespace

bool CorvaneSDKSkanPlatform::isSKAdNetworkAvailable() {
  try {
    Resolved r;
    return resolve(r);
  } catch (...) {
    return false;
  }
}

void CorvaneSDKSkanPlatform::updatePostbackConversionValue(int32_t fine) {
  try {
    Resolved r;
    if (resolve(r)) reportFine(r, fine);
  } catch (...) {
  }
}

void CorvaneSDKSkanPlatform::updatePostbackConversionValue(int32_t fine, const std::string& coarse) {
  try {
    Resolved r;
    if (!resolve(r)) return;
    if (answers(r, 16, 1, kSelUpdatePostbackCoarse)) {
      CorvaneSDKLog::debug("Update Postback Conversion Value: " + std::to_string(fine) + " " + coarse);
      r.port->updatePostbackConversionValue(fine, coarse, callback);
    } else {
      reportFine(r, fine);
    }
  } catch (...) {
  }
}

void CorvaneSDKSkanPlatform::updatePostbackConversionValue(int32_t fine, const std::string& coarse, bool lockWindow) {
  try {
    Resolved r;
    if (!resolve(r)) return;
    if (answers(r, 16, 1, kSelUpdatePostbackCoarseLock)) {
      CorvaneSDKLog::debug("Update Postback Conversion Value: " + std::to_string(fine) + " " + coarse + " " +
                           (lockWindow ? "Lock" : "Non-lock"));
      r.port->updatePostbackConversionValue(fine, coarse, lockWindow, callback);
    } else {
      // Before 16.1 the coarse value and the lock flag have no operation to go to.
      reportFine(r, fine);
    }
  } catch (...) {
  }
}

void CorvaneSDKSkanPlatform::updatePostbackConversionValueCallback(const std::optional<std::string>& error) {
  if (error) CorvaneSDKLog::debug("updatePostbackConversionValue error: " + *error);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
