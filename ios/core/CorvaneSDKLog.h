// The framework's log: debug lines print only while the debug switch is on (configuration
// `debug`); a few lines print always. Both go to the platform's log sink. Thread-safe.
#pragma once

#include <string>

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKLog {
 public:
  static void setDebug(bool on);
  static bool isDebug();
  static void debug(const std::string& line);
  static void always(const std::string& line);
  // "{length = N, bytes = 0x0011...}" of at most the first 32 bytes, for lines about data.
  static std::string describeData(const std::string& bytes);
};

}  // namespace Mobile
}  // namespace CorvaneSDK
