// Frequency bands (bins of the short-time spectrum) and the transform they belong to.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/DimensionPromise.h"
#include "velk_binaural/Export.h"

namespace NSVelkBinaural {

class BandInformation;

// A bin index tied to the transform that made it; (-1, null) is the invalid band.
class VELK_API Band {
 public:
  Band() = default;
  Band(int index, const BandInformation* info) : index(index), info(info) {}
  // The band's centre frequency; 0 Hz for a band without transform information.
  NSDimensionPromise::FrequencyBase<double> Freq() const;

  int index = -1;
  const BandInformation* info = nullptr;  // not owned; outlives the band
};

// Sampling rate and transform length; converts between frequencies and band indices.
class VELK_API BandInformation {
 public:
  BandInformation(NSDimensionPromise::FrequencyBase<double> samplingRate, unsigned int fftLength);
  // The band of index `index`, or the invalid band outside 0 .. fftLength / 2.
  Band CreateBand(int index) const;
  // The band containing frequency f (index truncated toward zero), or the invalid band unless
  // 0 <= f <= samplingRate / 2.
  Band CreateBand(NSDimensionPromise::FrequencyBase<double> f) const;
  NSDimensionPromise::FrequencyBase<double> FreqOfBand(const Band& b) const;

  double samplingRate;
  std::uint32_t fftLength;
};

struct VELK_API BandAndPower {
  Band band;
  double power;
};

struct VELK_API BandAndHarmonicRatio {
  Band band;
  int ratio;  // 1 for the fundamental, 2 for the second harmonic, ...
};

namespace BandUtils {
using HarmonicList = boost::shared_ptr<std::vector<BandAndHarmonicRatio>>;
// Splits a list sorted by band at `boundary`: the leading run at or below it, then the rest.
VELK_API std::pair<HarmonicList, HarmonicList> DivideBands(const std::vector<BandAndHarmonicRatio>& bands, Band boundary);
}  // namespace BandUtils

}  // namespace NSVelkBinaural
