// The class-level SKAdNetwork reports of the manager: each picks the newest update operation
// that the platform's class answers on the running release, writes its debug line and calls
// it; without the class, or on a release without any of them, it does nothing. Thread-safe;
// ports are those installed at the time of the call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKSkanPlatform {
 public:
  // Whether the platform has the class "SKAdNetwork" (looked up once per installed port).
  static bool isSKAdNetworkAvailable();
  static void updatePostbackConversionValue(int32_t fine);
  // `coarse` is "low", "medium" or "high". Before 16.1 only the fine value is reported.
  static void updatePostbackConversionValue(int32_t fine, const std::string& coarse);
  static void updatePostbackConversionValue(int32_t fine, const std::string& coarse, bool lockWindow);
  // Where every completion goes: an error only writes a debug line, nothing is retried.
  static void updatePostbackConversionValueCallback(const std::optional<std::string>& error);
};

}  // namespace Mobile
}  // namespace CorvaneSDK
