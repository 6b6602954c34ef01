#include "fd/ParameterSet.h"

namespace FD {

ObjectRef ParameterSet::get(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) throw new ParameterException(owner_, name);
  return it->second;
}

std::vector<std::string> ParameterSet::names() const {
  std::vector<std::string> out;
  for (const auto& kv : values_) out.push_back(kv.first);
  return out;
}

}  // namespace FD
