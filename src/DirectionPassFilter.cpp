// Pass bands of a direction and the extraction of the passing bins.
#include "DirectionPassFilter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include <boost/format.hpp>

#include "Angles.h"
#include "DirectionJudge.h"
#include "HRTF.h"
#include "InterauralDifference.h"
#include "Logger.h"

namespace NSVelkBinaural {

namespace {

using NSDimensionPromise::AngleBase;

const char* const kFile = "DirectionPassFilter";

// Bins below this frequency are judged by phase, above it by level (measured rule) or not at all
// (head-model rule): above it the phase difference wraps within the head's span of delays.
constexpr double kPhaseLimitHz = 1500.0;
constexpr double kSpeedOfSound = 340.0;  // m/s

double Degrees(AngleBase<double> a) { return a.Value() * 180.0 / Angles::AnglePi; }

// x truncated toward zero, saturated to the range of Int; NaN gives `nanValue`. A plain cast of
// an out-of-range double is undefined, and a zero or absurd sampling rate can produce one.
template <class Int>
Int TruncateSaturated(double x, Int nanValue = 0) {
  if (std::isnan(x)) return nanValue;
  if (x >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  if (x <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  return static_cast<Int>(x);
}

// Index of the first bin at or above 1500 Hz, as nfft * (1500 / fs) truncated.
template <class Int>
Int PhaseCutoffBin(const SeparationSetting& setting) {
  return TruncateSaturated<Int>(setting.nfft * (kPhaseLimitHz / setting.fs));
}

Logger* CalculateMaxMinLogger() {
  static Logger* logger = Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME);
  return logger;
}
Logger* EpipolarLogger() {
  static Logger* logger = Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME);
  return logger;
}
Logger* HRTFLogger() {
  static Logger* logger = Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME);
  return logger;
}
Logger* ExtractLogger() {
  static Logger* logger = Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME);
  return logger;
}

void RequireSetting(const boost::shared_ptr<SeparationSetting>& setting, const char* function) {
  if (!setting)
    throw std::invalid_argument(std::string("PassBand::") + function + ": the separation setting is missing");
}

void RequireFlags(const PassBand& band, size_t bins, const char* function) {
  if (band.flags.size() < bins)
    throw std::length_error((boost::format("PassBand::%s: the pass band has %d flags but the spectrum has %d bins") %
                             function % band.flags.size() % bins)
                                .str());
}

bool HasBothEars(const FloatPairPtr& pair) { return pair && pair->left && pair->right; }

// ---- measured tables ----------------------------------------------------------------------------

const std::vector<double>& Values(const IIPD& entry) { return entry.values; }

// Table direction index nearest `degrees` (rounded half up). A table of one direction has a step
// of 0 and answers index 0 for every direction. A direction that is not a number gives INT_MIN so
// that it fails the range test.
int TableIndex(double degrees, const IIPDS& table) {
  if (table.dirtick == 0) return 0;
  return TruncateSaturated<int>(std::floor((degrees - table.begindeg) / table.dirtick + 0.5), INT_MIN);
}

// The table's direction indices covering the band, lowest first; std::logic_error "mmi is
// invalid" when the band reaches outside the table.
MaxMin<int> TableIndices(const MaxMin<AngleBase<double>>& band, const IIPDS& table) {
  int i1 = TableIndex(Degrees(band.min), table);
  int i2 = TableIndex(Degrees(band.max), table);
  MaxMin<int> index;
  index.min = std::min(i1, i2);
  index.max = std::max(i1, i2);
  if (index.min < 0 || index.max >= table.ndir) {
    Logger* logger = HRTFLogger();
    if (logger->IsLoggable(LogLevel::SEVERE))
      logger->Log(LogLevel::SEVERE,
                  boost::format("mmi is invalid, mm.min=%fdeg, mm.max=%fdeg, mmi=%d,%d, iipds.ndir=%d") %
                      Degrees(band.min) % Degrees(band.max) % index.min % index.max % table.ndir,
                  kFile, "SetPassBandHRTF");
    throw std::logic_error("mmi is invalid");
  }
  return index;
}

// Every direction of the band must hold a phase and a level value for each of the spectrum's bins;
// a table measured with a shorter transform does not, and reading it would run past its data.
void RequireTableCoverage(const IIPDS& table, const MaxMin<int>& index, size_t bins) {
  auto fail = [&](const std::string& what) {
    HRTFLogger()->Log(LogLevel::SEVERE, what, kFile, "SetPassBandHRTF");
    throw std::length_error(what);
  };
  size_t needed = static_cast<size_t>(index.max) + 1;
  if (table.ipd.size() < needed || table.iid.size() < needed)
    fail(
        (boost::format("the interaural table holds %d phase and %d level directions but direction index %d is needed") %
         table.ipd.size() % table.iid.size() % index.max)
            .str());
  for (int d = index.min; d <= index.max; ++d) {
    size_t phaseBins = Values(table.ipd[d]).size(), levelBins = Values(table.iid[d]).size();
    if (phaseBins < bins || levelBins < bins)
      fail((boost::format("the interaural table holds %d phase and %d level bins at direction index %d but the "
                          "spectrum has %d bins") %
            phaseBins % levelBins % d % bins)
               .str());
  }
}

// Direction index of the band's centre, used as the phase reference of the band.
int CentreIndex(const MaxMin<AngleBase<double>>& band, const MaxMin<int>& index, const IIPDS& table) {
  int centre = TableIndex(0.5 * (Degrees(band.min) + Degrees(band.max)), table);
  return std::min(std::max(centre, index.min), index.max);
}

// Per bin, the span [lo, hi] of the table's values over the band's directions.
struct Spans {
  explicit Spans(size_t bins)
      : lo(bins, std::numeric_limits<double>::infinity()), hi(bins, -std::numeric_limits<double>::infinity()) {}
  // Widens the spans of bins [first, last) by one direction's values. A NaN value (a bin the
  // measurement did not reach) makes the span unknown for good: lo = hi = NaN, which fails every
  // comparison.
  void Add(const double* values, size_t first, size_t last) {
    for (size_t i = first; i < last; ++i) Widen(i, values[i]);
  }
  // The same for phases, each first moved onto the 2pi branch nearest reference[i]: the table's
  // phases are unwrapped and may lie anywhere in -2pi..2pi.
  void AddPhases(const double* values, const double* reference, size_t first, size_t last) {
    for (size_t i = first; i < last; ++i)
      Widen(i, CalibrateDirection(AngleBase<double>(values[i]), AngleBase<double>(reference[i])).Value());
  }
  void Widen(size_t i, double v) {
    if (std::isnan(v) || std::isnan(lo[i])) {
      lo[i] = hi[i] = std::numeric_limits<double>::quiet_NaN();
      return;
    }
    lo[i] = std::min(lo[i], v);
    hi[i] = std::max(hi[i], v);
  }
  std::vector<double> lo, hi;
};

}  // namespace

// ---- flags ------------------------------------------------------------------------------------

void PassBandFlag::Flag(PassBandSetMode::Kind mode, Kind verdict) {
  if (verdict != CUTOFF && verdict != PASS) return;
  switch (mode) {
    case PassBandSetMode::AND:
      if (verdict == CUTOFF) value = CUTOFF;
      break;
    case PassBandSetMode::OR:
      if (verdict == PASS) value = PASS;
      break;
    case PassBandSetMode::OVERWRITE:
      value = verdict;
      break;
  }
}

void SetPassBandFlags(const boost::shared_ptr<PassBand>& band, PassBandFlag::Kind value) {
  if (!band) return;
  for (PassBandFlag& flag : band->flags) flag.Flag(PassBandSetMode::OVERWRITE, value);
}

// ---- band of directions -----------------------------------------------------------------------

AngleBase<double> getPermissibleDirectionRange(AngleBase<double> direction, AngleBase<double> rangeMin,
                                               AngleBase<double> rangeMax) {
  return rangeMin + (rangeMax - rangeMin) * (std::fabs(direction.Value()) / Angles::AnglePi2);
}

void CalculateMaxMin(AngleBase<double> direction, AngleBase<double> range, MaxMin<AngleBase<double>>& band) {
  Logger* logger = CalculateMaxMinLogger();
  if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, "CalculateMaxMin", kFile, "CalculateMaxMin");

  const double a = direction.Value();
  const double sum = a + range.Value();
  const double diff = a - range.Value();
  const double P = Angles::AnglePi2;
  const double pi = Angles::AnglePi;
  const bool up = diff < P && sum > P;  // the band runs past +90 degrees
  double max, min;
  if (up && diff < -P) {
    max = P;
    min = -P;
  } else if (up) {
    // Directions past +90 are the mirror images of pi - x in front.
    max = P;
    min = a < P ? diff : pi - sum;
  } else if (diff < -P && sum > -P) {
    // Past -90: mirror images of -pi - x.
    max = a >= -P ? sum : -pi - diff;
    min = -P;
  } else {
    max = sum;
    min = diff;
  }
  band.max = AngleBase<double>(max);
  band.min = AngleBase<double>(min);
}

// ---- head-model rule --------------------------------------------------------------------------

void PassBand::SetPassBandEpipolar(PassBandSetMode::Kind mode, const boost::shared_ptr<SeparationSetting>& setting,
                                   Angle direction, Angle range,
                                   const boost::shared_ptr<InterauralPhaseDifference>& ipd, Length distance,
                                   Length radius) {
  static const char* const kFunction = "SetPassBandEpipolar";
  RequireSetting(setting, kFunction);
  if (!ipd) throw std::invalid_argument("PassBand::SetPassBandEpipolar: the phase difference is missing");
  RequireFlags(*this, ipd->size, kFunction);
  Logger* logger = EpipolarLogger();

  MaxMin<Angle> band;
  CalculateMaxMin(direction, range, band);
  Epipolar model(distance, radius);
  const double r1 = model.LRDifferenceRevised(band.min).Value();
  const double r2 = model.LRDifferenceRevised(band.max).Value();
  const bool fine = logger->IsLoggable(LogLevel::FINE);
  if (fine)
    logger->Log(LogLevel::FINE,
                boost::format(" SPBE %f - %f - %f") % Degrees(direction - range) % Degrees(direction) %
                    Degrees(direction + range),
                kFile, kFunction);

  const int cutoff = PhaseCutoffBin<int>(*setting);
  // Phase difference per hertz at the two ends of the band (right minus left).
  const double kLow = 2.0 * Angles::AnglePi * std::min(r1, r2) / kSpeedOfSound;
  const double kHigh = 2.0 * Angles::AnglePi * std::max(r1, r2) / kSpeedOfSound;
  for (size_t i = 0; i < ipd->size; ++i) {
    const double f = i * setting->fs / setting->nfft;
    const double ipdl = kLow * f;
    const double ipdh = kHigh * f;
    if (fine)
      logger->Log(LogLevel::FINE,
                  boost::format("%f Hz Fs %d NDFT %d (ipdl:%f <= ipd:%f <= ipdh:%f)") % f %
                      TruncateSaturated<int>(setting->fs) % setting->nfft % ipdl % ipd->At(i) % ipdh,
                  kFile, kFunction);
    if (ipdl > ipdh && logger->IsLoggable(LogLevel::WARNING))
      logger->Log(LogLevel::WARNING, "PassBand::SetPassBandEpipolar: ERROR: ipdl > ipdh", kFile, kFunction);
    const double v = ipd->At(i);
    const bool pass = ipdl < v && v < ipdh && static_cast<long long>(i) < cutoff;
    flags[i].Flag(mode, pass ? PassBandFlag::PASS : PassBandFlag::CUTOFF);
  }
}

// ---- measured-table rule ----------------------------------------------------------------------

void PassBand::SetPassBandHRTF(PassBandSetMode::Kind mode, const boost::shared_ptr<SeparationSetting>& setting,
                               Angle direction, Angle range, const boost::shared_ptr<InterauralPhaseDifference>& ipd,
                               const boost::shared_ptr<InterauralIntensityDifference>& iid, const FloatPairPtr& levels,
                               const FloatPairPtr& noise, const IIPDS& table, float threshold) {
  static const char* const kFunction = "SetPassBandHRTF";
  RequireSetting(setting, kFunction);
  if (!ipd || !iid)
    throw std::invalid_argument("PassBand::SetPassBandHRTF: the phase or the intensity difference is missing");
  if (!HasBothEars(levels) || !HasBothEars(noise))
    throw std::invalid_argument("PassBand::SetPassBandHRTF: levels and noise must hold both ears");

  MaxMin<Angle> band;
  CalculateMaxMin(direction, range, band);
  const MaxMin<int> index = TableIndices(band, table);

  const int nbins = setting->nfft / 2 + 1;
  if (nbins <= 0) return;
  const size_t bins = static_cast<size_t>(nbins);
  RequireTableCoverage(table, index, bins);
  RequireFlags(*this, bins, kFunction);

  // Bins up to and including the 1500 Hz bin are judged by phase, the rest by level.
  const std::int64_t cutoff = PhaseCutoffBin<std::int64_t>(*setting);
  const size_t phaseBins = cutoff < 0 ? 0 : cutoff >= nbins ? bins : static_cast<size_t>(cutoff + 1);
  // Phases are compared on the branch of the table's phase at the direction nearest the band's
  // centre, bin by bin.
  const double* reference = Values(table.ipd[CentreIndex(band, index, table)]).data();
  Spans spans(bins);
  for (int d = index.min; d <= index.max; ++d) {
    spans.AddPhases(Values(table.ipd[d]).data(), reference, 0, phaseBins);
    spans.Add(Values(table.iid[d]).data(), phaseBins, bins);
  }

  const double margin = threshold;  // dB above the noise
  const FloatSignal& levelL = *levels->left;
  const FloatSignal& levelR = *levels->right;
  const FloatSignal& noiseL = *noise->left;
  const FloatSignal& noiseR = *noise->right;
  for (size_t i = 0; i < bins; ++i) {
    const double v = i < phaseBins
                         ? CalibrateDirection(AngleBase<double>(ipd->At(i)), AngleBase<double>(reference[i])).Value()
                         : static_cast<double>(iid->At(i));
    const bool pass = spans.lo[i] < v && v < spans.hi[i] && levelL.At(i) > margin + noiseL.At(i) &&
                      levelR.At(i) > margin + noiseR.At(i);
    flags[i].Flag(mode, pass ? PassBandFlag::PASS : PassBandFlag::CUTOFF);
  }
}

// ---- extraction -------------------------------------------------------------------------------

ComplexPairPtr BandExtractor::Extract(const boost::shared_ptr<PassBand>& band) const {
  Logger* logger = ExtractLogger();
  if (!band || !spectra || !IsEqualSignalSize(spectra)) return ComplexPairPtr();
  const size_t n = band->flags.size();
  if (n != spectra->left->size) return ComplexPairPtr();

  ComplexSignalPtr left(new ComplexSignal(n, std::complex<float>(0.0f, 0.0f)));
  ComplexSignalPtr right(new ComplexSignal(n, std::complex<float>(0.0f, 0.0f)));
  ComplexPairPtr result(new ComplexPair(left, right));
  const ComplexSignal& inLeft = *spectra->left;
  const ComplexSignal& inRight = *spectra->right;
  // One message per bin at FINE; the level is tested once, not per bin.
  const bool fine = logger->IsLoggable(LogLevel::FINE);
  for (size_t i = 0; i < n; ++i) {
    switch (band->flags[i].Value()) {
      case PassBandFlag::PASS:
        left->At(i) = inLeft.At(i);
        right->At(i) = inRight.At(i);
        if (fine) logger->Log(LogLevel::FINE, " *** PASS *** copying Spectrum", kFile, "Extract");
        break;
      case PassBandFlag::CUTOFF:
        left->At(i) = 0.0f;
        right->At(i) = 0.0f;
        if (fine) logger->Log(LogLevel::FINE, " ***CUTOFF*** copying ZERO", kFile, "Extract");
        break;
    }
  }
  return result;
}

}  // namespace NSVelkBinaural
