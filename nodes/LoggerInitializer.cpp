#include "LoggerInitializer.h"

#include <typeinfo>

#include "Logger.h"

using NSVelkBinaural::Logger;
using NSVelkBinaural::LogLevel;

LoggerInitializer::LoggerInitializer(const std::string& nodeName, const FD::ParameterSet& params)
    : FD::Node(nodeName, params) {
  std::string name = readString("LOGGER");
  Logger* logger = Logger::GetLogger(name == "global" ? Logger::GLOBAL_LOGGER_NAME : name);
  logger->level = LevelOf(readString("LOG_LEVEL"));
}

std::string LoggerInitializer::readString(const std::string& name) const {
  FD::ObjectRef ref = parameters.get(name);
  FD::Object* object = ref.get();
  const std::type_info& found = typeid(*object);  // std::bad_typeid for a nil reference
  auto* text = dynamic_cast<FD::String*>(object);
  if (!text) {
    const char* typeName = found.name();
    throw new FD::CastException<std::string>(typeName[0] == '*' ? typeName + 1 : typeName);
  }
  return text->str();
}

int LoggerInitializer::LevelOf(const std::string& text) {
  if (text == "ALL") return LogLevel::ALL;
  if (text == "FINEST") return LogLevel::FINEST;
  if (text == "FINER") return LogLevel::FINER;
  if (text == "FINE") return LogLevel::FINE;
  if (text == "CONFIG") return LogLevel::CONFIG;
  if (text == "INFO") return LogLevel::INFO;
  if (text == "WARNING") return LogLevel::WARNING;
  if (text == "OFF") return LogLevel::OFF;
  return LogLevel::SEVERE;
}

FD::ObjectRef LoggerInitializer::getOutput(int, int) { return FD::ObjectRef(); }

FD::NodeInfo LoggerInitializer::describe() {
  FD::NodeInfo info;
  info.description = "Sets a logger's threshold while the network is built (no ports).";
  info.parameters = {
      {"LOGGER", "string", "logger name; \"global\" is the one every component writes to", "global"},
      {"LOG_LEVEL", "string",
       "ALL, FINEST, FINER, FINE, CONFIG, INFO, WARNING, SEVERE or OFF (exact case; anything else means SEVERE)",
       "INFO"}};
  return info;
}
