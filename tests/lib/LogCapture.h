// Captures what the global logger writes during a test, at a chosen threshold, and restores the
// logger's threshold and handlers afterwards.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "velk_binaural/Logger.h"

namespace testsupport {

class LogCapture {
 public:
  explicit LogCapture(int threshold = NSVelkBinaural::LogLevel::ALL)
      : logger_(NSVelkBinaural::Logger::GetLogger(NSVelkBinaural::Logger::GLOBAL_LOGGER_NAME)),
        savedLevel_(logger_->level),
        savedHandlers_(logger_->handlers) {
    logger_->handlers.clear();
    logger_->AddHandler(&out_, false);
    logger_->level = threshold;
  }
  ~LogCapture() {
    logger_->level = savedLevel_;
    logger_->handlers = savedHandlers_;
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string text() const { return out_.str(); }
  bool contains(const std::string& s) const { return out_.str().find(s) != std::string::npos; }
  // Number of entries whose message line starts with "<LEVEL>: <message>".
  int count(const std::string& levelAndMessage) const {
    int n = 0;
    std::string t = out_.str();
    for (size_t pos = t.find(levelAndMessage); pos != std::string::npos; pos = t.find(levelAndMessage, pos + 1))
      if (pos == 0 || t[pos - 1] == '\n') ++n;
    return n;
  }

 private:
  NSVelkBinaural::Logger* logger_;
  int savedLevel_;
  std::vector<NSVelkBinaural::Logger::OstreamPtr> savedHandlers_;
  std::ostringstream out_;
};

}  // namespace testsupport
