// Installs and restores the test port set.
#include "MobileTestSupport.h"

#include <thread>

#include "CorvaneSDKLog.h"

namespace CorvaneSDK {
namespace Mobile {
namespace Testing {

void CapturingLogSink::writeLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(line);
}

std::vector<std::string> CapturingLogSink::lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool CapturingLogSink::contains(const std::string& text) const { return count(text) > 0; }

int CapturingLogSink::count(const std::string& text) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const auto& l : lines_) n += l.find(text) != std::string::npos ? 1 : 0;
  return n;
}

void CapturingLogSink::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

TestPorts::TestPorts(TestPortsOptions options) : previousDebug_(CorvaneSDKLog::isDebug()) {
  clock = std::make_shared<ManualClock>();
  device = std::make_shared<FakeDevice>();
  posix = std::make_shared<PosixFileSystem>(dir_.path());
  files = std::make_shared<FaultFileSystem>(posix);
  if (options.fileUserDefaults) {
    defaults = std::make_shared<FileUserDefaultsProvider>(files);
  } else {
    defaults = std::make_shared<MemoryUserDefaultsProvider>();
  }
  if (options.countingRandom) {
    counting = std::make_shared<CountingRandomCrypto>();
    crypto = counting;
  } else {
    crypto = std::make_shared<OpenSslCrypto>();
  }
  if (options.threadDispatch) {
    dispatch = std::make_shared<ThreadDispatch>(clock);
  } else {
    dispatch = std::make_shared<ManualDispatch>(clock);
  }
  log = std::make_shared<CapturingLogSink>();
  application = std::make_shared<SettableApplication>();
  notifications = std::make_shared<DefaultNotificationCenter>();
  reachability = std::make_shared<SettableReachability>();
  telephony = std::make_shared<SettableTelephony>();
  if (options.manualHttp) {
    manualHttp = std::make_shared<ManualHTTPSessionFactory>();
    http = manualHttp;
  } else {
    http = std::make_shared<CurlHTTPSessionFactory>();
  }
  auto ports = std::make_shared<Ports>();
  ports->clock = clock;
  ports->dispatch = dispatch;
  ports->fileSystem = files;
  ports->userDefaults = defaults;
  ports->crypto = crypto;
  ports->device = device;
  ports->log = log;
  ports->application = application;
  ports->notificationCenter = notifications;
  ports->reachability = reachability;
  ports->telephony = telephony;
  ports->httpSession = http;
  moduleClasses = std::make_shared<ModuleClassRegistry>();
  ports->moduleClasses = moduleClasses;
  userNotifications = std::make_shared<SettableUserNotifications>();
  ports->userNotifications = userNotifications;
  previous_ = Platform::current();
  Platform::install(ports);
  CorvaneSDKLog::setDebug(options.debugLog);
}

TestPorts::~TestPorts() {
  CorvaneSDKLog::setDebug(previousDebug_);
  Platform::install(previous_);
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace Testing
}  // namespace Mobile
}  // namespace CorvaneSDK
