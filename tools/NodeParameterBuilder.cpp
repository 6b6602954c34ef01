#include "NodeParameterBuilder.h"

#include <stdexcept>

#include "fd/ParameterValues.h"

namespace velktool {

NodeParameterBuilder::NodeParameterBuilder(std::string nodeType, const FD::NodeInfo& info)
    : nodeType_(std::move(nodeType)), info_(info), params_(nodeType_) {
  for (const velkparam::Declaration& decl : info_.parameters)
    if (decl.need == velkparam::Need::Always) params_.add(decl.name, FD::parameterObject(decl.defaultValue));
}

const velkparam::Declaration& NodeParameterBuilder::describe(const std::string& name) const {
  if (const velkparam::Declaration* decl = velkparam::Find(info_.parameters, name)) return *decl;
  throw std::invalid_argument(nodeType_ + " has no parameter \"" + name + "\"; its parameters are " +
                              velkparam::Names(info_.parameters));
}

void NodeParameterBuilder::set(const std::string& name, const std::string& value) {
  const velkparam::Declaration& decl = describe(name);
  try {
    params_.add(name, FD::parameterObject(velkparam::Parse(decl, value)));
  } catch (const velkparam::ParameterError& e) {
    throw std::invalid_argument(nodeType_ + " " + e.what());
  }
}

}  // namespace velktool
