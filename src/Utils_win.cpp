// Platform services on Windows: version record, system info, adapter list, user locale,
// time zone, desktop window, MachineGuid, folders and the two registry helpers.
// Thread-safe: every function asks the system afresh and keeps no state.
// winsock2.h must come before windows.h, and iphlpapi.h after both.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <direct.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Logger.h"
#include "Utils.h"

#ifdef _MSC_VER
#pragma warning(disable : 4996)  // GetVersionExW is the documented source of the record.
#endif

namespace CorvaneSDK {
namespace Utils {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

std::wstring Wide(const std::string& text) {
  const std::u16string units = Utf8ToUtf16(text);
  return std::wstring(units.begin(), units.end());
}

std::string Narrow(const wchar_t* text, size_t length) {
  if (text == nullptr) return std::string();
  return Utf16ToUtf8(std::u16string(text, text + length));
}

bool VersionRecord(OSVERSIONINFOEXW& record) {
  std::memset(&record, 0, sizeof(record));
  record.dwOSVersionInfoSize = sizeof(record);
  return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&record)) != 0;
}

std::string LocaleInfo(LCTYPE type) {
  char buffer[16] = {0};
  const int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof(buffer));
  if (n <= 0) return std::string();
  return std::string(buffer, strnlen(buffer, sizeof(buffer)));
}

// Reads a REG_SZ or REG_EXPAND_SZ value of an open key; false when absent or of another type.
bool ReadStringValue(HKEY key, const std::wstring& name, std::string& out) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    // Stored strings need not be terminated: keep room for one more unit.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    const LONG result = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    if (result == ERROR_MORE_DATA) continue;  // grew between the two calls
    if (result != ERROR_SUCCESS) return false;
    size_t units = bytes / sizeof(wchar_t);
    while (units > 0 && buffer[units - 1] == L'\0') --units;
    out = Narrow(buffer.data(), units);
    return true;
  }
  return false;
}

}  // namespace

std::string PlatformName() {
  return "Windows";
}

std::string GetOsName() {
  OSVERSIONINFOEXW record;
  if (!VersionRecord(record)) return "Windows";
  return OsNameFromVersion(record.dwMajorVersion, record.dwMinorVersion, record.dwBuildNumber,
                           record.wProductType == VER_NT_WORKSTATION);
}

std::string GetOsVersion() {
  OSVERSIONINFOEXW record;
  if (!VersionRecord(record)) return std::string();
  return std::to_string(record.dwMajorVersion) + "." + std::to_string(record.dwMinorVersion);
}

std::string GetOsBuild() {
  OSVERSIONINFOEXW record;
  if (!VersionRecord(record)) return std::string();
  std::string build = std::to_string(record.dwBuildNumber);
  const size_t length = wcsnlen(record.szCSDVersion, sizeof(record.szCSDVersion) / sizeof(wchar_t));
  if (length > 0) build += ": " + Narrow(record.szCSDVersion, length);
  return build;
}

std::string GetAbi() {
  SYSTEM_INFO info;
  std::memset(&info, 0, sizeof(info));
  GetSystemInfo(&info);
  return AbiName(info.wProcessorArchitecture);
}

namespace detail {

NetworkAddress QuerySystemNetworkAddress() {
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER |
                      GAA_FLAG_SKIP_FRIENDLY_NAME;
  ULONG size = 15000;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  // The list can grow between calls; three attempts bound the loop.
  for (int call = 0; call < 3 && result == ERROR_BUFFER_OVERFLOW; ++call) {
    buffer.assign(size, 0);
    result = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) {
    if (result != ERROR_NO_DATA) {
      CORVANE_LOG_WARNING("Could not list network adapters: error " << result);
    }
    return NetworkAddress();
  }
  std::vector<AddressCandidate> candidates;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    if (adapter->IfType != IF_TYPE_ETHERNET_CSMACD && adapter->IfType != IF_TYPE_IEEE80211) {
      continue;
    }
    const size_t macLength =
        std::min<size_t>(adapter->PhysicalAddressLength, MAX_ADAPTER_ADDRESS_LENGTH);
    const std::string mac = MacText(adapter->PhysicalAddress, macLength);
    for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const SOCKADDR* address = unicast->Address.lpSockaddr;
      if (address == nullptr) continue;
      char text[INET6_ADDRSTRLEN] = {0};
      const void* raw = nullptr;
      if (address->sa_family == AF_INET) {
        raw = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
      } else if (address->sa_family == AF_INET6) {
        raw = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
      } else {
        continue;
      }
      if (inet_ntop(address->sa_family, raw, text, sizeof(text)) == nullptr) continue;
      AddressCandidate candidate;
      candidate.ip = text;
      candidate.isV6 = address->sa_family == AF_INET6;
      candidate.mac = mac;
      candidates.push_back(candidate);
    }
  }
  return ChooseNetworkAddress(candidates);
}

int MakeOneFolder(const std::string& path) {
  return _wmkdir(Wide(path).c_str()) == 0 ? 0 : errno;
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace detail

std::string GetLocale() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {0};
  if (GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) <= 0) return std::string();
  return Narrow(name, wcsnlen(name, LOCALE_NAME_MAX_LENGTH));
}

std::string GetLanguage() {
  return LocaleInfo(LOCALE_SISO639LANGNAME);
}

std::string GetCountry() {
  std::string country = LocaleInfo(LOCALE_SISO3166CTRYNAME);
  for (char& c : country) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return country;
}

std::string GetTimeZone() {
  DYNAMIC_TIME_ZONE_INFORMATION info;
  std::memset(&info, 0, sizeof(info));
  if (GetDynamicTimeZoneInformation(&info) == TIME_ZONE_ID_INVALID) return std::string();
  const size_t length = wcsnlen(info.StandardName, sizeof(info.StandardName) / sizeof(wchar_t));
  return NormaliseTimeZoneName(Narrow(info.StandardName, length));
}

void GetDisplaySize(int& width, int& height) {
  width = 0;
  height = 0;
  const HWND desktop = GetDesktopWindow();
  RECT rect;
  if (desktop == nullptr || !GetWindowRect(desktop, &rect)) return;
  width = rect.right;
  height = rect.bottom;
}

std::string GetDeviceId() {
  HKEY key = nullptr;
  // The 64-bit view: a 32-bit host would otherwise read the redirected, empty key.
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", 0,
                    KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return std::string();
  }
  char buffer[256] = {0};
  DWORD size = sizeof(buffer);
  DWORD type = 0;
  const LONG result =
      RegQueryValueExA(key, "MachineGuid", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::string();
  return std::string(buffer, strnlen(buffer, std::min<size_t>(size, sizeof(buffer))));
}

DeviceInfo GetDeviceInfo() {
  return DeviceInfo();
}

std::string GetDefaultSaveFolder() {
  // The wide variables: an ANSI getenv mangles a user name outside the code page.
  auto variable = [](const wchar_t* name) {
    std::vector<wchar_t> value(32768, L'\0');  // the limit of an environment value
    const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    return (n > 0 && n < value.size()) ? Narrow(value.data(), n) : std::string();
  };
  std::string folder;
  const std::string local = variable(L"LOCALAPPDATA");
  if (!local.empty()) {
    folder = local + "\\" + "CorvaneSDK";
  } else {
    // The per-user local data folder under the profile; never the temp folder, which may be
    // shared by every user of the machine.
    const std::string profile = variable(L"USERPROFILE");
    if (profile.empty()) {
      CORVANE_LOG_ERROR("Neither LOCALAPPDATA nor USERPROFILE names a folder");
      return std::string();
    }
    folder = profile + "\\AppData\\Local\\CorvaneSDK";
    CORVANE_LOG_WARNING("LOCALAPPDATA is not set; saving in " << folder);
  }
  std::replace(folder.begin(), folder.end(), '/', '\\');
  return folder;
}

std::string GetExecutablePath() {
  wchar_t path[1024] = {0};
  const DWORD n = GetModuleFileNameW(nullptr, path, 1024);
  // n == 1024 means the path was cut: better no path than a wrong one.
  if (n == 0 || n >= 1024) return std::string();
  return Narrow(path, n);
}

bool SetCurrentUserRegistry(const std::string& key, const std::string& valueName,
                            const std::string& data) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    CORVANE_LOG_ERROR("Could not create current user registry key " << key);
    return false;
  }
  const std::wstring wideData = Wide(data);
  const size_t bytes = (wideData.size() + 1) * sizeof(wchar_t);
  LONG result = ERROR_INVALID_PARAMETER;
  if (bytes <= 0xFFFFFFFFu) {
    result =
        RegSetValueExW(handle, Wide(valueName).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(wideData.c_str()), static_cast<DWORD>(bytes));
  }
  RegCloseKey(handle);
  if (result != ERROR_SUCCESS) {
    CORVANE_LOG_ERROR("Could not set current user registry value " << valueName << " with data "
                                                                   << data);
    return false;
  }
  return true;
}

std::string GetLocalMachineRegistry(const std::string& key, const std::string& valueName) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
    CORVANE_LOG_ERROR("Could not get local machine registry key " << key);
    return std::string();
  }
  std::string value;
  const bool ok = ReadStringValue(handle, Wide(valueName), value);
  RegCloseKey(handle);
  if (!ok) {
    CORVANE_LOG_ERROR("Could not get local machine registry value " << valueName);
    return std::string();
  }
  return value;
}

std::string GetCurrentUserRegistry(const std::string& key, const std::string& valueName) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
    return std::string();
  }
  std::string value;
  if (!ReadStringValue(handle, Wide(valueName), value)) value.clear();
  RegCloseKey(handle);
  return value;
}

bool DeleteCurrentUserRegistryKey(const std::string& key) {
  // Refuse a top-level key (or the hive itself, for an empty path): only a key below one.
  size_t first = key.find_first_not_of('\\');
  size_t last = key.find_last_not_of('\\');
  if (first == std::string::npos) return false;
  const std::string trimmed = key.substr(first, last - first + 1);
  if (trimmed.find('\\') == std::string::npos) return false;
  const LONG result = RegDeleteTreeW(HKEY_CURRENT_USER, Wide(trimmed).c_str());
  if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) return true;
  CORVANE_LOG_WARNING("Could not delete current user registry key " << trimmed);
  return false;
}

}  // namespace Utils
}  // namespace CorvaneSDK
