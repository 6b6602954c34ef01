// The written contract of a node type: what it is for, its ports and its parameters. It is what
// `velk-binaural nodes` prints, what the README's node reference is generated from, and what
// parameters are typed and checked with.
#pragma once

#include <string>
#include <vector>

#include "fd/Export.h"
#include "velkparam/Parameter.h"

namespace FD {

struct FD_API PortInfo {
  std::string name;
  std::string type;         // e.g. "Matrix<complex<float>>"
  std::string description;  // content and unit
};

struct FD_API NodeInfo {
  std::string description;
  std::vector<PortInfo> inputs, outputs;
  // Name, type, default, accepted values, unit and meaning of every parameter. Nodes require their
  // parameters as each entry says; the defaults are what the tools fill in.
  std::vector<velkparam::Declaration> parameters;
};

}  // namespace FD
