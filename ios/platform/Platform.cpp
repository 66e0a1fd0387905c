// The installed port set.
#include "Platform.h"

#include <cstdio>
#include <mutex>

namespace CorvaneSDK {
namespace Mobile {

namespace {
std::mutex& portsMutex() {
  static std::mutex* m = new std::mutex();  // never destroyed: used during static teardown
  return *m;
}
std::shared_ptr<const Ports>& installed() {
  static auto* p = new std::shared_ptr<const Ports>();
  return *p;
}
}  // namespace

void StderrLogSink::writeLine(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
}

Ports Platform::portable(const std::string& root) {
  Ports ports;
  auto clock = std::make_shared<SystemClock>();
  ports.clock = clock;
  ports.dispatch = std::make_shared<ThreadDispatch>(clock);
  ports.fileSystem = std::make_shared<PosixFileSystem>(root.empty() ? PosixFileSystem::defaultRoot() : root);
  ports.userDefaults = std::make_shared<FileUserDefaultsProvider>(ports.fileSystem);
  ports.crypto = std::make_shared<OpenSslCrypto>();
  ports.device = std::make_shared<LinuxDevice>();
  ports.log = std::make_shared<StderrLogSink>();
  ports.application = std::make_shared<SettableApplication>();
  ports.notificationCenter = std::make_shared<DefaultNotificationCenter>();
  ports.reachability = std::make_shared<InterfaceReachability>();
  ports.telephony = std::make_shared<SettableTelephony>();
  ports.httpSession = std::make_shared<CurlHTTPSessionFactory>();
  ports.moduleClasses = std::make_shared<ModuleClassRegistry>();
  ports.userNotifications = std::make_shared<SettableUserNotifications>();
  return ports;
}

std::shared_ptr<const Ports> Platform::current() {
  std::lock_guard<std::mutex> lock(portsMutex());
  auto& slot = installed();
  if (!slot) slot = std::make_shared<const Ports>(portable());
  return slot;
}

void Platform::install(std::shared_ptr<const Ports> ports) {
  std::shared_ptr<const Ports> previous;
  std::lock_guard<std::mutex> lock(portsMutex());
  previous = std::move(installed());
  installed() = std::move(ports);
  // `previous` is released after the lock: its queues may join their threads.
}

}  // namespace Mobile
}  // namespace CorvaneSDK
