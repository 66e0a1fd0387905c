// Fuzz target for the event payload builder's handling of outside text: deep-link URLs (query
// folding) and JSON values of any shape as payload values. No crash, no exception; every
// folded value is valid UTF-8 text and every payload serialises.
#include <cstddef>
#include <cstdint>
#include <string>

#include "CorvaneSDKDataBuilder.h"
#include "FuzzPorts.h"

using namespace CorvaneSDK::Mobile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fuzz::installFuzzPorts("payload");
  const std::string text(reinterpret_cast<const char*>(data), size);
  Value link = CorvaneSDKDataBuilder::createLogDeepLinkData(text, 1);
  Fuzz::require(link.is_object() && link.size() <= CorvaneSDKDataBuilder::kMaxDeepLinkParameters + 2);
  for (auto it = link.begin(); it != link.end(); ++it) {
    Fuzz::require(validUtf8(it.key()) == it.key());
    if (it.value().is_string()) Fuzz::require(validUtf8(it.value().get<std::string>()) == it.value().get<std::string>());
  }
  link.dump();  // throws on invalid UTF-8

  Value parsed;
  if (parseJson(text, parsed)) {
    Value payload = CorvaneSDKDataBuilder::createLogBaseData();
    CorvaneSDKDataBuilder::updateLogData(payload, "value", parsed);
    payload = CorvaneSDKDataBuilder::createLogUserInfoData("t", parsed);
    Fuzz::require(payload.is_object() && payload["type"] == "t");
    payload.dump();
    CorvaneSDKDataBuilder::createLogOpenData(
        [&](const std::string& key) { return parsed.is_object() && parsed.contains(key) ? parsed[key] : Value(); },
        0, 0)
        .dump();
  }
  return 0;
}
