// Transfer functions of a rigid spherical head, for tables where no measurement exists.
#pragma once

#include <complex>

#include "velkio/Export.h"
#include "velkio/VELK.h"

namespace velkio {

struct VELKIO_API HeadModelOptions {
  double radius = 0.09;        // head radius, metres
  double distance = 1.0;       // source distance from the head centre, metres
  int directions = 37;         // spread evenly over -90 .. +90 degrees (37: every 5 degrees)
  int fs = 16000;              // Hz
  int nfft = 512;              // the table holds nfft/2 + 1 bins
  double speedOfSound = 340.0; // m/s
};

// The pressure on the surface of a rigid sphere of radius `radius` at an angle `incidence`
// (radians) from the direction of a point source at `distance` from the centre, relative to the
// free-field pressure the source would give at the centre with no head present, at `frequency`
// (Hz). Phases follow X(f) = integral x(t) e^(-j 2 pi f t) dt, so a delay makes the phase fall.
// Throws std::invalid_argument unless 0 < radius < distance, and std::runtime_error when the
// series does not converge (a source almost touching the sphere).
VELKIO_API std::complex<double> sphereResponse(double radius, double distance, double incidence,
                                    double frequency, double speedOfSound = 340.0);

// A geometric file (format id 2, "GTF ") of the spherical head: channel 0 the left ear (at +90
// degrees), channel 1 the right ear (at -90 degrees), source directions -90 + i * 180 / (N - 1)
// for i = 0 .. N - 1 (N = 1: straight ahead). Throws std::invalid_argument for unusable options,
// among them direction counts whose spacing is not a whole number of degrees.
VELKIO_API VELK makeHeadModel(const HeadModelOptions& options);

}  // namespace velkio
