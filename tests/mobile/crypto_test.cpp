// The crypto port against published vectors (RFC 6070, NIST SP 800-38A F.2.5) and the
// storage encryptor's two blob forms and failure lines.
#include <gtest/gtest.h>

#include "CorvaneSDKCrypto.h"
#include "MobileTestSupport.h"

namespace CorvaneSDK {
namespace Mobile {
namespace {

std::string unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string tohex(const std::string& bytes) {
  static const char* h = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += h[c >> 4];
    out += h[c & 15];
  }
  return out;
}

TEST(MobileCryptoPrimitives, Pbkdf2HmacSha1MatchesRfc6070) {
  OpenSslCrypto crypto;
  struct Vector {
    std::string password, salt;
    unsigned rounds;
    size_t length;
    const char* expected;
  } vectors[] = {
      {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16, "56fa6aa75548099dcc37d7f03425e0c3"},
  };
  for (const auto& v : vectors) {
    std::string out;
    ASSERT_EQ(crypto.pbkdf2HmacSha1(v.password, v.salt, v.rounds, v.length, out), 0);
    EXPECT_EQ(tohex(out), v.expected) << v.rounds << " rounds";
  }
}

TEST(MobileCryptoPrimitives, Aes256CbcMatchesNistSp80038aF25WithOnePaddingBlock) {
  OpenSslCrypto crypto;
  const std::string key = unhex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const std::string iv = unhex("000102030405060708090a0b0c0d0e0f");
  const std::string plain = unhex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const std::string cipher =
      "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
      "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b";
  std::string out;
  ASSERT_EQ(crypto.aes256Cbc(true, key, iv, plain, out), 0);
  ASSERT_EQ(out.size(), 80u);  // PKCS#7 adds a whole block to block-aligned input
  EXPECT_EQ(tohex(out.substr(0, 64)), cipher);
  std::string back;
  ASSERT_EQ(crypto.aes256Cbc(false, key, iv, out, back), 0);
  EXPECT_EQ(back, plain);
  std::string refused;
  EXPECT_EQ(crypto.aes256Cbc(true, key.substr(1), iv, plain, refused), kCryptoParamError);
  EXPECT_EQ(crypto.aes256Cbc(false, key, iv, out.substr(1), refused), kCryptoAlignmentError);
  EXPECT_TRUE(refused.empty());
}

TEST(MobileCryptoPrimitives, RandomBytesDiffer) {
  OpenSslCrypto crypto;
  std::string a, b;
  ASSERT_EQ(crypto.randomBytes(32, a), 0);
  ASSERT_EQ(crypto.randomBytes(32, b), 0);
  EXPECT_EQ(a.size(), 32u);
  EXPECT_NE(a, b);
}

class MobileAES256Crypto : public ::testing::Test {
 protected:
  Testing::TestPorts ports_{Testing::TestPortsOptions{true}};
  const std::string salt_ = "8bytes!!";
  const std::string iv_ = "sixteen byte iv.";
};

TEST_F(MobileAES256Crypto, RawFormSizesAndByteForByteCipherText) {
  auto crypto = CorvaneSDKAES256Crypto::initWithPassword("secret", salt_, iv_);
  EXPECT_FALSE(crypto->writesHeader());
  auto empty = crypto->encrypt("");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->size(), 16u);
  auto block = crypto->encrypt(std::string(16, 'x'));
  ASSERT_TRUE(block);
  EXPECT_EQ(block->size(), 32u);
  // The raw form is exactly AES-256-CBC over PBKDF2(password, salt, 10000): existing data reads.
  OpenSslCrypto openssl;
  std::string key, expected;
  ASSERT_EQ(openssl.pbkdf2HmacSha1("secret", salt_, 10000, 32, key), 0);
  ASSERT_EQ(openssl.aes256Cbc(true, key, iv_, "queue bytes", expected), 0);
  EXPECT_EQ(*crypto->encrypt("queue bytes"), expected);
  EXPECT_EQ(*crypto->aesKey(), key);
  auto other = CorvaneSDKAES256Crypto::initWithPassword("secret", salt_, iv_);
  EXPECT_EQ(*other->decrypt(expected), "queue bytes");
}

TEST_F(MobileAES256Crypto, PasswordOnlyBlobsAreReadByTheNextLaunch) {
  // Each launch makes its encryptor from the password again, with a new random salt and IV.
  auto firstLaunch = CorvaneSDKAES256Crypto::initWithPassword("app password");
  auto blob = firstLaunch->encrypt("[{\"eventName\":\"qvsdk_open\"}]");
  ASSERT_TRUE(blob);
  EXPECT_EQ(blob->compare(0, 4, "CVNE"), 0);
  EXPECT_EQ(static_cast<unsigned char>((*blob)[4]), 1);
  EXPECT_EQ(blob->substr(5, 8), firstLaunch->salt());
  auto nextLaunch = CorvaneSDKAES256Crypto::initWithPassword("app password");
  EXPECT_NE(nextLaunch->salt(), firstLaunch->salt());
  auto read = nextLaunch->decrypt(*blob);
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, "[{\"eventName\":\"qvsdk_open\"}]");
  auto wrongPassword = CorvaneSDKAES256Crypto::initWithPassword("other password");
  auto wrong = wrongPassword->decrypt(*blob);
  EXPECT_TRUE(!wrong || *wrong != *read);
}

TEST_F(MobileAES256Crypto, PasswordOnlyBlobsTakeAFreshIVEachTime) {
  auto crypto = CorvaneSDKAES256Crypto::initWithPassword("pw");
  auto a = crypto->encrypt("same text");
  auto b = crypto->encrypt("same text");
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->substr(13, 16), b->substr(13, 16));
  EXPECT_NE(*a, *b);
  EXPECT_EQ(a->size(), CorvaneSDKAES256Crypto::kHeaderLength + 16);
  // The object's own raw blobs (its salt and IV) still read.
  OpenSslCrypto openssl;
  std::string key, raw;
  ASSERT_EQ(openssl.pbkdf2HmacSha1("pw", crypto->salt(), 10000, 32, key), 0);
  ASSERT_EQ(openssl.aes256Cbc(true, key, crypto->iv(), "older blob", raw), 0);
  EXPECT_EQ(*crypto->decrypt(raw), "older blob");
}

TEST_F(MobileAES256Crypto, BlobsOfTheWrongLengthFailWithTheirLine) {
  auto crypto = CorvaneSDKAES256Crypto::initWithPassword("secret", salt_, iv_);
  auto blob = crypto->encrypt("hello");
  EXPECT_FALSE(crypto->decrypt(blob->substr(0, 15)));
  EXPECT_TRUE(ports_.log->contains("Unable to decrypt data"));
  ports_.log->clear();
  auto passwordOnly = CorvaneSDKAES256Crypto::initWithPassword("secret");
  EXPECT_FALSE(passwordOnly->decrypt(std::string("CVNE\x01", 5) + std::string(7, 'x')));
  EXPECT_TRUE(ports_.log->contains("Unable to decrypt data"));
}

TEST_F(MobileAES256Crypto, RandomAndKeyFailuresLogTheirStatusAndEncryptNothing) {
  ports_.counting->failRandom = true;
  EXPECT_FALSE(CorvaneSDKAES256Crypto::randomDataOfLength(16));
  EXPECT_TRUE(ports_.log->contains("Unable to generate random bytes: -1"));
  auto crypto = CorvaneSDKAES256Crypto::initWithPassword("pw");  // no salt, no IV
  EXPECT_FALSE(crypto->encrypt("x"));
  EXPECT_TRUE(ports_.log->contains("Unable to encrypt data"));
  ports_.counting->failRandom = false;
  ports_.counting->failKeyDerivation = true;
  auto raw = CorvaneSDKAES256Crypto::initWithPassword("pw", salt_, iv_);
  EXPECT_FALSE(raw->aesKey());
  EXPECT_TRUE(ports_.log->contains("Unable to create AES key for password: -4300"));
  EXPECT_FALSE(raw->encrypt("x"));
  EXPECT_FALSE(raw->decrypt(std::string(16, 'x')));
}

TEST_F(MobileAES256Crypto, BadIVLengthFailsInsteadOfReadingPastIt) {
  auto crypto = CorvaneSDKAES256Crypto::initWithPassword("pw", salt_, "short");
  EXPECT_FALSE(crypto->encrypt("x"));
  EXPECT_TRUE(ports_.log->contains("Unable to encrypt data"));
}

}  // namespace
}  // namespace Mobile
}  // namespace CorvaneSDK
