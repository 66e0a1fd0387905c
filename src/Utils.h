// Platform services: the few OS queries and writes the desktop library needs, plus the
// pure mappings behind them. Utils.cpp holds the portable part; Utils_win.cpp and
// Utils_posix.cpp the system calls. Every function is thread-safe and never throws.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace CorvaneSDK {
class Env;
namespace Utils {

// Queries of the running system. A failing system call gives an empty or default value.

// "Windows", "Linux" ("macOS" on Apple builds).
std::string PlatformName();

// Windows: a name from the version table, "Windows" when unknown. Linux: PRETTY_NAME or NAME
// of os-release, "Linux" when neither is readable.
std::string GetOsName();
// Windows: "major.minor". Linux: the kernel's "major.minor" (from uname's release).
std::string GetOsVersion();
// Windows: the build number, then ": " and the service-pack text when there is one.
// Linux: the full kernel release.
std::string GetOsBuild();
// "x64", "arm64", "x86", "arm", ... "unknown".
std::string GetAbi();

struct NetworkAddress {
  std::string ip;
  std::string mac;
};
// The first IPv4 address of a network adapter, else its first global IPv6 address, each
// with that adapter's hardware address. Both empty when there is none (also when the query
// of `env` throws). Asked of the environment, so tests can simulate a network change.
NetworkAddress GetNetworkAddress(Env& env);

// Locale name ("en-US" on Windows, "en_US" on Linux), ISO 639 language as the system gives
// it, ISO 3166 country in lower case. Empty when unknown.
std::string GetLocale();
std::string GetLanguage();
std::string GetCountry();
// Time-zone name; "UTC" for the names the systems use for UTC.
std::string GetTimeZone();
// Size of the primary display in pixels; 0 and 0 when unknown.
void GetDisplaySize(int& width, int& height);
// Windows: the MachineGuid. Linux: the machine-id (32 hex digits). Empty when unreadable.
std::string GetDeviceId();

struct AppInfo {
  std::string name;
  std::string bundleId;
  std::string version;
  std::string buildNumber;
};
// Desktop apps carry no queryable app record: all empty, the configured values stay.
AppInfo GetAppInfo();

struct DeviceInfo {
  std::string manufacturer;
  std::string type;
  std::string model;
};
// Windows: all empty. Linux: vendor and product from the firmware's DMI table and the
// chassis type as "desktop", "laptop", "tablet" or "server"; empty when unreadable or
// when the firmware holds a placeholder.
DeviceInfo GetDeviceInfo();

// The base of the folders the SDK keeps its files in when the host gives no save path (one
// folder per app below it).
// Windows: %LOCALAPPDATA%\CorvaneSDK with "\" separators, else
// %USERPROFILE%\AppData\Local\CorvaneSDK (a Warning). Linux: $XDG_DATA_HOME/CorvaneSDK, else
// $HOME/.local/share/CorvaneSDK, else the same below the home folder of the user database.
// Empty (an Error logged) when none is known: never a temp folder shared between users.
std::string GetDefaultSaveFolder();

// Creates a folder and its missing parents (owner-only on POSIX). True when the folder
// exists afterwards.
bool CreateFolder(const std::string& path);

// Full UTF-8 path of the running executable; empty when unknown.
std::string GetExecutablePath();

// Writes a string value under a key of HKEY_CURRENT_USER, creating the key. Logs failures
// at Error. Without a registry: false, nothing logged.
bool SetCurrentUserRegistry(const std::string& key, const std::string& valueName,
                            const std::string& data);
// Reads a string value under a key of HKEY_LOCAL_MACHINE; empty on failure (logged at
// Error). Without a registry: empty, nothing logged.
std::string GetLocalMachineRegistry(const std::string& key, const std::string& valueName);
// Reads a string value under a key of HKEY_CURRENT_USER. A missing key or value is an
// ordinary answer here (nothing registered yet): empty, nothing logged.
std::string GetCurrentUserRegistry(const std::string& key, const std::string& valueName);
// Removes a key of HKEY_CURRENT_USER with everything below it (undoes a registration).
// True when the key no longer exists. Without a registry: false.
bool DeleteCurrentUserRegistryKey(const std::string& key);

// Pure mappings, identical on every platform.

// Windows name for a version record; isClient is a workstation product type.
std::string OsNameFromVersion(unsigned major, unsigned minor, unsigned build, bool isClient);
// Processor-architecture code of the Windows system record to its ABI name.
std::string AbiName(int windowsArchitecture);
// uname's machine field to the same names: "x86_64" -> "x64", "aarch64" -> "arm64", "i686"
// -> "x86", "armv7l" -> "arm", anything else "unknown".
std::string AbiFromMachine(const std::string& machine);
// Each byte as two lower-case hex digits, joined by ":"; "" for no bytes.
std::string MacText(const unsigned char* bytes, size_t length);
// fe80::/10 in text form (first group fe80 to febf).
bool IsLinkLocalV6(const std::string& text);
// 2001:0::/32 (Teredo) in text form.
bool IsTeredo(const std::string& text);
// "UTC" for "Coordinated Universal Time", "Etc/UTC", "Universal" and "Etc/Universal";
// any other name unchanged.
std::string NormaliseTimeZoneName(const std::string& name);

struct LocaleParts {
  std::string locale;
  std::string language;
  std::string country;
};
// "en_US.UTF-8" -> {"en_US", "en", "us"}; "de" -> {"de", "de", ""}; "C", "POSIX" and
// malformed text -> all empty. Codeset and "@modifier" are dropped.
LocaleParts ParsePosixLocale(const std::string& value);

// One network address seen while walking the adapters, in the order they were returned.
struct AddressCandidate {
  std::string ip;
  bool isV6 = false;
  std::string mac;
};
// The first IPv4 candidate; else the first IPv6 candidate that is neither link-local nor
// Teredo; else both empty.
NetworkAddress ChooseNetworkAddress(const std::vector<AddressCandidate>& candidates);

// OS name from the text of an os-release file: PRETTY_NAME, else NAME, unquoted; "" when
// neither is present.
std::string OsNameFromOsRelease(const std::string& text);
// "6.1.0-18-amd64" -> "6.1"; "" when the release does not start with "digits.digits".
std::string KernelVersionFromRelease(const std::string& release);
// SMBIOS chassis type code to "desktop", "laptop", "tablet", "server" or "".
std::string ChassisTypeName(int code);
// Zone name from a zoneinfo path: "/usr/share/zoneinfo/Europe/Paris" -> "Europe/Paris";
// "" when the path has no "zoneinfo/" part.
std::string ZoneFromZoneinfoPath(const std::string& path);
// "1920x1080" (a DRM mode line, suffixes allowed) to width and height; false otherwise.
bool ParseDisplayMode(const std::string& text, int& width, int& height);

// UTF-16 <-> UTF-8. Invalid input (unpaired surrogates, malformed or overlong sequences,
// code points above U+10FFFF) becomes U+FFFD; never throws.
std::string Utf16ToUtf8(const std::u16string& text);
std::u16string Utf8ToUtf16(const std::string& text);

// A URI scheme: an ASCII letter followed by letters, digits, "+", "-" or ".".
bool IsValidUriScheme(const std::string& scheme);

// The system calls behind the portable code of Utils.cpp, one definition per platform file.
namespace detail {
NetworkAddress QuerySystemNetworkAddress();
// Creates one folder: 0 on success, else the errno value (ENOENT: a parent is missing).
int MakeOneFolder(const std::string& path);
bool IsFolder(const std::string& path);
}  // namespace detail

}  // namespace Utils
}  // namespace CorvaneSDK
