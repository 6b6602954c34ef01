#include "NodeParameters.h"

#include <sstream>

#include "fd/AudioFile.h"
#include "velkdsp/Window.h"

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

std::string text(const Node& node, const ParameterSet& params, const std::string& name) {
  ObjectRef value = params.get(name);
  auto* string = dynamic_cast<String*>(value.get());
  if (!string) throw error(node, name, "expected a string, got " + given(value));
  return string->str();
}

std::string text(const Node& node, const ParameterSet& params, const std::vector<velkparam::Declaration>& declared,
                 const std::string& name) {
  if (params.exist(name)) return text(node, params, name);
  return std::get<std::string>(declaration(declared, name).defaultValue);
}

velkparam::Declaration samplingRate(const std::string& meaning) {
  return velkparam::Declaration::Int("SAMPLING_RATE", 16000, "Hz", meaning).AtLeast(1);
}

velkparam::Declaration frameLength(bool transformed, const std::string& meaning) {
  velkparam::Declaration decl = velkparam::Declaration::Int("LENGTH", 512, "samples", meaning);
  if (transformed) decl.AtLeast(2).Even();
  else decl.AtLeast(1);
  return decl.AtMost(kMaxFrameLength);
}

velkparam::Declaration advance(const std::string& meaning) {
  return velkparam::Declaration::Int("ADVANCE", 160, "samples", meaning).AtLeast(1);
}

velkparam::Declaration window() {
  return velkparam::Declaration::Text("WINDOW", "HANN", "the analysis window (periodic)")
      .Keywords(velkdsp::windowShapeNames())
      .Optional();
}

velkparam::Declaration sampleFormat() {
  return velkparam::Declaration::Text("SAMPLE_FORMAT", "PCM16",
                               "PCM16: 16-bit samples, beyond +-1 clipped; FLOAT: 32-bit float, lossless")
      .Keywords(sampleFormatNames())
      .Optional();
}

}  // namespace param

NodeException* inputError(const Node& node, const std::string& port, int count, const std::string& message) {
  return new NodeException(&node, "input \"" + port + "\" at frame " + std::to_string(count) + ": " + message, "", 0);
}

}  // namespace FD
