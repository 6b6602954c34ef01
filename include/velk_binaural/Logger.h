// Named loggers with a severity threshold and a list of output streams.
//
// Almost all code logs through the logger named "global", which writes to standard output with
// threshold INFO. Each entry is two lines: "year/month/day hour:minute:second file function",
// then "LEVEL: message". Callers on hot paths compare the level with `level` before building a
// message, because formatting costs more than the work being logged.
#pragma once

#include <climits>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <boost/format.hpp>
#include <boost/shared_ptr.hpp>

#include "velk_binaural/Export.h"

namespace NSVelkBinaural {

class VELK_API LogLevel {
 public:
  static const int ALL;  // INT_MIN: every message is written
  static const int OFF;  // INT_MAX: nothing but messages at OFF itself
  static constexpr int FINEST = 1;
  static constexpr int FINER = 2;
  static constexpr int FINE = 3;
  static constexpr int CONFIG = 4;
  static constexpr int INFO = 5;
  static constexpr int WARNING = 6;
  static constexpr int SEVERE = 7;

  LogLevel(int value) : value(value) {}  // NOLINT: levels are passed as plain ints
  // "ALL" for values <= 0, "FINEST".."SEVERE" for 1..7, "" for values >= 8.
  std::string ToString() const;

  int value;
};

class VELK_API Logger {
 public:
  // A stream and whether the logger owns (and deletes) it.
  using OstreamPtr = std::pair<std::ostream*, bool>;

  explicit Logger(const std::string& name);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Adds a stream unless it is already a handler (then the call does nothing).
  void AddHandler(std::ostream* stream, bool owned);
  void Log(LogLevel level, const std::string& message, const std::string& file,
           const std::string& function);
  void Log(LogLevel level, const boost::format& message, const std::string& file,
           const std::string& function);
  // Whether a message at `lv` would be written; test it before formatting.
  bool IsLoggable(int lv) const { return lv >= level; }

  static void CreateLogger(const std::string& name);
  // The registered logger of that name, created on first use; "global" writes to std::cout.
  static Logger* GetLogger(const std::string& name);
  // The global logger, looked up once; loggers live until the process ends.
  static Logger* Global();

  static std::map<std::string, boost::shared_ptr<Logger>> loggers;
  static const std::string GLOBAL_LOGGER_NAME;

  int level;
  std::string name;
  std::vector<OstreamPtr> handlers;
};

}  // namespace NSVelkBinaural
