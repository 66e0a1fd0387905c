// Captures the logger's lines (as the test environment's log sink) for the lifetime of the
// object and sets the threshold.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "Logger.h"
#include "TestEnv.h"

namespace CorvaneSDK {
namespace Test {

class LogCapture : public LogChannel {
 public:
  explicit LogCapture(int level = kLogVerbose) : previous_(Logger::GetLevel()) {
    Logger::SetLevel(level);
    ProcessEnv().SetLogSink(this);
  }
  ~LogCapture() override {
    ProcessEnv().SetLogSink(nullptr);
    Logger::SetLevel(previous_);
  }
  void WriteLine(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
  }
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  // True when some line contains `text`.
  bool Contains(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& l : lines_) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
  int CountContaining(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& l : lines_) n += l.find(text) != std::string::npos ? 1 : 0;
    return n;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  int previous_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace Test
}  // namespace CorvaneSDK
