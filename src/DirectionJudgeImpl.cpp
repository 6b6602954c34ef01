#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>

#include <boost/format.hpp>

#include "velk_binaural/Angles.h"
#include "velk_binaural/DirectionConverter.h"
#include "velk_binaural/DirectionJudge.h"
#include "velk_binaural/HRTF.h"
#include "velk_binaural/Logger.h"

namespace NSVelkBinaural {

using NSDimensionPromise::AngleBase;
using NSDimensionPromise::LengthBase;

namespace {

const char* const kFile = "DirectionJudgeImpl";
constexpr double kSqrt2 = 1.4142135623730951;
constexpr float kSpeedOfSound = 340.0f;  // metres per second
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Band index of a harmonic if it addresses one of `size` values; else std::out_of_range.
size_t CheckedBin(const BandAndHarmonicRatio& harmonic, size_t size) {
  const int k = harmonic.band.index;
  if (k < 0 || static_cast<size_t>(k) >= size) throw std::out_of_range("index out of range");
  return static_cast<size_t>(k);
}

bool IsEmpty(const HarmonicList& list) { return !list || list->empty(); }

// Logs "<name> size: n" at FINE, or "<name> is null" at INFO.
void LogListSize(Logger* logger, const HarmonicList& list, const char* name) {
  if (!list) {
    if (logger->IsLoggable(LogLevel::INFO))
      logger->Log(LogLevel::INFO, boost::format("%s is null") % name, kFile, "Judge");
  } else if (logger->IsLoggable(LogLevel::FINE)) {
    logger->Log(LogLevel::FINE, boost::format("%s size: %d") % name % list->size(), kFile, "Judge");
  }
}

}  // namespace

// ---- Path-difference model ---------------------------------------------------------------------

Epipolar::Epipolar(Length distance, Length radius) : distance(distance), radius(radius) {
  if (!(radius.Value() >= 0.0 && radius.Value() < distance.Value()))
    throw std::invalid_argument(
        (boost::format("Epipolar: the head radius (%f m) must be at least 0 and below the source distance (%f m)") %
         radius.Value() % distance.Value())
            .str());
}

Epipolar::Length Epipolar::LRDifferenceRevised(Angle theta) const {
  const double d = distance.Value();
  const double r = radius.Value();
  const double pi2 = Angles::AnglePi2;
  const double pi = Angles::AnglePi;
  const double alpha = std::acos(r / d);  // angle between the radius to a tangent point and the source
  const double tangent = std::sqrt(d * d - r * r);
  const double a = std::fabs(theta.Value());
  const double direct = std::sqrt(d * d + r * r - 2.0 * d * r * std::sin(a));
  const double directFar = std::sqrt(d * d + r * r + 2.0 * d * r * std::sin(a));

  // near: path to the microphone on the source's side; far: to the other one. Where a
  // microphone is hidden behind the head the path is the tangent plus an arc over the head.
  double near = 0.0;
  double far = 0.0;
  if (a < pi2 - alpha) {
    near = tangent + r * (pi2 - a - alpha);
    far = tangent + r * (pi2 + a - alpha);
  } else if (a < pi2) {
    near = direct;
    far = tangent + r * (pi2 + a - alpha);
  } else if (a < pi2 + alpha) {
    near = direct;
    far = tangent + r * (pi + pi2 - a - alpha);
  } else if (a < pi + pi2 - alpha) {
    near = tangent + r * (a - pi2 - alpha);
    far = tangent + r * (pi + pi2 - a - alpha);
  } else if (a < pi + pi2) {
    near = tangent + r * (a - pi2 - alpha);
    far = directFar;
  } else if (a < pi + pi2 + alpha) {
    near = tangent + r * (2.0 * pi + pi2 - a - alpha);
    far = directFar;
  } else if (a <= 2.0 * pi) {
    near = tangent + r * (2.0 * pi + pi2 - a - alpha);
    far = tangent + r * (a - pi - pi2 - alpha);
  } else if (!(a > 2.0 * pi)) {
    return Length(kNaN);  // a NaN angle has no path difference
  }
  return Length(theta.Value() >= 0.0 ? near - far : far - near);
}

namespace {
void TraceCalibration(double input, double model, double calibrated) {
  Logger::Global()->Log(LogLevel::FINEST,
                        boost::format("input is %f rad, model is %f rad, diff is %f rad") % input % model %
                            (calibrated - model),
                        kFile, "CalibrateDirection");
}
}  // namespace

AngleBase<double> CalibrateDirection(AngleBase<double> input, AngleBase<double> model) {
  const double calibrated = NearestBranch(input.Value(), model.Value());
  if (Logger::Global()->IsLoggable(LogLevel::FINEST)) TraceCalibration(input.Value(), model.Value(), calibrated);
  return AngleBase<double>(calibrated);
}

// ---- Distances and probabilities ----------------------------------------------------------------

namespace DirectionProbability {

std::vector<Probability> CalculateProbability(const std::vector<double>& distances) {
  const size_t n = distances.size();
  std::vector<Probability> result;
  if (n == 0) return result;
  double sum = 0.0;
  double squares = 0.0;
  for (double d : distances) {
    sum += d;
    squares += d * d;
  }
  const double m = sum / static_cast<double>(n);
  const double v = squares - m * m;
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINEST))
    logger->Log(LogLevel::FINEST, boost::format("m = %f, v = %f") % m % v, kFile, "CalculateProbability");

  result.reserve(n);
  const bool flat = std::fabs(v) < 1e-9;
  const double s = flat ? 0.0 : std::sqrt(v);
  for (double d : distances) {
    const double p = flat ? 0.5 : 0.5 * std::erf((m - d) / s / kSqrt2) + 0.5;
    try {
      result.emplace_back(p);
    } catch (const std::out_of_range& e) {
      if (logger->IsLoggable(LogLevel::SEVERE)) logger->Log(LogLevel::SEVERE, e.what(), kFile, "CalculateProbability");
      throw;
    }
  }
  return result;
}

double CalculateIPDDistance(const std::vector<double>& observed, const std::vector<double>& model,
                            const std::vector<BandAndHarmonicRatio>& harmonics) {
  const size_t n = harmonics.size();
  if (n == 0) return kNaN;
  Logger* logger = Logger::Global();
  const bool trace = logger->IsLoggable(LogLevel::FINEST);
  if (observed.size() < n || model.size() < n) throw std::out_of_range("fewer phases than harmonics");
  double d = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double diff = observed[i] - model[i];
    d += diff * diff / harmonics[i].band.index;
    if (trace)
      logger->Log(LogLevel::FINEST, boost::format("diff is %f, d is %f") % diff % d, kFile, "CalculateIPDDistance");
  }
  return d / static_cast<double>(n);
}

double CalculateIIDDistance(const InterauralIntensityDifference& observed, const std::vector<double>& table,
                            const std::vector<BandAndHarmonicRatio>& harmonics) {
  const size_t n = harmonics.size();
  if (n == 0) return kNaN;
  Logger* logger = Logger::Global();
  const bool trace = logger->IsLoggable(LogLevel::FINEST);
  double d = 0.0;
  for (const BandAndHarmonicRatio& harmonic : harmonics) {
    const size_t k = CheckedBin(harmonic, std::min(observed.size, table.size()));
    const double diff = observed.data[k] - table[k];
    d += diff * diff * static_cast<double>(k);
    if (trace)
      logger->Log(LogLevel::FINEST, boost::format("diff is %f, d is %f") % diff % d, kFile, "CalculateIIDDistance");
  }
  return d / static_cast<double>(n);
}

JudgeResult Combine(const std::vector<Probability>& pipd, const std::vector<Probability>& piid,
                    MethodFlag::Kind mflag, bool sort) {
  std::vector<Probability> combined;
  switch (mflag) {
    case MethodFlag::BOTH:
      if (!pipd.empty() && !piid.empty()) {
        combined.reserve(pipd.size());
        for (size_t j = 0; j < pipd.size(); ++j) {
          const double a = pipd[j].Value();
          const double b = piid.at(j).Value();
          // The chance that either cue holds; for a, b in [0, 1] this lies in [0, 1], so a step
          // past either end is round-off. NaN is kept.
          double either = (1.0 - a) * b + (1.0 - b) * a + a * b;
          if (either > 1.0) either = 1.0;
          if (either < 0.0) either = 0.0;
          combined.emplace_back(either);
        }
      } else {
        combined = pipd.empty() ? piid : pipd;
      }
      break;
    case MethodFlag::IPD_ONLY:
      combined = pipd;
      break;
    case MethodFlag::IID_ONLY:
      combined = piid;
      break;
  }
  JudgeResult result = MakeIndexedVector(combined);
  // Stable, so that equally probable directions keep their grid order.
  // (A lambda, not the function's address, so that the comparison is inlined.)
  using Entry = std::pair<unsigned int, Probability>;
  if (sort)
    std::stable_sort(result->begin(), result->end(), [](const Entry& a, const Entry& b) { return MoreProbable(a, b); });
  return result;
}

}  // namespace DirectionProbability

// ---- Epipolar judge -----------------------------------------------------------------------------

JudgeEpipolar::JudgeEpipolar(Epipolar::Length distance, Epipolar::Length radius, const DirectionConverter& grid)
    : distance(distance), radius(radius), model(distance, radius), grid(&grid) {}

JudgeEpipolar::Grid JudgeEpipolar::CurrentGrid() const {
  Grid size{grid->ToIndex(-grid->origin) + 1, grid->ToIndex(0)};
  if (size.count < 1 || size.centre < 0 || size.centre >= size.count)
    throw std::logic_error((boost::format("JudgeEpipolar: the direction grid (step %d, origin %d) is not symmetric "
                                          "about 0 degrees") %
                            grid->step % grid->origin)
                               .str());
  return size;
}

void JudgeEpipolar::PrepareModel(const Grid& size) {
  // The grid may change between calls, so its step and origin are part of the key: a mirrored
  // grid has the same size.
  if (dl.size() == static_cast<size_t>(size.count) && dlStep == grid->step && dlOrigin == grid->origin) return;
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINE)) logger->Log(LogLevel::FINE, "calculating dl", kFile, "Judge");
  dl.assign(static_cast<size_t>(size.count), 0.0);
  dlStep = grid->step;
  dlOrigin = grid->origin;
  const size_t c = static_cast<size_t>(size.centre);
  const size_t last = dl.size() - 1;
  dl[c] = model.LRDifferenceRevised(AngleBase<double>(0.0)).Value();
  // The grid is symmetric about 0 degrees: compute one side, mirror it onto the other.
  for (size_t i = 0; i < c; ++i) {
    const double theta = grid->ToDegree(static_cast<unsigned int>(i)) * Angles::AnglePi / 180.0;
    dl[i] = model.LRDifferenceRevised(AngleBase<double>(theta)).Value();
    dl[last - i] = -dl[i];
  }
  if (logger->IsLoggable(LogLevel::FINEST)) {
    std::ostringstream text;
    text << "got dl";
    for (double v : dl) text << boost::format("%f: ") % v;
    logger->Log(LogLevel::FINEST, text.str(), kFile, "Judge");
  }
}

JudgeResult JudgeEpipolar::Judge(const HarmonicLists& harmonics, const IPDPtr& ipd, const IIDPtr& iid,
                                 MethodFlag::Kind mflag, bool sort) {
  PrepareModel(CurrentGrid());
  Logger* logger = Logger::Global();
  LogListSize(logger, harmonics.first, "ipdh");
  LogListSize(logger, harmonics.second, "iidh");

  std::vector<Probability> pipd;
  std::vector<Probability> piid;
  if (!IsEmpty(harmonics.first) && mflag != MethodFlag::IID_ONLY) pipd = CalcProbabilityFromIPD(harmonics.first, ipd);
  if (!IsEmpty(harmonics.second) && mflag != MethodFlag::IPD_ONLY) piid = CalcProbabilityFromIID(harmonics.second, iid);
  JudgeResult result = DirectionProbability::Combine(pipd, piid, mflag, sort);
  if (result->empty() && logger->IsLoggable(LogLevel::WARNING))
    logger->Log(LogLevel::WARNING, boost::format("result size is zero, mflag == %d") % static_cast<int>(mflag), kFile,
                "Judge");
  return result;
}

namespace {

// FINEST dumps of the first few values the phase path works with.
void TracePhaseInputs(Logger* logger, const std::vector<double>& raw, const std::vector<BandAndHarmonicRatio>& harmonics,
                      const std::vector<double>& freq, const std::vector<double>& model,
                      const std::vector<double>& observed, double dl) {
  const size_t n = std::min<size_t>(3, harmonics.size());
  std::ostringstream text;
  text << "got eipd: ";
  for (size_t i = 0; i < n; ++i) text << raw[i] << " ";
  text << "\nipdh: ";
  for (size_t i = 0; i < n; ++i) text << harmonics[i].band.index << " ";
  text << "\ntest phase diff: ";
  for (size_t i = 0; i < n; ++i) text << boost::format("PhaseDifference(%f, %f).ToRadian() = ") % dl % freq[i] << model[i] << " ";
  text << "\ngot newinput: ";
  for (size_t i = 0; i < n; ++i) text << observed[i] << " ";
  logger->Log(LogLevel::FINEST, text.str(), kFile, "CalcProbabilityFromIPD");
}

}  // namespace

std::vector<Probability> JudgeEpipolar::CalcProbabilityFromIPD(const HarmonicList& ipdh, const IPDPtr& ipd) {
  if (IsEmpty(ipdh)) return {};
  if (!ipd) throw std::invalid_argument("JudgeEpipolar: the phase difference is missing");
  const Grid size = CurrentGrid();
  PrepareModel(size);
  const std::vector<BandAndHarmonicRatio>& harmonics = *ipdh;
  const size_t n = harmonics.size();

  // Observed right-minus-left phase and frequency of every harmonic, read once for all directions.
  std::vector<double> raw(n);
  std::vector<double> freq(n);
  const bool leftReference = ipd->kind == Channel::LEFT;
  for (size_t i = 0; i < n; ++i) {
    const double value = ipd->data[CheckedBin(harmonics[i], ipd->size)];
    raw[i] = leftReference ? -value : value;
    freq[i] = harmonics[i].band.Freq().Value();
  }

  Logger* logger = Logger::Global();
  const char* const function = "CalcProbabilityFromIPD";
  observed.resize(n);
  modelPhase.resize(n);
  std::vector<double> dipd(static_cast<size_t>(size.count));
  const bool trace = logger->IsLoggable(LogLevel::FINEST);
  for (size_t j = 0; j < dipd.size(); ++j) {
    for (size_t i = 0; i < n; ++i) {
      modelPhase[i] = 2.0 * Angles::AnglePi * freq[i] * dl[j] / kSpeedOfSound;
      observed[i] = NearestBranch(raw[i], modelPhase[i]);
      if (trace) TraceCalibration(raw[i], modelPhase[i], observed[i]);
    }
    dipd[j] = DirectionProbability::CalculateIPDDistance(observed, modelPhase, harmonics);
    if (logger->IsLoggable(LogLevel::FINEST)) {
      logger->Log(LogLevel::FINEST, boost::format("dipd[%d] is %f") % j % dipd[j], kFile, function);
      TracePhaseInputs(logger, raw, harmonics, freq, modelPhase, observed, dl[j]);
    }
    if (logger->IsLoggable(LogLevel::FINE))
      logger->Log(LogLevel::FINE,
                  boost::format("freq to phase diff  dl %f m, ipd %f Hz, model %f deg") % dl[0] % freq[0] %
                      (modelPhase[0] * 180.0 / Angles::AnglePi),
                  kFile, function);
  }
  return DirectionProbability::CalculateProbability(dipd);
}

std::vector<Probability> JudgeEpipolar::CalcProbabilityFromIID(const HarmonicList& iidh, const IIDPtr& iid) {
  if (IsEmpty(iidh)) return {};
  if (!iid) throw std::invalid_argument("JudgeEpipolar: the intensity difference is missing");
  double sum = 0.0;
  for (const BandAndHarmonicRatio& harmonic : *iidh) sum += iid->data[CheckedBin(harmonic, iid->size)];

  // A fixed preference: 0.65 for the third of the grid on the louder side, 0.35 for the third on
  // the other side, 0.5 in between. The thirds are counted from the left end of the grid, which
  // is index 0 when the indices run from left to right (a negative step).
  const int count = CurrentGrid().count;
  const bool leftToRight = grid->step < 0;
  std::vector<Probability> right;
  std::vector<Probability> left;
  right.reserve(static_cast<size_t>(count));
  left.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const int j = leftToRight ? i : count - 1 - i;
    const double p = j <= count / 3 ? 0.35 : (j < 2 * count / 3 ? 0.5 : 0.65);
    right.emplace_back(p);
    left.emplace_back(1.0 - p);
  }
  Logger* logger = Logger::Global();
  if (logger->IsLoggable(LogLevel::FINEST)) {
    std::ostringstream text;
    text << "got piidr and piidl";
    for (size_t j = 0; j < right.size(); ++j) text << boost::format("%f %f: ") % right[j].Value() % left[j].Value();
    logger->Log(LogLevel::FINEST, text.str(), kFile, "CalcProbabilityFromIID");
  }

  switch (iid->kind) {
    case Channel::LEFT:  // left minus right: a negative sum means the right is louder
      return sum < 0.0 ? right : left;
    case Channel::RIGHT:  // right minus left
      return sum >= 0.0 ? right : left;
  }
  return left;
}

// ---- Measured-table judge -----------------------------------------------------------------------

namespace {

const IIPD& TableEntry(const std::vector<IIPD>& table, int direction, const char* which) {
  if (direction < 0 || static_cast<size_t>(direction) >= table.size())
    throw std::out_of_range(
        (boost::format("measured %s table has no entry for direction %d") % which % direction).str());
  return table[static_cast<size_t>(direction)];
}

}  // namespace

JudgeHRTFMeasured::JudgeHRTFMeasured(boost::shared_ptr<IIPDS> iipds) : iipds(std::move(iipds)) {
  if (!this->iipds) throw std::invalid_argument("JudgeHRTFMeasured: the measured table is missing");
}

double JudgeHRTFMeasured::PhaseDistance(int direction, const std::vector<BandAndHarmonicRatio>& ipdh,
                                        const InterauralPhaseDifference& ipd) {
  const std::vector<double>& table = TableEntry(iipds->ipd, direction, "phase").values;
  const size_t n = ipdh.size();
  observed.resize(n);
  modelPhase.resize(n);
  const bool trace = Logger::Global()->IsLoggable(LogLevel::FINEST);
  for (size_t i = 0; i < n; ++i) {
    const size_t k = CheckedBin(ipdh[i], std::min(table.size(), ipd.size));
    modelPhase[i] = table[k];
    observed[i] = NearestBranch(ipd.data[k], table[k]);
    if (trace) TraceCalibration(ipd.data[k], table[k], observed[i]);
  }
  return DirectionProbability::CalculateIPDDistance(observed, modelPhase, ipdh);
}

JudgeResult JudgeHRTFMeasured::Judge(const HarmonicLists& harmonics, const IPDPtr& ipd, const IIDPtr& iid,
                                     MethodFlag::Kind mflag, bool sort) {
  const bool usePhase = !IsEmpty(harmonics.first);
  const bool useIntensity = !IsEmpty(harmonics.second);
  if (usePhase && !ipd) throw std::invalid_argument("JudgeHRTFMeasured: the phase difference is missing");
  if (useIntensity && !iid) throw std::invalid_argument("JudgeHRTFMeasured: the intensity difference is missing");

  const size_t ndir = iipds->ndir > 0 ? static_cast<size_t>(iipds->ndir) : 0;
  std::vector<double> dipd(ndir, kNaN);
  std::vector<double> diid(ndir, kNaN);
  for (size_t d = 0; d < ndir; ++d) {
    const int direction = static_cast<int>(d);
    if (usePhase) dipd[d] = PhaseDistance(direction, *harmonics.first, *ipd);
    if (useIntensity)
      diid[d] = DirectionProbability::CalculateIIDDistance(*iid, TableEntry(iipds->iid, direction, "intensity").values,
                                                           *harmonics.second);
  }
  std::vector<Probability> pipd;
  std::vector<Probability> piid;
  if (usePhase && mflag != MethodFlag::IID_ONLY) pipd = DirectionProbability::CalculateProbability(dipd);
  if (useIntensity && mflag != MethodFlag::IPD_ONLY) piid = DirectionProbability::CalculateProbability(diid);
  return DirectionProbability::Combine(pipd, piid, mflag, sort);
}

}  // namespace NSVelkBinaural
