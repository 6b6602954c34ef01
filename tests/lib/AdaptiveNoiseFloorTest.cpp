#include "velk_binaural/AdaptiveNoiseFloor.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "velk_binaural/BGNEstimator.h"
#include "BinauralScene.h"

using namespace NSVelkBinaural;
using namespace testscene;

namespace {

constexpr double kNoiseRms = 1e-3;

// Median over the bins from 200 Hz to 5 kHz of the floor's power over `truth` per bin, in dB.
double MedianErrorDb(const AdaptiveNoiseFloor& floor, const std::vector<float>& truth, int channel) {
  std::vector<double> errors;
  for (std::size_t k = 7; k <= 160; ++k) errors.push_back(10.0 * std::log10(floor.power(channel)[k] / truth[k]));
  std::nth_element(errors.begin(), errors.begin() + static_cast<long>(errors.size() / 2), errors.end());
  return errors[errors.size() / 2];
}

// The mean power per bin of the left ear over frames [first, end) of noise alone.
std::vector<float> MeanPower(const Spectra& spectra, std::size_t first, std::size_t end) {
  std::vector<float> mean(kBins, 0.0f);
  for (std::size_t f = first; f < end; ++f)
    for (std::size_t k = 0; k < kBins; ++k) mean[k] += std::norm(spectra.frame(f).left[k]) / static_cast<float>(end - first);
  return mean;
}

// Runs the floor over the frames from `first` up to `untilSec`; returns the next frame.
std::size_t Feed(AdaptiveNoiseFloor& floor, const Spectra& spectra, std::size_t first, double untilSec) {
  std::size_t f = first;
  for (; f < spectra.frames() && spectra.timeSec(f) <= untilSec; ++f) floor.process(spectra.frame(f));
  return f;
}

}  // namespace

TEST(AdaptiveNoiseFloorTest, SettlesOnASteadyNoiseAtItsMeanPowerAndOnTheFirstFramesScale) {
  const Stereo noise = IncoherentNoise(Samples(4.0), kNoiseRms, 1);
  const Spectra spectra(noise);
  AdaptiveNoiseFloor floor;
  Feed(floor, spectra, 0, 4.0);
  ASSERT_TRUE(floor.ready());
  const std::vector<float> truth = MeanPower(spectra, 10, spectra.frames() - 10);
  EXPECT_NEAR(MedianErrorDb(floor, truth, 0), 0.0, 1.0);

  // The levels in dB compare with those of the estimator that averages the first frames, so that
  // peak thresholds mean the same with either.
  BGNEstimator first(100);
  for (std::size_t f = 5; f < 106; ++f) {
    const StereoSpectrumView v = spectra.frame(f);
    ComplexSignalPtr l(new ComplexSignal(kBins, v.left)), r(new ComplexSignal(kBins, v.right));
    first.Estimate(ComplexPairPtr(new ComplexPair(l, r)));
  }
  std::vector<float> levels(kBins);
  floor.levelsDb(1, levels.data(), kBins);
  std::vector<double> differences;
  for (std::size_t k = 7; k <= 160; ++k) differences.push_back(levels[k] - first.BGNoise()->right->At(k));
  std::sort(differences.begin(), differences.end());
  EXPECT_NEAR(differences[differences.size() / 2], 0.0, 1.0);
}

// The first pause between phrases, 0.3 s, must be enough to come down from speech some 40 dB
// above the noise: a smoothing that falls as slowly as it rises stays 14 dB above.
TEST(AdaptiveNoiseFloorTest, ARecordingThatStartsWithSpeechHasTheNoiseFloorAfterItsFirstPause) {
  Stereo scene = IncoherentNoise(Samples(3.0), kNoiseRms, 2);
  Add(scene, FromDirection(Voice(3.0, 140.0, 3), 30.0));  // speech from the first sample
  const Spectra spectra(scene);
  const std::vector<float> truth = MeanPower(Spectra(IncoherentNoise(Samples(3.0), kNoiseRms, 2)), 10, 290);
  AdaptiveNoiseFloor floor;
  const std::size_t next = Feed(floor, spectra, 0, kPhraseSec - 0.1);
  EXPECT_GT(MedianErrorDb(floor, truth, 0), 10.0);  // no pause yet: nothing to learn the noise from
  Feed(floor, spectra, next, kPhraseSec + kPauseSec + 0.1);
  EXPECT_NEAR(MedianErrorDb(floor, truth, 0), 0.0, 5.0);
}

TEST(AdaptiveNoiseFloorTest, DigitalSilenceIsNeverTakenForTheFloor) {
  Stereo scene{std::vector<float>(Samples(3.0)), std::vector<float>(Samples(3.0))};
  Add(scene, IncoherentNoise(Samples(2.0), kNoiseRms, 4), Samples(1.0));  // 1 s of zeros, then noise
  const Spectra spectra(scene);
  const std::vector<float> truth = MeanPower(spectra, 120, spectra.frames() - 10);
  AdaptiveNoiseFloor floor;
  for (std::size_t f = 0; f < spectra.frames(); ++f) {
    floor.process(spectra.frame(f));
    if (spectra.timeSec(f) < 1.0) {
      EXPECT_FALSE(floor.ready()) << "at " << spectra.timeSec(f) << " s";
    } else if (floor.ready()) {
      // The frames that overlap the silence would pull the floor far down; none is taken.
      EXPECT_GT(MedianErrorDb(floor, truth, 1), -3.0) << "at " << spectra.timeSec(f) << " s";
    }
  }
  EXPECT_NEAR(MedianErrorDb(floor, truth, 1), 0.0, 1.5);
}

TEST(AdaptiveNoiseFloorTest, ANaNInTheFirstFramesIsSkippedAndTheFloorStaysFinite) {
  Stereo scene = IncoherentNoise(Samples(2.0), kNoiseRms, 5);
  scene.left[400] = std::numeric_limits<float>::quiet_NaN();  // in the first 50 ms
  const Spectra spectra(scene);
  AdaptiveNoiseFloor floor;
  std::size_t taken = 0;
  for (std::size_t f = 0; f < spectra.frames(); ++f) taken += floor.process(spectra.frame(f));
  EXPECT_LT(taken, spectra.frames() - 4);  // the frames that hold the NaN, and their settling
  const std::vector<float> truth = MeanPower(spectra, 20, spectra.frames() - 10);
  EXPECT_NEAR(MedianErrorDb(floor, truth, 0), 0.0, 1.5);
  for (std::size_t k = 0; k < kBins; ++k) EXPECT_TRUE(std::isfinite(floor.power(0)[k])) << k;
}

TEST(AdaptiveNoiseFloorTest, FollowsANoiseThatRisesWithinTheWindow) {
  Stereo scene = IncoherentNoise(Samples(6.0), kNoiseRms, 6);
  Add(scene, IncoherentNoise(Samples(3.0), 10 * kNoiseRms, 7), Samples(3.0));  // 20 dB louder from 3 s
  const Spectra spectra(scene);
  const std::vector<float> louder = MeanPower(spectra, 320, spectra.frames() - 10);
  AdaptiveNoiseFloor floor;
  Feed(floor, spectra, 0, 3.0 + 2.2);  // the window (1.92 s) and a sub-window past the change
  EXPECT_NEAR(MedianErrorDb(floor, louder, 0), 0.0, 1.5);
}

TEST(AdaptiveNoiseFloorTest, RefusesBadConfigurationsAndFramesOfAnotherSize) {
  AdaptiveNoiseFloorConfig c;
  c.smoothing = 1.0f;
  EXPECT_THROW(AdaptiveNoiseFloor{c}, std::invalid_argument);
  c = AdaptiveNoiseFloorConfig();
  c.subwindows = 0;
  EXPECT_THROW(AdaptiveNoiseFloor{c}, std::invalid_argument);
  c = AdaptiveNoiseFloorConfig();
  c.biasDb = std::numeric_limits<float>::quiet_NaN();
  EXPECT_THROW(AdaptiveNoiseFloor{c}, std::invalid_argument);

  AdaptiveNoiseFloor floor;
  std::vector<std::complex<float>> bins(9, 1.0f), more(10, 1.0f);
  EXPECT_THROW(floor.process(StereoSpectrumView{bins.data(), nullptr, 9}), std::invalid_argument);
  floor.process(StereoSpectrumView{bins.data(), bins.data(), 9});
  try {
    floor.process(StereoSpectrumView{more.data(), more.data(), 10});
    FAIL() << "a frame of another size was taken";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "AdaptiveNoiseFloor: a frame of 10 bins after frames of 9 bins");
  }
  EXPECT_THROW(floor.power(2), std::out_of_range);
}
