#include "NodeParameterBuilder.h"

#include <stdexcept>

#include "fd/ParameterValues.h"

namespace velktool {

NodeParameterBuilder::NodeParameterBuilder(std::string nodeType, const FD::NodeInfo& info)
    : nodeType_(std::move(nodeType)), info_(info), params_(nodeType_) {
  for (const velkparam::Spec& spec : info_.parameters)
    if (spec.need == velkparam::Need::Always) params_.add(spec.name, FD::parameterObject(spec.defaultValue));
}

const velkparam::Spec& NodeParameterBuilder::describe(const std::string& name) const {
  if (const velkparam::Spec* spec = velkparam::Find(info_.parameters, name)) return *spec;
  throw std::invalid_argument(nodeType_ + " has no parameter \"" + name + "\"; its parameters are " +
                              velkparam::Names(info_.parameters));
}

void NodeParameterBuilder::set(const std::string& name, const std::string& value) {
  const velkparam::Spec& spec = describe(name);
  try {
    params_.add(name, FD::parameterObject(velkparam::Parse(spec, value)));
  } catch (const velkparam::ParameterError& e) {
    throw std::invalid_argument(nodeType_ + " " + e.what());
  }
}

}  // namespace velktool
