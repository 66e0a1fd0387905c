// Debug and always-on lines through the platform's log sink.
#include "CorvaneSDKLog.h"

#include <atomic>

#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

namespace {
std::atomic<bool> gDebug{false};
}

void CorvaneSDKLog::setDebug(bool on) { gDebug = on; }
bool CorvaneSDKLog::isDebug() { return gDebug.load(); }

void CorvaneSDKLog::debug(const std::string& line) {
  if (gDebug) always(line);
}

void CorvaneSDKLog::always(const std::string& line) {
  try {
    auto ports = Platform::current();
    if (ports && ports->log) ports->log->writeLine(line);
  } catch (...) {
    // A failing sink never reaches the caller.
  }
}

std::string CorvaneSDKLog::describeData(const std::string& bytes) {
  static const char* hex = "0123456789abcdef";
  std::string out = "{length = " + std::to_string(bytes.size()) + ", bytes = 0x";
  const size_t shown = bytes.size() < 32 ? bytes.size() : 32;
  for (size_t i = 0; i < shown; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  if (shown < bytes.size()) out += " ... ";
  return out + "}";
}

}  // namespace Mobile
}  // namespace CorvaneSDK
