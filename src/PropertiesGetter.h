// Read-only view of the manager's identity, app and device values, used by the event
// builders and the senders. Implementations are thread-safe: each call returns a copy
// taken under the owner's state lock, so worker threads never read a string being written.
#pragma once

#include <string>

namespace CorvaneSDK {

class PropertiesGetter {
 public:
  virtual std::string GetAppId() const = 0;
  virtual std::string GetUserId() const = 0;
  virtual std::string GetSessionId() const = 0;
  virtual std::string GetBundleId() const = 0;
  virtual std::string GetAppName() const = 0;
  virtual std::string GetAppVersion() const = 0;
  virtual std::string GetAppBuildNumber() const = 0;
  virtual std::string GetWrapper() const = 0;
  virtual std::string GetWrapperVersion() const = 0;
  virtual std::string GetPlatform() const = 0;
  virtual std::string GetDeviceManufacturer() const = 0;
  virtual std::string GetDeviceType() const = 0;
  virtual std::string GetDeviceModel() const = 0;
  virtual std::string GetOsName() const = 0;
  virtual std::string GetOsVersion() const = 0;
  virtual std::string GetOsBuild() const = 0;
  virtual std::string GetAbi() const = 0;
  virtual std::string GetIpAddress() const = 0;
  virtual std::string GetMacAddress() const = 0;
  virtual std::string GetLocale() const = 0;
  virtual std::string GetLanguage() const = 0;
  virtual std::string GetCountry() const = 0;
  virtual std::string GetTimeZone() const = 0;
  virtual std::string GetDeviceId() const = 0;
  virtual std::string GetAdvertisingId() const = 0;
  virtual int GetDisplayWidth() const = 0;
  virtual int GetDisplayHeight() const = 0;
  virtual int GetStoreType() const = 0;

 protected:
  ~PropertiesGetter() = default;
};

}  // namespace CorvaneSDK
