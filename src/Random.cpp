// Random bits from a per-thread engine seeded from the OS, and the UUID text form.
#include "Random.h"

#include <random>

namespace CorvaneSDK {
namespace {
std::function<uint64_t()>& TestSource() {
  static std::function<uint64_t()>* source = new std::function<uint64_t()>();
  return *source;
}
}  // namespace

uint64_t RandomBits() {
  if (TestSource()) return TestSource()();
  thread_local std::mt19937_64 engine([] {
    std::random_device device;
    std::seed_seq seq{device(), device(), device(), device()};
    return std::mt19937_64(seq);
  }());
  return engine();
}

std::string NewUuid() {
  static const char kHex[] = "0123456789abcdef";
  uint64_t a = RandomBits();
  uint64_t b = RandomBits();
  char out[36];
  int bitsUsedA = 0;
  int bitsUsedB = 0;
  auto nibble = [&]() -> int {
    if (bitsUsedA < 64) {
      int v = static_cast<int>((a >> bitsUsedA) & 0xF);
      bitsUsedA += 4;
      return v;
    }
    int v = static_cast<int>((b >> bitsUsedB) & 0xF);
    bitsUsedB += 4;
    return v;
  };
  for (int i = 0; i < 36; ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      out[i] = '-';
    } else if (i == 14) {
      out[i] = '4';
    } else if (i == 19) {
      out[i] = kHex[8 + (nibble() & 3)];
    } else {
      out[i] = kHex[nibble()];
    }
  }
  return std::string(out, 36);
}

void SetRandomSource(std::function<uint64_t()> source) { TestSource() = std::move(source); }

}  // namespace CorvaneSDK
