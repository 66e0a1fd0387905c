// Version text parsing and the two OS-version ports.
#include "OSVersion.h"

#include <algorithm>
#include <cctype>

#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

OSVersion OSVersion::parse(const std::string& text) {
  OSVersion out;
  int* parts[3] = {&out.major, &out.minor, &out.patch};
  size_t pos = 0;
  for (int i = 0; i < 3 && pos <= text.size(); ++i) {
    long value = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
      value = std::min(value * 10 + (text[pos] - '0'), 1000000L);  // no overflow on long digit runs
      ++pos;
    }
    *parts[i] = static_cast<int>(value);
    // Anything but a dot ends the version ("16.1 beta" is 16.1).
    if (pos >= text.size() || text[pos] != '.') break;
    ++pos;
  }
  return out;
}

bool OSVersion::isAtLeast(int wantMajor, int wantMinor, int wantPatch) const {
  if (major != wantMajor) return major > wantMajor;
  if (minor != wantMinor) return minor > wantMinor;
  return patch >= wantPatch;
}

std::string OSVersion::text() const {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

OSVersion DeviceOSVersion::operatingSystemVersion() const {
  try {
    auto ports = Platform::current();
    if (ports && ports->device) return OSVersion::parse(ports->device->systemVersion());
  } catch (...) {
  }
  return OSVersion{};
}

OSVersion FixedOSVersion::operatingSystemVersion() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return version_;
}

void FixedOSVersion::set(const std::string& version) {
  std::lock_guard<std::mutex> lock(mutex_);
  version_ = OSVersion::parse(version);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
