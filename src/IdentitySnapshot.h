// The identity values an upload and a remote config request carry, copied as one value at
// the moment of use, and the interface that hands them out (the manager; tests use a
// fixed one). Implementations are thread-safe.
#pragma once

#include <string>

namespace CorvaneSDK {

struct IdentitySnapshot {
  std::string userId, bundleId, appVersion, appBuildNumber, platform, wrapper, wrapperVersion;
};

class IdentitySource {
 public:
  virtual IdentitySnapshot Snapshot() const = 0;

 protected:
  ~IdentitySource() = default;
};

}  // namespace CorvaneSDK
