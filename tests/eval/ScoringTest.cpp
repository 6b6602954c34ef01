// The scoring rules on small synthetic scenes whose expected figures come from the scene
// generator's reference scorer (shared/scenegen/score.py), so that the evaluation command and the
// reference agree. Provenance: the three scenes and their frames below were written out as
// truth.json files and as the JSON lines of a stand-in for the tool (a shell script copying the
// prepared lines to --json), and `score.py localize --cli STAND_IN --scenes DIR` printed the rows,
// KIND and SUMMARY lines quoted here; the SI-SDR figures are score.py's si_sdr() on the signals
// of SignalsForSdr (numpy float64). Made on 2026-12-08.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "velkeval/Scoring.h"

namespace {

using velkeval::FrameReports;
using velkeval::LocalizationRow;
using velkeval::SceneTruth;
using velkeval::TalkerTruth;

TalkerTruth talker(double azimuthDeg, std::vector<velkeval::Interval> active) {
  TalkerTruth t;
  t.azimuthDeg = azimuthDeg;
  t.active = std::move(active);
  return t;
}

SceneTruth scene(const std::string& id, std::vector<TalkerTruth> talkers) {
  SceneTruth s;
  s.id = id;
  s.sampleRate = 16000;
  s.talkers = std::move(talkers);
  return s;
}

// Frames every 0.1 s, k = 0..40, each with the reports `at(k)` gives.
template <class Reports>
std::vector<FrameReports> frames(Reports at) {
  std::vector<FrameReports> result;
  for (int k = 0; k <= 40; ++k) result.push_back({k * 0.1, at(k)});
  return result;
}

// Three talkers: +30 is found (one frame also reports it twice, once far off), -40 is reported
// on every other frame 5 degrees off, +80 is never reported; a spurious id at +70, an id just
// before +30 starts (spurious, but within the 0.5 s tolerance) and one that runs on after +30
// stops.
std::vector<FrameReports> tripleFrames() {
  return frames([](int k) {
    std::vector<velkeval::Report> r;
    if (10 <= k && k <= 20) r.push_back({1, 32.0});
    if (k == 12) r.push_back({1, 10.0});
    if (16 <= k && k <= 24 && k % 2 == 0) r.push_back({2, -45.0});
    if (k == 5 || k == 27) r.push_back({3, 70.0});
    if (k == 6) r.push_back({5, 25.0});
    if (31 <= k && k <= 38) r.push_back({4, 28.0});
    return r;
  });
}

SceneTruth tripleScene() {
  return scene("a_triple", {talker(30.0, {{1.0, 2.0}, {3.0, 3.5}}), talker(-40.0, {{1.5, 2.5}}),
                            talker(80.0, {{0.0, 0.4}})});
}

// Two talkers, each followed by one id; the first id wanders by up to 2 degrees.
std::vector<FrameReports> pairFrames() {
  return frames([](int k) {
    std::vector<velkeval::Report> r;
    if (k >= 10) r.push_back({7, -20.0 + k % 3});
    if (12 <= k && k <= 30) r.push_back({8, 41.0});
    return r;
  });
}

SceneTruth pairScene() { return scene("c_pair", {talker(-20.0, {{1.0, 4.0}}), talker(40.0, {{1.2, 2.0}, {2.5, 3.0}})}); }

SceneTruth silentScene() { return scene("b_single", {talker(-10.0, {{1.0, 3.0}})}); }

std::vector<LocalizationRow> allRows() {
  std::vector<LocalizationRow> rows = velkeval::scoreLocalization(tripleScene(), tripleFrames());
  for (const LocalizationRow& r : velkeval::scoreLocalization(silentScene(), frames([](int) {
         return std::vector<velkeval::Report>{};
       })))
    rows.push_back(r);
  for (const LocalizationRow& r : velkeval::scoreLocalization(pairScene(), pairFrames())) rows.push_back(r);
  return rows;
}

TEST(LocalizationScoreTest, PerTalkerFiguresAgreeWithTheReferenceScorer) {
  const std::vector<LocalizationRow> rows = velkeval::scoreLocalization(tripleScene(), tripleFrames());
  ASSERT_EQ(rows.size(), 3u);
  for (const LocalizationRow& r : rows) {
    EXPECT_EQ(r.kind, "triple");
    EXPECT_NEAR(r.spurious, 0.21428571428571427, 1e-12);
    EXPECT_NEAR(r.spuriousTolerant, 0.03571428571428571, 1e-12);
    EXPECT_EQ(r.ids, 5);
    EXPECT_NEAR(r.ids10PerTalker, 1.0 / 3.0, 1e-12);
  }
  EXPECT_EQ(rows[0].truthDeg, 30.0);
  ASSERT_TRUE(rows[0].errorDeg);
  EXPECT_NEAR(*rows[0].errorDeg, 2.0, 1e-12);
  EXPECT_NEAR(rows[0].hit, 0.9411764705882353, 1e-12);
  ASSERT_TRUE(rows[1].errorDeg);
  EXPECT_NEAR(*rows[1].errorDeg, 5.0, 1e-12);
  EXPECT_NEAR(rows[1].hit, 0.45454545454545453, 1e-12);
  EXPECT_FALSE(rows[2].errorDeg) << "a talker never reported is missed";
  EXPECT_EQ(rows[2].hit, 0.0);

  const std::vector<LocalizationRow> pair = velkeval::scoreLocalization(pairScene(), pairFrames());
  ASSERT_EQ(pair.size(), 2u);
  EXPECT_NEAR(*pair[0].errorDeg, 1.0, 1e-12);
  EXPECT_NEAR(*pair[1].errorDeg, 1.0, 1e-12);
  EXPECT_EQ(pair[0].hit, 1.0);
  EXPECT_NEAR(pair[0].spurious, 0.08, 1e-12);
  EXPECT_EQ(pair[0].spuriousTolerant, 0.0);
  EXPECT_EQ(pair[0].ids10PerTalker, 1.0);
}

TEST(LocalizationScoreTest, ARunWithoutReportsMissesEveryTalkerAndReportsNothingSpurious) {
  const std::vector<LocalizationRow> rows =
      velkeval::scoreLocalization(silentScene(), frames([](int) { return std::vector<velkeval::Report>{}; }));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_FALSE(rows[0].errorDeg);
  EXPECT_EQ(rows[0].hit, 0.0);
  EXPECT_EQ(rows[0].spurious, 0.0);
  EXPECT_EQ(rows[0].ids, 0);
  EXPECT_EQ(rows[0].ids10PerTalker, 0.0);
}

// KIND single: talkers=1 missed=1 median_err=999.0 within5=0.00 within10=0.00 hit=0.00 spur_tol=0.00 ids10_per_talker=0.00
// KIND pair: talkers=2 missed=0 median_err=1.0 within5=1.00 within10=1.00 hit=1.00 spur_tol=0.00 ids10_per_talker=1.00
// KIND triple: talkers=3 missed=1 median_err=5.0 within5=0.67 within10=0.67 hit=0.47 spur_tol=0.04 ids10_per_talker=0.33
// SUMMARY localize epipolar: sources=6 failed=0 median_err=3.5 within5=0.67 within10=0.67 mean_hit=0.57 mean_spur=0.13
TEST(LocalizationScoreTest, KindsAndSummaryAgreeWithTheReferenceScorer) {
  const std::vector<LocalizationRow> rows = allRows();
  const std::vector<velkeval::LocalizationKindSummary> kinds = velkeval::summarizeByKind(rows);
  ASSERT_EQ(kinds.size(), 3u);
  EXPECT_EQ(kinds[0].kind, "single");
  EXPECT_EQ(kinds[0].missed, 1u);
  EXPECT_EQ(kinds[0].medianErrorDeg, velkeval::kMissedErrorDeg);
  EXPECT_EQ(kinds[1].kind, "pair");
  EXPECT_EQ(kinds[1].talkers, 2u);
  EXPECT_NEAR(kinds[1].medianErrorDeg, 1.0, 1e-12);
  EXPECT_EQ(kinds[1].within5, 1.0);
  const velkeval::LocalizationKindSummary& triple = kinds[2];
  EXPECT_EQ(triple.kind, "triple");
  EXPECT_EQ(triple.talkers, 3u);
  EXPECT_EQ(triple.missed, 1u);
  EXPECT_NEAR(triple.medianErrorDeg, 5.0, 1e-12);
  EXPECT_NEAR(triple.within5, 2.0 / 3.0, 1e-12);
  EXPECT_NEAR(triple.within10, 2.0 / 3.0, 1e-12);
  EXPECT_NEAR(triple.hit, (0.9411764705882353 + 0.45454545454545453) / 3.0, 1e-12);
  EXPECT_NEAR(triple.spuriousTolerant, 0.03571428571428571, 1e-12);
  EXPECT_NEAR(triple.ids10PerTalker, 1.0 / 3.0, 1e-12);

  const velkeval::LocalizationSummary all = velkeval::summarize(rows, 0);
  EXPECT_EQ(all.talkers, 6u);
  EXPECT_NEAR(all.medianErrorDeg, 3.5, 1e-12);
  EXPECT_NEAR(all.within5, 4.0 / 6.0, 1e-12);
  EXPECT_NEAR(all.meanHit, (0.9411764705882353 + 0.45454545454545453 + 2.0) / 6.0, 1e-12);
  EXPECT_NEAR(all.meanSpurious, (3 * 0.21428571428571427 + 2 * 0.08) / 6.0, 1e-12);
}

TEST(LocalizationScoreTest, NoRowsGiveNaNMediansAndZeroShares) {
  const velkeval::LocalizationSummary none = velkeval::summarize(std::vector<LocalizationRow>{}, 2);
  EXPECT_TRUE(std::isnan(none.medianErrorDeg));
  EXPECT_EQ(none.within10, 0.0);
  EXPECT_EQ(none.meanHit, 0.0);
  EXPECT_EQ(none.failedScenes, 2u);
  EXPECT_TRUE(velkeval::summarizeByKind(std::vector<LocalizationRow>{}).empty());
}

// ---- separation ---------------------------------------------------------------------------------

struct SignalsForSdr {
  std::vector<double> reference, estimate, mixture;
  SignalsForSdr() {
    for (int n = 0; n < 1000; ++n) {
      const double s = std::sin(0.05 * n) + 0.3 * std::sin(0.31 * n + 1.0);
      reference.push_back(s);
      estimate.push_back(0.5 * s + 0.1 * std::cos(0.17 * n));
      mixture.push_back(s + 0.8 * std::sin(0.021 * n + 0.5));
    }
  }
};

TEST(SeparationScoreTest, SiSdrAgreesWithTheReferenceScorer) {
  const SignalsForSdr x;
  EXPECT_NEAR(velkeval::siSdrDb(x.estimate, x.reference), 14.364147321578242, 1e-9);
  EXPECT_NEAR(velkeval::siSdrDb(x.mixture, x.reference), 2.261026813616718, 1e-9);
  // A silent output and a perfect one stay finite.
  EXPECT_NEAR(velkeval::siSdrDb(std::vector<double>(1000, 0.0), x.reference), -120.0, 1e-9);
  EXPECT_NEAR(velkeval::siSdrDb(x.reference, x.reference), 147.37832816527242, 1e-6);
  EXPECT_THROW(velkeval::siSdrDb(x.estimate, std::vector<double>(999, 0.0)), std::invalid_argument);
}

TEST(SeparationScoreTest, GainIsTakenOverTheSamplesTheOutputAndTheMixtureShare) {
  const SignalsForSdr x;
  velkeval::SeparationRow full = velkeval::scoreSeparatedTalker(x.estimate, x.mixture, x.reference);
  EXPECT_TRUE(full.lengthOk);
  EXPECT_NEAR(full.siSdrGainDb, 12.103120507961524, 1e-9);

  const std::vector<double> shorter(x.estimate.begin(), x.estimate.begin() + 700);
  velkeval::SeparationRow cut = velkeval::scoreSeparatedTalker(shorter, x.mixture, x.reference);
  EXPECT_FALSE(cut.lengthOk);
  EXPECT_NEAR(cut.siSdrGainDb, 11.75745116804211, 1e-9);

  std::vector<double> longer = x.estimate;
  longer.resize(1160, 0.25);
  velkeval::SeparationRow padded = velkeval::scoreSeparatedTalker(longer, x.mixture, x.reference);
  EXPECT_FALSE(padded.lengthOk);
  EXPECT_NEAR(padded.siSdrGainDb, 12.103120507961524, 1e-9);
}

TEST(SeparationScoreTest, TheTalkerSideEarAndTheNearestOutputAreChosen) {
  EXPECT_EQ(velkeval::outputEar(30.0), 0);
  EXPECT_EQ(velkeval::outputEar(0.0), 1);
  EXPECT_EQ(velkeval::outputEar(-0.5), 1);
  EXPECT_EQ(velkeval::nearestOutput({-30.0, 10.0, 40.0}, 20.0), 1);
  EXPECT_EQ(velkeval::nearestOutput({-10.0, 10.0}, 0.0), 0) << "ties go to the first output";
  EXPECT_EQ(velkeval::nearestOutput({}, 0.0), -1);
}

TEST(SeparationScoreTest, KindsAndSummary) {
  std::vector<velkeval::SeparationRow> rows(3);
  rows[0].kind = "pair", rows[0].siSdrGainDb = 4.0, rows[0].lengthOk = true;
  rows[1].kind = "pair", rows[1].siSdrGainDb = -2.0, rows[1].lengthOk = true;
  rows[2].kind = "triple", rows[2].siSdrGainDb = 1.0, rows[2].lengthOk = false;
  const std::vector<velkeval::SeparationKindSummary> kinds = velkeval::summarizeByKind(rows);
  ASSERT_EQ(kinds.size(), 2u);
  EXPECT_EQ(kinds[0].outputs, 2u);
  EXPECT_EQ(kinds[0].meanGainDb, 1.0);
  EXPECT_EQ(kinds[0].medianGainDb, 1.0);
  EXPECT_EQ(kinds[0].minGainDb, -2.0);
  EXPECT_TRUE(kinds[0].lengthOk);
  EXPECT_FALSE(kinds[1].lengthOk);
  const velkeval::SeparationSummary all = velkeval::summarize(rows, 1);
  EXPECT_EQ(all.outputs, 3u);
  EXPECT_EQ(all.failedScenes, 1u);
  EXPECT_EQ(all.minGainDb, -2.0);
  EXPECT_FALSE(all.lengthOk);
  EXPECT_TRUE(std::isnan(velkeval::summarize(std::vector<velkeval::SeparationRow>{}, 0).meanGainDb));
}

}  // namespace
