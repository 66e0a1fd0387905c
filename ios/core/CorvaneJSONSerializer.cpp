// An explicit-stack JSON writer.
#include "CorvaneJSONSerializer.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace CorvaneSDK {
namespace Mobile {

namespace {
const char kHex[] = "0123456789abcdef";

std::string base64(const std::string& bytes) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += table[(v >> 18) & 63];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += table[v & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += table[(v >> 18) & 63];
    out += table[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? table[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}
}  // namespace

void CorvaneJSONSerializer::writeString(const std::string& text, std::string& out) {
  out += '"';
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const size_t n = utf8SequenceLength(text, i);
      if (n == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(text, i, n);
        i += n;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
}

void CorvaneJSONSerializer::writeNumber(const Value& number, std::string& out) {
  if (number.is_number_float() && !std::isfinite(number.get<double>())) {
    out += "null";
    return;
  }
  out += number.dump();  // integers exactly; doubles in the shortest form that reads back, "." decimal
}

std::string CorvaneJSONSerializer::dataWithRootObject(const Value& root) {
  std::string out;
  struct Frame {
    const Value* container;
    Value::const_iterator it;
    bool first;
  };
  std::vector<Frame> stack;
  auto writeScalarOrOpen = [&](const Value& v) {
    switch (v.type()) {
      case Value::value_t::object:
        out += '{';
        stack.push_back({&v, v.cbegin(), true});
        break;
      case Value::value_t::array:
        out += '[';
        stack.push_back({&v, v.cbegin(), true});
        break;
      case Value::value_t::string:
        writeString(v.get_ref<const std::string&>(), out);
        break;
      case Value::value_t::boolean:
        out += v.get<bool>() ? "true" : "false";
        break;
      case Value::value_t::number_integer:
      case Value::value_t::number_unsigned:
      case Value::value_t::number_float:
        writeNumber(v, out);
        break;
      case Value::value_t::binary:
        if (isDate(v)) {
          writeNumber(Value(dateSeconds(v)), out);
        } else {
          writeString(base64(dataBytes(v)), out);
        }
        break;
      default:
        out += "null";
    }
  };
  writeScalarOrOpen(root);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.it == f.container->cend()) {
      out += f.container->is_object() ? '}' : ']';
      stack.pop_back();
      continue;
    }
    if (!f.first) out += ',';
    f.first = false;
    const auto it = f.it++;
    if (f.container->is_object()) {
      writeString(it.key(), out);
      out += ':';
    }
    writeScalarOrOpen(*it);  // may push: `f` is not used after this
  }
  return out;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
