// The one random source of the SDK (UUID digits) and the UUID text form.
// Thread-safe: the bits come from the environment (Env.h), the system's per-thread engines
// unless a test hands in its own source.
#pragma once

#include <cstdint>
#include <string>

namespace CorvaneSDK {

class Env;

// 64 uniformly random bits of the default environment.
uint64_t RandomBits();

// Version-4 UUID text: 8-4-4-4-12 lower-case hex digits, third group starting with "4",
// fourth group's first digit one of 8, 9, a, b.
std::string NewUuid();
// The same from `env`'s random bits.
std::string NewUuid(Env& env);

}  // namespace CorvaneSDK
