// The collector's own JSON and crypto helpers, over nlohmann json and OpenSSL only: the
// collector links nothing of the SDK, so that it checks what the SDK sends independently.
// Thread-safe: pure functions.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace CorvaneSDK {
namespace Collector {

using Json = nlohmann::json;

// Deeper documents are refused: nlohmann's destructor and serialiser recurse.
constexpr int kMaxDocumentDepth = 64;

// True when the nesting of arrays and objects in `data` stays within `maxDepth`.
bool DepthWithin(const char* data, size_t size, int maxDepth);
// Parses `text` without exceptions; false (and `out` null) on a syntax error or nesting
// deeper than kMaxDocumentDepth.
bool ReadJson(const std::string& text, Json& out);
// Compact dump; invalid UTF-8 becomes U+FFFD. Never throws.
std::string WriteJson(const Json& value);
// The string member `key` of `object`; `fallback` when missing or not a string.
std::string StringMember(const Json& object, const char* key, const std::string& fallback = "");

// RFC 4648 base64 with padding; false on any other character or a bad length.
bool DecodeBase64(const std::string& text, std::string& out);
// RFC 4648 base64url without padding (as JSON Web Tokens carry it).
bool DecodeBase64Url(const std::string& text, std::string& out);
std::string EncodeBase64Url(const std::string& bytes);
// Raw 32-byte digests through OpenSSL.
std::string Sha256Bytes(const std::string& data);
std::string HmacSha256Bytes(const std::string& key, const std::string& data);
// Lower-case hex.
std::string HexText(const std::string& bytes);

// Milliseconds since 1970 of the system clock.
int64_t NowWallMs();

}  // namespace Collector
}  // namespace CorvaneSDK
