// Turns a fixed list of directions into a source list on every frame, so that a separator can
// be aimed at directions the user chooses.
#pragma once

#include "NodeSupport.h"
#include "fd/NodeInfo.h"

class SourceMaker : public NSVelkBinaural::ParameterReader<FD::BufferedNode> {
 public:
  SourceMaker(const std::string& nodeName, const FD::ParameterSet& params);
  void calculate(int outputId, int count, FD::Buffer& out) override;
  static FD::NodeInfo describe();

 private:
  int outputID;
  FD::Vector<float> directions;  // azimuths in degrees, positive to the left
};
