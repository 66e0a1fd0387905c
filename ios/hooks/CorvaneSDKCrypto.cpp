// AES-256-CBC storage encryption through the crypto port.
#include "CorvaneSDKCrypto.h"

#include <cstring>

#include "CorvaneSDKLog.h"
#include "Platform.h"

namespace CorvaneSDK {
namespace Mobile {

constexpr char CorvaneSDKAES256Crypto::kMagic[5];

CorvaneSDKAES256Crypto::CorvaneSDKAES256Crypto(std::string password, std::string salt, std::string iv, bool header)
    : password_(std::move(password)), salt_(std::move(salt)), iv_(std::move(iv)), header_(header) {}

std::shared_ptr<CorvaneSDKAES256Crypto> CorvaneSDKAES256Crypto::initWithPassword(const std::string& password) {
  auto iv = randomDataOfLength(kIVLength);
  auto salt = randomDataOfLength(kSaltLength);
  // Without random bytes the object cannot encrypt (an empty IV fails every call) but stays safe.
  return std::make_shared<CorvaneSDKAES256Crypto>(password, salt.value_or(std::string()), iv.value_or(std::string()),
                                                  true);
}

std::shared_ptr<CorvaneSDKAES256Crypto> CorvaneSDKAES256Crypto::initWithPassword(const std::string& password,
                                                                                 const std::string& salt,
                                                                                 const std::string& iv) {
  return std::make_shared<CorvaneSDKAES256Crypto>(password, salt, iv, false);
}

std::optional<std::string> CorvaneSDKAES256Crypto::randomDataOfLength(size_t length) {
  std::string out;
  const int status = Platform::current()->crypto->randomBytes(length, out);
  if (status != 0) {
    CorvaneSDKLog::debug("Unable to generate random bytes: " + std::to_string(status));
    return std::nullopt;
  }
  return out;
}

std::optional<std::string> CorvaneSDKAES256Crypto::AESKeyForPassword(const std::string& password,
                                                                     const std::string& salt) {
  std::string key;
  const int status = Platform::current()->crypto->pbkdf2HmacSha1(password, salt, kRounds, kKeyLength, key);
  if (status != 0) {
    CorvaneSDKLog::debug("Unable to create AES key for password: " + std::to_string(status));
    return std::nullopt;
  }
  return key;
}

std::optional<std::string> CorvaneSDKAES256Crypto::aesKey() const { return AESKeyForPassword(password_, salt_); }

std::optional<std::string> CorvaneSDKAES256Crypto::run(bool encrypt, const std::string& key, const std::string& iv,
                                                       const std::string& in) const {
  std::string out;
  const int status = Platform::current()->crypto->aes256Cbc(encrypt, key, iv, in, out);
  if (status != 0) {
    // The error of domain kErrorDomain carries `status` as its code.
    CorvaneSDKLog::debug(encrypt ? "Unable to encrypt data" : "Unable to decrypt data");
    return std::nullopt;
  }
  return out;
}

std::optional<std::string> CorvaneSDKAES256Crypto::encrypt(const std::string& data) {
  try {
    if (!header_) {
      auto key = aesKey();
      if (!key) {
        CorvaneSDKLog::debug("Unable to encrypt data");
        return std::nullopt;
      }
      return run(true, *key, iv_, data);
    }
    auto iv = randomDataOfLength(kIVLength);
    auto key = aesKey();
    if (!iv || !key || salt_.size() != kSaltLength) {
      CorvaneSDKLog::debug("Unable to encrypt data");
      return std::nullopt;
    }
    auto body = run(true, *key, *iv, data);
    if (!body) return std::nullopt;
    std::string blob;
    blob.reserve(kHeaderLength + body->size());
    blob.append(kMagic, 4);
    blob.push_back(static_cast<char>(kVersion));
    blob += salt_;
    blob += *iv;
    blob += *body;
    return blob;
  } catch (...) {
    CorvaneSDKLog::debug("Unable to encrypt data");
    return std::nullopt;
  }
}

std::optional<std::string> CorvaneSDKAES256Crypto::decrypt(const std::string& data) {
  try {
    if (header_ && data.size() >= kHeaderLength + 16 && std::memcmp(data.data(), kMagic, 4) == 0 &&
        static_cast<unsigned char>(data[4]) == kVersion) {
      const std::string salt = data.substr(5, kSaltLength);
      const std::string iv = data.substr(5 + kSaltLength, kIVLength);
      auto key = salt == salt_ ? aesKey() : AESKeyForPassword(password_, salt);
      if (key) {
        std::string out;
        if (Platform::current()->crypto->aes256Cbc(false, *key, iv, data.substr(kHeaderLength), out) == 0) return out;
      }
      // Not ours after all (or damaged): the raw form below decides, and logs.
    }
    auto key = aesKey();
    if (!key) {
      CorvaneSDKLog::debug("Unable to decrypt data");
      return std::nullopt;
    }
    return run(false, *key, iv_, data);
  } catch (...) {
    CorvaneSDKLog::debug("Unable to decrypt data");
    return std::nullopt;
  }
}

}  // namespace Mobile
}  // namespace CorvaneSDK
