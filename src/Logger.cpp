// Logger: threshold, line layout ("<time><Level>|<file>:<line>[<function>]|<message>")
// and the console channel.
#include "Logger.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <iostream>
#include <mutex>

#include "Clock.h"
#include "Utils.h"

namespace CorvaneSDK {

void ConsoleLogChannel::Flush() { std::cout.flush(); }

void ConsoleLogChannel::WriteLine(const std::string& line) {
  std::cout << line << '\n';
  std::cout.flush();
}

ConsoleLogChannel& ConsoleLogChannel::Instance() {
  // Leaked on purpose: worker threads may still log while static destructors run.
  static ConsoleLogChannel* channel = new ConsoleLogChannel();
  return *channel;
}

namespace Logger {
namespace {
std::atomic<int> g_threshold{kLogWarning};
std::atomic<LogChannel*> g_channel{nullptr};

std::string BaseName(const char* file) {
  if (file == nullptr) return std::string();
  std::string path(file);
  // Both separators: cross-built Windows binaries carry "/" paths in __FILE__ too.
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

namespace detail {
int LoadThreshold() { return g_threshold.load(std::memory_order_relaxed); }
}  // namespace detail

void SetLevel(int level) { g_threshold.store(level, std::memory_order_relaxed); }
int GetLevel() { return g_threshold.load(std::memory_order_relaxed); }

void SetChannel(LogChannel* channel) { g_channel.store(channel); }

std::string LevelName(int level) {
  switch (level) {
    case kLogError: return "Error";
    case kLogWarning: return "Warning";
    case kLogInfo: return "Info";
    case kLogDebug: return "Debug";
    case kLogVerbose: return "Verbose";
    default: return "(unknown " + std::to_string(level) + ")";
  }
}

std::string FormatLine(int level, const std::string& message, const char* function,
                       const char* file, int line, int64_t ticks100ns) {
  // Floor division so that times before 1970 still give the right second.
  int64_t seconds = ticks100ns / 10000000;
  if (ticks100ns % 10000000 != 0 && ticks100ns < 0) --seconds;
  int64_t millis = ((ticks100ns / 10000) % 1000 + 1000) % 1000;
  std::tm tm{};
  char stamp[64] = "1970-01-01 00:00:00";
  if (Utils::LocalTime(static_cast<time_t>(seconds), &tm)) {
    if (std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &tm) == 0) stamp[0] = '\0';
  }
  char ms[8];
  std::snprintf(ms, sizeof(ms), "%03d", static_cast<int>(millis));

  std::string out;
  out.reserve(64 + message.size());
  out += stamp;
  out += '.';
  out += ms;
  out += LevelName(level);
  out += '|';
  if (file != nullptr && file[0] != '\0') {
    out += BaseName(file);
    out += ':';
    out += std::to_string(line);
  }
  if (function != nullptr) {
    out += '[';
    out += function;
    out += ']';
  }
  out += '|';
  out += message;

  // Each '%' is doubled once, so the line survives a later printf-style sink.
  if (out.find('%') == std::string::npos) return out;
  std::string escaped;
  escaped.reserve(out.size() + 8);
  for (char c : out) {
    escaped += c;
    if (c == '%') escaped += '%';
  }
  return escaped;
}

void Log(int level, const std::string& message, const char* function, const char* file,
         int line) {
  LogChannel* channel = g_channel.load();
  if (channel == nullptr) channel = &ConsoleLogChannel::Instance();
  if (GetLevel() < level) return;
  try {
    channel->WriteLine(
        FormatLine(level, message, function, file, line, GetClock().WallMs() * 10000));
  } catch (...) {
    // Logging must never take the host down.
  }
}

}  // namespace Logger
}  // namespace CorvaneSDK
