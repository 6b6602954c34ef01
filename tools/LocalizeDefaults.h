// The settings `velk-binaural localize` runs the localiser with unless told otherwise, and the
// typed assembly of a node's parameters from text.
#pragma once

#include <string>
#include <vector>

#include "fd/NodeInfo.h"
#include "fd/ParameterSet.h"

namespace velktool {

// Frame length (and transform length) of the localisation network, samples.
constexpr int kFrameLength = 512;

struct DefaultParameter {
  const char* name;
  const char* value;  // as text; typed by the node's description
};

// Every LocalizeBinaural parameter the head-model method needs, and the stages the command line
// runs, with the values chosen on the binaural test scenes (LocalizeDefaults.cpp and the README
// give the measurements behind them).
const std::vector<DefaultParameter>& localizeDefaults();

// Builds a node's parameter set from text values, typing each as the node's description says
// (int, float, string, Vector<int>, Vector<float>). Unknown names and values that do not read as
// their type are refused with a message naming the parameter, the value and what was expected.
class NodeParameterBuilder {
 public:
  NodeParameterBuilder(std::string nodeType, const FD::NodeInfo& info);
  void set(const std::string& name, const std::string& value);
  // "NAME=VALUE".
  void setAssignment(const std::string& assignment);
  const FD::ParameterSet& parameters() const { return params_; }

 private:
  const FD::ParameterInfo& describe(const std::string& name) const;

  std::string nodeType_;
  const FD::NodeInfo& info_;
  FD::ParameterSet params_;
};

}  // namespace velktool
