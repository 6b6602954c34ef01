// The interaural phase difference that a source in each direction of a grid produces at each
// frequency bin, held as unit phasors laid out for steered sums over many bins.
//
// Phases are right ear minus left ear, arg(R conj(L)), in the transform X[k] = sum x[n]
// e^(-j 2 pi k n / N). They come from measured transfer functions of a head, or from the path
// difference of a spherical-head model.
#pragma once

#include <cstddef>
#include <vector>

#include "velk_binaural/Export.h"

namespace NSVelkBinaural {

class VELK_API InterauralPhaseTable {
 public:
  // phases[d][k]: the phase difference in radians of direction d (azimuthsDeg[d], degrees,
  // positive to the left) at bin k, k = 0 .. bins - 1, bin k at k * sampleRateHz / (2 (bins - 1)).
  // The azimuths must be evenly spaced and strictly ascending or descending (the steered sums
  // are interpolated between neighbours); every direction needs the same number of bins, at
  // least 2. std::invalid_argument otherwise.
  InterauralPhaseTable(std::vector<double> azimuthsDeg, const std::vector<std::vector<double>>& phases,
                       double sampleRateHz);

  // A spherical head: pathDifferenceM[d] is the path to the left ear minus the path to the
  // right ear, in metres, for a source at azimuthsDeg[d]; the right ear then lags by that path
  // over the speed of sound, a phase of 2 pi f pathDifference / speedOfSound at frequency f.
  static InterauralPhaseTable FromPathDifferences(std::vector<double> azimuthsDeg,
                                                  const std::vector<double>& pathDifferenceM, double sampleRateHz,
                                                  std::size_t bins, double speedOfSoundMps = 340.0);

  std::size_t directions() const { return azimuths_.size(); }
  std::size_t bins() const { return bins_; }
  double sampleRateHz() const { return sampleRateHz_; }
  double azimuthDeg(std::size_t direction) const { return azimuths_.at(direction); }
  // Grid step, degrees (signed; 0 with one direction).
  double stepDeg() const { return azimuths_.size() > 1 ? azimuths_[1] - azimuths_[0] : 0.0; }
  double binFrequencyHz(std::size_t bin) const;

  // Cosines and sines of the phases of all directions at bin k, stride() values each (the
  // directions, then zeros up to a multiple of 8 so that loops over directions vectorise).
  const float* cosines(std::size_t bin) const { return cos_.data() + bin * stride_; }
  const float* sines(std::size_t bin) const { return sin_.data() + bin * stride_; }
  std::size_t stride() const { return stride_; }

 private:
  InterauralPhaseTable(std::vector<double> azimuthsDeg, std::size_t bins, double sampleRateHz);
  void Set(std::size_t direction, std::size_t bin, double phase);

  std::vector<double> azimuths_;
  std::size_t bins_ = 0;
  double sampleRateHz_ = 0.0;
  std::size_t stride_ = 0;
  std::vector<float> cos_, sin_;  // [bin * stride_ + direction]
};

}  // namespace NSVelkBinaural
