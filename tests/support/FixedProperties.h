// A PropertiesGetter over plain fields, for tests, benchmarks and fuzzers that need identity
// values without a manager. Set the fields before handing it out; reads are then safe from
// any thread.
#pragma once

#include <string>

#include "PropertiesGetter.h"

namespace CorvaneSDK {
namespace Test {

struct FixedProperties : PropertiesGetter {
  std::string appId = "app", userId = "user-1", sessionId, bundleId = "com.example.game",
              appName, appVersion = "1.2.3", buildNumber = "42", wrapper, wrapperVersion,
              platform = "Linux", advertisingId;
  int storeType = -1;

  std::string GetAppId() const override { return appId; }
  std::string GetUserId() const override { return userId; }
  std::string GetSessionId() const override { return sessionId; }
  std::string GetBundleId() const override { return bundleId; }
  std::string GetAppName() const override { return appName; }
  std::string GetAppVersion() const override { return appVersion; }
  std::string GetAppBuildNumber() const override { return buildNumber; }
  std::string GetWrapper() const override { return wrapper; }
  std::string GetWrapperVersion() const override { return wrapperVersion; }
  std::string GetPlatform() const override { return platform; }
  std::string GetDeviceManufacturer() const override { return ""; }
  std::string GetDeviceType() const override { return ""; }
  std::string GetDeviceModel() const override { return ""; }
  std::string GetOsName() const override { return ""; }
  std::string GetOsVersion() const override { return ""; }
  std::string GetOsBuild() const override { return ""; }
  std::string GetAbi() const override { return ""; }
  std::string GetIpAddress() const override { return ""; }
  std::string GetMacAddress() const override { return ""; }
  std::string GetLocale() const override { return ""; }
  std::string GetLanguage() const override { return ""; }
  std::string GetCountry() const override { return ""; }
  std::string GetTimeZone() const override { return ""; }
  std::string GetDeviceId() const override { return ""; }
  std::string GetAdvertisingId() const override { return advertisingId; }
  int GetDisplayWidth() const override { return 0; }
  int GetDisplayHeight() const override { return 0; }
  int GetStoreType() const override { return storeType; }
};

}  // namespace Test
}  // namespace CorvaneSDK
