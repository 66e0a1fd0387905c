// Small crypto and encoding primitives the desktop library needs (base64, base64url,
// SHA-256, HMAC-SHA256). Written here because the library links nothing beyond libcurl,
// nlohmann json and the OS. Thread-safe: pure functions without shared state.
#pragma once

#include <string>

namespace CorvaneSDK {

// Standard alphabet with "=" padding.
std::string Base64Encode(const std::string& bytes);
// URL-safe alphabet ("-", "_"), no padding (the JSON Web Token form).
std::string Base64UrlEncode(const std::string& bytes);

// Strict decoders: false (and `out` empty) on a character outside the alphabet, wrong padding
// or a length that no encoder produces. Base64Decode wants the padded standard form;
// Base64UrlDecode the unpadded URL-safe form.
bool Base64Decode(const std::string& text, std::string& out);
bool Base64UrlDecode(const std::string& text, std::string& out);

// 32 raw digest bytes.
std::string Sha256(const std::string& data);
// 32 raw MAC bytes; keys longer than the 64-byte block are hashed first.
std::string HmacSha256(const std::string& key, const std::string& data);

// Lower-case hex digits, two per byte.
std::string ToHex(const std::string& bytes);

}  // namespace CorvaneSDK
