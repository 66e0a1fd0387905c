// Base64 (RFC 4648), SHA-256 (FIPS 180-4) and HMAC-SHA256 (RFC 2104), checked in the tests
// against the published vectors. Not constant-time: they sign request tokens, they do not
// verify secrets.
#include "Crypto.h"

#include <cstdint>
#include <cstring>

namespace CorvaneSDK {

namespace {

const char kStdAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kUrlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string Encode(const std::string& bytes, const char* alphabet, bool pad) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest == 1) {
    const uint32_t v = uint32_t{p[i]} << 16;
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    if (pad) out += "==";
  } else if (rest == 2) {
    const uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    if (pad) out += '=';
  }
  return out;
}

int DigitValue(char c, bool url) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == (url ? '-' : '+')) return 62;
  if (c == (url ? '_' : '/')) return 63;
  return -1;
}

// Decodes `count` digits (no padding); rejects a final group whose unused bits are not zero,
// so every accepted text is the one the encoder would produce.
bool DecodeDigits(const char* text, size_t count, bool url, std::string& out) {
  if (count % 4 == 1) return false;
  out.reserve(count / 4 * 3 + 2);
  uint32_t acc = 0;
  int bits = 0;
  for (size_t i = 0; i < count; ++i) {
    const int v = DigitValue(text[i], url);
    if (v < 0) return false;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return (acc & ((1u << bits) - 1)) == 0;
}

// SHA-256 state over a stream of bytes.
class Sha256Context {
 public:
  Sha256Context() {
    static const uint32_t kInit[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(h_, kInit, sizeof(h_));
  }

  void Update(const unsigned char* data, size_t size) {
    total_ += size;
    if (used_ > 0) {
      const size_t take = size < 64 - used_ ? size : 64 - used_;
      std::memcpy(block_ + used_, data, take);
      used_ += take;
      data += take;
      size -= take;
      if (used_ < 64) return;
      Compress(block_);
      used_ = 0;
    }
    for (; size >= 64; data += 64, size -= 64) Compress(data);
    if (size > 0) {
      std::memcpy(block_, data, size);
      used_ = size;
    }
  }
  void Update(const std::string& s) {
    Update(reinterpret_cast<const unsigned char*>(s.data()), s.size());
  }

  std::string Final() {
    const uint64_t bitLength = total_ * 8;
    unsigned char tail[72] = {0x80};
    const size_t padLength = (used_ < 56) ? 56 - used_ : 120 - used_;
    for (int i = 0; i < 8; ++i) {
      tail[padLength + i] = static_cast<unsigned char>(bitLength >> (56 - 8 * i));
    }
    Update(tail, padLength + 8);
    std::string digest(32, '\0');
    for (int i = 0; i < 8; ++i) {
      for (int j = 0; j < 4; ++j) {
        digest[4 * i + j] = static_cast<char>((h_[i] >> (24 - 8 * j)) & 0xFF);
      }
    }
    return digest;
  }

 private:
  static uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

  void Compress(const unsigned char* p) {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      w[i] = (uint32_t{p[4 * i]} << 24) | (uint32_t{p[4 * i + 1]} << 16) |
             (uint32_t{p[4 * i + 2]} << 8) | uint32_t{p[4 * i + 3]};
    }
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3];
    uint32_t e = h_[4], f = h_[5], g = h_[6], h = h_[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t s1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
      const uint32_t ch = (e & f) ^ (~e & g);
      const uint32_t t1 = h + s1 + ch + k[i] + w[i];
      const uint32_t s0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
      const uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
      const uint32_t t2 = s0 + maj;
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h_[0] += a;
    h_[1] += b;
    h_[2] += c;
    h_[3] += d;
    h_[4] += e;
    h_[5] += f;
    h_[6] += g;
    h_[7] += h;
  }

  uint32_t h_[8];
  unsigned char block_[64];
  size_t used_ = 0;
  uint64_t total_ = 0;
};

}  // namespace

std::string Base64Encode(const std::string& bytes) {
  return Encode(bytes, kStdAlphabet, true);
}

std::string Base64UrlEncode(const std::string& bytes) {
  return Encode(bytes, kUrlAlphabet, false);
}

bool Base64Decode(const std::string& text, std::string& out) {
  out.clear();
  if (text.size() % 4 != 0) return false;
  size_t digits = text.size();
  if (digits > 0 && text[digits - 1] == '=') --digits;
  if (digits > 0 && text[digits - 1] == '=') --digits;
  // Padding is exactly what completes the last group: "x===" or "xy=" forms are refused.
  if (text.size() - digits != (4 - digits % 4) % 4) return false;
  if (!DecodeDigits(text.data(), digits, false, out)) {
    out.clear();
    return false;
  }
  return true;
}

bool Base64UrlDecode(const std::string& text, std::string& out) {
  out.clear();
  if (!DecodeDigits(text.data(), text.size(), true, out)) {
    out.clear();
    return false;
  }
  return true;
}

std::string Sha256(const std::string& data) {
  Sha256Context ctx;
  ctx.Update(data);
  return ctx.Final();
}

std::string HmacSha256(const std::string& key, const std::string& data) {
  std::string block = key.size() > 64 ? Sha256(key) : key;
  block.resize(64, '\0');
  std::string inner(64, '\0');
  std::string outer(64, '\0');
  for (size_t i = 0; i < 64; ++i) {
    inner[i] = static_cast<char>(block[i] ^ 0x36);
    outer[i] = static_cast<char>(block[i] ^ 0x5c);
  }
  Sha256Context in;
  in.Update(inner);
  in.Update(data);
  Sha256Context out;
  out.Update(outer);
  out.Update(in.Final());
  return out.Final();
}

std::string ToHex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

}  // namespace CorvaneSDK
