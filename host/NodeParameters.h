// Parameter reading for the host's standard nodes. Internal to the host. Every failure is a
// NodeException that names the node, the parameter, the value given and what was expected; an
// absent parameter is the ParameterSet's own exception, which names both.
#pragma once

#include <string>

#include "fd/Node.h"

namespace FD {
namespace param {

int integer(const Node& node, const ParameterSet& params, const std::string& name);
// An int of at least `minimum`.
int integerAtLeast(const Node& node, const ParameterSet& params, const std::string& name, int minimum);
// "LENGTH", a frame length in samples: at least 1 (2 and even for nodes that transform frames,
// `even`) and at most kMaxFrameLength, so that a mistyped value fails here rather than in an
// allocation.
constexpr int kMaxFrameLength = 1 << 20;
int frameLength(const Node& node, const ParameterSet& params, bool even);
std::string text(const Node& node, const ParameterSet& params, const std::string& name);
// The text of an optional string parameter, or `fallback` when it is absent.
std::string text(const Node& node, const ParameterSet& params, const std::string& name, const std::string& fallback);

// A NodeException for parameter `name` of `node`: 'parameter "name": <message>'.
NodeException* error(const Node& node, const std::string& name, const std::string& message);

}  // namespace param

// A NodeException about input `port` of `node` at frame `count`.
NodeException* inputError(const Node& node, const std::string& port, int count, const std::string& message);

}  // namespace FD
