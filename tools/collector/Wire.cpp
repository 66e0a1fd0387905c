// JSON through nlohmann with a depth bound; base64 written here (OpenSSL's decoder accepts
// padding and white space where a token must not have them); digests through OpenSSL.
#include "Wire.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <chrono>

namespace CorvaneSDK {
namespace Collector {

namespace {

const char kUrlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int DigitValue(char c, bool url) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == (url ? '-' : '+')) return 62;
  if (c == (url ? '_' : '/')) return 63;
  return -1;
}

// Decodes `text` (no padding left in it); false on a stray character or an impossible length.
bool DecodeDigits(const std::string& text, bool url, std::string& out) {
  out.clear();
  if (text.size() % 4 == 1) return false;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : text) {
    const int v = DigitValue(c, url);
    if (v < 0) return false;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  // Leftover bits must be zero, so that each byte string has exactly one text form.
  if ((acc & ((1u << bits) - 1)) != 0) return false;
  return true;
}

}  // namespace

bool DepthWithin(const char* data, size_t size, int maxDepth) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > maxDepth) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

bool ReadJson(const std::string& text, Json& out) {
  out = nullptr;
  if (text.empty() || !DepthWithin(text.data(), text.size(), kMaxDocumentDepth)) return false;
  try {
    Json parsed = Json::parse(text, nullptr, false);
    if (parsed.is_discarded()) return false;
    out = std::move(parsed);
    return true;
  } catch (...) {
    return false;
  }
}

std::string WriteJson(const Json& value) {
  try {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
  } catch (...) {
    return "null";
  }
}

std::string StringMember(const Json& object, const char* key, const std::string& fallback) {
  if (!object.is_object()) return fallback;
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return fallback;
  return it->get<std::string>();
}

bool DecodeBase64(const std::string& text, std::string& out) {
  out.clear();
  if (text.size() % 4 != 0) return false;
  size_t end = text.size();
  if (end > 0 && text[end - 1] == '=') --end;
  if (end > 0 && text[end - 1] == '=') --end;
  // Padding only completes the last group: "x===" and "xy=" are refused.
  if (text.size() - end != (4 - end % 4) % 4) return false;
  if (DecodeDigits(text.substr(0, end), false, out)) return true;
  out.clear();
  return false;
}

bool DecodeBase64Url(const std::string& text, std::string& out) {
  if (DecodeDigits(text, true, out)) return true;
  out.clear();
  return false;
}

std::string EncodeBase64Url(const std::string& bytes) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (unsigned char c : bytes) {
    acc = (acc << 8) | c;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out += kUrlAlphabet[(acc >> bits) & 63];
    }
  }
  if (bits > 0) out += kUrlAlphabet[(acc << (6 - bits)) & 63];
  return out;
}

std::string Sha256Bytes(const std::string& data) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

std::string HmacSha256Bytes(const std::string& key, const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest,
           &length) == nullptr) {
    return std::string();  // never equal to a 32-byte signature
  }
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string HexText(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

int64_t NowWallMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace Collector
}  // namespace CorvaneSDK
