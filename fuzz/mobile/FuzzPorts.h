// The port set of the mobile fuzz targets: portable ports with files under a private folder
// (in memory when /dev/shm exists) and a log sink that drops every line.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "CorvaneSDKLog.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {
namespace Fuzz {

class SilentLog : public LogSink {
 public:
  void writeLine(const std::string&) override {}
};

inline void require(bool condition) {
  if (!condition) std::abort();
}

// Installs the ports once and answers the private root folder.
inline const std::string& installFuzzPorts(const char* name) {
  static const std::string root = [name] {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path dir = base / (std::string("corvane-fuzz-") + name + "-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir, ec);
    auto ports = std::make_shared<Ports>(Platform::portable(dir.string()));
    ports->log = std::make_shared<SilentLog>();
    auto device = std::make_shared<LinuxDevice>();
    device->setBundle(BundleRecord{"com.corvane.fuzz", std::nullopt, ""});
    ports->device = device;
    Platform::install(ports);
    CorvaneSDKLog::setDebug(true);  // every log line is built, then dropped
    // Never freed: the exit handler runs after the static below is destroyed.
    static const std::string* folder = new std::string(dir.string());
    std::atexit([] {
      std::error_code e;
      std::filesystem::remove_all(*folder, e);
    });
    return dir.string();
  }();
  return root;
}

}  // namespace Fuzz
}  // namespace Mobile
}  // namespace CorvaneSDK
