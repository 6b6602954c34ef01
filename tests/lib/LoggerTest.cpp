// The logger: entry format, thresholds, handlers and the registry.
#include <gtest/gtest.h>

#include <regex>

#include "LogCapture.h"
#include "velk_binaural/Logger.h"

namespace {

using NSVelkBinaural::Logger;
using NSVelkBinaural::LogLevel;

Logger* global() { return Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME); }

TEST(Logger, EntryIsADateLineThenLevelAndMessage) {
  testsupport::LogCapture capture(LogLevel::INFO);
  global()->Log(LogLevel::INFO, "ipdh is null", "DirectionJudgeImpl", "Judge");
  std::regex entry(R"(^\d{4}/[1-9]\d?/[1-9]\d? \d{1,2}:\d{1,2}:\d{1,2} DirectionJudgeImpl Judge\nINFO: ipdh is null\n$)");
  EXPECT_TRUE(std::regex_match(capture.text(), entry)) << capture.text();
}

TEST(Logger, DefaultThresholdWritesInfoAndAboveOnly) {
  testsupport::LogCapture capture(LogLevel::INFO);
  for (int level : {LogLevel::FINE, LogLevel::INFO, LogLevel::WARNING, LogLevel::SEVERE})
    global()->Log(level, boost::format("level %d") % level, "F", "f");
  EXPECT_EQ(capture.count("FINE: "), 0);
  EXPECT_EQ(capture.count("INFO: level 5"), 1);
  EXPECT_EQ(capture.count("WARNING: level 6"), 1);
  EXPECT_EQ(capture.count("SEVERE: level 7"), 1);
}

TEST(Logger, AllWritesEverythingAndOffOnlyMessagesAtOff) {
  {
    testsupport::LogCapture capture(LogLevel::ALL);
    global()->Log(LogLevel::FINEST, "finest", "F", "f");
    EXPECT_EQ(capture.count("FINEST: finest"), 1);
  }
  testsupport::LogCapture capture(LogLevel::OFF);
  global()->Log(LogLevel::SEVERE, "severe", "F", "f");
  global()->Log(LogLevel::OFF, "off", "F", "f");
  EXPECT_FALSE(capture.contains("severe"));
  EXPECT_EQ(capture.count(": off"), 1);  // an empty level text
}

TEST(Logger, LevelNames) {
  EXPECT_EQ(LogLevel(LogLevel::ALL).ToString(), "ALL");
  EXPECT_EQ(LogLevel(0).ToString(), "ALL");
  EXPECT_EQ(LogLevel(3).ToString(), "FINE");
  EXPECT_EQ(LogLevel(4).ToString(), "CONFIG");
  EXPECT_EQ(LogLevel(8).ToString(), "");
  EXPECT_EQ(LogLevel(LogLevel::OFF).ToString(), "");
}

TEST(Logger, ASameStreamIsAddedOnceAndTheRegistryKeepsOneGlobal) {
  Logger logger("local");
  std::ostringstream out;
  logger.AddHandler(&out, false);
  logger.AddHandler(&out, true);  // ignored, ownership flag included
  ASSERT_EQ(logger.handlers.size(), 1u);
  EXPECT_FALSE(logger.handlers[0].second);
  logger.Log(LogLevel::SEVERE, "once", "F", "f");
  EXPECT_EQ(out.str().find("SEVERE: once"), out.str().rfind("SEVERE: once"));

  Logger* first = global();
  EXPECT_EQ(first, global());
  EXPECT_EQ(first->handlers.size(), 1u);
}

TEST(Logger, OtherNamesStartWithoutHandlers) {
  Logger* other = Logger::GetLogger("logger-test-other");
  EXPECT_TRUE(other->handlers.empty());
  EXPECT_EQ(other->level, LogLevel::INFO);
  other->Log(LogLevel::SEVERE, "nowhere", "F", "f");  // writes nothing and must not fail
  Logger::CreateLogger("logger-test-other");           // an existing name keeps its logger
  EXPECT_EQ(other, Logger::GetLogger("logger-test-other"));
}

}  // namespace
