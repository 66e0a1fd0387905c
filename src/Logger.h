// Process-wide logger: a level threshold and the line formatter. Lines go to the host's
// callback, else to the environment's log sink (Env.h). Thread-safe: any thread may log.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

namespace CorvaneSDK {

enum LogLevel : int {
  kLogError = 0,
  kLogWarning = 1,
  kLogInfo = 2,
  kLogDebug = 3,
  kLogVerbose = 4,
};

// Abstract output channel. The two non-pure operations are unused by the library:
// IsOpen reports whether the channel can take lines, Flush pushes buffered output.
class LogChannel {
 public:
  virtual bool IsOpen() const { return false; }
  virtual void Flush() {}
  virtual void WriteLine(const std::string& line) = 0;
  virtual ~LogChannel() = default;
};

// Writes each line to standard output followed by a newline, then flushes.
class ConsoleLogChannel : public LogChannel {
 public:
  bool IsOpen() const override { return true; }
  void Flush() override;
  void WriteLine(const std::string& line) override;
  static ConsoleLogChannel& Instance();
};

namespace Logger {

// Threshold: lines whose level is above it are dropped. Default 1 (Warning).
void SetLevel(int level);
int GetLevel();
inline bool Enabled(int level);

// Formats and writes one line when the threshold allows it.
void Log(int level, const std::string& message, const char* function, const char* file, int line);

// The full line for a given wall time in 100-ns ticks since 1970 (exposed for tests).
std::string FormatLine(int level, const std::string& message, const char* function,
                       const char* file, int line, int64_t ticks100ns);
std::string LevelName(int level);

// The host's receiver of finished lines: the level and the formatted line (no line end).
using Callback = void (*)(int level, const char* line, void* userData);
// Routes lines to `callback` instead of the channel; null restores the channel. Returns
// only when no call of the previous callback is still running, so the host may free its
// user data afterwards (unless it calls this from inside its own callback).
void SetCallback(Callback callback, void* userData);

// Marks a section where the current thread holds one of the SDK's locks. Lines logged inside
// reach the host's callback only when the outermost section ends, so the host never runs
// under an SDK lock. Declare it before the lock guard, so the lock is released first.
class DeferScope {
 public:
  DeferScope();
  ~DeferScope();
  DeferScope(const DeferScope&) = delete;
  DeferScope& operator=(const DeferScope&) = delete;
};

namespace detail {
int LoadThreshold();
}  // namespace detail

inline bool Enabled(int level) { return level <= detail::LoadThreshold(); }

}  // namespace Logger
}  // namespace CorvaneSDK

// Builds the message with stream syntax only when the level is enabled.
#define CORVANE_LOG(level, expr)                                                              \
  do {                                                                                        \
    const int corvane_log_level_ = (level);                                                   \
    if (::CorvaneSDK::Logger::Enabled(corvane_log_level_)) {                                  \
      std::ostringstream corvane_log_os_;                                                     \
      corvane_log_os_ << expr;                                                                \
      ::CorvaneSDK::Logger::Log(corvane_log_level_, corvane_log_os_.str(), __func__, __FILE__, \
                                __LINE__);                                                    \
    }                                                                                         \
  } while (0)

#define CORVANE_LOG_ERROR(expr) CORVANE_LOG(::CorvaneSDK::kLogError, expr)
#define CORVANE_LOG_WARNING(expr) CORVANE_LOG(::CorvaneSDK::kLogWarning, expr)
#define CORVANE_LOG_INFO(expr) CORVANE_LOG(::CorvaneSDK::kLogInfo, expr)
#define CORVANE_LOG_DEBUG(expr) CORVANE_LOG(::CorvaneSDK::kLogDebug, expr)
#define CORVANE_LOG_VERBOSE(expr) CORVANE_LOG(::CorvaneSDK::kLogVerbose, expr)
