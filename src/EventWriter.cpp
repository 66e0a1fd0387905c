// Direct JSON writing of event texts, matching nlohmann's compact dump byte for byte.
#include "EventWriter.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "Json.h"

namespace CorvaneSDK {
namespace {

// Length of the well-formed UTF-8 sequence at `p` (no overlong forms, surrogates or code
// points past U+10FFFF, as the dump's decoder), 0 when there is none.
size_t Utf8SequenceLength(const unsigned char* p, const unsigned char* end) {
  const unsigned char c = p[0];
  auto continuation = [&](size_t i) { return end - p > static_cast<ptrdiff_t>(i) && (p[i] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return continuation(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F)) return 0;
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] > 0x8F)) return 0;
    return 4;
  }
  return 0;
}

void AppendEscaped(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789abcdef";
  switch (c) {
    case '\b': out += "\\b"; return;
    case '\t': out += "\\t"; return;
    case '\n': out += "\\n"; return;
    case '\f': out += "\\f"; return;
    case '\r': out += "\\r"; return;
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    default:
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
  }
}

}  // namespace

void AppendJsonString(std::string& out, const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  const size_t mark = out.size();
  out += '"';
  const auto* run = p;  // start of the bytes not yet copied
  while (p < end) {
    const unsigned char c = *p;
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      ++p;
    } else if (c >= 0x80) {
      const size_t length = Utf8SequenceLength(p, end);
      if (length == 0) {
        // Rare: the dump's own replacement keeps the exact bytes it would give.
        out.resize(mark);
        out += DumpJson(Json(text));
        return;
      }
      p += length;
    } else {
      out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
      AppendEscaped(out, c);
      run = ++p;
    }
  }
  out.append(reinterpret_cast<const char*>(run), static_cast<size_t>(end - run));
  out += '"';
}

void AppendJsonInt(std::string& out, int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  out.append(buffer, static_cast<size_t>(result.ptr - buffer));
}

void AppendJsonDouble(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[64];  // the dump's number buffer
  const char* end = nlohmann::detail::to_chars(buffer, buffer + sizeof(buffer), value);
  out.append(buffer, static_cast<size_t>(end - buffer));
}

JsonObjectWriter::JsonObjectWriter(std::string& out) : out_(out) { out_ += '{'; }

std::string& JsonObjectWriter::Member(const char* key) {
  // One append per member: this runs some ten times for every event a host logs.
  char buffer[64];
  const size_t length = std::strlen(key);
  if (length + 4 > sizeof(buffer)) {
    if (!first_) out_ += ',';
    out_.append("\"").append(key, length).append("\":");
  } else {
    char* q = buffer;
    if (!first_) *q++ = ',';
    *q++ = '"';
    std::memcpy(q, key, length);
    q += length;
    *q++ = '"';
    *q++ = ':';
    out_.append(buffer, static_cast<size_t>(q - buffer));
  }
  first_ = false;
  return out_;
}

JsonObjectWriter& JsonObjectWriter::Text(const char* key, const std::string& value) {
  AppendJsonString(Member(key), value);
  return *this;
}

JsonObjectWriter& JsonObjectWriter::TextIfAny(const char* key, const std::string& value) {
  if (!value.empty()) Text(key, value);
  return *this;
}

JsonObjectWriter& JsonObjectWriter::Int(const char* key, int64_t value) {
  AppendJsonInt(Member(key), value);
  return *this;
}

JsonObjectWriter& JsonObjectWriter::Double(const char* key, double value) {
  AppendJsonDouble(Member(key), value);
  return *this;
}

JsonObjectWriter JsonObjectWriter::Object(const char* key) { return JsonObjectWriter(Member(key)); }

void JsonObjectWriter::End() { out_ += '}'; }

}  // namespace CorvaneSDK
