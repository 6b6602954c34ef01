#include "velk_binaural/Band.h"

#include <cmath>

#include <boost/make_shared.hpp>

namespace NSVelkBinaural {

using NSDimensionPromise::FrequencyBase;

FrequencyBase<double> Band::Freq() const {
  return info ? info->FreqOfBand(*this) : FrequencyBase<double>(0.0);
}

BandInformation::BandInformation(FrequencyBase<double> rate, unsigned int length)
    : samplingRate(rate.Value() < 0.0 ? 0.0 : rate.Value()), fftLength(length) {}

Band BandInformation::CreateBand(int index) const {
  if (index < 0 || static_cast<std::uint32_t>(index) > fftLength / 2) return Band();
  return Band(index, this);
}

Band BandInformation::CreateBand(FrequencyBase<double> f) const {
  double hz = f.Value();
  if (!(hz >= 0.0 && hz <= samplingRate * 0.5)) return Band();  // also rejects NaN
  long double index = static_cast<long double>(hz) * fftLength / samplingRate;
  if (!std::isfinite(static_cast<double>(index))) return Band();  // a rate of 0 Hz
  return Band(static_cast<int>(index), this);
}

FrequencyBase<double> BandInformation::FreqOfBand(const Band& b) const {
  if (b.index < 0 || static_cast<std::uint32_t>(b.index) > fftLength / 2) return FrequencyBase<double>(0.0);
  return FrequencyBase<double>(b.index * samplingRate / fftLength);
}

namespace BandUtils {

std::pair<HarmonicList, HarmonicList> DivideBands(const std::vector<BandAndHarmonicRatio>& bands, Band boundary) {
  HarmonicList low = boost::make_shared<std::vector<BandAndHarmonicRatio>>();
  HarmonicList high = boost::make_shared<std::vector<BandAndHarmonicRatio>>();
  size_t i = 0;
  while (i < bands.size() && bands[i].band.index <= boundary.index) low->push_back(bands[i++]);
  high->assign(bands.begin() + static_cast<std::ptrdiff_t>(i), bands.end());
  return {low, high};
}

}  // namespace BandUtils
}  // namespace NSVelkBinaural
