// An identity source over plain fields, for tests, benchmarks and fuzzers that need identity
// values without a manager. Set the fields before handing it out; reads are then safe from
// any thread.
#pragma once

#include <string>

#include "IdentitySnapshot.h"

namespace CorvaneSDK {
namespace Test {

struct FixedProperties : IdentitySource {
  std::string appId = "app", userId = "user-1", bundleId = "com.example.game",
              appVersion = "1.2.3", buildNumber = "42", wrapper, wrapperVersion,
              platform = "Linux";

  IdentitySnapshot Snapshot() const override {
    return IdentitySnapshot{userId, bundleId, appVersion, buildNumber, platform, wrapper,
                            wrapperVersion};
  }
  operator IdentitySnapshot() const { return Snapshot(); }
};

}  // namespace Test
}  // namespace CorvaneSDK
