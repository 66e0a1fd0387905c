// Encryption of stored values: the interface the storages accept, and the framework's
// AES-256-CBC implementation.
//
// CorvaneSDKAES256Crypto writes one of two blob forms:
// - Made with an explicit salt and IV (initWithPassword:salt:iv:): the raw cipher text only,
//   AES-256-CBC with PKCS#7 padding, key = PBKDF2-HMAC-SHA1(password, salt, 10000 rounds,
//   32 bytes), IV as given. Whole 16-byte blocks, at most 16 bytes longer than the plain text.
//   Reading needs the same password, salt and IV.
// - Made with a password only (initWithPassword:): a header, then the cipher text:
//     "CVNE" (4 bytes) | version 1 (1 byte) | salt (8 bytes) | IV (16 bytes) | cipher text
//   The salt is the object's own (drawn once); the IV is drawn fresh for every blob. Any
//   object made with the same password reads it, so what one launch writes the next reads.
//   Such an object also reads a raw blob made with its own salt and IV.
// Thread-safe: every field is set at construction and never changed.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKCrypto {
 public:
  virtual ~CorvaneSDKCrypto() = default;
  // None on failure, with a debug line; never throws.
  virtual std::optional<std::string> encrypt(const std::string& data) = 0;
  virtual std::optional<std::string> decrypt(const std::string& data) = 0;
};

class CorvaneSDKAES256Crypto : public CorvaneSDKCrypto {
 public:
  static constexpr const char* kErrorDomain = "com.corvane.sdk.crypto";
  static constexpr unsigned kRounds = 10000;
  static constexpr size_t kSaltLength = 8;
  static constexpr size_t kIVLength = 16;
  static constexpr size_t kKeyLength = 32;
  static constexpr char kMagic[5] = "CVNE";
  static constexpr unsigned char kVersion = 1;
  static constexpr size_t kHeaderLength = 4 + 1 + kSaltLength + kIVLength;

  // A random 8-byte salt and 16-byte IV; blobs in the header form.
  static std::shared_ptr<CorvaneSDKAES256Crypto> initWithPassword(const std::string& password);
  // Blobs in the raw form.
  static std::shared_ptr<CorvaneSDKAES256Crypto> initWithPassword(const std::string& password, const std::string& salt,
                                                                  const std::string& iv);

  const std::string& password() const { return password_; }
  const std::string& salt() const { return salt_; }
  const std::string& iv() const { return iv_; }
  bool writesHeader() const { return header_; }
  // Derived anew on each call; none on failure.
  std::optional<std::string> aesKey() const;

  std::optional<std::string> encrypt(const std::string& data) override;
  std::optional<std::string> decrypt(const std::string& data) override;

  static std::optional<std::string> randomDataOfLength(size_t length);
  static std::optional<std::string> AESKeyForPassword(const std::string& password, const std::string& salt);

  CorvaneSDKAES256Crypto(std::string password, std::string salt, std::string iv, bool header);

 private:
  std::optional<std::string> run(bool encrypt, const std::string& key, const std::string& iv, const std::string& in) const;
  std::string password_;
  std::string salt_;
  std::string iv_;
  bool header_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
