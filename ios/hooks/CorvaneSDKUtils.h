// Class-level device, OS, app, locale and identifier queries for the static context, the
// deep-link filter and the local IP address. Stateless queries of the platform's device port
// (the installed one at the time of the call), except the deep-link filter's compiled
// expression, made once. Every query answers "" (or 0) when the platform gives nothing.
// Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKUtils {
 public:
  static std::string deviceModel();
  static std::string deviceType();
  static std::string deviceManufacturer();  // "apple"
  static std::string platform();            // "iOS"
  static std::string osName();
  static std::string osVersion();
  static std::string hwModel();
  static std::string hwMachine();
  static std::string kernOsVersion();
  static std::string hwCpuType();
  static std::string cpuTypeName(int32_t type);
  static int displayWidth();
  static int displayHeight();
  static uint64_t startedAt();
  // When the application-support folder was created; 0 (with a line) when unknown.
  static uint64_t installedAt();

  static std::string bundleIdentifier();
  static std::string bundleVersion();
  static std::string bundleShortVersionString();
  static std::string locale();
  static std::string country();
  static std::string language();
  static std::string timeZone();

  static std::string idfa();
  static bool isAdvertisingTrackingEnabled();
  static std::string idfv();
  static std::string fbAnonymousId();
  // Random version-4 UUID text, lower-case.
  static std::string createUUIDString();

  // False for none or an empty text, and for sign-in redirects of the Facebook and VK SDKs
  // that carry an access token.
  static bool isValidDeepLink(const std::optional<std::string>& url);
  static constexpr const char* kDeepLinkFilterPattern = "^(fb|vk)[0-9]{5,}[^:]*://authorize.*access_token=.*";

  // "<interface>/ipv4" or "<interface>/ipv6" -> the first usable address of that interface.
  static std::map<std::string, std::string> getIPAddresses();
  // See the source for the search order and what counts as usable; "" when none.
  static std::string getIPAddress(bool preferIPv4);
  static bool isUsableAddress(int family, const std::string& address);

  // The leading number of osVersion ("17.4.1" -> 17), 0 when there is none.
  static int osMajorVersion();
};

}  // namespace Mobile
}  // namespace CorvaneSDK
