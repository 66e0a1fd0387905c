// The portable ports the mobile benchmarks run on: a fresh folder in the temp directory,
// logging silenced, a fixed bundle id. Installed once per program.
#pragma once

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {
namespace Bench {

class SilentLog : public LogSink {
 public:
  void writeLine(const std::string&) override {}
};

// The folder `corvane-bench-<tag>-<random>` with the ports installed on it.
inline const std::string& Root(const std::string& tag) {
  static const std::string dir = [&tag] {
    namespace fs = std::filesystem;
    fs::path p = fs::temp_directory_path() / ("corvane-bench-" + tag + "-" + std::to_string(std::random_device{}()));
    fs::create_directories(p);
    auto ports = std::make_shared<Ports>(Platform::portable(p.string()));
    ports->log = std::make_shared<SilentLog>();
    auto device = std::make_shared<LinuxDevice>();
    device->setBundle(BundleRecord{"com.corvane.bench", std::nullopt, ""});
    ports->device = device;
    Platform::install(ports);
    return p.string();
  }();
  return dir;
}

}  // namespace Bench
}  // namespace Mobile
}  // namespace CorvaneSDK
