// Fuzz target for map decoding (CorvaneSDKEvent_SetMapValue): "key:value" lines, form-decoded,
// merged into the event value; the first input byte picks the value the map merges into.

// Properties: the value is an object holding each decoded pair (a later line wins); the event
// serialises to valid JSON with every member under its own name; decoding undoes encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "Env.h"
#include "Event.h"
#include "Json.h"
#include "Logger.h"
#include "PercentEncoding.h"

namespace {

using namespace CorvaneSDK;

constexpr size_t kMaxInput = 1 << 20;

void Require(bool condition) {
  if (!condition) std::abort();
}

Json StartingValue(uint8_t selector) {
  switch (selector % 5) {
    case 0: return Json();
    case 1: return Json::object({{"kept", 1}, {"a", "old"}});
    case 2: return Json::array({1, 2});
    case 3: return Json("text");
    default: return Json(4.5);
  }
}

std::string EncodeEveryByte(const std::string& bytes) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += '%';
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = (Logger::SetLevel(-1), true);  // bad input is the normal case
  (void)silenced;
  if (size == 0 || size > kMaxInput) return 0;
  const Json start = StartingValue(data[0]);
  const std::string map(reinterpret_cast<const char*>(data) + 1, size - 1);

  EventPtr event = Event::Acquire("map");
  event->value = start;
  event->SetMapValue(map);
  Require(event->value.is_object());

  // What the lines say, read independently: split at '\n', then at the first ':'.
  std::map<std::string, std::string> expected;
  size_t from = 0;
  for (;;) {
    const size_t end = map.find('\n', from);
    const std::string line = map.substr(from, end == std::string::npos ? std::string::npos : end - from);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
      expected[ValidUtf8(FormDecode(line.substr(0, colon)))] =
          ValidUtf8(FormDecode(line.substr(colon + 1)));
    }
    if (end == std::string::npos) break;
    from = end + 1;
  }
  for (const auto& pair : expected) {
    auto it = event->value.find(pair.first);
    Require(it != event->value.end() && it->is_string() && it->get<std::string>() == pair.second);
  }
  const size_t kept = start.is_object() ? start.size() : 0;
  Require(event->value.size() <= expected.size() + kept);

  event->Stamp("session", "config", "", ::CorvaneSDK::Env::Default());
  Json parsed;
  Require(ParseJson(event->ToJsonText(), parsed) && parsed.is_object() &&
          parsed["value"].is_object());
  // Every member goes out under a name of its own: keys that differ only in invalid UTF-8
  // must not collapse into one name on the wire (a receiver would keep just one of them).
  Require(parsed["value"].size() == event->value.size());
  event.reset();

  Require(FormDecode(EncodeEveryByte(map)) == map);
  return 0;
}
