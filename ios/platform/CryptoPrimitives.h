// The crypto port: AES-256-CBC with PKCS#7 padding, PBKDF2-HMAC-SHA1 and cryptographic random
// bytes. OpenSslCrypto uses libcrypto; CountingRandomCrypto is the double (the same cipher and
// key derivation, predictable random bytes, failures on demand). Status 0 is success; the
// failures use the platform's status numbers (kCCParamError -4300, kCCAlignmentError -4303,
// kCCDecodeError -4304, a random-source failure -1). Thread-safe.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace CorvaneSDK {
namespace Mobile {

constexpr int kCryptoParamError = -4300;
constexpr int kCryptoAlignmentError = -4303;
constexpr int kCryptoDecodeError = -4304;
constexpr int kCryptoRandomError = -1;

class CryptoPrimitives {
 public:
  virtual ~CryptoPrimitives() = default;
  virtual int randomBytes(size_t length, std::string& out) = 0;
  virtual int pbkdf2HmacSha1(const std::string& password, const std::string& salt, unsigned rounds,
                             size_t length, std::string& out) = 0;
  // `key` 32 bytes, `iv` 16 bytes, else kCryptoParamError.
  virtual int aes256Cbc(bool encrypt, const std::string& key, const std::string& iv,
                        const std::string& in, std::string& out) = 0;
  // HMAC-SHA256 of `data` (CCHmac on Apple); the base answers kCryptoParamError.
  virtual int hmacSha256(const std::string& key, const std::string& data, std::string& out);
};

class OpenSslCrypto : public CryptoPrimitives {
 public:
  int randomBytes(size_t length, std::string& out) override;
  int pbkdf2HmacSha1(const std::string& password, const std::string& salt, unsigned rounds,
                     size_t length, std::string& out) override;
  int aes256Cbc(bool encrypt, const std::string& key, const std::string& iv, const std::string& in,
                std::string& out) override;
  int hmacSha256(const std::string& key, const std::string& data, std::string& out) override;
};

class CountingRandomCrypto : public OpenSslCrypto {
 public:
  // Each call fills its bytes with a counter that starts at `seed` and goes on across calls.
  int randomBytes(size_t length, std::string& out) override;
  int pbkdf2HmacSha1(const std::string& password, const std::string& salt, unsigned rounds, size_t length,
                     std::string& out) override;
  std::atomic<unsigned> seed{1};
  std::atomic<bool> failRandom{false};
  std::atomic<bool> failKeyDerivation{false};
  std::atomic<int> randomCalls{0};
};

}  // namespace Mobile
}  // namespace CorvaneSDK
