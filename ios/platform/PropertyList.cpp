// libplist behind a guard: depth and expansion checks first, then conversion both ways.
#include "PropertyList.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>
#include <vector>

namespace CorvaneSDK {
namespace Mobile {
namespace PropertyList {

namespace {

// Seconds between 1970-01-01 and the property-list epoch 2001-01-01.
constexpr double kEpochOffset = 978307200.0;

void fail(std::string* error, const std::string& text) {
  if (error) *error = text;
}

struct PlistFree {
  void operator()(plist_t p) const {
    if (p) plist_free(p);
  }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

// XML: counts open <dict>/<array> tags against closing ones (self-closing ones do not nest).
bool xmlDepthWithin(const std::string& text, int maxDepth) {
  int depth = 0;
  size_t i = 0;
  while ((i = text.find('<', i)) != std::string::npos) {
    size_t end = text.find('>', i);
    if (end == std::string::npos) break;
    const bool closing = i + 1 < text.size() && text[i + 1] == '/';
    const size_t nameStart = closing ? i + 2 : i + 1;
    size_t nameEnd = nameStart;
    while (nameEnd < end && std::isalpha(static_cast<unsigned char>(text[nameEnd]))) ++nameEnd;
    const std::string name = text.substr(nameStart, nameEnd - nameStart);
    if (name == "dict" || name == "array") {
      const bool selfClosing = text[end - 1] == '/';
      if (closing) {
        --depth;
      } else if (!selfClosing && ++depth > maxDepth) {
        return false;
      }
    }
    i = end + 1;
  }
  return true;
}

// "&#0;", "&#x00;" and the like.
bool xmlHasNulReference(const std::string& text) {
  size_t i = 0;
  while ((i = text.find("&#", i)) != std::string::npos) {
    size_t j = i + 2;
    const bool hex = j < text.size() && (text[j] == 'x' || text[j] == 'X');
    if (hex) ++j;
    const size_t digits = j;
    while (j < text.size() && text[j] == '0') ++j;
    if (j > digits && j < text.size() && text[j] == ';') return true;
    i += 2;
  }
  return false;
}

uint64_t readBigEndian(const unsigned char* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// Binary: walks the object table without recursion, refusing cycles, nesting beyond maxDepth
// and expansions beyond kMaxPlistNodes (libplist copies every shared reference).
bool binaryShapeAcceptable(const std::string& bytes, int maxDepth, std::string* error) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t size = bytes.size();
  if (size < 8 + 32) return fail(error, "binary property list too short"), false;
  const unsigned char* trailer = data + size - 32;
  const size_t offsetSize = trailer[6];
  const size_t refSize = trailer[7];
  const uint64_t count = readBigEndian(trailer + 8, 8);
  const uint64_t top = readBigEndian(trailer + 16, 8);
  const uint64_t tableOffset = readBigEndian(trailer + 24, 8);
  if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 ||
      count > size || top >= count || tableOffset < 8 || tableOffset > size - 32 ||
      count * offsetSize > size - 32 - tableOffset) {
    return fail(error, "binary property list trailer is damaged"), false;
  }
  auto offsetOf = [&](uint64_t index) { return readBigEndian(data + tableOffset + index * offsetSize, offsetSize); };
  // A string object (ASCII or UTF-16) with a zero byte or code unit; unreadable ones count too.
  auto keyHoldsNul = [&](uint64_t index) {
    const uint64_t off = offsetOf(index);
    if (off >= tableOffset) return true;
    const unsigned type = data[off] >> 4;
    if (type != 0x5 && type != 0x6) return false;
    uint64_t n = data[off] & 0x0f;
    uint64_t pos = off + 1;
    if (n == 0x0f) {
      if (pos >= tableOffset || (data[pos] >> 4) != 0x1) return true;
      const size_t width = size_t{1} << (data[pos] & 0x0f);
      if (width > 8 || pos + 1 + width > tableOffset) return true;
      n = readBigEndian(data + pos + 1, width);
      pos += 1 + width;
    }
    const uint64_t unit = type == 0x6 ? 2 : 1;
    if (n > size || n * unit > tableOffset - pos) return true;
    for (uint64_t i = 0; i < n; ++i) {
      if (unit == 1 ? data[pos + i] == 0 : (data[pos + 2 * i] == 0 && data[pos + 2 * i + 1] == 0)) return true;
    }
    return false;
  };
  // Children of a container object; empty for scalars. False when the object is unreadable.
  auto children = [&](uint64_t index, std::vector<uint64_t>& out) {
    out.clear();
    const uint64_t off = offsetOf(index);
    if (off >= tableOffset) return false;
    const unsigned char marker = data[off];
    const unsigned type = marker >> 4;
    if (type != 0xA && type != 0xC && type != 0xD) return true;
    uint64_t n = marker & 0x0f;
    uint64_t pos = off + 1;
    if (n == 0x0f) {
      if (pos >= tableOffset || (data[pos] >> 4) != 0x1) return false;
      const size_t width = size_t{1} << (data[pos] & 0x0f);
      if (width > 8 || pos + 1 + width > tableOffset) return false;
      n = readBigEndian(data + pos + 1, width);
      pos += 1 + width;
    }
    const uint64_t refs = type == 0xD ? 2 * n : n;
    if (n > size || refs * refSize > tableOffset - pos) return false;
    for (uint64_t r = 0; r < refs; ++r) {
      const uint64_t ref = readBigEndian(data + pos + r * refSize, refSize);
      if (ref >= count) return false;
      // libplist asserts (and aborts the host) on a dictionary key holding a NUL.
      if (type == 0xD && r < n && keyHoldsNul(ref)) return false;
      out.push_back(ref);
    }
    return true;
  };
  // Post-order walk with memoised height and expanded size per object.
  std::vector<uint8_t> state(count, 0);  // 0 new, 1 on the path, 2 done
  std::vector<uint32_t> height(count, 0);
  std::vector<uint64_t> expanded(count, 0);
  struct Frame {
    uint64_t index;
    std::vector<uint64_t> kids;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  stack.push_back({top, {}, 0});
  state[top] = 1;
  if (!children(top, stack.back().kids)) return fail(error, "binary property list object is damaged"), false;
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.next < f.kids.size()) {
      const uint64_t child = f.kids[f.next++];
      if (state[child] == 1) return fail(error, "binary property list refers to itself"), false;
      if (state[child] == 2) continue;
      if (stack.size() >= static_cast<size_t>(maxDepth) + 1) {
        return fail(error, "property list nested deeper than " + std::to_string(maxDepth) + " levels"), false;
      }
      Frame childFrame{child, {}, 0};
      if (!children(child, childFrame.kids)) return fail(error, "binary property list object is damaged"), false;
      state[child] = 1;
      stack.push_back(std::move(childFrame));
      continue;
    }
    uint32_t h = 0;
    uint64_t total = 1;
    for (uint64_t k : f.kids) {
      h = std::max(h, height[k] + 1);
      total += expanded[k];
      if (total > kMaxPlistNodes) return fail(error, "property list expands to too many values"), false;
    }
    if (h > static_cast<uint32_t>(maxDepth)) {
      return fail(error, "property list nested deeper than " + std::to_string(maxDepth) + " levels"), false;
    }
    height[f.index] = h;
    expanded[f.index] = total;
    state[f.index] = 2;
    stack.pop_back();
  }
  return true;
}

bool toValue(plist_t node, Value& out, int depth, std::string* error) {
  if (depth > kMaxValueDepth) return fail(error, "property list nested too deep"), false;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      out = b != 0;
      return true;
    }
    case PLIST_UINT: {
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      out = static_cast<int64_t>(u);  // libplist keeps negative integers in two's complement
      return true;
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      out = d;
      return true;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
      uint64_t len = 0;
      const char* s = plist_get_node_type(node) == PLIST_STRING ? plist_get_string_ptr(node, &len) : nullptr;
      // The platform's strings are always Unicode: invalid bytes are replaced on the way in.
      if (s) {
        out = validUtf8(std::string(s, static_cast<size_t>(len)));
      } else {
        char* key = nullptr;
        plist_get_key_val(node, &key);
        out = validUtf8(key ? std::string(key) : std::string());
        std::free(key);
      }
      return true;
    }
    case PLIST_DATA: {
      uint64_t len = 0;
      const char* p = plist_get_data_ptr(node, &len);
      out = makeData(p ? std::string(p, static_cast<size_t>(len)) : std::string());
      return true;
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      // A damaged list can carry microseconds beyond one second: fold them in and keep the
      // date inside the range the writer accepts.
      int64_t whole = static_cast<int64_t>(sec) + usec / 1000000;
      int64_t micro = usec % 1000000;
      if (micro < 0) {
        micro += 1000000;
        --whole;
      }
      if (whole < std::numeric_limits<int32_t>::min()) whole = std::numeric_limits<int32_t>::min(), micro = 0;
      if (whole >= std::numeric_limits<int32_t>::max()) whole = std::numeric_limits<int32_t>::max() - 1, micro = 0;
      out = makeDate(static_cast<double>(whole) + static_cast<double>(micro) / 1e6 + kEpochOffset);
      return true;
    }
    case PLIST_UID: {
      uint64_t u = 0;
      plist_get_uid_val(node, &u);
      out = static_cast<int64_t>(u);
      return true;
    }
    case PLIST_ARRAY: {
      out = Value::array();
      const uint32_t n = plist_array_get_size(node);
      for (uint32_t i = 0; i < n; ++i) {
        Value item;
        if (!toValue(plist_array_get_item(node, i), item, depth + 1, error)) return false;
        out.push_back(std::move(item));
      }
      return true;
    }
    case PLIST_DICT: {
      out = Value::object();
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      if (!it) return true;
      for (;;) {
        char* key = nullptr;
        plist_t val = nullptr;
        plist_dict_next_item(node, it, &key, &val);
        if (!val) {
          std::free(key);
          break;
        }
        Value item;
        const bool ok = toValue(val, item, depth + 1, error);
        if (ok) out[validUtf8(key ? std::string(key) : std::string())] = std::move(item);
        std::free(key);
        if (!ok) {
          std::free(it);
          return false;
        }
      }
      std::free(it);
      return true;
    }
    default:
      return fail(error, "property list holds a value of unknown kind"), false;
  }
}

plist_t fromValue(const Value& value, int depth, std::string* error) {
  if (depth > kMaxValueDepth) return fail(error, "value nested too deep for a property list"), nullptr;
  switch (value.type()) {
    case Value::value_t::boolean:
      return plist_new_bool(value.get<bool>() ? 1 : 0);
    case Value::value_t::number_integer:
      return plist_new_uint(static_cast<uint64_t>(value.get<int64_t>()));
    case Value::value_t::number_unsigned:
      return plist_new_uint(value.get<uint64_t>());
    case Value::value_t::number_float: {
      const double d = value.get<double>();
      return plist_new_real(d);
    }
    case Value::value_t::string:
      return plist_new_string(validUtf8(value.get_ref<const std::string&>()).c_str());
    case Value::value_t::binary: {
      if (isDate(value)) {
        const double rel = dateSeconds(value) - kEpochOffset;
        if (!std::isfinite(rel) || rel < std::numeric_limits<int32_t>::min() ||
            rel > std::numeric_limits<int32_t>::max()) {
          return fail(error, "date out of the property-list range"), nullptr;
        }
        const double whole = std::floor(rel);
        return plist_new_date(static_cast<int32_t>(whole), static_cast<int32_t>((rel - whole) * 1e6));
      }
      const auto& bin = value.get_binary();
      return plist_new_data(reinterpret_cast<const char*>(bin.data()), bin.size());
    }
    case Value::value_t::array: {
      plist_t arr = plist_new_array();
      for (const auto& item : value) {
        plist_t child = fromValue(item, depth + 1, error);
        if (!child) {
          plist_free(arr);
          return nullptr;
        }
        plist_array_append_item(arr, child);
      }
      return arr;
    }
    case Value::value_t::object: {
      plist_t dict = plist_new_dict();
      for (auto it = value.begin(); it != value.end(); ++it) {
        plist_t child = fromValue(it.value(), depth + 1, error);
        if (!child) {
          plist_free(dict);
          return nullptr;
        }
        plist_dict_set_item(dict, validUtf8(it.key()).c_str(), child);
      }
      return dict;
    }
    case Value::value_t::null:
      return fail(error, "a property list cannot hold null"), nullptr;
    default:
      return fail(error, "a property list cannot hold this value"), nullptr;
  }
}

}  // namespace

bool isBinary(const std::string& bytes) {
  return bytes.size() >= 8 && std::memcmp(bytes.data(), "bplist00", 8) == 0;
}

std::optional<Value> read(const std::string& bytes, std::string* error) {
  if (bytes.empty()) return fail(error, "empty property list"), std::nullopt;
  if (bytes.size() > std::numeric_limits<uint32_t>::max()) return fail(error, "property list too large"), std::nullopt;
  const bool binary = isBinary(bytes);
  if (binary) {
    if (!binaryShapeAcceptable(bytes, kMaxValueDepth, error)) return std::nullopt;
  } else {
    // Text that does not look like XML is not handed to the XML reader at all.
    size_t first = bytes.find_first_not_of(" \t\r\n");
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) first = bytes.find_first_not_of(" \t\r\n", 3);
    if (first == std::string::npos || bytes[first] != '<') return fail(error, "not a property list"), std::nullopt;
    // XML never holds a NUL; a character reference to one would reach libplist's key assert.
    if (bytes.find('\0') != std::string::npos || xmlHasNulReference(bytes)) {
      return fail(error, "property list holds a NUL character"), std::nullopt;
    }
    if (!xmlDepthWithin(bytes, kMaxValueDepth)) {
      return fail(error, "property list nested deeper than " + std::to_string(kMaxValueDepth) + " levels"), std::nullopt;
    }
  }
  plist_t raw = nullptr;
  if (binary) {
    plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
  } else {
    plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
  }
  PlistPtr root(raw);
  if (!root) return fail(error, binary ? "unreadable binary property list" : "unreadable XML property list"), std::nullopt;
  Value out;
  if (!toValue(root.get(), out, 1, error)) return std::nullopt;
  return out;
}

std::optional<std::string> writeXml(const Value& value, std::string* error) {
  PlistPtr root(fromValue(value, 1, error));
  if (!root) return std::nullopt;
  char* xml = nullptr;
  uint32_t len = 0;
  plist_to_xml(root.get(), &xml, &len);
  if (!xml) return fail(error, "property list writer failed"), std::nullopt;
  std::string out(xml, len);
  plist_to_xml_free(xml);
  return out;
}

std::optional<std::string> writeBinary(const Value& value, std::string* error) {
  PlistPtr root(fromValue(value, 1, error));
  if (!root) return std::nullopt;
  char* bin = nullptr;
  uint32_t len = 0;
  plist_to_bin(root.get(), &bin, &len);
  if (!bin) return fail(error, "property list writer failed"), std::nullopt;
  std::string out(bin, len);
  plist_to_bin_free(bin);
  return out;
}

}  // namespace PropertyList
}  // namespace Mobile
}  // namespace CorvaneSDK
