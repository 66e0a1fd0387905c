// OpenSSL libcrypto behind the crypto port.
#include "CryptoPrimitives.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>

namespace CorvaneSDK {
namespace Mobile {

int CryptoPrimitives::hmacSha256(const std::string&, const std::string&, std::string& out) {
  out.clear();
  return kCryptoParamError;
}

int OpenSslCrypto::hmacSha256(const std::string& key, const std::string& data, std::string& out) {
  out.assign(EVP_MAX_MD_SIZE, '\0');
  unsigned int length = 0;
  if (key.size() > INT_MAX ||
      HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
           data.size(), reinterpret_cast<unsigned char*>(&out[0]), &length) == nullptr) {
    out.clear();
    return kCryptoParamError;
  }
  out.resize(length);
  return 0;
}

int OpenSslCrypto::randomBytes(size_t length, std::string& out) {
  out.assign(length, '\0');
  if (length == 0) return 0;
  if (length > INT_MAX || RAND_bytes(reinterpret_cast<unsigned char*>(&out[0]), static_cast<int>(length)) != 1) {
    out.clear();
    return kCryptoRandomError;
  }
  return 0;
}

int OpenSslCrypto::pbkdf2HmacSha1(const std::string& password, const std::string& salt, unsigned rounds,
                                  size_t length, std::string& out) {
  out.assign(length, '\0');
  if (rounds == 0 || length == 0 || length > INT_MAX || password.size() > INT_MAX || salt.size() > INT_MAX ||
      rounds > INT_MAX) {
    out.clear();
    return kCryptoParamError;
  }
  if (PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()),
                             reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                             static_cast<int>(rounds), static_cast<int>(length),
                             reinterpret_cast<unsigned char*>(&out[0])) != 1) {
    out.clear();
    return kCryptoParamError;
  }
  return 0;
}

int OpenSslCrypto::aes256Cbc(bool encrypt, const std::string& key, const std::string& iv, const std::string& in,
                             std::string& out) {
  out.clear();
  if (key.size() != 32 || iv.size() != 16 || in.size() > static_cast<size_t>(INT_MAX) - 32) return kCryptoParamError;
  if (!encrypt && in.size() % 16 != 0) return kCryptoAlignmentError;
  std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  if (!ctx) return kCryptoParamError;
  const auto* k = reinterpret_cast<const unsigned char*>(key.data());
  const auto* v = reinterpret_cast<const unsigned char*>(iv.data());
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, k, v, encrypt ? 1 : 0) != 1) return kCryptoParamError;
  std::string buffer(in.size() + 16, '\0');
  int produced = 0, last = 0;
  auto* o = reinterpret_cast<unsigned char*>(&buffer[0]);
  if (EVP_CipherUpdate(ctx.get(), o, &produced, reinterpret_cast<const unsigned char*>(in.data()),
                       static_cast<int>(in.size())) != 1) {
    return encrypt ? kCryptoParamError : kCryptoDecodeError;
  }
  if (EVP_CipherFinal_ex(ctx.get(), o + produced, &last) != 1) {
    return encrypt ? kCryptoParamError : kCryptoDecodeError;
  }
  buffer.resize(static_cast<size_t>(produced + last));
  out = std::move(buffer);
  return 0;
}

int CountingRandomCrypto::randomBytes(size_t length, std::string& out) {
  ++randomCalls;
  out.clear();
  if (failRandom) return kCryptoRandomError;
  for (size_t i = 0; i < length; ++i) out.push_back(static_cast<char>(seed++ & 0xff));
  return 0;
}

int CountingRandomCrypto::pbkdf2HmacSha1(const std::string& password, const std::string& salt, unsigned rounds,
                                         size_t length, std::string& out) {
  if (failKeyDerivation) {
    out.clear();
    return kCryptoParamError;
  }
  return OpenSslCrypto::pbkdf2HmacSha1(password, salt, rounds, length, out);
}

}  // namespace Mobile
}  // namespace CorvaneSDK
