// Base64, SHA-256 and HMAC-SHA256 against the published vectors (RFC 4648, FIPS 180-2
// examples, RFC 4231), plus strict decoding of malformed base64.
#include "Crypto.h"

#include <gtest/gtest.h>

#include <string>

namespace CorvaneSDK {
namespace {

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

TEST(Crypto, Base64Rfc4648Vectors) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& v : vectors) {
    EXPECT_EQ(Base64Encode(v.first), v.second) << v.first;
    std::string decoded = "stale";
    EXPECT_TRUE(Base64Decode(v.second, decoded)) << v.second;
    EXPECT_EQ(decoded, v.first);
  }
  EXPECT_EQ(Base64Encode("a:b"), "YTpi");
}

TEST(Crypto, Base64UsesBothHighAlphabetCharacters) {
  const std::string bytes("\xfb\xff\xbf", 3);
  EXPECT_EQ(Base64Encode(bytes), "+/+/");
  EXPECT_EQ(Base64UrlEncode(bytes), "-_-_");
  std::string back;
  ASSERT_TRUE(Base64UrlDecode("-_-_", back));
  EXPECT_EQ(back, bytes);
}

TEST(Crypto, Base64UrlHasNoPadding) {
  EXPECT_EQ(Base64UrlEncode("f"), "Zg");
  EXPECT_EQ(Base64UrlEncode("fo"), "Zm8");
  EXPECT_EQ(Base64UrlEncode("foo"), "Zm9v");
  EXPECT_EQ(Base64UrlEncode(R"({"alg":"HS256","typ":"JWT"})"),
            "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9");
}

TEST(Crypto, Base64RoundTripsEveryByteValueAndLength) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (size_t len = 0; len <= all.size(); len += 37) {
    const std::string part = all.substr(0, len);
    std::string a, b;
    ASSERT_TRUE(Base64Decode(Base64Encode(part), a));
    ASSERT_TRUE(Base64UrlDecode(Base64UrlEncode(part), b));
    EXPECT_EQ(a, part);
    EXPECT_EQ(b, part);
  }
}

TEST(Crypto, Base64DecodeRefusesMalformedText) {
  const char* bad[] = {
      "Zg",        // padding missing
      "Zg=",       // padding short
      "Z===",      // one digit cannot make a byte
      "Zm9v=",     // length not a multiple of four
      "Zh==",      // unused bits not zero
      "Zm 9",      // space
      "Zm9-",      // URL alphabet in the standard form
      "====",      // padding only
      "Zg==Zg==",  // padding in the middle
  };
  for (const char* text : bad) {
    std::string out = "stale";
    EXPECT_FALSE(Base64Decode(text, out)) << text;
    EXPECT_TRUE(out.empty()) << text;
  }
  std::string out;
  EXPECT_FALSE(Base64UrlDecode("Zg==", out));
  EXPECT_FALSE(Base64UrlDecode("Z", out));
  EXPECT_FALSE(Base64UrlDecode("+/", out));
  EXPECT_FALSE(Base64Decode(std::string("Zm\0v", 4), out));
}

TEST(Crypto, Sha256Fips180Vectors) {
  EXPECT_EQ(ToHex(Sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(ToHex(Sha256("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(ToHex(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(ToHex(Sha256(std::string(1000000, 'a'))),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Crypto, Sha256PaddingBoundaries) {
  // 55, 56 and 64 bytes put the length field in the same block, the next block, and after
  // a full block; digests from the OpenSSL command line.
  EXPECT_EQ(ToHex(Sha256(std::string(55, 'a'))),
            "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
  EXPECT_EQ(ToHex(Sha256(std::string(56, 'a'))),
            "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
  EXPECT_EQ(ToHex(Sha256(std::string(64, 'a'))),
            "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

struct HmacVector {
  std::string key;
  std::string data;
  std::string macHex;
};

TEST(Crypto, HmacSha256Rfc4231Vectors) {
  const std::string bigKey(131, '\xaa');
  const HmacVector vectors[] = {
      // 1
      {std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      // 2
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      // 3
      {std::string(20, '\xaa'), std::string(50, '\xdd'),
       "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
      // 4
      {FromHex("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'),
       "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
      // 6
      {bigKey, "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      // 7
      {bigKey,
       "This is a test using a larger than block-size key and a larger than block-size data. "
       "The key needs to be hashed before being used by the HMAC algorithm.",
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
  };
  for (const auto& v : vectors) EXPECT_EQ(ToHex(HmacSha256(v.key, v.data)), v.macHex);

  // 5: the published MAC is truncated to its first 128 bits.
  const std::string mac = HmacSha256(std::string(20, '\x0c'), "Test With Truncation");
  ASSERT_EQ(mac.size(), 32u);
  EXPECT_EQ(ToHex(mac.substr(0, 16)), "a3b6167473100ee06e0c796c2955552b");
}

TEST(Crypto, HmacKeyOfExactlyOneBlockIsNotHashed) {
  // A 64-byte key is used as it is (MAC from the OpenSSL command line); one byte more and
  // the key is hashed first.
  EXPECT_EQ(ToHex(HmacSha256(std::string(64, 'k'), "data")),
            "93244b031118b8060c6619e5900fcf916faefb2d8d020fecb22ae0f62275db08");
  EXPECT_EQ(HmacSha256(std::string(65, 'k'), "data"),
            HmacSha256(Sha256(std::string(65, 'k')), "data"));
}

TEST(Crypto, ToHex) {
  EXPECT_EQ(ToHex(""), "");
  EXPECT_EQ(ToHex(std::string("\x00\x0f\xf0\xff", 4)), "000ff0ff");
}

}  // namespace
}  // namespace CorvaneSDK
