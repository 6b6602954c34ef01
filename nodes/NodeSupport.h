// Parameter reading shared by every node of the plug-in.
#pragma once

#include <string>
#include <typeinfo>

#include "fd/Node.h"

namespace NSVelkBinaural {

// The value of scalar parameter `name` (T = int or float). A nil reference fails with
// std::bad_typeid; an object of another type (a float given for an int, say) with a new
// FD::CastException<T> naming the type found. No conversion between int and float is made.
template <class T>
T ReadScalarParameter(const FD::ParameterSet& params, const std::string& name) {
  FD::ObjectRef ref = params.get(name);
  FD::Object* object = ref.get();
  const std::type_info& found = typeid(*object);  // std::bad_typeid for a nil reference
  auto* value = dynamic_cast<FD::GenericType<T>*>(object);
  if (!value) {
    const char* typeName = found.name();
    throw new FD::CastException<T>(typeName[0] == '*' ? typeName + 1 : typeName);
  }
  return value->val();
}

// Base of the plug-in's nodes: adds the typed parameter readers to a host node class.
template <class NodeBase>
class ParameterReader : public NodeBase {
 public:
  ParameterReader(const std::string& nodeName, const FD::ParameterSet& params) : NodeBase(nodeName, params) {}

 protected:
  template <class T>
  T getParameter(const std::string& name) const {
    return ReadScalarParameter<T>(this->parameters, name);
  }
  // A string parameter; a non-string fails with the host's cast exception for FD::String.
  std::string getString(const std::string& name) const {
    return FD::object_cast<FD::String>(this->parameters.get(name)).str();
  }
};

}  // namespace NSVelkBinaural
