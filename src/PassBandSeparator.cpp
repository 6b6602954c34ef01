#include "velk_binaural/PassBandSeparator.h"

#include <algorithm>
#include <stdexcept>

#include <boost/format.hpp>
#include <boost/make_shared.hpp>

#include "velk_binaural/Angles.h"
#include "velk_binaural/Separation.h"

namespace NSVelkBinaural {

using velkparam::Declaration;

namespace {

const char* const kMeasured = "HRTFMESURED";  // spelled so by every network that uses it
const char* const kMeasuredSpelledOut = "HRTFMEASURED";  // accepted beside it

// The defaults 20 / 40 were chosen by a sweep over the two- and three-talker test scenes (mean /
// worst gain in dB): 10/20 gave 2.16 / -4.44 (head model) and 4.64 / 0.16 (measured); 20/30 gave
// 4.41 / -2.49 and 5.49 / 1.45; 20/40 gave 4.72 / -2.63 and 5.86 / 1.85; 30/45 made the pass bands
// of a pair 60 degrees apart overlap.
std::vector<Declaration> MakeTable() {
  return {
      Declaration::Int("SAMPLING_RATE", 16000, "Hz", "sampling rate of the spectrum").AtLeast(1),
      Declaration::Float("RANGE_MIN", 20.0f, "degrees", "half-width of the pass band for a source straight ahead").AtLeast(0),
      Declaration::Float("RANGE_MAX", 40.0f, "degrees",
                  "half-width of the pass band for a source at +-90 degrees (linear in between)")
          .AtLeast(0),
      Declaration::Text("SEPARATE_METHOD", "EPIPOLAR",
                 "EPIPOLAR judges bins below 1500 Hz with a spherical head model (0.09 m); HRTFMESURED judges every "
                 "bin (HRTFMEASURED is the same) with the tables of VELK_DAT and keeps only bins 10 dB above the noise in both ears")
          .Keywords({"EPIPOLAR", kMeasured, kMeasuredSpelledOut}),
      Declaration::Text("VELK_DAT", "examples/kemar_front_16k_512.velk",
                 "transfer-function file of the head, read on the first frame with either method; for HRTFMESURED "
                 "it must be made for SAMPLING_RATE and the spectrum's transform length"),
      Declaration::IntList("VELK_DAT_CHANNELS", {0, 1}, "", "the file's channels used as the left and the right ear")
          .Size(2)
          .AtLeast(0)
          .Optional(),
  };
}

}  // namespace

const std::vector<Declaration>& PassBandSeparatorConfig::Parameters() {
  static const std::vector<Declaration> table = MakeTable();
  return table;
}

PassBandSeparatorConfig::PassBandSeparatorConfig() { *this = FromParameters({}); }

PassBandSeparatorConfig PassBandSeparatorConfig::FromParameters(const velkparam::Values& given) {
  const std::vector<Declaration>& table = Parameters();
  const velkparam::Values values = velkparam::Completed(table, given);
  PassBandSeparatorConfig c(Uninitialised{});
  c.samplingRateHz = velkparam::IntOf(table, values, "SAMPLING_RATE");
  c.rangeMinDeg = velkparam::FloatOf(table, values, "RANGE_MIN");
  c.rangeMaxDeg = velkparam::FloatOf(table, values, "RANGE_MAX");
  c.method = velkparam::KeywordOf(table, values, "SEPARATE_METHOD") == "EPIPOLAR" ? Method::HeadModel
                                                                                 : Method::MeasuredTables;
  c.noiseFrames = 10;
  c.noiseMarginDb = 10.0f;
  c.tables.path = velkparam::TextOf(table, values, "VELK_DAT");
  const std::vector<int> channels = velkparam::IntsOf(table, values, "VELK_DAT_CHANNELS");
  c.tables.leftChannel = channels.at(0);
  c.tables.rightChannel = channels.at(1);
  return c;
}

PassBandSeparator::PassBandSeparator(const PassBandSeparatorConfig& config, boost::shared_ptr<IIPDS> tables)
    : config_(config), tables_(std::move(tables)), noiseEstimator_(config.noiseFrames), logger_(Logger::Global()) {
  if (config_.method == PassBandSeparatorConfig::Method::MeasuredTables && !tables_)
    throw std::invalid_argument("PassBandSeparator: the measured-table method needs the interaural tables");
}

PassBandSeparator::~PassBandSeparator() = default;

double PassBandSeparator::HalfWidthRad(double azimuthRad) const {
  using Angle = NSDimensionPromise::AngleBase<double>;
  const Angle lo(Angles::AnglePi * config_.rangeMinDeg / 180.0);
  const Angle hi(Angles::AnglePi * config_.rangeMaxDeg / 180.0);
  return getPermissibleDirectionRange(Angle(azimuthRad), lo, hi).Value();
}

std::unique_ptr<Separation> PassBandSeparator::MakeSeparator(const ComplexPairPtr& spectra, const FloatPairPtr& noise) {
  if (config_.method == PassBandSeparatorConfig::Method::MeasuredTables)
    return std::unique_ptr<Separation>(
        new HRTFSeparation(spectra, setting_, noise, *tables_, config_.noiseMarginDb, &tableSpans_));
  return std::unique_ptr<Separation>(new EpipolarSeparation(spectra, setting_));
}

const std::vector<SeparatedSpectrum>& PassBandSeparator::Process(const StereoSpectrumView& frame,
                                                                 const std::vector<SeparationTarget>& targets) {
  if (!frame.left || !frame.right || frame.bins < 2)
    throw std::invalid_argument("PassBandSeparator: a frame needs both ears' spectra of at least 2 bins");
  const int nfft = 2 * static_cast<int>(frame.bins) - 2;
  if (!setting_) setting_ = boost::make_shared<SeparationSetting>(nfft, static_cast<double>(config_.samplingRateHz));
  if (nfft != setting_->nfft)
    throw std::invalid_argument((boost::format("PassBandSeparator: the frame has %d bins, the first frame had %d") %
                                 frame.bins % (setting_->nfft / 2 + 1))
                                    .str());
  separated_.clear();
  ComplexSignalPtr left = boost::make_shared<ComplexSignal>(frame.bins, frame.left);
  ComplexSignalPtr right = boost::make_shared<ComplexSignal>(frame.bins, frame.right);
  ComplexPairPtr spectra = boost::make_shared<ComplexPair>(left, right);
  noiseEstimator_.Estimate(spectra);
  FloatPairPtr noise = noiseEstimator_.BGNoise();
  if (!noise) return separated_;

  std::unique_ptr<Separation> separator = MakeSeparator(spectra, noise);
  using Angle = NSDimensionPromise::AngleBase<double>;
  for (const SeparationTarget& target : targets) {
    const bool seen = std::any_of(separated_.begin(), separated_.end(),
                                  [&](const SeparatedSpectrum& s) { return s.id == target.id; });
    if (seen) continue;
    const double range = HalfWidthRad(target.azimuthRad);
    ComplexPairPtr pair = separator->separate(Angle(target.azimuthRad), Angle(range));
    if (!pair) throw std::logic_error("PassBandSeparator: the separator returned no spectrum");
    // The ear on the talker's side hears it loudest; straight ahead keeps the right ear.
    const Channel::Kind ear = target.azimuthRad > 0 ? Channel::LEFT : Channel::RIGHT;
    separated_.push_back(SeparatedSpectrum{target.id, target.azimuthRad, range, ear,
                                           ear == Channel::LEFT ? pair->left : pair->right});
  }
  return separated_;
}

}  // namespace NSVelkBinaural
