// Verification of the signed token ("Quorvel-Token") that authenticates a remote config
// request: a compact HS256 JSON Web Token keyed with the SDK's token key, checked with
// OpenSSL's HMAC rather than the SDK's own code.
// Thread-safe: pure functions.
#pragma once

#include <cstdint>
#include <string>

namespace CorvaneSDK {
namespace Collector {

struct TokenClaims {
  int64_t issuedAt = 0;  // "iat", seconds since 1970
  std::string id;        // "jti"
  std::string issuer;    // "iss"
  std::string subject;   // "sub": the bundle id
};

// The 9-byte key the SDK signs its tokens with, held here on its own so that a change on
// either side shows as refused tokens.
std::string SdkTokenKey();

// How far "iat" may lie from the collector's clock (either way). The SDK back-dates it by
// 5 s; the rest covers a device clock that is a little off.
constexpr int64_t kTokenSkewSeconds = 600;

// True when `token` is header.claims.signature with header {"alg":"HS256","typ":"JWT"}, a
// valid HMAC-SHA256 signature under `key`, issuer "Quorvel", a string subject, a non-empty
// "jti" and an "iat" within kTokenSkewSeconds of `nowSeconds`. Otherwise false with
// `error` saying why.
bool VerifyToken(const std::string& token, const std::string& key, int64_t nowSeconds,
                 TokenClaims& claims, std::string& error);

}  // namespace Collector
}  // namespace CorvaneSDK
