// The corvane-collector command line: serve, tail, stats, export. Parsing and the reading
// commands are separate from the signal handling in main, so tests can drive them.
// Thread contract: one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "Collector.h"
#include "Storage.h"

namespace CorvaneSDK {
namespace Collector {

struct ServeSettings {
  CollectorOptions options;
  std::string portFile;  // written (atomically) once listening; empty: none
  bool quiet = false;
};

// Arguments after "serve". False with `error` naming the bad argument.
bool ParseServeArgs(const std::vector<std::string>& args, ServeSettings& out, std::string& error);

// Writes "<port>\n" to `path` through a temp file and a rename.
bool WritePortFile(const std::string& path, int port, std::string& error);

// Prints every event after `afterSeq`, then waits with `wait(ms)` and repeats until `wait`
// returns false. Returns 0, or 1 when the store cannot be read.
int TailEvents(Storage& storage, int64_t afterSeq, int intervalMs, std::ostream& out,
               std::ostream& err, const std::function<bool(int)>& wait);

// The whole command line (args[0] is the subcommand). `wait` is used by serve and tail to
// block until the user stops them: it gets a timeout in ms (-1: none) and returns false
// once a stop was requested.
int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               const std::function<bool(int)>& wait);

std::string UsageText();

}  // namespace Collector
}  // namespace CorvaneSDK
