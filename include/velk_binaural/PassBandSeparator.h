// The pass-band separator: from the two-ear spectrum of each frame, the spectrum of each source
// direction asked for. For every source it keeps the bins whose interaural differences fit a band
// of directions around the source (narrow straight ahead, wider at the sides) and zeroes the rest,
// in the spectrum of the ear on the source's side.
//
// The first frames teach it the background noise (the measured-table method keeps only bins
// standing clearly above it); nothing is separated until then.
#pragma once

#include <complex>
#include <memory>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "velk_binaural/BGNEstimator.h"
#include "velk_binaural/DirectionPassFilter.h"
#include "velk_binaural/Export.h"
#include "velk_binaural/HRTF.h"
#include "velk_binaural/Logger.h"
#include "velk_binaural/Signal.h"
#include "velk_binaural/StereoSpectrum.h"
#include "velk_binaural/TableLoader.h"
#include "velkparam/Parameter.h"

namespace NSVelkBinaural {

class Separation;

struct VELK_API PassBandSeparatorConfig {
  enum class Method { HeadModel, MeasuredTables };

  // Every parameter at its declared default.
  PassBandSeparatorConfig();
  // The separator's parameters: name, type, default, accepted values, unit and meaning.
  static const std::vector<velkparam::Declaration>& Parameters();
  // The configuration for parameter values named as in Parameters(); absent ones take their
  // defaults. velkparam::ParameterError for a value that is refused.
  static PassBandSeparatorConfig FromParameters(const velkparam::Values& values);

  int samplingRateHz;
  double rangeMinDeg;  // half-width of the band of directions of a source straight ahead
  double rangeMaxDeg;  // ... of a source at +-90 degrees (linear in between)
  Method method;
  unsigned int noiseFrames;  // frames the noise estimate averages
  float noiseMarginDb;       // measured tables: a bin must stand this far above the noise in both ears
  TableRequest tables;       // the file is read whatever the method; its tables serve MeasuredTables

 private:
  struct Uninitialised {};
  explicit PassBandSeparatorConfig(Uninitialised) {}
};

// A source to separate: its id and direction (radians, positive to the left).
struct VELK_API SeparationTarget {
  int id;
  double azimuthRad;
};

struct VELK_API SeparatedSpectrum {
  int id;
  double azimuthRad;
  double halfWidthRad;      // of the band of directions whose bins were kept
  Channel::Kind ear;        // the ear on the source's side: LEFT for azimuths above 0
  ComplexSignalPtr spectrum;  // that ear's nfft/2 + 1 bins, the others zeroed; the caller's to keep
};

class VELK_API PassBandSeparator {
 public:
  // `tables` are needed with Method::MeasuredTables (std::invalid_argument without them) and
  // must fit the spectra (see CheckTablesFit).
  explicit PassBandSeparator(const PassBandSeparatorConfig& config, boost::shared_ptr<IIPDS> tables = {});
  ~PassBandSeparator();
  PassBandSeparator(const PassBandSeparator&) = delete;
  PassBandSeparator& operator=(const PassBandSeparator&) = delete;

  // Separates the targets from one frame (frames in order). One entry per distinct id, in the
  // order of the targets (a repeated id keeps its first direction); none while the noise is still
  // being learnt. The first frame fixes the transform length; later frames must have as many bins
  // (std::invalid_argument). The list is valid until the next call.
  const std::vector<SeparatedSpectrum>& Process(const StereoSpectrumView& frame,
                                                const std::vector<SeparationTarget>& targets);
  // Whether the noise is known, so that frames are separated.
  bool NoiseReady() const { return static_cast<bool>(noiseEstimator_.BGNoise()); }
  // Half-width of the band of directions kept for a source at `azimuthRad`, radians.
  double HalfWidthRad(double azimuthRad) const;
  const PassBandSeparatorConfig& Config() const { return config_; }

 private:
  std::unique_ptr<Separation> MakeSeparator(const ComplexPairPtr& spectra, const FloatPairPtr& noise);

  PassBandSeparatorConfig config_;
  boost::shared_ptr<IIPDS> tables_;
  BGNEstimator noiseEstimator_;
  boost::shared_ptr<SeparationSetting> setting_;  // made on the first frame
  // The measured rule's spans of the tables per band of directions, kept across frames.
  TableSpanCache tableSpans_;
  std::vector<SeparatedSpectrum> separated_;
  Logger* logger_;
};

}  // namespace NSVelkBinaural
