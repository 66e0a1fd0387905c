// Test ports for the mobile framework: a temp root for files, the device double, a manual
// clock, in-memory user defaults, real OpenSSL, and a log sink that keeps every line. The set
// is installed for the lifetime of the object and the previous one restored after.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Platform.h"
#include "TempDir.h"

namespace CorvaneSDK {
namespace Mobile {
namespace Testing {

class CapturingLogSink : public LogSink {
 public:
  void writeLine(const std::string& line) override;
  std::vector<std::string> lines() const;
  bool contains(const std::string& text) const;
  int count(const std::string& text) const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

struct TestPortsOptions {
  bool countingRandom = false;       // predictable random bytes (CountingRandomCrypto)
  bool fileUserDefaults = false;     // FileUserDefaultsProvider over the temp root
  bool threadDispatch = false;       // real threads for every queue; else ManualDispatch
  bool debugLog = true;              // the framework's debug switch
  bool manualHttp = false;           // ManualHTTPSessionFactory; else real libcurl sessions
};

class TestPorts {
 public:
  explicit TestPorts(TestPortsOptions options = {});
  ~TestPorts();
  TestPorts(const TestPorts&) = delete;
  TestPorts& operator=(const TestPorts&) = delete;

  const std::string& root() const { return dir_.path(); }
  CorvaneSDK::Test::TempDir dir_;
  std::shared_ptr<ManualClock> clock;
  std::shared_ptr<FakeDevice> device;
  std::shared_ptr<PosixFileSystem> posix;
  std::shared_ptr<FaultFileSystem> files;  // what the framework sees
  std::shared_ptr<UserDefaultsProvider> defaults;
  std::shared_ptr<CryptoPrimitives> crypto;
  std::shared_ptr<CountingRandomCrypto> counting;  // set with countingRandom
  std::shared_ptr<Dispatch> dispatch;
  std::shared_ptr<CapturingLogSink> log;
  std::shared_ptr<SettableApplication> application;
  std::shared_ptr<DefaultNotificationCenter> notifications;
  std::shared_ptr<SettableReachability> reachability;
  std::shared_ptr<SettableTelephony> telephony;
  std::shared_ptr<HTTPSessionFactory> http;
  std::shared_ptr<ManualHTTPSessionFactory> manualHttp;  // set with manualHttp
  std::shared_ptr<ModuleClassRegistry> moduleClasses;
  std::shared_ptr<SettableUserNotifications> userNotifications;

 private:
  std::shared_ptr<const Ports> previous_;
  bool previousDebug_;
};

// Polls `condition` until it holds or `timeout` passes (generous: machines are shared).
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace Testing
}  // namespace Mobile
}  // namespace CorvaneSDK
