// Reading a separator's output, a map from source id to that source's spectrum, for the nodes that
// turn it back into sound. Internal to the host.
#pragma once

#include <complex>

#include "fd/Node.h"

namespace FD {

// The map of input `port` at frame `frame`, or null for a nil input (no source); a NodeException
// naming the port and the frame for anything else.
const Map<int, ObjectRef>* separatedSources(const Node& node, const std::string& port, int frame, const ObjectRef& in);

// The spectrum of source `id` in such a map; a NodeException naming the id when it is not a
// Vector<complex<float>> of `bins` bins (LENGTH `length`).
const Vector<std::complex<float>>& separatedSpectrum(const Node& node, const std::string& port, int frame, int id,
                                                     const ObjectRef& value, int bins, int length);

}  // namespace FD
