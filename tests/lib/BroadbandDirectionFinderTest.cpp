#include "velk_binaural/BroadbandDirectionFinder.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "BinauralScene.h"
#include "velk_binaural/AdaptiveNoiseFloor.h"

using namespace NSVelkBinaural;
using namespace testscene;

namespace {

constexpr double kNoiseRms = 1e-3;  // about 35 dB below the voices

// Per frame, the reports of the finder fed with the adaptive floor.
std::vector<std::vector<SourceReport>> Reports(const Stereo& scene,
                                               const BroadbandDirectionConfig& config = BroadbandDirectionConfig()) {
  const Spectra spectra(scene);
  AdaptiveNoiseFloor floor;
  BroadbandDirectionFinder finder(config, HeadModelTable());
  std::vector<std::vector<SourceReport>> reports;
  for (std::size_t f = 0; f < spectra.frames(); ++f) {
    floor.process(spectra.frame(f));
    reports.push_back(finder.process(spectra.frame(f), floor.ready() ? floor.power(0) : nullptr,
                                     floor.ready() ? floor.power(1) : nullptr));
  }
  return reports;
}

// Share of the frames with reports that have one within `toleranceDeg` of `azimuthDeg`.
double ShareNear(const std::vector<std::vector<SourceReport>>& reports, double azimuthDeg, double toleranceDeg) {
  int with = 0, near = 0;
  for (const auto& frame : reports) {
    if (frame.empty()) continue;
    ++with;
    near += std::any_of(frame.begin(), frame.end(),
                        [&](const SourceReport& r) { return std::fabs(r.azimuthDeg - azimuthDeg) <= toleranceDeg; });
  }
  return with ? static_cast<double>(near) / with : 0.0;
}

std::size_t FramesWithReports(const std::vector<std::vector<SourceReport>>& reports) {
  return static_cast<std::size_t>(
      std::count_if(reports.begin(), reports.end(), [](const auto& f) { return !f.empty(); }));
}

}  // namespace

// Known directions, also off the 5-degree grid and at the sides, where the path difference
// changes slowly with the angle.
TEST(BroadbandDirectionFinderTest, FindsOneTalkerAtItsAzimuth) {
  for (double azimuth : {0.0, 22.0, -47.0, 63.0, -85.0}) {
    Stereo scene = IncoherentNoise(Samples(2.0), kNoiseRms, 1);
    Add(scene, FromDirection(Voice(2.0, 150.0, 2), azimuth));
    const auto reports = Reports(scene);
    EXPECT_GT(FramesWithReports(reports), 80u) << azimuth;
    EXPECT_GT(ShareNear(reports, azimuth, 3.0), 0.95) << azimuth;
    for (const auto& frame : reports)
      for (const SourceReport& r : frame) {
        EXPECT_GT(r.strength, 0.0);
        EXPECT_LE(r.strength, 1.0);
      }
  }
}

TEST(BroadbandDirectionFinderTest, FindsTwoTalkersSpeakingAtOnceInTheSameFrames) {
  Stereo scene = IncoherentNoise(Samples(2.5), kNoiseRms, 3);
  Add(scene, FromDirection(Voice(2.5, 120.0, 4), -30.0));
  Add(scene, FromDirection(Voice(2.5, 210.0, 5), 25.0));
  const auto reports = Reports(scene);
  int both = 0;
  for (const auto& frame : reports) {
    auto near = [&](double a) {
      return std::any_of(frame.begin(), frame.end(), [&](const SourceReport& r) { return std::fabs(r.azimuthDeg - a) <= 4.0; });
    };
    both += near(-30.0) && near(25.0);
  }
  EXPECT_GT(both, 30);
  EXPECT_GT(ShareNear(reports, -30.0, 4.0) + ShareNear(reports, 25.0, 4.0), 1.2);
}

// Reverberation stronger than the direct sound: only the bins where the direct sound dominates
// (coherent between the ears) may take part, or the reverberant ones scatter the directions.
TEST(BroadbandDirectionFinderTest, FindsATalkerWhoseReverberationIsLouderThanTheDirectSound) {
  const std::vector<float> voice = Voice(3.0, 150.0, 12);
  Stereo scene = IncoherentNoise(Samples(3.0), kNoiseRms, 13);
  Add(scene, FromDirection(voice, 30.0));
  Add(scene, Reverberation(voice, 0.5, 0.15, 14));  // about 4 dB above the direct sound
  // Reports scatter, but the talker's direction must stand out: within 5 degrees of it half as
  // many reports again as in any other 10-degree sector. (Without the coherence test the
  // talker's sector holds 19 reports against 16 at the side.)
  std::vector<int> sectors(19, 0);  // -95 .. 95 in 10-degree steps
  for (const auto& frame : Reports(scene))
    for (const SourceReport& r : frame) ++sectors[static_cast<std::size_t>((r.azimuthDeg + 95.0) / 10.0)];
  const std::size_t talker = 12;  // 30 +- 5 degrees
  int others = 0;
  for (std::size_t s = 0; s < sectors.size(); ++s)
    if (s != talker) others = std::max(others, sectors[s]);
  EXPECT_GT(sectors[talker], 40);
  EXPECT_GT(2 * sectors[talker], 3 * others) << ::testing::PrintToString(sectors);
}

// Diffuse sound points nowhere: not a steady noise, and hardly ever a burst far above the floor
// (its bins stand above the noise but are not coherent between the ears; only at its onset, when
// the averages hold a frame or two, may a frame report something).
TEST(BroadbandDirectionFinderTest, ReportsNothingInDiffuseSoundOrWithoutAFloor) {
  EXPECT_EQ(FramesWithReports(Reports(IncoherentNoise(Samples(3.0), kNoiseRms, 6))), 0u);
  Stereo burst = IncoherentNoise(Samples(3.0), kNoiseRms, 6);
  Add(burst, IncoherentNoise(Samples(0.5), 30 * kNoiseRms, 11), Samples(2.0));
  EXPECT_LE(FramesWithReports(Reports(burst)), 3u);

  Stereo scene = IncoherentNoise(Samples(1.0), kNoiseRms, 7);
  Add(scene, FromDirection(Voice(1.0, 150.0, 8), 40.0));
  const Spectra spectra(scene);
  BroadbandDirectionFinder finder(BroadbandDirectionConfig(), HeadModelTable());
  for (std::size_t f = 0; f < spectra.frames(); ++f)
    EXPECT_TRUE(finder.process(spectra.frame(f), nullptr, nullptr).empty());
}

// A bin that is not a number must not enter the averages that later frames are judged by.
TEST(BroadbandDirectionFinderTest, ABadValueInOneFrameDoesNotSpoilTheFollowingFrames) {
  Stereo scene = IncoherentNoise(Samples(2.0), kNoiseRms, 9);
  Add(scene, FromDirection(Voice(2.0, 150.0, 10), -20.0));
  Spectra spectra(scene);
  for (std::size_t bin = 10; bin < 100; ++bin) spectra.set(50, bin, std::numeric_limits<float>::quiet_NaN());
  AdaptiveNoiseFloor floor;
  BroadbandDirectionFinder finder(BroadbandDirectionConfig(), HeadModelTable());
  int later = 0, near = 0;
  for (std::size_t f = 0; f < spectra.frames(); ++f) {
    floor.process(spectra.frame(f));
    const auto& reports = finder.process(spectra.frame(f), floor.power(0), floor.power(1));
    if (f <= 50 || reports.empty()) continue;
    ++later;
    near += std::fabs(reports.front().azimuthDeg + 20.0) <= 3.0;
  }
  EXPECT_GT(later, 50);
  EXPECT_GT(near, later * 9 / 10);
}

TEST(BroadbandDirectionFinderTest, RefusesBadConfigurationsAndFrames) {
  const auto table = HeadModelTable();
  BroadbandDirectionConfig c;
  c.maxFrequencyHz = 9000.0;  // above half the sampling rate
  EXPECT_THROW(BroadbandDirectionFinder(c, table), std::invalid_argument);
  c = BroadbandDirectionConfig();
  c.minCoherence = 1.5f;
  EXPECT_THROW(BroadbandDirectionFinder(c, table), std::invalid_argument);
  EXPECT_THROW(BroadbandDirectionFinder(BroadbandDirectionConfig(), nullptr), std::invalid_argument);

  BroadbandDirectionFinder finder(BroadbandDirectionConfig(), table);
  std::vector<std::complex<float>> bins(100);
  try {
    finder.process(StereoSpectrumView{bins.data(), bins.data(), 100}, nullptr, nullptr);
    FAIL() << "a frame of another size was taken";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "BroadbandDirectionFinder: a frame of 100 bins for a table of 257 bins");
  }
}

TEST(InterauralPhaseTableTest, HoldsThePhaseOfThePathDifferenceAndRefusesUnevenGrids) {
  // A path difference of 1 cm at 17 kHz sampling: 2 pi f 0.01 / 340 rad at bin frequency f.
  const InterauralPhaseTable table = InterauralPhaseTable::FromPathDifferences({-10.0, 0.0, 10.0}, {-0.01, 0.0, 0.01},
                                                                               17000.0, 5);
  EXPECT_EQ(table.stride(), 8u);
  EXPECT_DOUBLE_EQ(table.stepDeg(), 10.0);
  EXPECT_DOUBLE_EQ(table.binFrequencyHz(4), 8500.0);
  const double phase = 2.0 * M_PI * 4250.0 * 0.01 / 340.0;
  EXPECT_NEAR(table.cosines(2)[2], std::cos(phase), 1e-6);
  EXPECT_NEAR(table.sines(2)[2], std::sin(phase), 1e-6);
  EXPECT_NEAR(table.sines(2)[0], -std::sin(phase), 1e-6);
  EXPECT_FLOAT_EQ(table.cosines(2)[1], 1.0f);
  EXPECT_FLOAT_EQ(table.cosines(2)[5], 0.0f);  // padding

  EXPECT_THROW(InterauralPhaseTable({0.0, 5.0, 15.0}, std::vector<std::vector<double>>(3, std::vector<double>(5)), 16000.0),
               std::invalid_argument);
  EXPECT_THROW(InterauralPhaseTable({0.0, 5.0}, {std::vector<double>(5), std::vector<double>(4)}, 16000.0),
               std::invalid_argument);
  EXPECT_THROW(InterauralPhaseTable({0.0}, {{0.0, std::nan("")}}, 16000.0), std::invalid_argument);
}
