// Platform services on Linux (and other POSIX systems): uname, os-release, getifaddrs, the
// locale environment, zoneinfo, DRM connectors, DMI and machine-id. No registry here.
// Thread-safe: every function reads the system afresh and keeps no state.
#include <arpa/inet.h>
#include <pwd.h>
#include <dirent.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/utsname.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/if_packet.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Logger.h"
#include "Utils.h"

namespace CorvaneSDK {
namespace Utils {
namespace {

// Reads at most `limit` bytes; "" when the file cannot be opened.
std::string ReadSmallFile(const std::string& path, size_t limit = 64 * 1024) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::string();
  std::string text;
  char buffer[4096];
  while (text.size() < limit) {
    const size_t want = std::min(sizeof(buffer), limit - text.size());
    const size_t got = std::fread(buffer, 1, want, file);
    if (got == 0) break;
    text.append(buffer, got);
  }
  std::fclose(file);
  return text;
}

std::string Trim(const std::string& text) {
  const char* kSpace = " \t\r\n";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

std::string FirstLine(const std::string& path) {
  const std::string text = ReadSmallFile(path, 4096);
  return Trim(text.substr(0, text.find('\n')));
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string ReadLink(const std::string& path) {
  std::vector<char> buffer(1024);
  for (int attempt = 0; attempt < 6; ++attempt) {
    const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);  // possibly truncated: retry larger
  }
  return std::string();
}

bool Uname(struct utsname& out) {
  return uname(&out) == 0;
}

LocaleParts EnvironmentLocale() {
  // The precedence the C library applies to message texts.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::string value = Env(name);
    if (!value.empty()) return ParsePosixLocale(value);
  }
  return LocaleParts();
}

// Firmware vendors leave these in unprogrammed DMI fields.
std::string DmiField(const char* name) {
  const std::string value = FirstLine(std::string("/sys/class/dmi/id/") + name);
  static const char* const kPlaceholders[] = {"To Be Filled By O.E.M.", "To be filled by O.E.M.",
                                              "System manufacturer",    "System Product Name",
                                              "Default string",         "Not Applicable"};
  for (const char* placeholder : kPlaceholders) {
    if (value == placeholder) return std::string();
  }
  return value;
}

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string PlatformName() {
#ifdef __APPLE__
  return "macOS";
#else
  return "Linux";
#endif
}

std::string GetOsName() {
  // os-release(5): /etc first, the vendor copy in /usr/lib second.
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    const std::string name = OsNameFromOsRelease(ReadSmallFile(path));
    if (!name.empty()) return name;
  }
  return PlatformName();
}

std::string GetOsVersion() {
  struct utsname info;
  return Uname(info) ? KernelVersionFromRelease(info.release) : std::string();
}

std::string GetOsBuild() {
  struct utsname info;
  return Uname(info) ? std::string(info.release) : std::string();
}

std::string GetAbi() {
  struct utsname info;
  return Uname(info) ? AbiFromMachine(info.machine) : std::string("unknown");
}

namespace detail {

NetworkAddress QuerySystemNetworkAddress() {
  struct ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    CORVANE_LOG_WARNING("Could not list network interfaces: " << std::strerror(errno));
    return NetworkAddress();
  }
  std::map<std::string, std::string> macs;
#ifdef __linux__
  for (struct ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_name == nullptr || a->ifa_addr->sa_family != AF_PACKET) {
      continue;
    }
    const auto* link = reinterpret_cast<const struct sockaddr_ll*>(a->ifa_addr);
    const size_t length = std::min<size_t>(link->sll_halen, sizeof(link->sll_addr));
    macs[a->ifa_name] = MacText(link->sll_addr, length);
  }
#endif
  std::vector<AddressCandidate> candidates;
  for (struct ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_name == nullptr) continue;
    // Loopback never identifies the machine; a down interface carries no traffic.
    if ((a->ifa_flags & IFF_LOOPBACK) != 0 || (a->ifa_flags & IFF_UP) == 0) continue;
    const int family = a->ifa_addr->sa_family;
    char text[INET6_ADDRSTRLEN] = {0};
    const void* raw = nullptr;
    if (family == AF_INET) {
      raw = &reinterpret_cast<const struct sockaddr_in*>(a->ifa_addr)->sin_addr;
    } else if (family == AF_INET6) {
      raw = &reinterpret_cast<const struct sockaddr_in6*>(a->ifa_addr)->sin6_addr;
    } else {
      continue;
    }
    if (inet_ntop(family, raw, text, sizeof(text)) == nullptr) continue;
    AddressCandidate candidate;
    candidate.ip = text;
    candidate.isV6 = family == AF_INET6;
    const auto mac = macs.find(a->ifa_name);
    if (mac != macs.end()) candidate.mac = mac->second;
    candidates.push_back(candidate);
  }
  freeifaddrs(list);
  return ChooseNetworkAddress(candidates);
}

int MakeOneFolder(const std::string& path) {
  // Owner-only: the folders hold the user id and the queued events.
  return mkdir(path.c_str(), 0700) == 0 ? 0 : errno;
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace detail

std::string GetLocale() {
  return EnvironmentLocale().locale;
}
std::string GetLanguage() {
  return EnvironmentLocale().language;
}
std::string GetCountry() {
  return EnvironmentLocale().country;
}

std::string GetTimeZone() {
  std::string tz = Env("TZ");
  if (!tz.empty()) {
    if (tz[0] == ':') tz = tz.substr(1);
    // A file path names its zone after "zoneinfo/"; anything else is a zone or rule text.
    if (!tz.empty() && tz[0] == '/') tz = ZoneFromZoneinfoPath(tz);
    if (!tz.empty()) return NormaliseTimeZoneName(tz);
  }
  const std::string fromFile = FirstLine("/etc/timezone");
  if (!fromFile.empty()) return NormaliseTimeZoneName(fromFile);
  return NormaliseTimeZoneName(ZoneFromZoneinfoPath(ReadLink("/etc/localtime")));
}

void GetDisplaySize(int& width, int& height) {
  width = 0;
  height = 0;
  // Without a display server to ask, the kernel's connectors list each screen's modes,
  // preferred first. Names sort card0-DP-1, card0-HDMI-A-1, ...: a stable pick.
  DIR* dir = opendir("/sys/class/drm");
  if (dir == nullptr) return;
  std::vector<std::string> connectors;
  while (struct dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, 4, "card") == 0 && name.find('-') != std::string::npos) {
      connectors.push_back(name);
    }
  }
  closedir(dir);
  std::sort(connectors.begin(), connectors.end());
  for (const std::string& name : connectors) {
    const std::string base = "/sys/class/drm/" + name + "/";
    if (FirstLine(base + "status") != "connected") continue;
    int w = 0;
    int h = 0;
    if (ParseDisplayMode(FirstLine(base + "modes"), w, h)) {
      width = w;
      height = h;
      return;
    }
  }
}

std::string GetDeviceId() {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    const std::string id = FirstLine(path);
    // Before first boot completes the file may hold "uninitialized": not an id.
    const bool hex = std::all_of(id.begin(), id.end(), [](char c) {
      return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (id.size() == 32 && hex) return id;
  }
  return std::string();
}

DeviceInfo GetDeviceInfo() {
  DeviceInfo info;
  info.manufacturer = DmiField("sys_vendor");
  info.model = DmiField("product_name");
  const std::string chassis = FirstLine("/sys/class/dmi/id/chassis_type");
  if (!chassis.empty() && chassis.size() <= 3 &&
      std::all_of(chassis.begin(), chassis.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    info.type = ChassisTypeName(std::atoi(chassis.c_str()));
  }
  return info;
}

std::string GetDefaultSaveFolder() {
  // XDG base directories: a relative value is invalid and must be ignored.
  const std::string xdg = Env("XDG_DATA_HOME");
  if (!xdg.empty() && xdg[0] == '/') return StripTrailingSlashes(xdg) + "/CorvaneSDK";
  const std::string home = Env("HOME");
  if (!home.empty() && home[0] == '/') {
    std::string base = StripTrailingSlashes(home);
    if (base == "/") base.clear();
    return base + "/.local/share/CorvaneSDK";
  }
  // No shared temp folder: another user could plant files there. The account's home
  // folder from the user database is the last choice.
  std::string passwdHome;
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    passwdHome = found->pw_dir;
  }
  if (!passwdHome.empty() && passwdHome[0] == '/') {
    std::string base = StripTrailingSlashes(passwdHome);
    if (base == "/") base.clear();
    return base + "/.local/share/CorvaneSDK";
  }
  CORVANE_LOG_ERROR("Neither XDG_DATA_HOME, HOME nor the user database names a home folder");
  return std::string();
}

std::string GetExecutablePath() {
  return ReadLink("/proc/self/exe");
}

bool SetCurrentUserRegistry(const std::string&, const std::string&, const std::string&) {
  return false;
}

std::string GetLocalMachineRegistry(const std::string&, const std::string&) {
  return std::string();
}

std::string GetCurrentUserRegistry(const std::string&, const std::string&) {
  return std::string();
}

bool DeleteCurrentUserRegistryKey(const std::string&) {
  return false;
}

}  // namespace Utils
}  // namespace CorvaneSDK
