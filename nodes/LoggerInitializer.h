// Sets the threshold of a logger when the network is built; it has no ports.
#pragma once

#include "fd/Node.h"
#include "fd/NodeInfo.h"

class LoggerInitializer : public FD::Node {
 public:
  LoggerInitializer(const std::string& nodeName, const FD::ParameterSet& params);
  FD::ObjectRef getOutput(int outputId, int count) override;
  static FD::NodeInfo describe();

  // The level of a level name: "ALL".."OFF"; any other text (case matters) gives SEVERE.
  static int LevelOf(const std::string& text);

 private:
  std::string readString(const std::string& name) const;
};
