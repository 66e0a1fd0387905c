// The OS-version port: the running system's version as major.minor.patch, for the checks that
// gate platform operations by release. DeviceOSVersion reads the device port's system version;
// FixedOSVersion is the double a test sets.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace CorvaneSDK {
namespace Mobile {

struct OSVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;
  // "16.1" -> {16, 1, 0}; leading digits of each part, missing parts 0; never throws.
  static OSVersion parse(const std::string& text);
  bool isAtLeast(int wantMajor, int wantMinor, int wantPatch = 0) const;
  std::string text() const;
};

// Thread-safe.
class OSVersionPort {
 public:
  virtual ~OSVersionPort() = default;
  virtual OSVersion operatingSystemVersion() const = 0;
  bool isAtLeast(int major, int minor, int patch = 0) const {
    return operatingSystemVersion().isAtLeast(major, minor, patch);
  }
};

// The version the installed device port reports at the time of the call.
class DeviceOSVersion : public OSVersionPort {
 public:
  OSVersion operatingSystemVersion() const override;
};

class FixedOSVersion : public OSVersionPort {
 public:
  explicit FixedOSVersion(const std::string& version = "17.0") { set(version); }
  OSVersion operatingSystemVersion() const override;
  void set(const std::string& version);

 private:
  mutable std::mutex mutex_;
  OSVersion version_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
