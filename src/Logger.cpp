// Logger: threshold, line layout ("<time><Level>|<file>:<line>[<function>]|<message>")
// and the console channel.
#include "Logger.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <iostream>
#include <mutex>
#include <utility>
#include <memory>
#include <vector>

#include "Clock.h"
#include "Env.h"

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

// The host callback. Calls run under its mutex, the logger's own lock, so replacing
// the callback waits for a running call to end.
struct CallbackState {
  std::mutex mutex;
  Callback callback = nullptr;
  void* userData = nullptr;
};
CallbackState& Callbacks() {
  static CallbackState* state = new CallbackState();  // leaked like the console channel
  return *state;
}
std::atomic<bool> g_hasCallback{false};
thread_local int t_callbackDepth = 0;  // > 0 while this thread runs the host callback

// Lines held back while this thread holds an SDK lock (bounded: a long locked section
// cannot grow it without end).
constexpr size_t kMaxDeferredLines = 4096;
thread_local int t_deferDepth = 0;
// A plain pointer, not a vector: a thread_local with a destructor pins the library in memory
// (glibc keeps it loaded while such a thread lives), so dlclose would never unload it.
// Allocated by the first deferred line of a section, freed when the section ends.
thread_local std::vector<std::pair<int, std::string>>* t_deferred = nullptr;
thread_local size_t t_deferredDropped = 0;

// False when no callback is installed (the line then goes to the channel).
bool Deliver(int level, const std::string& line) {
  CallbackState& state = Callbacks();
  std::unique_lock<std::mutex> lock(state.mutex, std::defer_lock);
  // A callback that logs itself gets its own lines on the channel instead of recursing.
  if (t_callbackDepth > 0) return false;
  lock.lock();
  if (state.callback == nullptr) return false;
  ++t_callbackDepth;
  try {
    state.callback(level, line.c_str(), state.userData);
  } catch (...) {
    // A throwing host callback must not unwind through the SDK.
  }
  --t_callbackDepth;
  return true;
}

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

void SetCallback(Callback callback, void* userData) {
  CallbackState& state = Callbacks();
  if (t_callbackDepth > 0) {
    // From inside the callback: its lock is held by this very thread.
    state.callback = callback;
    state.userData = userData;
    g_hasCallback.store(callback != nullptr);
    return;
  }
  std::lock_guard<std::mutex> lock(state.mutex);
  state.callback = callback;
  state.userData = userData;
  g_hasCallback.store(callback != nullptr);
}

DeferScope::DeferScope() { ++t_deferDepth; }

DeferScope::~DeferScope() {
  if (--t_deferDepth > 0 || t_deferred == nullptr) return;
  std::unique_ptr<std::vector<std::pair<int, std::string>>> owned(t_deferred);
  t_deferred = nullptr;
  std::vector<std::pair<int, std::string>>& lines = *owned;
  if (t_deferredDropped > 0) {
    const std::string note = FormatLine(kLogWarning,
                                        std::to_string(t_deferredDropped) +
                                            " log lines dropped: too many in one locked section",
                                        "DeferScope", __FILE__, __LINE__, GetClock().WallMs() * 10000);
    lines.emplace_back(kLogWarning, note);
    t_deferredDropped = 0;
  }
  for (const auto& entry : lines) {
    try {
      if (!Deliver(entry.first, entry.second)) {
        Env::Default().LogSink().WriteLine(entry.second);
      }
    } catch (...) {
    }
  }
}

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
  if (LocalTime(static_cast<time_t>(seconds), &tm)) {
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
  if (GetLevel() < level) return;
  LogChannel* channel = &Env::Default().LogSink();
  try {
    // A message that ends with a line break would print a blank line after it.
    size_t end = message.size();
    while (end > 0 && (message[end - 1] == '\n' || message[end - 1] == '\r')) --end;
    std::string text = FormatLine(level, end == message.size() ? message : message.substr(0, end),
                                  function, file, line, GetClock().WallMs() * 10000);
    if (g_hasCallback.load()) {
      if (t_deferDepth > 0) {
        if (t_deferred == nullptr) t_deferred = new std::vector<std::pair<int, std::string>>();
        if (t_deferred->size() < kMaxDeferredLines) {
          t_deferred->emplace_back(level, std::move(text));
        } else {
          ++t_deferredDropped;
        }
        return;
      }
      if (Deliver(level, text)) return;
    }
    channel->WriteLine(text);
  } catch (...) {
    // Logging must never take the host down.
  }
}

}  // namespace Logger
}  // namespace CorvaneSDK
