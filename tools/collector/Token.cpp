// HS256 token checks. The signature is checked before the claims are read, and compared
// in constant time.
#include "Token.h"

#include <cstdint>

#include "Wire.h"

namespace CorvaneSDK {
namespace Collector {

namespace {

bool SameBytes(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return diff == 0;
}

bool DecodePart(const std::string& part, const char* what, Json& out, std::string& error) {
  std::string bytes;
  if (!DecodeBase64Url(part, bytes)) {
    error = std::string("token ") + what + " is not unpadded base64url";
    return false;
  }
  if (!ReadJson(bytes, out) || !out.is_object()) {
    error = std::string("token ") + what + " is not a JSON object";
    return false;
  }
  return true;
}

}  // namespace

std::string SdkTokenKey() { return "QvKGBGBTC"; }

bool VerifyToken(const std::string& token, const std::string& key, int64_t nowSeconds,
                 TokenClaims& claims, std::string& error) {
  claims = TokenClaims();
  if (token.empty()) {
    error = "missing Quorvel-Token header";
    return false;
  }
  const size_t first = token.find('.');
  const size_t second = first == std::string::npos ? first : token.find('.', first + 1);
  if (second == std::string::npos || token.find('.', second + 1) != std::string::npos) {
    error = "token is not three dot-separated parts";
    return false;
  }
  const std::string headerPart = token.substr(0, first);
  const std::string claimsPart = token.substr(first + 1, second - first - 1);
  const std::string signaturePart = token.substr(second + 1);

  Json header;
  if (!DecodePart(headerPart, "header", header, error)) return false;
  if (StringMember(header, "alg") != "HS256") {
    error = "token algorithm is not HS256";
    return false;
  }
  if (header.contains("typ") && StringMember(header, "typ") != "JWT") {
    error = "token type is not JWT";
    return false;
  }
  std::string signature;
  if (!DecodeBase64Url(signaturePart, signature)) {
    error = "token signature is not unpadded base64url";
    return false;
  }
  if (!SameBytes(signature, HmacSha256Bytes(key, headerPart + "." + claimsPart))) {
    error = "token signature does not match the SDK's key";
    return false;
  }

  Json body;
  if (!DecodePart(claimsPart, "claims", body, error)) return false;
  auto iat = body.find("iat");
  if (iat == body.end() || !iat->is_number_integer()) {
    error = "token claim \"iat\" is missing or not an integer";
    return false;
  }
  if (iat->is_number_unsigned()) {
    const uint64_t value = iat->get<uint64_t>();
    if (value > static_cast<uint64_t>(INT64_MAX)) {
      error = "token claim \"iat\" is out of range";
      return false;
    }
    claims.issuedAt = static_cast<int64_t>(value);
  } else {
    claims.issuedAt = iat->get<int64_t>();
  }
  // Compared this way round so that a hostile "iat" near the int64 limits cannot overflow.
  if (claims.issuedAt > nowSeconds + kTokenSkewSeconds ||
      claims.issuedAt < nowSeconds - kTokenSkewSeconds) {
    error = "token \"iat\" " + std::to_string(claims.issuedAt) + " is more than " +
            std::to_string(kTokenSkewSeconds) + " s away from the collector's clock (" +
            std::to_string(nowSeconds) + ")";
    return false;
  }
  claims.issuer = StringMember(body, "iss");
  if (claims.issuer != "Quorvel") {
    error = "token issuer is not \"Quorvel\"";
    return false;
  }
  auto sub = body.find("sub");
  if (sub == body.end() || !sub->is_string()) {
    error = "token claim \"sub\" is missing or not a string";
    return false;
  }
  claims.subject = sub->get<std::string>();
  claims.id = StringMember(body, "jti");
  if (claims.id.empty()) {
    error = "token claim \"jti\" is missing or empty";
    return false;
  }
  return true;
}

}  // namespace Collector
}  // namespace CorvaneSDK
