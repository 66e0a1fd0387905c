// The set of ports the core runs on. Platform::current() hands out the installed set (the
// portable implementations, made on first use, until a host or test installs another).
// Core code asks for the set at the moment it needs a port and keeps the shared pointers it
// uses, so installing a new set never frees a port under a running call.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Application.h"
#include "Clock.h"
#include "CryptoPrimitives.h"
#include "Device.h"
#include "Dispatch.h"
#include "FileSystem.h"
#include "HTTPSession.h"
#include "ModuleClasses.h"
#include "NotificationCenter.h"
#include "Reachability.h"
#include "Telephony.h"
#include "UserDefaults.h"
#include "UserNotifications.h"

namespace CorvaneSDK {
namespace Mobile {

// Where log lines go. Thread-safe.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void writeLine(const std::string& line) = 0;
};

// Standard error, one line per call.
class StderrLogSink : public LogSink {
 public:
  void writeLine(const std::string& line) override;
};

struct Ports {
  std::shared_ptr<const Clock> clock;
  std::shared_ptr<Dispatch> dispatch;
  std::shared_ptr<FileSystem> fileSystem;
  std::shared_ptr<UserDefaultsProvider> userDefaults;
  std::shared_ptr<CryptoPrimitives> crypto;
  std::shared_ptr<DevicePort> device;
  std::shared_ptr<LogSink> log;
  std::shared_ptr<ApplicationPort> application;
  std::shared_ptr<NotificationCenter> notificationCenter;
  std::shared_ptr<Reachability> reachability;
  std::shared_ptr<Telephony> telephony;
  std::shared_ptr<HTTPSessionFactory> httpSession;
  std::shared_ptr<ModuleClassesPort> moduleClasses;
  std::shared_ptr<UserNotificationPort> userNotifications;
};

class Platform {
 public:
  static std::shared_ptr<const Ports> current();
  // Null goes back to the portable set.
  static void install(std::shared_ptr<const Ports> ports);
  // A fresh portable set; files under `root` (PosixFileSystem::defaultRoot() when empty).
  static Ports portable(const std::string& root = std::string());
};

}  // namespace Mobile
}  // namespace CorvaneSDK
