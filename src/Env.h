// The environment seam, in the manner of leveldb's Env: the clock with its sleeps, random
// bits, the file system's fault injector, the network query and the log sink behind one
// interface. Classes that need them take an Env&; Env::Default() is the real system
// (SystemEnv.h) unless a test installed its double (tests/support/TestEnv.h). This header
// sits below every service it names: it only declares them.
#pragma once

#include <cstdint>
#include <string>

#include "Clock.h"

namespace CorvaneSDK {

class LogChannel;
enum class FileOp;  // FileIO.h
namespace Utils {
struct NetworkAddress;  // Utils.h
}  // namespace Utils

// Thread contract: every member is thread-safe and never throws, except that
// QueryNetworkAddress of a double may throw (callers catch).
class Env {
 public:
  virtual ~Env() = default;

  // Wall clock, monotonic clock and interruptible sleep.
  virtual Clock& GetClock() = 0;
  // 64 uniformly random bits.
  virtual uint64_t RandomBits() = 0;
  // The file system's fault injector: true makes `op` on `path` fail as if the OS had
  // refused it. FileIO asks before every operation (FileIO.h lists the mapping), never under
  // a lock of its own.
  virtual bool ShouldFailFileOp(FileOp op, const std::string& path) = 0;
  // The first usable network address with its adapter's hardware address.
  virtual Utils::NetworkAddress QueryNetworkAddress() = 0;
  // Where finished log lines go when the host has set no callback.
  virtual LogChannel& LogSink() = 0;

  // The process's environment: the system's unless SetDefault installed another. The SDK's
  // roots (the manager, the free helpers) take it from here and hand it down.
  static Env& Default();
  // Installs `env` as the default; null restores the system's. The caller keeps ownership
  // and keeps `env` alive while any SDK thread may still use it.
  static void SetDefault(Env* env);
};

// The default environment's clock (Env::Default().GetClock()), for code that has no Env
// of its own.
Clock& GetClock();

inline int64_t WallNowMs() { return GetClock().WallMs(); }
inline int64_t MonotonicNowMs() { return GetClock().MonotonicMs(); }

}  // namespace CorvaneSDK
