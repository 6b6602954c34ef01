// The scoring rules for localisation and separation runs on simulated scenes, so that figures
// measured by different tools compare.
//
// Localisation, per talker, over the frames where that talker is active, taking in each frame the
// report nearest to the talker:
//   error             median of those distances, degrees; none when no frame of the talker has
//                     a report (the talker is missed)
//   hit               share of the talker's active frames with a report within 10 degrees
//   spurious          share of all reports of the scene farther than 20 degrees from every
//                     talker active on the frame (spuriousTolerant: active within 0.5 s of it)
//   ids per talker    ids reported on at least 10 frames / number of talkers
// Separation, per talker (true directions given): the whole-band SI-SDR of the output against
// the talker's own image at the output ear (left for azimuth > 0, else right), minus the same
// for the unprocessed mixture at that ear; and whether the output has the input's length.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "velkeval/SceneTruth.h"

namespace velkeval {

constexpr double kHitDeg = 10.0;
constexpr double kSpuriousDeg = 20.0;
constexpr double kSpuriousToleranceSec = 0.5;
constexpr long kIdMinFrames = 10;

struct Report {
  int id = 0;
  double azimuthDeg = 0.0;
};

struct FrameReports {
  double timeSec = 0.0;  // in the scene's time
  std::vector<Report> reports;
};

struct LocalizationRow {
  std::string scene, kind;
  double truthDeg = 0.0;
  std::optional<double> errorDeg;  // none: missed
  double hit = 0.0;
  // The scene's figures, the same on every row of the scene.
  double spurious = 0.0, spuriousTolerant = 0.0;
  long ids = 0;
  double ids10PerTalker = 0.0;
};

// One row per talker of the scene, in the order of the truth.
std::vector<LocalizationRow> scoreLocalization(const SceneTruth& scene, const std::vector<FrameReports>& frames);

// SI-SDR in dB of `estimate` against `reference` (both made zero-mean first; equal lengths):
// with the projection t = (<e, s> / <s, s>) s, 10 log10(|t|^2 / |e - t|^2), each term kept off
// zero by 1e-12 so that silence and a perfect estimate give finite numbers.
double siSdrDb(const std::vector<double>& estimate, const std::vector<double>& reference);

// The ear a separated talker is scored at: 0 (left) for azimuth > 0, else 1 (right).
int outputEar(double azimuthDeg);

// The output whose direction lies nearest to `azimuthDeg` (the first on a tie), or -1 when there
// is none.
int nearestOutput(const std::vector<double>& outputAzimuthsDeg, double azimuthDeg);

struct SeparationRow {
  std::string scene, kind;
  double truthDeg = 0.0;
  int ear = 0;
  bool lengthOk = false;
  double siSdrGainDb = 0.0;
};

// Scores one output against the talker's image and the mixture at the output ear, over the
// samples the output and the mixture share.
SeparationRow scoreSeparatedTalker(const std::vector<double>& output, const std::vector<double>& mixtureAtEar,
                                   const std::vector<double>& imageAtEar);

// ---- summaries ----------------------------------------------------------------------------------

// A missed talker counts with this error in the medians and shares.
constexpr double kMissedErrorDeg = 999.0;

struct LocalizationKindSummary {
  std::string kind;
  size_t talkers = 0, missed = 0;
  double medianErrorDeg = 0.0, within5 = 0.0, within10 = 0.0, hit = 0.0, spuriousTolerant = 0.0,
         ids10PerTalker = 0.0;
};

struct LocalizationSummary {
  size_t talkers = 0, failedScenes = 0;
  double medianErrorDeg = 0.0, within5 = 0.0, within10 = 0.0, meanHit = 0.0, meanSpurious = 0.0;
};

struct SeparationKindSummary {
  std::string kind;
  size_t outputs = 0;
  double meanGainDb = 0.0, medianGainDb = 0.0, minGainDb = 0.0;
  bool lengthOk = true;
};

struct SeparationSummary {
  size_t outputs = 0, failedScenes = 0;
  double meanGainDb = 0.0, minGainDb = 0.0;
  bool lengthOk = true;
};

// Per kind, for "single", "pair" and "triple" in that order, the kinds that have rows.
std::vector<LocalizationKindSummary> summarizeByKind(const std::vector<LocalizationRow>& rows);
std::vector<SeparationKindSummary> summarizeByKind(const std::vector<SeparationRow>& rows);
// Over all rows; NaN for the medians and means of no rows.
LocalizationSummary summarize(const std::vector<LocalizationRow>& rows, size_t failedScenes);
SeparationSummary summarize(const std::vector<SeparationRow>& rows, size_t failedScenes);

double median(std::vector<double> values);  // mean of the middle two for an even count; NaN if empty

}  // namespace velkeval
