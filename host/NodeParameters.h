// Parameter reading for the host's standard nodes. Internal to the host. Every failure is a
// NodeException that names the node, the parameter, the value given and what was expected; an
// absent parameter is the ParameterSet's own exception, which names both. What a parameter
// accepts is read from the node type's declarations (see fd/ParameterValues.h).
#pragma once

#include <string>
#include <vector>

#include "fd/Node.h"
#include "fd/ParameterValues.h"

namespace FD {
namespace param {

int integer(const Node& node, const ParameterSet& params, const std::string& name);
std::string text(const Node& node, const ParameterSet& params, const std::string& name);
// The text of an optional string parameter, or its declared default when it is absent.
std::string text(const Node& node, const ParameterSet& params, const std::vector<velkparam::Declaration>& declared,
                 const std::string& name);

// A NodeException for parameter `name` of `node`: 'parameter "name": <message>'.
NodeException* error(const Node& node, const std::string& name, const std::string& message);

// The declarations of the parameters several standard nodes share.
// A frame length of more samples than this is taken for a mistake rather than allocated.
constexpr int kMaxFrameLength = 1 << 20;
velkparam::Declaration samplingRate(const std::string& meaning);
// LENGTH; even for nodes that transform frames.
velkparam::Declaration frameLength(bool transformed, const std::string& meaning);
velkparam::Declaration advance(const std::string& meaning);
velkparam::Declaration window();
velkparam::Declaration sampleFormat();

}  // namespace param

// A NodeException about input `port` of `node` at frame `count`.
NodeException* inputError(const Node& node, const std::string& port, int count, const std::string& message);

}  // namespace FD
