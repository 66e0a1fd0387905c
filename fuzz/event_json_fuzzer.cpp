// Fuzz target for the event wire form read back from outside (queue elements): FromJson,
// FromJsonTree and ToJsonText round trips, and the input as a host's JSON value, which must
// survive the trip through the stored event text once accepted.

// Properties: no crash or exception; an object is read, anything else refused; the text
// written is valid JSON and one normalisation is a fixed point; a batch body around it parses.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Env.h"
#include "Event.h"
#include "Json.h"
#include "Logger.h"
#include "FixedProperties.h"
#include "IdentitySnapshot.h"

namespace {

using namespace CorvaneSDK;

constexpr size_t kMaxInput = 1 << 20;

void Require(bool condition) {
  if (!condition) std::abort();
}

struct FuzzProperties : Test::FixedProperties {
  FuzzProperties() {
    userId = "00000000-0000-4000-8000-000000000000";
    bundleId = "com.example";
    appVersion = "1.0";
    buildNumber = "1";
    wrapper = "unity";
    wrapperVersion = "2022.3";
  }
};

// The text a record writes must parse and read back to the same text.
void RequireFixedPoint(const std::string& text, size_t subEvents) {
  Json parsed;
  Require(ParseEventText(text, parsed) && parsed.is_object());
  EventPtr again = Event::FromJsonTree(text);
  Require(again != nullptr);
  Require(again->ToJsonText() == text);
  Require(again->subEvents.size() == subEvents);
  again.reset();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = (Logger::SetLevel(-1), true);  // bad input is the normal case
  (void)silenced;
  if (size > kMaxInput) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  Json parsed;
  // Stored texts are read with the event bound (room for the levels around a value).
  const bool isObject = ParseEventText(text, parsed) && parsed.is_object();

  // The flat reader, as the queue uses it.
  EventPtr flat = Event::Acquire("before");
  Require(flat->FromJson(text) == isObject);
  if (isObject) RequireFixedPoint(flat->ToJsonText(), 0);
  flat.reset();

  // The tree reader, as the sending thread rebuilds a record for its dispatch callbacks.
  EventPtr tree = Event::FromJsonTree(text);
  Require((tree != nullptr) == isObject);
  if (tree != nullptr) {
    const std::string once = tree->ToJsonText();
    RequireFixedPoint(once, tree->subEvents.size());
    static const FuzzProperties properties;
    // The body nests the event two levels deeper than the input, so it is read without our
    // depth bound here (the input is bounded already).
    const Json body = Json::parse(BuildBatchBody(properties, std::vector<std::string>{once, once}),
                                  nullptr, false);
    Require(!body.is_discarded() && body.is_object() && body["subMessages"].is_array() &&
            body["subMessages"].size() == 2);
    Require(DumpJson(body["subMessages"][0]) == once);
    tree.reset();
  }
  // The input as a host's JSON value: once accepted, the queued event text must read back
  // with that value, at the top level and as a held sub-event of an open event.
  EventPtr host = Event::Acquire("host");
  host->SetJsonValue(text);
  if (!host->value.is_null()) {
    host->Stamp("s", "c", "", ::CorvaneSDK::Env::Default());
    EventPtr open = Event::Acquire("qvsdk_open");
    open->Stamp("s", "c", "", ::CorvaneSDK::Env::Default());
    open->subEvents.push_back(Event::Acquire("held"));
    open->subEvents.back()->value = host->value;
    for (const Event* stored : {host.get(), open.get()}) {
      EventPtr back = Event::FromJsonTree(stored->ToJsonText());
      Require(back != nullptr);
      Require(back->ToJsonText() == stored->ToJsonText());
      back.reset();
    }
    open.reset();
  }
  host.reset();
  return 0;
}
