// Background noise of the two ear channels, learnt from the first frames a node sees.
//
// The estimator sums the magnitudes and the complex values of a fixed number of frames, then
// turns the sums into a noise level per band in decibels (the decibel value of the mean
// magnitude) and a mean complex spectrum, and keeps both frozen for the rest of its life.
#pragma once

#include <cstdint>

#include "velk_binaural/Export.h"
#include "velk_binaural/Signal.h"

namespace NSVelkBinaural {

class VELK_API BGNEstimator {
 public:
  // `estimateLength` is the number of frames to average; it must be at least 1.
  explicit BGNEstimator(unsigned int estimateLength);

  // Feeds the left/right spectra of one frame. The first `estimateLength` valid frames are
  // accumulated; the next valid frame completes the estimate without entering it; later frames
  // change nothing. An invalid pair (missing holder or channel, channels of different lengths)
  // is ignored. A frame whose length differs from the first counted frame throws
  // std::out_of_range and leaves the estimator as it was.
  void Estimate(const ComplexPairPtr& spectra);

  // The noise level per channel and band in dB once the estimate is complete, else null.
  FloatPairPtr BGNoise() const;
  // The mean complex spectrum per channel once the estimate is complete, else null.
  ComplexPairPtr BGNoiseSpectra() const;

  bool Estimated() const { return estimated_; }
  std::uint32_t EstimateCounter() const { return estimateCounter_; }

 private:
  void CreateAccumulators(size_t bands);
  void Accumulate(const ComplexPair& spectra);
  void Complete();

  std::uint32_t estimateCounter_;
  std::uint32_t estimateLength_;
  bool estimated_;
  ComplexPairPtr bgnoiseSpectra_;  // sums of the complex spectra, then their mean
  FloatPairPtr bgnoise_;           // sums of the magnitudes, then the level in dB
};

}  // namespace NSVelkBinaural
