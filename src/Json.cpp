// Bounded JSON parsing and safe compact dumps.
#include "Json.h"

namespace CorvaneSDK {

bool JsonDepthWithin(const char* data, size_t size, int maxDepth) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < size; ++i) {
    char c = data[i];
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

bool ParseJson(const char* data, size_t size, Json& out, int maxDepth) {
  out = nullptr;
  if (data == nullptr || size == 0) return false;
  if (!JsonDepthWithin(data, size, maxDepth)) return false;
  try {
    Json parsed = Json::parse(data, data + size, nullptr, false);
    if (parsed.is_discarded()) return false;
    out = std::move(parsed);
    return true;
  } catch (...) {
    return false;
  }
}

bool ParseJson(const std::string& text, Json& out) {
  return ParseJson(text.data(), text.size(), out);
}

bool ParseEventText(const std::string& text, Json& out) {
  return ParseJson(text.data(), text.size(), out, kMaxEventTextDepth);
}

std::string DumpJson(const Json& value) {
  try {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
  } catch (...) {
    return "null";
  }
}

std::string ValidUtf8(const std::string& text) {
  bool ascii = true;
  for (unsigned char c : text) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return text;
  // The dump replaces exactly as the wire form does; reading it back undoes the escaping.
  Json back;
  if (ParseJson(DumpJson(Json(text)), back) && back.is_string()) return back.get<std::string>();
  return std::string();
}

std::string JsonString(const Json& object, const char* key, const std::string& fallback) {
  if (!object.is_object()) return fallback;
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return fallback;
  return it->get<std::string>();
}

bool JsonBool(const Json& object, const char* key, bool fallback) {
  if (!object.is_object()) return fallback;
  auto it = object.find(key);
  if (it == object.end() || !it->is_boolean()) return fallback;
  return it->get<bool>();
}

}  // namespace CorvaneSDK
