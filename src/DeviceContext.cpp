// The device context.
#include "DeviceContext.h"

#include "Logger.h"
#include "Utils.h"

namespace CorvaneSDK {

DeviceContext::DeviceContext(bool collectIdentifiers, Env& env)
    : env_(env), collectIdentifiers_(collectIdentifiers) {
  DeviceValues c;
  Utils::DeviceInfo device = Utils::GetDeviceInfo();
  c.deviceManufacturer = device.manufacturer;
  c.deviceType = device.type;
  c.deviceModel = device.model;
  c.osName = Utils::GetOsName();
  c.osVersion = Utils::GetOsVersion();
  c.osBuild = Utils::GetOsBuild();
  c.abi = Utils::GetAbi();
  if (collectIdentifiers_) {
    Utils::NetworkAddress address = Utils::GetNetworkAddress(env_);
    c.ipAddress = address.ip;
    c.macAddress = address.mac;
  }
  c.locale = Utils::GetLocale();
  c.language = Utils::GetLanguage();
  c.country = Utils::GetCountry();
  c.timeZone = Utils::GetTimeZone();
  Utils::GetDisplaySize(c.displayWidth, c.displayHeight);
  if (collectIdentifiers_) c.deviceId = Utils::GetDeviceId();
  values_ = c;
}

void DeviceContext::Refresh() {
  if (!collectIdentifiers_) return;
  Utils::NetworkAddress address = Utils::GetNetworkAddress(env_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.ipAddress = address.ip;
    values_.macAddress = address.mac;
  }
  CORVANE_LOG_DEBUG("IP Address: " << address.ip);
  CORVANE_LOG_DEBUG("MAC Address: " << address.mac);
}

DeviceValues DeviceContext::Values() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return values_;
}

std::string DeviceContext::AdvertisingId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return values_.advertisingId;
}

void DeviceContext::SetAdvertisingId(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  values_.advertisingId = id;
}

Json DeviceContext::OpenEventData() const {
  const DeviceValues c = Values();
  Json data = Json::object();
  auto put = [&](const char* key, const std::string& value) {
    if (!value.empty()) data[key] = value;
  };
  put("device_manufacturer", c.deviceManufacturer);
  put("device_type", c.deviceType);
  put("device_model", c.deviceModel);
  put("os_name", c.osName);
  put("os_version", c.osVersion);
  put("os_build", c.osBuild);
  put("abi", c.abi);
  put("time_zone", c.timeZone);
  put("locale", c.locale);
  put("language", c.language);
  put("country", c.country);
  put("local_ip", c.ipAddress);
  put("mac_address", c.macAddress);
  put("developer_device_id", c.deviceId);
  if (c.displayWidth >= 1) data["display_width"] = c.displayWidth;
  if (c.displayHeight >= 1) data["display_height"] = c.displayHeight;
  return data;
}

void DeviceContext::Log(const std::string& platform, const std::string& wrapper,
                        const std::string& wrapperVersion) const {
  const DeviceValues c = Values();
  CORVANE_LOG_DEBUG("Device Manufacturer: " << c.deviceManufacturer);
  CORVANE_LOG_DEBUG("Device Type: " << c.deviceType);
  CORVANE_LOG_DEBUG("Device Model: " << c.deviceModel);
  CORVANE_LOG_DEBUG("Platform: " << platform);
  CORVANE_LOG_DEBUG("Wrapper: " << wrapper);
  CORVANE_LOG_DEBUG("Wrapper Version: " << wrapperVersion);
  CORVANE_LOG_DEBUG("OS Name: " << c.osName);
  CORVANE_LOG_DEBUG("OS Version: " << c.osVersion);
  CORVANE_LOG_DEBUG("OS Build: " << c.osBuild);
  CORVANE_LOG_DEBUG("ABI: " << c.abi);
  CORVANE_LOG_DEBUG("IP Address: " << c.ipAddress);
  CORVANE_LOG_DEBUG("MAC Address: " << c.macAddress);
  CORVANE_LOG_DEBUG("Locale: " << c.locale);
  CORVANE_LOG_DEBUG("Language: " << c.language);
  CORVANE_LOG_DEBUG("Country: " << c.country);
  CORVANE_LOG_DEBUG("Time Zone: " << c.timeZone);
  CORVANE_LOG_DEBUG("Display Width: " << c.displayWidth);
  CORVANE_LOG_DEBUG("Display Height: " << c.displayHeight);
  CORVANE_LOG_DEBUG("Device Id: " << c.deviceId);
  CORVANE_LOG_DEBUG("Advertising Id: " << c.advertisingId);
}

}  // namespace CorvaneSDK
