// The one random source of the SDK (UUID digits) and the UUID text form.
// Thread-safe: each thread draws from its own engine unless a test source is installed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace CorvaneSDK {

// 64 uniformly random bits.
uint64_t RandomBits();

// Version-4 UUID text: 8-4-4-4-12 lower-case hex digits, third group starting with "4",
// fourth group's first digit one of 8, 9, a, b.
std::string NewUuid();

// Replaces the random source (tests); an empty function restores the default. Call only
// while no SDK thread draws numbers.
void SetRandomSource(std::function<uint64_t()> source);

}  // namespace CorvaneSDK
