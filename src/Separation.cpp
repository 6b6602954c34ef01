// The head-model and measured-table separators.
#include "velk_binaural/Separation.h"

#include <complex>
#include <stdexcept>

#include "FastMath.h"
#include "velk_binaural/HRTF.h"
#include "velk_binaural/InterauralDifference.h"

namespace NSVelkBinaural {

namespace {

// Log lines of the separators carry this file name (the classes are declared in the header).
const char* const kFile = "../include/Separation";

constexpr double kSourceDistanceM = 1.0;
constexpr double kHeadRadiusM = 0.09;

void LogFine(Logger* logger, const char* message, const char* function) {
  if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, message, kFile, function);
}

FloatSignalPtr Levels(const ComplexSignal& spectrum) {
  FloatSignalPtr levels(new FloatSignal(spectrum.size, 0.0f));
  FastMath::LevelsDb(spectrum.data, levels->data, spectrum.size);
  return levels;
}

// A new pass band sized like `ipd`, every bin cut off: merging a rule's verdicts with OR then
// leaves exactly the bins the rule passes.
boost::shared_ptr<PassBand> ClosedBand(const InterauralPhaseDifference& ipd) {
  boost::shared_ptr<PassBand> band(new PassBand(ipd.size));
  SetPassBandFlags(band, PassBandFlag::CUTOFF);
  return band;
}

}  // namespace

// ---- Separation -------------------------------------------------------------------------------

Separation::Separation(const ComplexPairPtr& spectra, const boost::shared_ptr<SeparationSetting>& setting)
    : logger(Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME)), spectra(spectra), setting(setting) {
  if (!setting) throw std::invalid_argument("Separation: the separation setting is missing");
  if (!IsEqualSignalSize(spectra))
    throw std::invalid_argument("Separation: the spectra must hold a left and a right spectrum of equal length");
  LogFine(logger, "Separation::Separation", "Separation");
}

Separation::~Separation() {
  LogFine(logger, "Separation::~Separation", "~Separation");
  setting.reset();
  spectra.reset();
}

// ---- EpipolarSeparation -----------------------------------------------------------------------

EpipolarSeparation::EpipolarSeparation(const ComplexPairPtr& spectra,
                                       const boost::shared_ptr<SeparationSetting>& setting)
    : Separation(spectra, setting) {
  LogFine(logger, "EpipolarSeparation::EpipolarSeparation", "EpipolarSeparation");
}

EpipolarSeparation::~EpipolarSeparation() {
  LogFine(logger, "EpipolarSeparation::~EpipolarSeparation", "~EpipolarSeparation");
}

ComplexPairPtr EpipolarSeparation::separate(Angle direction, Angle range) {
  // Right minus left, as the head model gives it.
  if (!ipd) ipd.reset(new InterauralPhaseDifference(spectra, Channel::RIGHT));
  boost::shared_ptr<PassBand> band = ClosedBand(*ipd);
  band->SetPassBandEpipolar(PassBandSetMode::OR, setting, direction, range, ipd,
                            NSDimensionPromise::LengthBase<double>(kSourceDistanceM),
                            NSDimensionPromise::LengthBase<double>(kHeadRadiusM));
  return BandExtractor(spectra).Extract(band);
}

// ---- HRTFSeparation ---------------------------------------------------------------------------

HRTFSeparation::HRTFSeparation(const ComplexPairPtr& spectra, const boost::shared_ptr<SeparationSetting>& setting,
                               const FloatPairPtr& noise, const IIPDS& table, float threshold,
                               TableSpanCache* spans)
    : Separation(spectra, setting), noise(noise), table(table), threshold(threshold), spans(spans) {}

HRTFSeparation::~HRTFSeparation() { noise.reset(); }

void HRTFSeparation::PrepareFrame() {
  if (ipd) return;
  // Right minus left, as the measured tables (channel 1 minus channel 0) hold them.
  ipd.reset(new InterauralPhaseDifference(spectra, Channel::RIGHT));
  iid.reset(new InterauralIntensityDifference(spectra, Channel::RIGHT));
  FloatSignalPtr left = Levels(*spectra->left);
  FloatSignalPtr right = Levels(*spectra->right);
  levels.reset(new FloatPair(left, right));
}

ComplexPairPtr HRTFSeparation::separate(Angle direction, Angle range) {
  PrepareFrame();
  boost::shared_ptr<PassBand> band = ClosedBand(*ipd);
  band->SetPassBandHRTF(PassBandSetMode::OR, setting, direction, range, ipd, iid, levels, noise, table, threshold,
                        spans);
  return BandExtractor(spectra).Extract(band);
}

}  // namespace NSVelkBinaural
