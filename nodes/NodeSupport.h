// Parameter reading and input views shared by every node of the plug-in.
#pragma once

#include <complex>
#include <string>
#include <typeinfo>
#include <vector>

#include "fd/Node.h"
#include "velk_binaural/StereoSpectrum.h"
#include "velkparam/Parameter.h"

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

// Rows 0 (left) and 1 (right) of a two-row spectrum matrix, without copying.
inline StereoSpectrumView StereoView(const FD::Matrix<std::complex<float>>& spectrum) {
  return StereoSpectrumView{spectrum.row(0), spectrum.row(1), static_cast<std::size_t>(spectrum.cols())};
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
  // The value of parameter `decl.name` read as its declared type, with the failures of the typed
  // reads above (and FD::CastException<FD::Vector<T>> for lists).
  velkparam::Value read(const velkparam::Declaration& decl) const {
    switch (decl.type) {
      case velkparam::Type::Int:
        return getParameter<int>(decl.name);
      case velkparam::Type::Float:
        return getParameter<float>(decl.name);
      case velkparam::Type::String:
        return getString(decl.name);
      case velkparam::Type::IntList: {
        const auto& list = FD::object_cast<FD::Vector<int>>(this->parameters.get(decl.name));
        return std::vector<int>(list.begin(), list.end());
      }
      case velkparam::Type::FloatList: {
        const auto& list = FD::object_cast<FD::Vector<float>>(this->parameters.get(decl.name));
        return std::vector<float>(list.begin(), list.end());
      }
    }
    return velkparam::Value();
  }
  // The declared parameters in declaration order: each one that is always required (missing ones
  // fail as the reads do) and each other one that is given.
  velkparam::Values readDeclared(const std::vector<velkparam::Declaration>& table) const {
    velkparam::Values values;
    for (const velkparam::Declaration& decl : table)
      if (decl.need == velkparam::Need::Always || this->parameters.exist(decl.name)) values[decl.name] = read(decl);
    return values;
  }
  // A refused value as the node's error: 'Node "name": parameter "P" = v: expected ...'.
  [[noreturn]] void refuse(const velkparam::ParameterError& error) const {
    throw new FD::NodeException(this, error.what(), "", 0);
  }
};

}  // namespace NSVelkBinaural
