#include "LoggerInitializer.h"

#include <typeinfo>

#include "velk_binaural/Logger.h"

using NSVelkBinaural::Logger;
using NSVelkBinaural::LogLevel;

namespace {

struct NamedLevel {
  const char* name;
  int level;
};
const NamedLevel kLevels[] = {{"ALL", LogLevel::ALL},       {"FINEST", LogLevel::FINEST}, {"FINER", LogLevel::FINER},
                              {"FINE", LogLevel::FINE},     {"CONFIG", LogLevel::CONFIG}, {"INFO", LogLevel::INFO},
                              {"WARNING", LogLevel::WARNING}, {"SEVERE", LogLevel::SEVERE}, {"OFF", LogLevel::OFF}};

const velkparam::Declaration& LevelDeclaration() {
  static const velkparam::Declaration decl = [] {
    std::vector<std::string> names;
    for (const NamedLevel& l : kLevels) names.push_back(l.name);
    return velkparam::Declaration::Text("LOG_LEVEL", "INFO", "the logger's new threshold (case matters)")
        .Keywords(names, "SEVERE");
  }();
  return decl;
}

}  // namespace

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
  const std::string& name = velkparam::SelectedKeyword(LevelDeclaration(), text);
  for (const NamedLevel& l : kLevels)
    if (name == l.name) return l.level;
  return LogLevel::SEVERE;
}

FD::ObjectRef LoggerInitializer::getOutput(int, int) { return FD::ObjectRef(); }

FD::NodeInfo LoggerInitializer::describe() {
  FD::NodeInfo info;
  info.description = "Sets a logger's threshold while the network is built (no ports).";
  info.parameters = {
      velkparam::Declaration::Text("LOGGER", "global", "the logger to set; \"global\" is the one every component writes to"),
      LevelDeclaration()};
  return info;
}
