// Device answers on Linux: uname, /proc, /sys, the environment and getifaddrs.
#include "Device.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace CorvaneSDK {
namespace Mobile {

namespace {
std::string readSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  std::string text;
  text.resize(4096);
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  // Device-tree strings end in NUL; files end in a newline.
  while (!text.empty() && (text.back() == '\0' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

struct Uname {
  std::string sysname, release, version, machine;
};

Uname readUname() {
  struct utsname u {};
  if (::uname(&u) != 0) return {};
  return {u.sysname, u.release, u.version, u.machine};
}
}  // namespace

// ---- settable part ----

void SettableDevice::setBundle(std::optional<BundleRecord> bundle) {
  std::lock_guard<std::mutex> lock(mutex_);
  bundle_ = std::move(bundle);
}
void SettableDevice::setScreen(std::optional<ScreenRecord> screen) {
  std::lock_guard<std::mutex> lock(mutex_);
  screen_ = screen;
}
void SettableDevice::setAdvertisingIdentifier(std::optional<std::string> id, bool trackingEnabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  idfa_ = std::move(id);
  trackingEnabled_ = trackingEnabled;
}
void SettableDevice::setVendorIdentifier(std::optional<std::string> id) {
  std::lock_guard<std::mutex> lock(mutex_);
  idfv_ = std::move(id);
}
void SettableDevice::registerClassOperation(const std::string& className, const std::string& operation,
                                            std::function<std::string()> body) {
  std::lock_guard<std::mutex> lock(mutex_);
  classes_[className][operation] = std::move(body);
}
void SettableDevice::removeClass(const std::string& className) {
  std::lock_guard<std::mutex> lock(mutex_);
  classes_.erase(className);
}
std::optional<BundleRecord> SettableDevice::mainBundle() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bundle_;
}
std::optional<ScreenRecord> SettableDevice::mainScreen() {
  std::lock_guard<std::mutex> lock(mutex_);
  return screen_;
}
std::optional<std::string> SettableDevice::advertisingIdentifier() {
  std::lock_guard<std::mutex> lock(mutex_);
  return idfa_;
}
bool SettableDevice::isAdvertisingTrackingEnabled() {
  std::lock_guard<std::mutex> lock(mutex_);
  return trackingEnabled_;
}
std::optional<std::string> SettableDevice::vendorIdentifier() {
  std::lock_guard<std::mutex> lock(mutex_);
  return idfv_;
}
std::optional<std::string> SettableDevice::callClassString(const std::string& className,
                                                           const std::string& operation) {
  std::function<std::string()> body;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto cls = classes_.find(className);
    if (cls == classes_.end()) return std::nullopt;
    auto op = cls->second.find(operation);
    if (op == cls->second.end() || !op->second) return std::nullopt;
    body = op->second;
  }
  try {
    return body();  // the provider's code runs off our lock
  } catch (...) {
    return std::nullopt;
  }
}

// ---- Linux ----

LinuxDevice::LinuxDevice() {
  BundleRecord bundle;
  char exe[4096] = {0};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string path(exe, static_cast<size_t>(n));
    bundle.identifier = path.substr(path.find_last_of('/') + 1);
  }
  bundle_ = bundle;
  const std::string id = readSmallFile("/etc/machine-id");
  if (id.size() == 32) {
    std::string uuid;
    for (size_t i = 0; i < 32; ++i) {
      if (i == 8 || i == 12 || i == 16 || i == 20) uuid += '-';
      uuid += static_cast<char>(std::toupper(static_cast<unsigned char>(id[i])));
    }
    idfv_ = uuid;
  }
}

std::string LinuxDevice::unameMachine() { return readUname().machine; }

std::string LinuxDevice::modelName() {
  std::string model = readSmallFile("/sys/devices/virtual/dmi/id/product_name");
  if (model.empty()) model = readSmallFile("/proc/device-tree/model");
  return model.empty() ? readUname().sysname : model;
}

std::string LinuxDevice::systemName() { return readUname().sysname; }

std::string LinuxDevice::systemVersion() {
  // The numeric head of the kernel release: "6.1.0-18-amd64" -> "6.1.0".
  const std::string release = readUname().release;
  size_t end = 0;
  while (end < release.size() && (std::isdigit(static_cast<unsigned char>(release[end])) || release[end] == '.')) ++end;
  return release.substr(0, end);
}

std::optional<std::string> LinuxDevice::sysctlString(const std::string& name) {
  if (name == "hw.machine") return readUname().machine;
  if (name == "kern.osversion") return readUname().version;
  if (name == "hw.model") {
    std::string model = readSmallFile("/sys/devices/virtual/dmi/id/product_name");
    if (model.empty()) model = readSmallFile("/proc/device-tree/model");
    if (model.empty()) return std::nullopt;
    return model;
  }
  return std::nullopt;
}

std::optional<int32_t> LinuxDevice::cpuTypeForMachine(const std::string& machine) {
  if (machine == "x86_64" || machine == "amd64") return 0x1000007;
  if (machine == "aarch64" || machine == "arm64") return 0x100000c;
  if (machine == "i386" || machine == "i486" || machine == "i586" || machine == "i686") return 7;
  if (machine.rfind("arm", 0) == 0) return 12;
  return std::nullopt;
}

std::optional<int32_t> LinuxDevice::sysctlInt32(const std::string& name) {
  if (name == "hw.cputype") return cpuTypeForMachine(readUname().machine);
  return std::nullopt;
}

std::optional<std::pair<int64_t, int64_t>> LinuxDevice::bootTime() {
  std::ifstream in("/proc/stat");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("btime ", 0) == 0) {
      char* end = nullptr;
      const long long seconds = std::strtoll(line.c_str() + 6, &end, 10);
      if (end != line.c_str() + 6 && seconds > 0) return std::make_pair<int64_t, int64_t>(seconds, 0);
    }
  }
  return std::nullopt;
}

std::string LinuxDevice::localeFromEnvironmentValue(const std::string& value) {
  std::string id = value.substr(0, value.find_first_of(".@"));
  if (id.empty() || id == "C" || id == "POSIX") return "en_US_POSIX";
  return id;
}

std::string LinuxDevice::localeIdentifier() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && v[0] != '\0') return localeFromEnvironmentValue(v);
  }
  return "en_US_POSIX";
}

std::string LinuxDevice::countryCode() {
  const std::string id = localeIdentifier();
  const size_t underscore = id.find('_');
  if (underscore == std::string::npos) return std::string();
  std::string country = id.substr(underscore + 1);
  country = country.substr(0, country.find('_'));
  return country;
}

std::string LinuxDevice::languageCode() {
  const std::string id = localeIdentifier();
  return id.substr(0, id.find('_'));
}

std::string LinuxDevice::timeZoneName() {
  const char* tz = std::getenv("TZ");
  if (tz != nullptr && tz[0] != '\0') {
    std::string name = tz[0] == ':' ? tz + 1 : tz;
    const size_t zi = name.find("zoneinfo/");
    if (zi != std::string::npos) name = name.substr(zi + 9);
    if (!name.empty()) return name;
  }
  std::string name = readSmallFile("/etc/timezone");
  if (!name.empty()) return name;
  char link[4096] = {0};
  const ssize_t n = ::readlink("/etc/localtime", link, sizeof link - 1);
  if (n > 0) {
    const std::string target(link, static_cast<size_t>(n));
    const size_t zi = target.find("zoneinfo/");
    if (zi != std::string::npos) return target.substr(zi + 9);
  }
  return "UTC";
}

std::vector<InterfaceAddress> LinuxDevice::interfaceAddresses() {
  std::vector<InterfaceAddress> out;
  struct ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (struct ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_name == nullptr) continue;
    const int family = a->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    char text[INET6_ADDRSTRLEN] = {0};
    const void* raw = family == AF_INET
                          ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr)
                          : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr);
    if (::inet_ntop(family, raw, text, sizeof text) == nullptr) continue;
    InterfaceAddress address;
    address.name = a->ifa_name;
    address.family = family == AF_INET ? 4 : 6;
    address.address = text;
    address.up = (a->ifa_flags & IFF_UP) != 0;
    address.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
    out.push_back(std::move(address));
  }
  ::freeifaddrs(list);
  return out;
}

// ---- double ----

FakeDevice::FakeDevice() {
  BundleRecord bundle;
  bundle.identifier = "com.example.game";
  bundle.info = Value{{"CFBundleVersion", "42"}, {"CFBundleShortVersionString", "1.2.3"}};
  bundle_ = bundle;
  screen_ = ScreenRecord{390, 844, 3};
  idfa_ = "6D92078A-8246-4BA4-AE5B-76104861E7DC";
  trackingEnabled_ = true;
  idfv_ = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";
}

void FakeDevice::set(const std::function<void(FakeDevice&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  change(*this);
}

#define CORVANE_FAKE_READ(expr)                  \
  do {                                           \
    std::lock_guard<std::mutex> lock(mutex_);    \
    return expr;                                 \
  } while (0)

std::string FakeDevice::unameMachine() { CORVANE_FAKE_READ(machine); }
std::string FakeDevice::modelName() { CORVANE_FAKE_READ(model); }
std::string FakeDevice::systemName() { CORVANE_FAKE_READ(sysName); }
std::string FakeDevice::systemVersion() { CORVANE_FAKE_READ(sysVersion); }
std::optional<std::string> FakeDevice::sysctlString(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sysctlStrings.find(name);
  if (it == sysctlStrings.end()) return std::nullopt;
  return it->second;
}
std::optional<int32_t> FakeDevice::sysctlInt32(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = sysctlInts.find(name);
  if (it == sysctlInts.end()) return std::nullopt;
  return it->second;
}
std::optional<std::pair<int64_t, int64_t>> FakeDevice::bootTime() { CORVANE_FAKE_READ(boot); }
std::string FakeDevice::localeIdentifier() { CORVANE_FAKE_READ(locale); }
std::string FakeDevice::countryCode() { CORVANE_FAKE_READ(country); }
std::string FakeDevice::languageCode() { CORVANE_FAKE_READ(language); }
std::string FakeDevice::timeZoneName() { CORVANE_FAKE_READ(timeZone); }
std::vector<InterfaceAddress> FakeDevice::interfaceAddresses() { CORVANE_FAKE_READ(addresses); }

#undef CORVANE_FAKE_READ

}  // namespace Mobile
}  // namespace CorvaneSDK
