// Node parameters seen through their declarations (velkparam::Declaration): the host objects that carry
// parameter values and the declared values they stand for, and the checks that follow from a
// node type's declared parameters.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fd/Export.h"
#include "fd/Node.h"
#include "velkparam/Parameter.h"

namespace FD {

// The value an Int, Float, String, Vector<int> or Vector<float> carries; nothing for any other
// object or nil.
FD_API std::optional<velkparam::Value> parameterValue(const ObjectRef& object);
// The host object that carries `value`.
FD_API ObjectRef parameterObject(const velkparam::Value& value);

// A value typed by its declaration wherever it is given (network files, overrides): an int for a
// float parameter becomes a float, a whole float for an int parameter an int. Objects of the
// declared type, and parameters that are not declared, come back unchanged. Anything else throws
// a GeneralException "<where>: <why>", "2.5 is not a whole number; expected an int ..." say.
FD_API ObjectRef typedForDeclaration(const velkparam::Declaration* declared, const ObjectRef& object, const std::string& where);

// Checks the parameters of `node` that have their declared type against what their declarations
// accept: a value out of range, or a text that is not one of the keywords, throws a new
// NodeException 'parameter "NAME" = VALUE: expected ...'. Values of another type are left to the
// node's typed reads, and absent parameters to its reads as well.
FD_API void checkDeclaredParameters(const Node& node, const ParameterSet& params, const std::vector<velkparam::Declaration>& declared);

// The declaration of `name` in a node type's contract; std::logic_error when there is none.
FD_API const velkparam::Declaration& declaration(const std::vector<velkparam::Declaration>& declared, const std::string& name);

}  // namespace FD
