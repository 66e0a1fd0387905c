// Fuzz target for the properties file found on disk: Properties::Open on arbitrary bytes, the
// typed reads, a few changes, Save and a second Open. No crash or exception; an object is read
// as it is, anything else as empty; after Save every value reads back and no temp file stays.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "Json.h"
#include "Logger.h"
#include "Properties.h"

namespace {

using namespace CorvaneSDK;
namespace fs = std::filesystem;

constexpr size_t kMaxInput = 1 << 20;
const char* const kFileName = ".properties";

void Require(bool condition) {
  if (!condition) std::abort();
}

// A private folder, in memory when /dev/shm exists: Save syncs every write.
const std::string& Folder() {
  static const std::string folder = [] {
    std::error_code ec;
    fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path dir = base / ("corvane-fuzz-properties-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir, ec);
    return dir.string();
  }();
  static const bool cleanup = (std::atexit([] {
                                 std::error_code ec;
                                 fs::remove_all(Folder(), ec);
                               }) == 0);
  (void)cleanup;
  return folder;
}

std::string Dumped(const Json& value) { return DumpJson(value); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool silenced = (Logger::SetLevel(-1), true);  // bad input is the normal case
  (void)silenced;
  if (size > kMaxInput) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const fs::path path = fs::path(Folder()) / kFileName;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) return 0;
  }
  Json original;
  const bool isObject = ParseJson(bytes, original) && original.is_object();

  Properties first(Folder(), kFileName);
  first.Open();
  if (isObject) {
    for (auto it = original.begin(); it != original.end(); ++it) {
      Require(Dumped(first.GetJson(it.key())) == Dumped(it.value()));
    }
  } else {
    Require(first.GetJson("userId").is_null());
  }
  // Typed reads of whatever type the file holds never throw.
  (void)first.GetString("userId");
  (void)first.GetBool("forgetMe");
  (void)first.GetJson("sdkConfig");

  first.SetString("userId", "00000000-0000-4000-8000-000000000000");
  first.SetBool("forgetMe", true);
  // A stored value sits one level below the top of the file, so only a value of at most 63
  // levels keeps the file within the reader's depth bound.
  const Json copy = isObject && JsonDepthWithin(bytes.data(), bytes.size(), kMaxJsonDepth - 1)
                        ? original
                        : Json(bytes.size());
  first.SetJson("fuzzCopy", copy);
  first.Remove("removed");
  Require(first.Save());

  Properties second(Folder(), kFileName);
  second.Open();
  Require(second.GetString("userId") == "00000000-0000-4000-8000-000000000000");
  Require(second.GetBool("forgetMe"));
  Require(second.GetJson("removed").is_null());
  Require(Dumped(second.GetJson("fuzzCopy")) == Dumped(copy));
  if (isObject) {
    for (auto it = original.begin(); it != original.end(); ++it) {
      const std::string& key = it.key();
      if (key == "userId" || key == "forgetMe" || key == "fuzzCopy" || key == "removed") continue;
      Require(Dumped(second.GetJson(key)) == Dumped(it.value()));
    }
  }
  // The file and its lock file, no temp file.
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(Folder())) {
    if (entry.path().filename() != std::string(kFileName) + ".lock") ++files;
  }
  Require(files == 1);
  return 0;
}
