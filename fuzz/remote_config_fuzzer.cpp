// Fuzz target for the remote config answers: the POST answer that names the document
// location, the document itself, and the endpoint derived from a config URL. The input is
// the POST answer up to its first NUL byte and the document after it (also tried as a URL).
// Nothing may crash, throw or hang; an accepted document is an object that survives a
// round trip through the stored text; an endpoint is an http(s) origin with the fetch path.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ConfigDocuments.h"
#include "Json.h"
#include "Logger.h"

namespace {

using namespace CorvaneSDK;

constexpr size_t kMaxInput = 1 << 20;

void Require(bool condition) {
  if (!condition) std::abort();
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void CheckEndpoint(const std::string& configUrl) {
  const std::string endpoint = RemoteConfigEndpoint(configUrl);
  if (endpoint.empty()) return;
  Require(endpoint.rfind("http://", 0) == 0 || endpoint.rfind("https://", 0) == 0);
  Require(EndsWith(endpoint, "/rc/fetch"));
  Require(endpoint.find('@') == std::string::npos);  // never credentials
  Require(RemoteConfigEndpoint(endpoint) == endpoint);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = (Logger::SetLevel(-1), true);  // bad input is the normal case
  (void)silenced;
  if (size > kMaxInput) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string answer = input.substr(0, split);
  const std::string document = split == std::string::npos ? input : input.substr(split + 1);

  const std::string location = RemoteConfigLocation(answer);
  if (!location.empty()) {
    Json parsed;
    Require(ParseJson(answer, parsed) && parsed.is_object());
    Require(parsed["message"] == location);
  }

  Json config;
  if (ReadRemoteConfigDocument(document, config)) {
    Require(config.is_object());
    // The stored text (compact, invalid UTF-8 replaced) reads back as the same object.
    Json again;
    Require(ReadRemoteConfigDocument(DumpJson(config), again) && again == config);
  }

  CheckEndpoint(answer);
  CheckEndpoint(document);
  return 0;
}
