// Separates the sound of each source in a list: per frame, for every source, the spectrum of the
// ear on the source's side with only the bins whose interaural differences fit the source's
// direction, keyed by source id.
#pragma once

#include <complex>
#include <string>

#include <boost/shared_ptr.hpp>

#include "BGNEstimator.h"
#include "DirectionPassFilter.h"
#include "Logger.h"
#include "NodeSupport.h"
#include "fd/NodeInfo.h"

namespace NSVelkBinaural {
struct IIPDS;
class Separation;
}  // namespace NSVelkBinaural

class SeparateBinaural : public NSVelkBinaural::ParameterReader<FD::BufferedNode> {
 public:
  SeparateBinaural(const std::string& nodeName, const FD::ParameterSet& params);
  void calculate(int outputId, int count, FD::Buffer& out) override;
  static FD::NodeInfo describe();

 private:
  using ComplexMatrix = FD::Matrix<std::complex<float>>;

  // First-frame set-up: the transform length from the spectrum's width, and the interaural
  // tables from the "VELK_DAT" file. Runs again whenever frame 0 is computed.
  void count0Initialize(const ComplexMatrix& spectrum);
  void loadTables();
  void checkTablesFitSpectrum() const;

  const ComplexMatrix& spectrumOf(const FD::ObjectRef& ref, int count) const;
  FD::RCPtr<FD::Vector<FD::ObjectRef>> sourcesOf(const FD::ObjectRef& ref, int count) const;
  boost::shared_ptr<NSVelkBinaural::Separation> makeSeparator(const NSVelkBinaural::ComplexPairPtr& spectra,
                                                              const NSVelkBinaural::FloatPairPtr& noise);
  FD::RCPtr<FD::Map<int, FD::ObjectRef>> separateAll(const NSVelkBinaural::ComplexPairPtr& spectra,
                                                     const NSVelkBinaural::FloatPairPtr& noise,
                                                     const FD::Vector<FD::ObjectRef>& sources, int count);

  int spectrumID, sourcesID;
  int outputID;
  int samplingRate;  // Hz
  boost::shared_ptr<NSVelkBinaural::SeparationSetting> setting;
  bool sourceOnePresent;     // a source with id 1 was in the list on the last separated frame
  float rangeMin, rangeMax;  // half-width of the pass band straight ahead and at +-90, degrees
  NSVelkBinaural::BGNEstimator bgnEstimator;
  boost::shared_ptr<NSVelkBinaural::IIPDS> iipds;
  // The measured rule's spans of `iipds` per band of directions, kept across frames; emptied
  // whenever the tables are loaded.
  NSVelkBinaural::TableSpanCache tableSpans;
  FD::String separateMethod;
  NSVelkBinaural::Logger* logger;
};
