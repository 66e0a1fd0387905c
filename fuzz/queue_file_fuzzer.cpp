// Fuzz target for the queue file reader: the input is a queue file found on disk at start-up.
// Init, ValidateHeader and ReadAll must never crash, hang or allocate beyond the file; on a
// file they accept, an Add and a Remove must keep every element readable in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "FileIO.h"
#include "Logger.h"
#include "QueueFile.h"

namespace {

using namespace CorvaneSDK;

constexpr size_t kMaxInput = 1 << 20;

const std::string& QueuePath() {
  static const std::string path = [] {
    Logger::SetLevel(-1);  // silence: corrupt inputs are the normal case here
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() /
                   ("corvane-fuzz-queue-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    return JoinPath(dir.string(), ".event_queue");
  }();
  return path;
}

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  const std::string& path = QueuePath();
  RemoveFile(path);
  {
    auto file = RandomAccessFile::Open(path, true, nullptr);
    if (file == nullptr || !file->WriteAt(0, data, size)) return 0;
  }

  QueueFile q(path);
  if (q.Init()) {
    std::string why;
    std::vector<std::string> before;
    if (q.ValidateHeader(&why) && q.ReadAll(before, &why)) {
      Require(before.size() == q.Count());
      const std::string element = "{\"eventName\":\"fuzz\"}";
      if (q.Add(element.data(), static_cast<uint32_t>(element.size()))) {
        before.push_back(element);
        std::vector<std::string> after;
        Require(q.ValidateHeader(&why) && q.ReadAll(after, &why) && after == before);
        if (q.Remove(1)) {
          before.erase(before.begin());
          Require(q.ValidateHeader(&why) && q.ReadAll(after, &why) && after == before);
        }
      }
    }
    q.Close();
  }
  RemoveFile(path);
  return 0;
}
