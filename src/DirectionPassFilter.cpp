// Pass bands of a direction and the extraction of the passing bins.
#include "velk_binaural/DirectionPassFilter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include <boost/format.hpp>

#include "velk_binaural/Angles.h"
#include "velk_binaural/DirectionJudge.h"
#include "velk_binaural/HRTF.h"
#include "velk_binaural/InterauralDifference.h"
#include "velk_binaural/Logger.h"

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

// Widens the span [lo, hi] by v. A NaN value (a bin the measurement did not reach) makes the span
// unknown for good: lo = hi = NaN, which fails every comparison.
inline void Widen(double v, double& lo, double& hi) {
  const bool unknown = std::isnan(v) || std::isnan(lo);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  lo = unknown ? nan : std::min(lo, v);
  hi = unknown ? nan : std::max(hi, v);
}

// Per bin, the span of the table's values over the band's directions index.min..index.max:
// phases for bins [0, phaseBins), each first moved onto the 2pi branch of reference[i] (the
// table's phases are unwrapped and may lie anywhere in -2pi..2pi), levels for the rest.
TableSpans MakeSpans(const IIPDS& table, const MaxMin<int>& index, const double* reference, size_t phaseBins,
                     size_t bins) {
  TableSpans spans;
  spans.lo.assign(bins, std::numeric_limits<double>::infinity());
  spans.hi.assign(bins, -std::numeric_limits<double>::infinity());
  double* lo = spans.lo.data();
  double* hi = spans.hi.data();
  for (int d = index.min; d <= index.max; ++d) {
    const double* phase = Values(table.ipd[d]).data();
    const double* level = Values(table.iid[d]).data();
    for (size_t i = 0; i < phaseBins; ++i) Widen(NearestBranch(phase[i], reference[i]), lo[i], hi[i]);
    for (size_t i = phaseBins; i < bins; ++i) Widen(level[i], lo[i], hi[i]);
  }
  return spans;
}

// What the measured rule reads of one frame.
struct MeasuredFrame {
  const InterauralPhaseDifference& ipd;
  const InterauralIntensityDifference& iid;
  const FloatSignal& levelL;
  const FloatSignal& levelR;
  const FloatSignal& noiseL;
  const FloatSignal& noiseR;

  // Whether every signal holds all `bins` values the rule reads.
  bool Covers(size_t phaseBins, size_t bins) const {
    return ipd.size >= phaseBins && iid.size >= bins && levelL.size >= bins && levelR.size >= bins &&
           noiseL.size >= bins && noiseR.size >= bins;
  }
};

// The measured rule's verdicts merged into `flags`, for a frame known to cover every bin: plain
// loads and selects, no tested access and no branch (the level loop vectorises).
void JudgeCoveredFrame(const MeasuredFrame& frame, const TableSpans& spans, const double* reference, size_t phaseBins,
                       size_t bins, double margin, PassBandSetMode::Kind mode, PassBandFlag* flags) {
  const double* lo = spans.lo.data();
  const double* hi = spans.hi.data();
  const float* levelL = frame.levelL.data;
  const float* levelR = frame.levelR.data;
  const float* noiseL = frame.noiseL.data;
  const float* noiseR = frame.noiseR.data;
  // Every test is evaluated (& rather than &&): all values are there, and a select is cheaper
  // than a branch that goes either way at random.
  auto judge = [&](size_t i, double v) {
    const bool pass = (lo[i] < v) & (v < hi[i]) & (levelL[i] > margin + noiseL[i]) & (levelR[i] > margin + noiseR[i]);
    flags[i].Flag(mode, pass ? PassBandFlag::PASS : PassBandFlag::CUTOFF);
  };
  const float* ipd = frame.ipd.data;
  const float* iid = frame.iid.data;
  for (size_t i = 0; i < phaseBins; ++i) judge(i, NearestBranch(ipd[i], reference[i]));
  for (size_t i = phaseBins; i < bins; ++i) judge(i, static_cast<double>(iid[i]));
}

// The same verdicts bin by bin with tested access, for a frame with a signal shorter than the
// spectrum: the bins before the short one are flagged, then std::out_of_range is thrown.
void JudgeCheckedFrame(const MeasuredFrame& frame, const TableSpans& spans, const double* reference,
                       size_t phaseBins, size_t bins, double margin, PassBandSetMode::Kind mode,
                       std::vector<PassBandFlag>& flags) {
  for (size_t i = 0; i < bins; ++i) {
    const double v = i < phaseBins ? NearestBranch(frame.ipd.At(i), reference[i]) : static_cast<double>(frame.iid.At(i));
    const bool pass = spans.lo[i] < v && v < spans.hi[i] && frame.levelL.At(i) > margin + frame.noiseL.At(i) &&
                      frame.levelR.At(i) > margin + frame.noiseR.At(i);
    flags[i].Flag(mode, pass ? PassBandFlag::PASS : PassBandFlag::CUTOFF);
  }
}

// ---- head model -------------------------------------------------------------------------------

// The head-model verdicts merged into `flags` (at least ipd.size of them): a bin passes when its
// phase difference lies strictly between kLow f and kHigh f, f = i fs / nfft, and i < cutoff.
// The same arithmetic as the rule's logged loop, with selects instead of branches.
void JudgeByHeadModel(const InterauralPhaseDifference& ipd, double fs, int nfft, double kLow, double kHigh, int cutoff,
                      PassBandSetMode::Kind mode, PassBandFlag* flags) {
  const double transform = nfft;
  const float* phase = ipd.data;
  for (size_t i = 0; i < ipd.size; ++i) {
    const double f = static_cast<double>(i) * fs / transform;
    const double v = phase[i];
    const bool pass = (kLow * f < v) & (v < kHigh * f) & (static_cast<long long>(i) < cutoff);
    flags[i].Flag(mode, pass ? PassBandFlag::PASS : PassBandFlag::CUTOFF);
  }
}

// ---- extraction ---------------------------------------------------------------------------------

// out = in where the flag is PASS, zero elsewhere (a flag of any other value keeps the output's
// zero). The spectra are read as arrays of floats, real and imaginary part of each bin in turn
// (the layout std::complex guarantees), so that the select vectorises.
void CopyPassingBins(const PassBand& band, const ComplexPair& in, ComplexPair& out) {
  const size_t n = band.flags.size();
  const PassBandFlag* flags = band.flags.data();
  const ComplexSignal* from[2] = {in.left.get(), in.right.get()};
  ComplexSignal* to[2] = {out.left.get(), out.right.get()};
  for (int ear = 0; ear < 2; ++ear) {
    const std::complex<float>* source = from[ear]->data;
    std::complex<float>* target = to[ear]->data;
    for (size_t i = 0; i < n; ++i) {
      const bool pass = flags[i].Value() == PassBandFlag::PASS;
      const float re = source[i].real(), im = source[i].imag();
      target[i] = std::complex<float>(pass ? re : 0.0f, pass ? im : 0.0f);
    }
  }
}

// One FINE message per bin saying what the copy did to it.
void LogPassingBins(const PassBand& band, Logger* logger) {
  for (const PassBandFlag& flag : band.flags) {
    if (flag.Value() == PassBandFlag::PASS) logger->Log(LogLevel::FINE, " *** PASS *** copying Spectrum", kFile, "Extract");
    if (flag.Value() == PassBandFlag::CUTOFF) logger->Log(LogLevel::FINE, " ***CUTOFF*** copying ZERO", kFile, "Extract");
  }
}

}  // namespace

// ---- flags ------------------------------------------------------------------------------------

void SetPassBandFlags(const boost::shared_ptr<PassBand>& band, PassBandFlag::Kind value) {
  if (!band) return;
  // What Flag(OVERWRITE, value) does to every flag, as one fill: an unknown value changes nothing.
  if (value != PassBandFlag::CUTOFF && value != PassBandFlag::PASS) return;
  std::fill(band->flags.begin(), band->flags.end(), PassBandFlag(value));
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
  // With a positive rate and transform length no bin has ipdl > ipdh (kLow <= kHigh, f >= 0), so
  // with FINE off no message is due and the plain loop gives the same flags.
  if (!fine && setting->fs > 0 && setting->nfft > 0) {
    JudgeByHeadModel(*ipd, setting->fs, setting->nfft, kLow, kHigh, cutoff, mode, flags.data());
    return;
  }
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
                               const FloatPairPtr& noise, const IIPDS& table, float threshold,
                               TableSpanCache* spanCache) {
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
  const int centre = CentreIndex(band, index, table);
  const double* reference = Values(table.ipd[centre]).data();
  auto make = [&] { return MakeSpans(table, index, reference, phaseBins, bins); };
  TableSpans fresh;
  const TableSpans* spans = &fresh;
  if (spanCache)
    spans = &spanCache->Get(&table, index.min, index.max, centre, phaseBins, bins, make);
  else
    fresh = make();

  const MeasuredFrame frame{*ipd, *iid, *levels->left, *levels->right, *noise->left, *noise->right};
  const double margin = threshold;  // dB above the noise
  if (frame.Covers(phaseBins, bins))
    JudgeCoveredFrame(frame, *spans, reference, phaseBins, bins, margin, mode, flags.data());
  else
    JudgeCheckedFrame(frame, *spans, reference, phaseBins, bins, margin, mode, flags);
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
  CopyPassingBins(*band, *spectra, *result);
  // One message per bin at FINE; the level is tested once, not per bin.
  if (logger->IsLoggable(LogLevel::FINE)) LogPassingBins(*band, logger);
  return result;
}

}  // namespace NSVelkBinaural
