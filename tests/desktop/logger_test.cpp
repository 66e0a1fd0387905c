// Logger: threshold, line layout, base names, percent doubling.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "LogCapture.h"
#include "Logger.h"
#include "Utils.h"

using namespace CorvaneSDK;

namespace {
const int64_t kTicks = 17650000000000000LL + 45 * 10000;  // some time, 45 ms past a second

std::string AfterTime(const std::string& line) {
  // The timestamp is "YYYY-MM-DD HH:MM:SS.mmm": 23 characters.
  return line.size() > 23 ? line.substr(23) : std::string();
}
}  // namespace

TEST(Logger, ThresholdFiltersLevels) {
  CorvaneSDK::Test::LogCapture capture(kLogWarning);
  CORVANE_LOG_ERROR("e");
  CORVANE_LOG_WARNING("w");
  CORVANE_LOG_INFO("i");
  CORVANE_LOG_DEBUG("d");
  CORVANE_LOG_VERBOSE("v");
  ASSERT_EQ(capture.Lines().size(), 2u);
  EXPECT_NE(capture.Lines()[0].find("Error|"), std::string::npos);
  EXPECT_NE(capture.Lines()[1].find("Warning|"), std::string::npos);
}

TEST(Logger, LineLayout) {
  const std::string line =
      Logger::FormatLine(kLogDebug, "SendEvents: start", "SendEvents", "C:\\src\\EventSender.cpp", 138, kTicks);
  EXPECT_EQ(AfterTime(line), "Debug|EventSender.cpp:138[SendEvents]|SendEvents: start");
  EXPECT_EQ(line.substr(19, 4), ".045");
}

TEST(Logger, BaseNamesAndMissingParts) {
  EXPECT_EQ(AfterTime(Logger::FormatLine(1, "m", nullptr, "a\\b\\file.cpp", 7, kTicks)), "Warning|file.cpp:7|m");
  // Both systems cut at "/" too: cross-built Windows binaries carry "/" paths.
  EXPECT_EQ(AfterTime(Logger::FormatLine(1, "m", nullptr, "/a/b/file.cpp", 7, kTicks)), "Warning|file.cpp:7|m");
  EXPECT_EQ(AfterTime(Logger::FormatLine(1, "m", "f", "plain.cpp", 3, kTicks)), "Warning|plain.cpp:3[f]|m");
  EXPECT_EQ(AfterTime(Logger::FormatLine(1, "m", "f", "", 3, kTicks)), "Warning|[f]|m");
  EXPECT_EQ(AfterTime(Logger::FormatLine(1, "m", nullptr, nullptr, 3, kTicks)), "Warning||m");
}

TEST(Logger, UnknownLevelAndPercentDoubling) {
  EXPECT_EQ(AfterTime(Logger::FormatLine(7, "50%", nullptr, nullptr, 0, kTicks)), "(unknown 7)||50%%");
  EXPECT_EQ(AfterTime(Logger::FormatLine(0, "%%", nullptr, nullptr, 0, kTicks)), "Error||%%%%");
}

TEST(Logger, MillisecondsArePaddedAndTimesBefore1970Work) {
  EXPECT_EQ(Logger::FormatLine(0, "", nullptr, nullptr, 0, 5 * 10000).substr(19, 4), ".005");
  // 1 ms before the epoch: second -1, millisecond 999.
  const std::string line = Logger::FormatLine(0, "", nullptr, nullptr, 0, -10000);
  EXPECT_EQ(line.substr(19, 4), ".999");
}

TEST(Logger, TrailingLineBreaksPrintNoBlankLine) {
  CorvaneSDK::Test::LogCapture capture(kLogWarning);
  Logger::Log(kLogError, "Corvane SDK Manager doesn't exist\n", "f", "x.cpp", 1);
  Logger::Log(kLogError, "two\r\n\n", "f", "x.cpp", 1);
  Logger::Log(kLogError, "inner\nkept", "f", "x.cpp", 1);
  ASSERT_EQ(capture.Lines().size(), 3u);
  EXPECT_EQ(AfterTime(capture.Lines()[0]), "Error|x.cpp:1[f]|Corvane SDK Manager doesn't exist");
  EXPECT_EQ(AfterTime(capture.Lines()[1]), "Error|x.cpp:1[f]|two");
  EXPECT_EQ(AfterTime(capture.Lines()[2]), "Error|x.cpp:1[f]|inner\nkept");
}

namespace {
struct Seen {
  std::vector<std::pair<int, std::string>> lines;
};
void Keep(int level, const char* line, void* data) {
  static_cast<Seen*>(data)->lines.emplace_back(level, line);
}
}  // namespace

TEST(Logger, CallbackGetsLevelAndLineAndWaitsForTheEndOfLockedSections) {
  CorvaneSDK::Test::LogCapture channel(kLogWarning);
  Seen seen;
  Logger::SetCallback(&Keep, &seen);
  CORVANE_LOG_WARNING("direct");
  {
    Logger::DeferScope outer;
    {
      Logger::DeferScope inner;
      CORVANE_LOG_ERROR("under a lock");
    }
    EXPECT_EQ(seen.lines.size(), 1u);  // still inside the outer section
  }
  Logger::SetCallback(nullptr, nullptr);
  CORVANE_LOG_WARNING("to the channel");
  ASSERT_EQ(seen.lines.size(), 2u);
  EXPECT_EQ(seen.lines[0].first, kLogWarning);
  EXPECT_NE(seen.lines[0].second.find("Warning|"), std::string::npos);
  EXPECT_NE(seen.lines[0].second.find("|direct"), std::string::npos);
  EXPECT_EQ(seen.lines[1].first, kLogError);
  EXPECT_NE(seen.lines[1].second.find("|under a lock"), std::string::npos);
  ASSERT_EQ(channel.Lines().size(), 1u);
  EXPECT_NE(channel.Lines()[0].find("to the channel"), std::string::npos);
}
