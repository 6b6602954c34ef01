// The typed assembly of a node's parameters from text, with the node type's declared defaults
// filled in, for the networks the commands build in code.
#pragma once

#include <string>

#include "fd/NodeInfo.h"
#include "fd/ParameterSet.h"

namespace velktool {

// Frame length (and transform length) of the networks the commands build, samples.
constexpr int kFrameLength = 512;

// Builds a node's parameter set: every parameter the node type requires starts at its declared
// default, and text values are typed as the declarations say (int, float, string, Vector<int>,
// Vector<float>). Unknown names and values that do not read as their type are refused with a
// message naming the parameter, the value and what was expected.
class NodeParameterBuilder {
 public:
  NodeParameterBuilder(std::string nodeType, const FD::NodeInfo& info);
  void set(const std::string& name, const std::string& value);
  const FD::ParameterSet& parameters() const { return params_; }

 private:
  const velkparam::Declaration& describe(const std::string& name) const;

  std::string nodeType_;
  const FD::NodeInfo& info_;
  FD::ParameterSet params_;
};

}  // namespace velktool
