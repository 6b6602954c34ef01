#include "fd/ParameterValues.h"

#include <stdexcept>

#include "fd/Values.h"

namespace FD {

std::optional<velkparam::Value> parameterValue(const ObjectRef& object) {
  const Object* p = object.get();
  if (auto* v = dynamic_cast<const Int*>(p)) return velkparam::Value(v->val());
  if (auto* v = dynamic_cast<const Float*>(p)) return velkparam::Value(v->val());
  if (auto* v = dynamic_cast<const String*>(p)) return velkparam::Value(v->str());
  if (auto* v = dynamic_cast<const Vector<int>*>(p)) return velkparam::Value(std::vector<int>(v->begin(), v->end()));
  if (auto* v = dynamic_cast<const Vector<float>*>(p))
    return velkparam::Value(std::vector<float>(v->begin(), v->end()));
  return std::nullopt;
}

ObjectRef parameterObject(const velkparam::Value& value) {
  switch (velkparam::TypeOf(value)) {
    case velkparam::Type::Int:
      return make<Int>(std::get<int>(value));
    case velkparam::Type::Float:
      return make<Float>(std::get<float>(value));
    case velkparam::Type::String:
      return make<String>(std::get<std::string>(value));
    case velkparam::Type::IntList: {
      const auto& list = std::get<std::vector<int>>(value);
      return make<Vector<int>>(list.begin(), list.end());
    }
    case velkparam::Type::FloatList: {
      const auto& list = std::get<std::vector<float>>(value);
      return make<Vector<float>>(list.begin(), list.end());
    }
  }
  return ObjectRef();
}

ObjectRef typedForDeclaration(const velkparam::Declaration* declared, const ObjectRef& object, const std::string& where) {
  if (!declared) return object;
  const std::optional<velkparam::Value> value = parameterValue(object);
  if (!value) return object;
  std::string why;
  const std::optional<velkparam::Value> typed = velkparam::Converted(*declared, *value, &why);
  if (!typed) throw new GeneralException(where + ": " + why);
  return velkparam::TypeOf(*typed) == velkparam::TypeOf(*value) ? object : parameterObject(*typed);
}

void checkDeclaredParameters(const Node& node, const ParameterSet& params, const std::vector<velkparam::Declaration>& declared) {
  for (const velkparam::Declaration& decl : declared) {
    if (!params.exist(decl.name)) continue;
    const std::optional<velkparam::Value> value = parameterValue(params.get(decl.name));
    if (!value || velkparam::TypeOf(*value) != decl.type) continue;
    const std::string problem = velkparam::Problem(decl, *value);
    if (!problem.empty())
      throw new NodeException(&node, velkparam::ParameterError(decl.name, velkparam::ToText(*value), problem).what(),
                              "", 0);
  }
}

const velkparam::Declaration& declaration(const std::vector<velkparam::Declaration>& declared, const std::string& name) {
  if (const velkparam::Declaration* decl = velkparam::Find(declared, name)) return *decl;
  throw std::logic_error("parameter \"" + name + "\" is not declared");
}

}  // namespace FD
