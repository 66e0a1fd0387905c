// The real environment, above the services it wraps (clock, Utils, the console log channel).
#pragma once

#include "Env.h"

namespace CorvaneSDK {

// The real system: steady and system clocks, per-thread random engines seeded from the OS,
// no faults, the OS's adapters, standard output. One per process, never destroyed (threads
// may outlive static destructors).
class SystemEnv : public Env {
 public:
  static SystemEnv& Instance();

  Clock& GetClock() override;
  uint64_t RandomBits() override;
  bool ShouldFailFileOp(FileOp, const std::string&) override { return false; }
  Utils::NetworkAddress QueryNetworkAddress() override;
  LogChannel& LogSink() override;
};

}  // namespace CorvaneSDK
