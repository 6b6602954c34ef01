// The written contract of a node type: what it is for, its ports and its parameters. It is what
// `velk-binaural nodes` prints and what the README's node tables are made from.
#pragma once

#include <string>
#include <vector>

namespace FD {

struct PortInfo {
  std::string name;
  std::string type;         // e.g. "Matrix<complex<float>>"
  std::string description;  // content and unit
};

struct ParameterInfo {
  std::string name;
  std::string type;         // "int", "float", "string", "Vector<int>", ...
  std::string description;  // meaning and unit
  std::string suggested;    // a sensible value for users (nodes themselves supply no defaults)
};

struct NodeInfo {
  std::string description;
  std::vector<PortInfo> inputs, outputs;
  std::vector<ParameterInfo> parameters;
};

}  // namespace FD
