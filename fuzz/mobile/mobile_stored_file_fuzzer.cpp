// Fuzz target for stored files found on disk: the queue file read through the file storage
// (JSON, or a property list converted to JSON on first read), the property-list reader, and a
// user-defaults file. No crash or exception; a value that is read comes back the same on the
// next read, and a file that cannot be read stays as it was.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "CorvaneSDKFileStorage.h"
#include "FuzzPorts.h"
#include "PropertyList.h"
#include "UserDefaults.h"

using namespace CorvaneSDK::Mobile;

namespace {
std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void writeAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = Fuzz::installFuzzPorts("stored-file");
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  static CorvaneSDKFileStorage storage(root + "/storage", nullptr);
  const std::string key = "corvane.sdk.queue.plist";
  writeAll(storage.urlForKey(key), bytes);
  auto first = storage.jsonForKey(key);
  if (first) {
    auto second = storage.jsonForKey(key);
    // Compared as text: a NaN read from a property list never equals itself.
    if (!second || dumpJson(*first) != dumpJson(*second)) {
      std::fprintf(stderr, "first read %s\nsecond read %s\n", dumpJson(*first).c_str(),
                   second ? dumpJson(*second).c_str() : "none");
      std::abort();
    }
    storage.arrayForKey(key);
    storage.dictionaryForKey(key);
  } else {
    Fuzz::require(readAll(storage.urlForKey(key)) == bytes);
  }
  auto plist = PropertyList::read(bytes);
  if (plist) {
    Fuzz::require(valueDepthWithin(*plist));
    auto binary = PropertyList::writeBinary(*plist);
    Fuzz::require(binary.has_value());
    Fuzz::require(PropertyList::read(*binary).has_value());
    PropertyList::writeXml(*plist);
  }
  writeAll(root + "/defaults.plist", bytes);
  FileUserDefaults defaults(Platform::current()->fileSystem, root + "/defaults.plist");
  for (const auto& k : defaults.keys()) defaults.objectForKey(k);
  return 0;
}
