#include "velk_binaural/Peak.h"

#include <boost/make_shared.hpp>

namespace NSVelkBinaural {
namespace Peak {

namespace {

void Log(int level, const char* message) {
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(level)) logger->Log(level, message, "Peak", "GetPeaks");
}

// The margin is added in extended precision so that a float power exactly `threshold` above
// the noise compares equal and is rejected. Comparisons with NaN are false.
bool StandsAbove(float power, float noise, float threshold) {
  return static_cast<long double>(power) > static_cast<long double>(noise) + static_cast<long double>(threshold);
}

}  // namespace

PeakPairPtr GetPeaks(const FloatPairPtr& bgnoise, const FloatPairPtr& lrpower, const Band& lower, const Band& upper,
                     const BandInformation& info, float threshold) {
  if (upper.index < 1 || upper.index <= lower.index) {
    Log(LogLevel::WARNING, "upper or lower is invalid");
    return PeakPairPtr();
  }
  if (!IsEqualSignalSize(bgnoise) || !IsEqualSignalSize(lrpower)) {
    Log(LogLevel::WARNING, "bgnoise or lrpower is invalid");
    return PeakPairPtr();
  }
  const size_t end = static_cast<size_t>(upper.index);
  if (bgnoise->left->size < end || lrpower->left->size < end) {
    Log(LogLevel::WARNING, "size of bgnoise or lrpower is invalid");
    return PeakPairPtr();
  }

  Log(LogLevel::FINE, "creating return variables");
  PeakList left = boost::make_shared<std::vector<BandAndPower>>();
  PeakList right = boost::make_shared<std::vector<BandAndPower>>();
  PeakPairPtr peaks = boost::make_shared<PeakPair>(left, right);

  Log(LogLevel::FINE, "calculating peaks");
  const FloatSignal& powerL = *lrpower->left;
  const FloatSignal& powerR = *lrpower->right;
  const FloatSignal& noiseL = *bgnoise->left;
  const FloatSignal& noiseR = *bgnoise->right;
  // An invalid lower band (-1) becomes a start beyond every spectrum: nothing is examined.
  for (size_t i = static_cast<size_t>(static_cast<unsigned int>(lower.index)); i < powerL.size && i < end; ++i) {
    if (!StandsAbove(powerL.At(i), noiseL.At(i), threshold)) continue;
    if (!StandsAbove(powerR.At(i), noiseR.At(i), threshold)) continue;
    Band band = info.CreateBand(static_cast<int>(i));
    left->push_back(BandAndPower{band, static_cast<double>(powerL.At(i))});
    right->push_back(BandAndPower{band, static_cast<double>(powerR.At(i))});
  }
  return peaks;
}

}  // namespace Peak
}  // namespace NSVelkBinaural
