#include "velkeval/Scoring.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>

namespace velkeval {

namespace {

const char* const kKinds[] = {"single", "pair", "triple"};

double distanceToNearest(double azimuthDeg, const std::vector<double>& talkersDeg) {
  double best = std::numeric_limits<double>::infinity();
  for (double t : talkersDeg) best = std::min(best, std::fabs(azimuthDeg - t));
  return best;
}

// The scene's share of reports far from every active talker (strictly and with the tolerance)
// and its ids, counted per report.
struct SceneReports {
  double spurious = 0.0, spuriousTolerant = 0.0;
  long ids = 0, idsOnEnoughFrames = 0;
};

SceneReports sceneReports(const SceneTruth& scene, const std::vector<FrameReports>& frames) {
  long total = 0, spurious = 0, spuriousTolerant = 0;
  std::map<int, long> framesOfId;
  std::vector<double> active, near;
  for (const FrameReports& f : frames) {
    active.clear();
    near.clear();
    for (const TalkerTruth& t : scene.talkers) {
      if (t.activeAt(f.timeSec)) active.push_back(t.azimuthDeg);
      if (t.activeAt(f.timeSec, kSpuriousToleranceSec)) near.push_back(t.azimuthDeg);
    }
    for (const Report& r : f.reports) {
      ++total;
      ++framesOfId[r.id];
      if (active.empty() || distanceToNearest(r.azimuthDeg, active) > kSpuriousDeg) ++spurious;
      if (near.empty() || distanceToNearest(r.azimuthDeg, near) > kSpuriousDeg) ++spuriousTolerant;
    }
  }
  SceneReports result;
  if (total > 0) {
    result.spurious = static_cast<double>(spurious) / static_cast<double>(total);
    result.spuriousTolerant = static_cast<double>(spuriousTolerant) / static_cast<double>(total);
  }
  result.ids = static_cast<long>(framesOfId.size());
  for (const auto& entry : framesOfId)
    if (entry.second >= kIdMinFrames) ++result.idsOnEnoughFrames;
  return result;
}

double mean(const std::vector<double>& values) {
  if (values.empty()) return std::nan("");
  double sum = 0.0;
  for (double v : values) sum += v;
  return sum / static_cast<double>(values.size());
}

double shareAtMost(const std::vector<double>& values, double limit) {
  if (values.empty()) return 0.0;
  return static_cast<double>(std::count_if(values.begin(), values.end(), [&](double v) { return v <= limit; })) /
         static_cast<double>(values.size());
}

// Errors with a missed talker counted as kMissedErrorDeg.
std::vector<double> errorsOf(const std::vector<const LocalizationRow*>& rows) {
  std::vector<double> errors;
  for (const LocalizationRow* r : rows) errors.push_back(r->errorDeg.value_or(kMissedErrorDeg));
  return errors;
}

template <class Row>
std::vector<const Row*> rowsOfKind(const std::vector<Row>& rows, const std::string& kind) {
  std::vector<const Row*> chosen;
  for (const Row& r : rows)
    if (r.kind == kind) chosen.push_back(&r);
  return chosen;
}

template <class Row>
std::vector<const Row*> allRows(const std::vector<Row>& rows) {
  std::vector<const Row*> chosen;
  for (const Row& r : rows) chosen.push_back(&r);
  return chosen;
}

template <class Row, class Field>
std::vector<double> fieldOf(const std::vector<const Row*>& rows, Field field) {
  std::vector<double> values;
  for (const Row* r : rows) values.push_back(r->*field);
  return values;
}

double zeroMeanDot(const std::vector<double>& a, double meanA, const std::vector<double>& b, double meanB) {
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - meanA) * (b[i] - meanB);
  return sum;
}

}  // namespace

double median(std::vector<double> values) {
  if (values.empty()) return std::nan("");
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : 0.5 * (values[mid - 1] + values[mid]);
}

std::vector<LocalizationRow> scoreLocalization(const SceneTruth& scene, const std::vector<FrameReports>& frames) {
  const SceneReports reports = sceneReports(scene, frames);
  const double talkers = static_cast<double>(scene.talkers.size());
  std::vector<LocalizationRow> rows;
  for (const TalkerTruth& talker : scene.talkers) {
    std::vector<double> errors;
    long activeFrames = 0, hits = 0;
    for (const FrameReports& f : frames) {
      if (!talker.activeAt(f.timeSec)) continue;
      ++activeFrames;
      if (f.reports.empty()) continue;
      double nearest = std::numeric_limits<double>::infinity();
      for (const Report& r : f.reports) nearest = std::min(nearest, std::fabs(r.azimuthDeg - talker.azimuthDeg));
      errors.push_back(nearest);
      if (nearest <= kHitDeg) ++hits;
    }
    LocalizationRow row;
    row.scene = scene.id;
    row.kind = scene.kind();
    row.truthDeg = talker.azimuthDeg;
    if (!errors.empty()) row.errorDeg = median(errors);
    row.hit = activeFrames ? static_cast<double>(hits) / static_cast<double>(activeFrames) : 0.0;
    row.spurious = reports.spurious;
    row.spuriousTolerant = reports.spuriousTolerant;
    row.ids = reports.ids;
    row.ids10PerTalker = static_cast<double>(reports.idsOnEnoughFrames) / talkers;
    rows.push_back(row);
  }
  return rows;
}

double siSdrDb(const std::vector<double>& estimate, const std::vector<double>& reference) {
  if (estimate.size() != reference.size())
    throw std::invalid_argument("SI-SDR of signals of different lengths (" + std::to_string(estimate.size()) + " and " +
                                std::to_string(reference.size()) + " samples)");
  constexpr double kTiny = 1e-12;
  const double meanE = mean(estimate), meanS = mean(reference);
  const double a = zeroMeanDot(estimate, meanE, reference, meanS) / (zeroMeanDot(reference, meanS, reference, meanS) + kTiny);
  // The target and the residual are summed sample by sample rather than expanded into dot
  // products, which would cancel badly when the estimate is nearly perfect.
  double target = 0.0, residual = 0.0;
  for (size_t i = 0; i < estimate.size(); ++i) {
    const double t = a * (reference[i] - meanS);
    const double r = (estimate[i] - meanE) - t;
    target += t * t;
    residual += r * r;
  }
  return 10.0 * std::log10(target / (residual + kTiny) + kTiny);
}

int outputEar(double azimuthDeg) { return azimuthDeg > 0.0 ? 0 : 1; }

int nearestOutput(const std::vector<double>& outputAzimuthsDeg, double azimuthDeg) {
  int best = -1;
  for (size_t i = 0; i < outputAzimuthsDeg.size(); ++i)
    if (best < 0 || std::fabs(outputAzimuthsDeg[i] - azimuthDeg) <
                        std::fabs(outputAzimuthsDeg[static_cast<size_t>(best)] - azimuthDeg))
      best = static_cast<int>(i);
  return best;
}

SeparationRow scoreSeparatedTalker(const std::vector<double>& output, const std::vector<double>& mixtureAtEar,
                                   const std::vector<double>& imageAtEar) {
  const size_t n = std::min(output.size(), mixtureAtEar.size());
  if (imageAtEar.size() < n) throw std::invalid_argument("the talker's image is shorter than the mixture");
  const std::vector<double> out(output.begin(), output.begin() + static_cast<long>(n));
  const std::vector<double> mix(mixtureAtEar.begin(), mixtureAtEar.begin() + static_cast<long>(n));
  const std::vector<double> ref(imageAtEar.begin(), imageAtEar.begin() + static_cast<long>(n));
  SeparationRow row;
  row.lengthOk = output.size() == mixtureAtEar.size();
  row.siSdrGainDb = siSdrDb(out, ref) - siSdrDb(mix, ref);
  return row;
}

std::vector<LocalizationKindSummary> summarizeByKind(const std::vector<LocalizationRow>& rows) {
  std::vector<LocalizationKindSummary> result;
  for (const char* kind : kKinds) {
    const std::vector<const LocalizationRow*> of = rowsOfKind(rows, kind);
    if (of.empty()) continue;
    const std::vector<double> errors = errorsOf(of);
    LocalizationKindSummary s;
    s.kind = kind;
    s.talkers = of.size();
    s.missed = static_cast<size_t>(std::count_if(of.begin(), of.end(), [](const LocalizationRow* r) { return !r->errorDeg; }));
    s.medianErrorDeg = median(errors);
    s.within5 = shareAtMost(errors, 5.0);
    s.within10 = shareAtMost(errors, 10.0);
    s.hit = mean(fieldOf(of, &LocalizationRow::hit));
    s.spuriousTolerant = mean(fieldOf(of, &LocalizationRow::spuriousTolerant));
    s.ids10PerTalker = mean(fieldOf(of, &LocalizationRow::ids10PerTalker));
    result.push_back(s);
  }
  return result;
}

std::vector<SeparationKindSummary> summarizeByKind(const std::vector<SeparationRow>& rows) {
  std::vector<SeparationKindSummary> result;
  for (const char* kind : kKinds) {
    const std::vector<const SeparationRow*> of = rowsOfKind(rows, kind);
    if (of.empty()) continue;
    const std::vector<double> gains = fieldOf(of, &SeparationRow::siSdrGainDb);
    SeparationKindSummary s;
    s.kind = kind;
    s.outputs = of.size();
    s.meanGainDb = mean(gains);
    s.medianGainDb = median(gains);
    s.minGainDb = *std::min_element(gains.begin(), gains.end());
    s.lengthOk = std::all_of(of.begin(), of.end(), [](const SeparationRow* r) { return r->lengthOk; });
    result.push_back(s);
  }
  return result;
}

LocalizationSummary summarize(const std::vector<LocalizationRow>& rows, size_t failedScenes) {
  const std::vector<const LocalizationRow*> all = allRows(rows);
  const std::vector<double> errors = errorsOf(all);
  LocalizationSummary s;
  s.talkers = rows.size();
  s.failedScenes = failedScenes;
  s.medianErrorDeg = median(errors);
  s.within5 = shareAtMost(errors, 5.0);
  s.within10 = shareAtMost(errors, 10.0);
  s.meanHit = rows.empty() ? 0.0 : mean(fieldOf(all, &LocalizationRow::hit));
  s.meanSpurious = rows.empty() ? 0.0 : mean(fieldOf(all, &LocalizationRow::spurious));
  return s;
}

SeparationSummary summarize(const std::vector<SeparationRow>& rows, size_t failedScenes) {
  const std::vector<double> gains = fieldOf(allRows(rows), &SeparationRow::siSdrGainDb);
  SeparationSummary s;
  s.outputs = rows.size();
  s.failedScenes = failedScenes;
  s.meanGainDb = mean(gains);
  s.minGainDb = gains.empty() ? std::nan("") : *std::min_element(gains.begin(), gains.end());
  s.lengthOk = std::all_of(rows.begin(), rows.end(), [](const SeparationRow& r) { return r.lengthOk; });
  return s;
}

}  // namespace velkeval
