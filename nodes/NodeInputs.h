// Reading the inputs the separator nodes share: the frame's two-ear spectrum and its list of
// sources. Input the nodes cannot work with is rejected with a message naming the node, the
// port, the frame and what was found, never guessed at.
#pragma once

#include <complex>
#include <vector>

#include "fd/Node.h"
#include "fd/Values.h"

namespace NSVelkBinaural {

using SpectrumMatrix = FD::Matrix<std::complex<float>>;

// Input SPECTRUM of `node` on frame `count`: a complex matrix of two rows (left ear, right ear).
const SpectrumMatrix& TwoEarSpectrum(const FD::Node& node, const FD::ObjectRef& ref, int count);

// A source of the list: its id and azimuth (radians, positive to the left).
struct ListedSource {
  int id;
  double azimuthRad;
};

// Input SOURCES of `node` on frame `count`: every element a source record with a finite
// position, in list order; nil is an empty list.
std::vector<ListedSource> SourceList(const FD::Node& node, const FD::ObjectRef& ref, int count);

}  // namespace NSVelkBinaural
