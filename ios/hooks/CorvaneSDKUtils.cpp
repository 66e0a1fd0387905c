// Device utilities over the device port.
#include "CorvaneSDKUtils.h"

#include <arpa/inet.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

#include "CorvaneSDKLog.h"
#include "CorvaneSDKRegex.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
std::shared_ptr<DevicePort> device() { return Platform::current()->device; }

// As sysctl copies into a 100-byte buffer: the text up to its NUL, at most 99 bytes.
std::string sysctlText(const char* name) {
  auto value = device()->sysctlString(name);
  if (!value) return std::string();
  std::string text = value->substr(0, value->find('\0'));
  if (text.size() > 99) text.resize(99);
  return text;
}

int pixels(double points, double scale) {
  const double px = points * static_cast<double>(static_cast<float>(scale)) + 0.5;
  if (!std::isfinite(px) || px < 0 || px > 2147483647.0) return 0;
  return static_cast<int>(px);
}

std::string infoString(const char* key) {
  auto bundle = device()->mainBundle();
  if (!bundle || !bundle->info || !bundle->info->is_object()) return std::string();
  auto it = bundle->info->find(key);
  if (it == bundle->info->end() || !it->is_string()) return std::string();
  return it->get<std::string>();
}
}  // namespace

std::string CorvaneSDKUtils::deviceModel() { return device()->unameMachine(); }
std::string CorvaneSDKUtils::deviceType() { return device()->modelName(); }
std::string CorvaneSDKUtils::deviceManufacturer() { return "apple"; }
std::string CorvaneSDKUtils::platform() { return "iOS"; }
std::string CorvaneSDKUtils::osName() { return device()->systemName(); }
std::string CorvaneSDKUtils::osVersion() { return device()->systemVersion(); }
std::string CorvaneSDKUtils::hwModel() { return sysctlText("hw.model"); }
std::string CorvaneSDKUtils::hwMachine() { return sysctlText("hw.machine"); }
std::string CorvaneSDKUtils::kernOsVersion() { return sysctlText("kern.osversion"); }

std::string CorvaneSDKUtils::cpuTypeName(int32_t type) {
  switch (type) {
    case 7: return "x86";
    case 12: return "arm";
    case 0x1000007: return "x64";
    case 0x100000c: return "arm64";
    case 0x200000c: return "arm64/32";
    default: return "unknown";
  }
}

std::string CorvaneSDKUtils::hwCpuType() {
  auto type = device()->sysctlInt32("hw.cputype");
  return type ? cpuTypeName(*type) : "unknown";
}

int CorvaneSDKUtils::displayWidth() {
  auto screen = device()->mainScreen();
  return screen ? pixels(screen->widthPoints, screen->scale) : 0;
}

int CorvaneSDKUtils::displayHeight() {
  auto screen = device()->mainScreen();
  return screen ? pixels(screen->heightPoints, screen->scale) : 0;
}

uint64_t CorvaneSDKUtils::startedAt() {
  auto boot = device()->bootTime();
  if (!boot || boot->first <= 0 || boot->second < 0) return 0;
  return static_cast<uint64_t>(boot->first) * 1000u + static_cast<uint64_t>(boot->second) / 1000u;
}

uint64_t CorvaneSDKUtils::installedAt() {
  auto ports = Platform::current();
  const std::string folder = ports->fileSystem->applicationSupportDirectory();
  auto created = ports->fileSystem->creationTimeMs(folder);
  if (!created || *created <= 0) {
    CorvaneSDKLog::debug("Error while trying to check install date. Exception: no creation time for " + folder);
    return 0;
  }
  return static_cast<uint64_t>(*created);
}

std::string CorvaneSDKUtils::bundleIdentifier() {
  auto bundle = device()->mainBundle();
  return bundle ? bundle->identifier : std::string();
}
std::string CorvaneSDKUtils::bundleVersion() { return infoString("CFBundleVersion"); }
std::string CorvaneSDKUtils::bundleShortVersionString() { return infoString("CFBundleShortVersionString"); }
std::string CorvaneSDKUtils::locale() { return device()->localeIdentifier(); }

std::string CorvaneSDKUtils::country() {
  std::string c = device()->countryCode();
  std::transform(c.begin(), c.end(), c.begin(), [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return c;
}

std::string CorvaneSDKUtils::language() { return device()->languageCode(); }
std::string CorvaneSDKUtils::timeZone() { return device()->timeZoneName(); }

int CorvaneSDKUtils::osMajorVersion() {
  const std::string v = osVersion();
  int major = 0;
  size_t i = 0;
  for (; i < v.size() && i < 6 && std::isdigit(static_cast<unsigned char>(v[i])); ++i) major = major * 10 + (v[i] - '0');
  return major;
}

std::string CorvaneSDKUtils::idfa() {
  auto d = device();
  if (osMajorVersion() < 14 && !d->isAdvertisingTrackingEnabled()) return std::string();
  auto id = d->advertisingIdentifier();
  if (!id || id->empty()) return std::string();
  bool allZero = true;
  for (char c : *id) {
    if (c != '0' && c != '-') allZero = false;
  }
  return allZero ? std::string() : *id;
}

bool CorvaneSDKUtils::isAdvertisingTrackingEnabled() { return device()->isAdvertisingTrackingEnabled(); }

std::string CorvaneSDKUtils::idfv() {
  auto id = device()->vendorIdentifier();
  return id ? *id : std::string();
}

std::string CorvaneSDKUtils::fbAnonymousId() {
  auto d = device();
  for (const char* cls : {"FBSDKBasicUtility", "FBSDKAppEventsUtility"}) {
    auto id = d->callClassString(cls, "retrievePersistedAnonymousID");
    if (id) return *id;
  }
  return std::string();
}

std::string CorvaneSDKUtils::createUUIDString() {
  std::string bytes;
  if (Platform::current()->crypto->randomBytes(16, bytes) != 0 || bytes.size() != 16) {
    // The random source failed: a UUID from the clock and a counter stays unique in-process.
    static std::atomic<uint64_t> counter{0};
    const uint64_t a = static_cast<uint64_t>(Platform::current()->clock->wallMs());
    const uint64_t b = ++counter;
    bytes.assign(16, '\0');
    std::memcpy(&bytes[0], &a, 8);
    std::memcpy(&bytes[8], &b, 8);
  }
  bytes[6] = static_cast<char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<char>((bytes[8] & 0x3f) | 0x80);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += hex[(static_cast<unsigned char>(bytes[i]) >> 4) & 15];
    out += hex[static_cast<unsigned char>(bytes[i]) & 15];
  }
  return out;
}

bool CorvaneSDKUtils::isValidDeepLink(const std::optional<std::string>& url) {
  if (!url || url->empty()) return false;
  static const CorvaneSDKRegex filter(kDeepLinkFilterPattern);
  return !filter.search(*url);
}

bool CorvaneSDKUtils::isUsableAddress(int family, const std::string& address) {
  if (family == 4) {
    in_addr a{};
    if (::inet_pton(AF_INET, address.c_str(), &a) != 1) return false;
    const uint32_t v = ntohl(a.s_addr);
    // Not unspecified, loopback (127/8) or link-local (169.254/16, no DHCP answer).
    return v != 0 && (v >> 24) != 127 && (v >> 16) != 0xA9FE;
  }
  if (family == 6) {
    in6_addr a{};
    if (::inet_pton(AF_INET6, address.c_str(), &a) != 1) return false;
    if (IN6_IS_ADDR_UNSPECIFIED(&a) || IN6_IS_ADDR_LOOPBACK(&a) || IN6_IS_ADDR_LINKLOCAL(&a)) return false;
    return true;
  }
  return false;
}

std::map<std::string, std::string> CorvaneSDKUtils::getIPAddresses() {
  std::map<std::string, std::string> out;
  for (const auto& a : device()->interfaceAddresses()) {
    if (!a.up || a.loopback || (a.family != 4 && a.family != 6)) continue;
    if (!isUsableAddress(a.family, a.address)) continue;
    // The first usable address of an interface and family stands for it.
    out.emplace(a.name + "/" + (a.family == 4 ? "ipv4" : "ipv6"), a.address);
  }
  return out;
}

// Search order: the preferred family first on Wi-Fi "en0" then cellular "pdp_ip0", then the
// other family on both; then, where neither exists (Linux hosts name theirs eth0, wlan0, ...),
// any other interface in name order, preferred family first. Usable: up, not loopback, and
// not an unspecified, loopback or link-local address.
std::string CorvaneSDKUtils::getIPAddress(bool preferIPv4) {
  const auto addresses = getIPAddresses();
  const char* first = preferIPv4 ? "ipv4" : "ipv6";
  const char* second = preferIPv4 ? "ipv6" : "ipv4";
  for (const char* family : {first, second}) {
    for (const char* name : {"en0", "pdp_ip0"}) {
      auto it = addresses.find(std::string(name) + "/" + family);
      if (it != addresses.end()) return it->second;
    }
  }
  for (const char* family : {first, second}) {
    const std::string suffix = std::string("/") + family;
    for (const auto& [key, address] : addresses) {
      if (key.size() > suffix.size() && key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0) {
        return address;
      }
    }
  }
  return std::string();
}

}  // namespace Mobile
}  // namespace CorvaneSDK
