// Remote config token checks: the SDK's own token passes; forged, altered and stale ones
// are refused with the reason.
#include <gtest/gtest.h>

#include "Clock.h"
#include "Env.h"
#include "Crypto.h"
#include "Json.h"
#include "RemoteConfigSender.h"
#include "Token.h"
#include "Wire.h"

using namespace CorvaneSDK::Collector;
using CorvaneSDK::Base64UrlEncode;
using CorvaneSDK::DumpJson;
using CorvaneSDK::HmacSha256;
using CorvaneSDK::Json;

namespace {

const int64_t kNow = 1765000000;

std::string Sign(const Json& header, const Json& claims, const std::string& key) {
  const std::string signingInput =
      Base64UrlEncode(DumpJson(header)) + "." + Base64UrlEncode(DumpJson(claims));
  return signingInput + "." + Base64UrlEncode(HmacSha256(key, signingInput));
}

Json Header() {
  return Json{{"alg", "HS256"}, {"typ", "JWT"}};
}
Json Claims(int64_t iat = kNow - 5) {
  return Json{{"iat", iat},
              {"iss", "Quorvel"},
              {"jti", "f7c6a3c2-1d4e-4b7a-8f00-123456789abc"},
              {"sub", "com.example.game"}};
}

std::string Refusal(const std::string& token) {
  TokenClaims claims;
  std::string error;
  EXPECT_FALSE(VerifyToken(token, CorvaneSDK::TokenKey(), kNow, claims, error));
  return error;
}

}  // namespace

TEST(Token, AcceptsTheTokenTheSdkBuilds) {
  const std::string token = CorvaneSDK::RemoteConfigSender::BuildToken("com.example.game");
  TokenClaims claims;
  std::string error;
  ASSERT_TRUE(
      VerifyToken(token, CorvaneSDK::TokenKey(), CorvaneSDK::WallNowMs() / 1000, claims, error))
      << error;
  EXPECT_EQ(claims.subject, "com.example.game");
  EXPECT_EQ(claims.issuer, "Quorvel");
  EXPECT_EQ(claims.id.size(), 36u);
}

TEST(Token, AcceptsAHandMadeTokenAndReadsItsClaims) {
  TokenClaims claims;
  std::string error;
  ASSERT_TRUE(VerifyToken(Sign(Header(), Claims(), CorvaneSDK::TokenKey()), CorvaneSDK::TokenKey(),
                          kNow, claims, error))
      << error;
  EXPECT_EQ(claims.issuedAt, kNow - 5);
  EXPECT_EQ(claims.subject, "com.example.game");
}

TEST(Token, RefusesAnotherKeyOrAnAlteredPart) {
  EXPECT_EQ(Refusal(Sign(Header(), Claims(), "not-the-key")),
            "token signature does not match the SDK's key");

  // Claims swapped after signing: the signature no longer covers them.
  std::string token = Sign(Header(), Claims(), CorvaneSDK::TokenKey());
  Json other = Claims();
  other["sub"] = "com.attacker";
  const size_t a = token.find('.'), b = token.rfind('.');
  token = token.substr(0, a + 1) + Base64UrlEncode(DumpJson(other)) + token.substr(b);
  EXPECT_EQ(Refusal(token), "token signature does not match the SDK's key");
}

TEST(Token, RefusesOtherAlgorithmsIncludingNone) {
  Json header = Header();
  header["alg"] = "none";
  const std::string unsigned_ =
      Base64UrlEncode(DumpJson(header)) + "." + Base64UrlEncode(DumpJson(Claims())) + ".";
  EXPECT_EQ(Refusal(unsigned_), "token algorithm is not HS256");
  header["alg"] = "HS512";
  EXPECT_EQ(Refusal(Sign(header, Claims(), CorvaneSDK::TokenKey())),
            "token algorithm is not HS256");
}

TEST(Token, RefusesMalformedTokens) {
  EXPECT_EQ(Refusal(""), "missing Quorvel-Token header");
  EXPECT_EQ(Refusal("abc.def"), "token is not three dot-separated parts");
  EXPECT_EQ(Refusal("a.b.c.d"), "token is not three dot-separated parts");
  EXPECT_EQ(Refusal("%%%.e30.AAAA"), "token header is not unpadded base64url");
  EXPECT_EQ(Refusal(Base64UrlEncode("[1]") + ".e30.AAAA"), "token header is not a JSON object");
  const std::string header = Base64UrlEncode(DumpJson(Header()));
  EXPECT_EQ(Refusal(header + ".e30.AAAA="), "token signature is not unpadded base64url");
}

TEST(Token, RefusesClaimsOutsideTheRules) {
  const std::string key = CorvaneSDK::TokenKey();
  EXPECT_EQ(
      Refusal(Sign(Header(), Claims(kNow + kTokenSkewSeconds + 1), key)).find("token \"iat\""), 0u);
  EXPECT_EQ(
      Refusal(Sign(Header(), Claims(kNow - kTokenSkewSeconds - 1), key)).find("token \"iat\""), 0u);
  // A hostile "iat" at the edge of the integer range is refused, not overflowed.
  EXPECT_EQ(Refusal(Sign(Header(), Claims(INT64_MIN), key)).find("token \"iat\""), 0u);
  Json claims = Claims();
  claims["iat"] = "now";
  EXPECT_EQ(Refusal(Sign(Header(), claims, key)),
            "token claim \"iat\" is missing or not an integer");
  claims = Claims();
  claims["iss"] = "someone";
  EXPECT_EQ(Refusal(Sign(Header(), claims, key)), "token issuer is not \"Quorvel\"");
  claims = Claims();
  claims.erase("sub");
  EXPECT_EQ(Refusal(Sign(Header(), claims, key)), "token claim \"sub\" is missing or not a string");
  claims = Claims();
  claims["jti"] = "";
  EXPECT_EQ(Refusal(Sign(Header(), claims, key)), "token claim \"jti\" is missing or empty");
}

TEST(Token, ChecksAFixedTokenSignedOutsideBothCodeBases) {
  // Signed once with Python's hmac module under the SDK's key.
  const std::string token =
      "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9."
      "eyJpYXQiOjE3NjUwMDAwMDAsImlzcyI6IlF1b3J2ZWwiLCJqdGkiOiIwYjllM2MxYS01ZDJmLTRlNmItOWE3Yy04ZDFl"
      "MmYzYTRiNWMiLCJzdWIiOiJjb20uZXhhbXBsZS52ZWN0b3IifQ."
      "hs8ImzaGYTsmokkiXayO6RUcppmOtf-Ne-zyFEyDQIk";
  TokenClaims claims;
  std::string error;
  ASSERT_TRUE(VerifyToken(token, SdkTokenKey(), 1765000000, claims, error)) << error;
  EXPECT_EQ(claims.subject, "com.example.vector");
  EXPECT_EQ(claims.id, "0b9e3c1a-5d2f-4e6b-9a7c-8d1e2f3a4b5c");
  // A signature character changed.
  std::string flipped = token;
  flipped[flipped.size() - 2] = 'J';
  EXPECT_FALSE(VerifyToken(flipped, SdkTokenKey(), 1765000000, claims, error));
}

TEST(Token, CollectorKeyAndDigestsMatchTheSdkAndThePublishedVectors) {
  EXPECT_EQ(SdkTokenKey(), CorvaneSDK::TokenKey());
  // RFC 4231 test case 2 and the FIPS 180-2 "abc" digest, through OpenSSL.
  EXPECT_EQ(HexText(HmacSha256Bytes("Jefe", "what do ya want for nothing?")),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(HexText(Sha256Bytes("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // The collector's base64 decoders refuse what the SDK's refuse.
  std::string out;
  EXPECT_TRUE(DecodeBase64("YTpi", out));
  EXPECT_EQ(out, "a:b");
  EXPECT_FALSE(DecodeBase64("YQ", out));
  EXPECT_FALSE(DecodeBase64("Y===", out));
  EXPECT_FALSE(DecodeBase64Url("YQ==", out));
  EXPECT_TRUE(DecodeBase64Url("YQ", out));
  EXPECT_EQ(out, "a");
}
