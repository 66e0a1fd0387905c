// UUID text form over the environment's random bits.
#include "Random.h"

#include "Env.h"

namespace CorvaneSDK {

uint64_t RandomBits() { return Env::Default().RandomBits(); }

std::string NewUuid() { return NewUuid(Env::Default()); }

std::string NewUuid(Env& env) {
  static const char kHex[] = "0123456789abcdef";
  uint64_t a = env.RandomBits();
  uint64_t b = env.RandomBits();
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

}  // namespace CorvaneSDK
