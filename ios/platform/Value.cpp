// Data and date values, bounded parsing and safe dumps.
#include "Value.h"

#include <cstring>
#include <utility>
#include <vector>

namespace CorvaneSDK {
namespace Mobile {

Value makeData(const std::string& bytes) {
  return Value::binary(Value::binary_t::container_type(bytes.begin(), bytes.end()));
}

Value makeDate(double unixSeconds) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &unixSeconds, sizeof bits);
  Value::binary_t::container_type bytes(8);
  for (int i = 7; i >= 0; --i) {
    bytes[static_cast<size_t>(i)] = static_cast<std::uint8_t>(bits & 0xff);
    bits >>= 8;
  }
  return Value::binary(std::move(bytes), kDateSubtype);
}

bool isData(const Value& value) {
  return value.is_binary() && !(value.get_binary().has_subtype() && value.get_binary().subtype() == kDateSubtype);
}

bool isDate(const Value& value) {
  return value.is_binary() && value.get_binary().has_subtype() &&
         value.get_binary().subtype() == kDateSubtype && value.get_binary().size() == 8;
}

std::string dataBytes(const Value& value) {
  if (!isData(value)) return std::string();
  const auto& bin = value.get_binary();
  return std::string(bin.begin(), bin.end());
}

double dateSeconds(const Value& value) {
  if (!isDate(value)) return 0;
  std::uint64_t bits = 0;
  for (std::uint8_t b : value.get_binary()) bits = (bits << 8) | b;
  double seconds = 0;
  std::memcpy(&seconds, &bits, sizeof seconds);
  return seconds;
}

bool jsonTextDepthWithin(const char* data, size_t size, int maxDepth) {
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

bool valueDepthWithin(const Value& value, int maxDepth) {
  std::vector<std::pair<const Value*, int>> stack{{&value, 1}};
  while (!stack.empty()) {
    auto [v, depth] = stack.back();
    stack.pop_back();
    if (!v->is_structured()) continue;
    if (depth > maxDepth) return false;
    for (const auto& child : *v) stack.emplace_back(&child, depth + 1);
  }
  return true;
}

bool parseJson(const char* data, size_t size, Value& out, std::string* error, int maxDepth) {
  out = nullptr;
  if (data == nullptr || size == 0) {
    if (error) *error = "empty input";
    return false;
  }
  if (!jsonTextDepthWithin(data, size, maxDepth)) {
    if (error) *error = "nesting deeper than " + std::to_string(maxDepth) + " levels";
    return false;
  }
  try {
    out = Value::parse(data, data + size);
    return true;
  } catch (const std::exception& e) {
    if (error) *error = e.what();
  } catch (...) {
    if (error) *error = "unreadable JSON";
  }
  out = nullptr;
  return false;
}

bool parseJson(const std::string& text, Value& out, std::string* error) {
  return parseJson(text.data(), text.size(), out, error);
}

size_t utf8SequenceLength(const std::string& s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t n;
  uint32_t cp;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    n = 2;
    cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3;
    cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const auto d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  return n;
}

std::string validUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t n = utf8SequenceLength(text, i);
    if (n == 0) break;
    i += n;
  }
  if (i == text.size()) return text;  // the common case: nothing to replace
  std::string out = text.substr(0, i);
  while (i < text.size()) {
    const size_t n = utf8SequenceLength(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

std::string dumpJson(const Value& value) {
  try {
    return value.dump(-1, ' ', false, Value::error_handler_t::replace);
  } catch (...) {
    return "null";
  }
}

}  // namespace Mobile
}  // namespace CorvaneSDK
