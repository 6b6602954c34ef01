// Fitting the rigid-sphere head model (HeadModel.h) to a measured head: the sphere radius, and
// if wanted the source distance, whose interaural phase differences at low frequencies come
// closest to those of a measured table.
#pragma once

#include <vector>

#include "velkio/Export.h"
#include "velkio/VELK.h"

namespace velkio {

struct VELKIO_API HeadFitOptions {
  // The band compared, Hz: low enough for the interaural phase to be governed by the time
  // difference around the head, high enough for that phase to be well above the measurement's
  // noise.
  double minFrequencyHz = 200.0;
  double maxFrequencyHz = 1500.0;
  // Source distance of the model, metres; 0: each direction's measured distance (measured tables
  // only).
  double distance = 0.0;
  // Also search the distance, from 0.2 to 5 m.
  bool fitDistance = false;
  // The radii searched, metres.
  double minRadius = 0.04;
  double maxRadius = 0.16;
  double speedOfSound = 340.0;  // m/s, as the head model uses
};

struct VELKIO_API HeadFit {
  double radius = 0.0;    // metres
  double distance = 0.0;  // metres; with the table's own distances, their mean
  // Measured minus model interaural phase (left minus right), wrapped to (-pi, pi], as a root
  // mean square over every direction and bin compared, radians; and the same with each bin's
  // error expressed as a time (divided by 2 pi f), microseconds.
  double rmsPhaseErrorRad = 0.0;
  double rmsDelayErrorUs = 0.0;
  size_t directions = 0, bins = 0;
};

// The interaural time difference of one direction at low frequencies, microseconds, positive
// when the left ear hears first: the least-squares slope (through 0 Hz) of the interaural phase,
// unwrapped along frequency, over the band compared.
struct VELKIO_API InterauralDelay {
  double azimuthDeg = 0.0;
  double measuredUs = 0.0;
  double modelUs = 0.0;
};

// The sphere that fits `table` best in the least-squares sense (the sum over directions and bins
// of 1 - cos(measured - model interaural phase), which does not mind phase wrapping). Channel 0
// of the table is taken as the left ear, channel 1 as the right. Throws std::invalid_argument for
// unusable options, a table without two channels, a band with no bin, or a geometric table
// without a distance given.
VELKIO_API HeadFit fitSphereHead(const VELK& table, const HeadFitOptions& options);

// How a given sphere compares with `table` over the same directions and band (no search);
// `distance` 0 takes the table's own distances.
VELKIO_API HeadFit sphereResidual(const VELK& table, double radius, double distance, const HeadFitOptions& options);

// Per direction of the table, the measured interaural time difference next to that of the sphere.
VELKIO_API std::vector<InterauralDelay> interauralDelays(const VELK& table, double radius, double distance,
                                              const HeadFitOptions& options);

}  // namespace velkio
