// The device ports: device and OS queries (UIDevice, uname, sysctl), the main bundle, locale
// and time zone, the main screen, identifiers (advertising id with its tracking flag, vendor
// id), a by-name lookup of optional third-party classes, and the network interfaces.
// LinuxDevice answers from uname, /proc, /sys, the locale and TZ environment and getifaddrs,
// with a bundle record, screen and identifiers the host may set; FakeDevice is the double.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

struct BundleRecord {
  std::string identifier;
  std::optional<Value> info;  // the info dictionary ("CFBundleVersion", "CFBundleShortVersionString", ...)
  std::string receiptPath;
};

struct ScreenRecord {
  double widthPoints = 0;
  double heightPoints = 0;
  double scale = 1;
};

struct InterfaceAddress {
  std::string name;     // "en0", "eth0"
  int family = 4;       // 4 or 6
  std::string address;  // numeric text
  bool up = true;
  bool loopback = false;
};

// All queries are thread-safe; none throws; "nothing" is an empty optional.
class DevicePort {
 public:
  virtual ~DevicePort() = default;
  virtual std::string unameMachine() = 0;
  virtual std::string modelName() = 0;      // UIDevice model
  virtual std::string systemName() = 0;     // UIDevice systemName
  virtual std::string systemVersion() = 0;  // UIDevice systemVersion
  // "hw.model", "hw.machine", "kern.osversion"; the text as sysctl would copy it.
  virtual std::optional<std::string> sysctlString(const std::string& name) = 0;
  // "hw.cputype".
  virtual std::optional<int32_t> sysctlInt32(const std::string& name) = 0;
  // {CTL_KERN, KERN_BOOTTIME}: seconds and microseconds since 1970.
  virtual std::optional<std::pair<int64_t, int64_t>> bootTime() = 0;
  virtual std::optional<BundleRecord> mainBundle() = 0;
  virtual std::string localeIdentifier() = 0;
  virtual std::string countryCode() = 0;
  virtual std::string languageCode() = 0;
  virtual std::string timeZoneName() = 0;
  virtual std::optional<ScreenRecord> mainScreen() = 0;
  virtual std::optional<std::string> advertisingIdentifier() = 0;  // UUID text
  virtual bool isAdvertisingTrackingEnabled() = 0;
  virtual std::optional<std::string> vendorIdentifier() = 0;       // UUID text
  // Calls a string-returning class operation of an optional provider found by name; none when
  // the class is missing or does not answer the operation.
  virtual std::optional<std::string> callClassString(const std::string& className, const std::string& operation) = 0;
  virtual std::vector<InterfaceAddress> interfaceAddresses() = 0;
};

// Shared by both implementations: what the host may set. Thread-safe.
class SettableDevice : public DevicePort {
 public:
  void setBundle(std::optional<BundleRecord> bundle);
  void setScreen(std::optional<ScreenRecord> screen);
  void setAdvertisingIdentifier(std::optional<std::string> id, bool trackingEnabled);
  void setVendorIdentifier(std::optional<std::string> id);
  void registerClassOperation(const std::string& className, const std::string& operation,
                              std::function<std::string()> body);
  void removeClass(const std::string& className);

  std::optional<BundleRecord> mainBundle() override;
  std::optional<ScreenRecord> mainScreen() override;
  std::optional<std::string> advertisingIdentifier() override;
  bool isAdvertisingTrackingEnabled() override;
  std::optional<std::string> vendorIdentifier() override;
  std::optional<std::string> callClassString(const std::string& className, const std::string& operation) override;

 protected:
  std::mutex mutex_;
  std::optional<BundleRecord> bundle_;
  std::optional<ScreenRecord> screen_;
  std::optional<std::string> idfa_;
  bool trackingEnabled_ = false;
  std::optional<std::string> idfv_;
  std::map<std::string, std::map<std::string, std::function<std::string()>>> classes_;
};

class LinuxDevice : public SettableDevice {
 public:
  // The bundle defaults to the executable's name with no info dictionary; the vendor id to
  // /etc/machine-id as UUID text; no advertising id, no screen.
  LinuxDevice();
  std::string unameMachine() override;
  std::string modelName() override;
  std::string systemName() override;
  std::string systemVersion() override;
  std::optional<std::string> sysctlString(const std::string& name) override;
  std::optional<int32_t> sysctlInt32(const std::string& name) override;
  std::optional<std::pair<int64_t, int64_t>> bootTime() override;
  std::string localeIdentifier() override;
  std::string countryCode() override;
  std::string languageCode() override;
  std::string timeZoneName() override;
  std::vector<InterfaceAddress> interfaceAddresses() override;

  // "en_US.UTF-8@euro" -> "en_US"; "C", "POSIX" and "" -> "en_US_POSIX".
  static std::string localeFromEnvironmentValue(const std::string& value);
  // Mach CPU type numbers of a uname machine name; none for an unknown one.
  static std::optional<int32_t> cpuTypeForMachine(const std::string& machine);
};

// The double: every answer is a public field. Fields are read under the mutex; tests set them
// before use or through set().
class FakeDevice : public SettableDevice {
 public:
  std::string machine = "iPhone14,2";
  std::string model = "iPhone";
  std::string sysName = "iOS";
  std::string sysVersion = "17.0";
  std::map<std::string, std::string> sysctlStrings{{"hw.model", "D63AP"}, {"hw.machine", "iPhone14,2"},
                                                   {"kern.osversion", "21A329"}};
  std::map<std::string, int32_t> sysctlInts{{"hw.cputype", 0x100000c}};
  std::optional<std::pair<int64_t, int64_t>> boot = std::make_pair<int64_t, int64_t>(1764990000, 250000);
  std::string locale = "en_US";
  std::string country = "US";
  std::string language = "en";
  std::string timeZone = "Europe/Berlin";
  std::vector<InterfaceAddress> addresses;

  FakeDevice();
  std::string unameMachine() override;
  std::string modelName() override;
  std::string systemName() override;
  std::string systemVersion() override;
  std::optional<std::string> sysctlString(const std::string& name) override;
  std::optional<int32_t> sysctlInt32(const std::string& name) override;
  std::optional<std::pair<int64_t, int64_t>> bootTime() override;
  std::string localeIdentifier() override;
  std::string countryCode() override;
  std::string languageCode() override;
  std::string timeZoneName() override;
  std::vector<InterfaceAddress> interfaceAddresses() override;
  // Runs `change` under the double's mutex (for changes while other threads read).
  void set(const std::function<void(FakeDevice&)>& change);
};

}  // namespace Mobile
}  // namespace CorvaneSDK
