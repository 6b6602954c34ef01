#include "NodeParameters.h"

#include <sstream>

namespace FD {
namespace param {

namespace {
// "float 512.5", "String abc", ...: what was given, for messages.
std::string given(const ObjectRef& value) {
  if (value.isNil()) return "nil";
  std::ostringstream out;
  value->printOn(out);
  std::string printed = out.str();
  return value->className() + " " + printed;
}
}  // namespace

NodeException* error(const Node& node, const std::string& name, const std::string& message) {
  return new NodeException(&node, "parameter \"" + name + "\": " + message, "", 0);
}

int integer(const Node& node, const ParameterSet& params, const std::string& name) {
  ObjectRef value = params.get(name);
  auto* number = dynamic_cast<Int*>(value.get());
  if (!number) throw error(node, name, "expected an int, got " + given(value));
  return number->val();
}

int integerAtLeast(const Node& node, const ParameterSet& params, const std::string& name, int minimum) {
  const int value = integer(node, params, name);
  if (value < minimum)
    throw error(node, name, "expected an int of at least " + std::to_string(minimum) + ", got " + std::to_string(value));
  return value;
}

int frameLength(const Node& node, const ParameterSet& params, bool even) {
  const int length = integerAtLeast(node, params, "LENGTH", even ? 2 : 1);
  if (length > kMaxFrameLength)
    throw error(node, "LENGTH", "expected at most " + std::to_string(kMaxFrameLength) + " samples, got " + std::to_string(length));
  if (even && length % 2 != 0) throw error(node, "LENGTH", "expected an even frame length, got " + std::to_string(length));
  return length;
}

std::string text(const Node& node, const ParameterSet& params, const std::string& name) {
  ObjectRef value = params.get(name);
  auto* string = dynamic_cast<String*>(value.get());
  if (!string) throw error(node, name, "expected a string, got " + given(value));
  return string->str();
}

std::string text(const Node& node, const ParameterSet& params, const std::string& name, const std::string& fallback) {
  return params.exist(name) ? text(node, params, name) : fallback;
}

}  // namespace param

NodeException* inputError(const Node& node, const std::string& port, int count, const std::string& message) {
  return new NodeException(&node, "input \"" + port + "\" at frame " + std::to_string(count) + ": " + message, "", 0);
}

}  // namespace FD
