#include "velk_binaural/Logger.h"

#include <ctime>
#include <iostream>

namespace NSVelkBinaural {

const int LogLevel::ALL = INT_MIN;
const int LogLevel::OFF = INT_MAX;

std::map<std::string, boost::shared_ptr<Logger>> Logger::loggers;
const std::string Logger::GLOBAL_LOGGER_NAME = "global";

std::string LogLevel::ToString() const {
  static const char* const names[] = {"FINEST", "FINER", "FINE", "CONFIG", "INFO", "WARNING", "SEVERE"};
  if (value <= 0) return "ALL";
  if (value >= 8) return "";
  return names[value - 1];
}

Logger::Logger(const std::string& name) : level(LogLevel::INFO), name(name) {}

Logger::~Logger() {
  for (OstreamPtr& h : handlers)
    if (h.second) delete h.first;
}

void Logger::AddHandler(std::ostream* stream, bool owned) {
  for (const OstreamPtr& h : handlers)
    if (h.first == stream) return;
  handlers.emplace_back(stream, owned);
}

void Logger::Log(LogLevel lv, const std::string& message, const std::string& file,
                 const std::string& function) {
  if (lv.value < level) return;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  for (OstreamPtr& h : handlers) {
    std::ostream& out = *h.first;
    out << local.tm_year + 1900 << "/" << local.tm_mon + 1 << "/" << local.tm_mday << " " << local.tm_hour
        << ":" << local.tm_min << ":" << local.tm_sec << " " << file << " " << function << "\n"
        << lv.ToString() << ": " << message << std::endl;
  }
}

void Logger::Log(LogLevel lv, const boost::format& message, const std::string& file,
                 const std::string& function) {
  if (lv.value < level) return;
  Log(lv, message.str(), file, function);
}

void Logger::CreateLogger(const std::string& name) {
  if (loggers.count(name)) return;
  loggers[name] = boost::shared_ptr<Logger>(new Logger(name));
}

Logger* Logger::GetLogger(const std::string& name) {
  auto it = loggers.find(name);
  if (it != loggers.end()) return it->second.get();
  CreateLogger(name);
  Logger* logger = loggers[name].get();
  if (name == GLOBAL_LOGGER_NAME) logger->AddHandler(&std::cout, false);
  return logger;
}

Logger* Logger::Global() {
  static Logger* const global = GetLogger(GLOBAL_LOGGER_NAME);
  return global;
}

}  // namespace NSVelkBinaural
