// Device context: the machine's values read once at construction (the network address again
// at each new session) and the advertising id the host sets. Thread-safe: one lock, held
// only for copies.
#pragma once

#include <mutex>
#include <string>

#include "Json.h"

namespace CorvaneSDK {

class Env;

struct DeviceValues {
  std::string deviceManufacturer, deviceType, deviceModel, osName, osVersion, osBuild, abi,
      ipAddress, macAddress, locale, language, country, timeZone, deviceId, advertisingId;
  int displayWidth = 0, displayHeight = 0;
};

class DeviceContext {
 public:
  // Reads the system. Without `collectIdentifiers` the network address and the device id
  // stay empty (a child-directed app or a host that opted out). The network address comes
  // from `env`, which outlives the context.
  DeviceContext(bool collectIdentifiers, Env& env);

  // Reads the network address again (a new session may run on another network).
  void Refresh();
  DeviceValues Values() const;
  std::string AdvertisingId() const;
  void SetAdvertisingId(const std::string& id);
  // The context members of the open event, the empty ones left out.
  Json OpenEventData() const;
  // Debug lines of every value, with the platform and wrapper they run under.
  void Log(const std::string& platform, const std::string& wrapper,
           const std::string& wrapperVersion) const;

 private:
  Env& env_;
  const bool collectIdentifiers_;
  mutable std::mutex mutex_;
  DeviceValues values_;
};

}  // namespace CorvaneSDK
