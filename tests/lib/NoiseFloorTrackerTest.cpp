// The noise floor under steady noise, through speech bursts, after a change of noise level, and
// with unusable bins.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "velk_binaural/NoiseFloorTracker.h"

namespace {

using NSVelkBinaural::NoiseFloorTracker;

constexpr std::size_t kBins = 64;
constexpr int kWindow = 150;  // 1.5 s at 100 frames per second

// Powers of two-ear complex Gaussian noise of mean `level` per bin (chi-square, 4 degrees of
// freedom).
class Noise {
 public:
  explicit Noise(unsigned seed) : rng_(seed) {}
  std::vector<float> frame(float level) {
    std::vector<float> power(kBins);
    for (float& p : power) p = level * 0.5f * (exp_(rng_) + exp_(rng_));
    return power;
  }

 private:
  std::mt19937 rng_;
  std::exponential_distribution<float> exp_{1.0f};
};

TEST(NoiseFloorTracker, FollowsSteadyNoiseAndIgnoresBurstsShorterThanItsWindow) {
  NoiseFloorTracker tracker(kBins, kWindow, 8, 0.85f, 1.0f);
  Noise noise(1);
  for (int t = 0; t < 300; ++t) tracker.update(noise.frame(1.0f).data());
  // The minimum of the smoothed power lies a few decibels below the mean.
  for (std::size_t k = 0; k < kBins; ++k) {
    EXPECT_GT(tracker.floor()[k], 0.2f) << k;
    EXPECT_LT(tracker.floor()[k], 1.0f) << k;
  }
  // A talker 30 dB above the noise for 0.8 s: the floor does not follow it.
  for (int t = 0; t < 80; ++t) tracker.update(noise.frame(1000.0f).data());
  for (std::size_t k = 0; k < kBins; ++k) EXPECT_LT(tracker.floor()[k], 1.0f) << k;
}

TEST(NoiseFloorTracker, RisesWithLouderNoiseWithinAWindowAndFallsWithTheSmoothing) {
  NoiseFloorTracker tracker(kBins, kWindow, 8, 0.85f, 1.0f);
  Noise noise(2);
  for (int t = 0; t < 300; ++t) tracker.update(noise.frame(1.0f).data());
  for (int t = 0; t < kWindow + kWindow / 8 + 10; ++t) tracker.update(noise.frame(100.0f).data());
  for (std::size_t k = 0; k < kBins; ++k) EXPECT_GT(tracker.floor()[k], 20.0f) << k;
  // 40 dB quieter: down within the smoothing's reach (0.85 per frame: 60 frames for 40 dB).
  for (int t = 0; t < 80; ++t) tracker.update(noise.frame(0.01f).data());
  for (std::size_t k = 0; k < kBins; ++k) EXPECT_LT(tracker.floor()[k], 0.05f) << k;
}

TEST(NoiseFloorTracker, LeavesSilentAndBrokenBinsAsTheyWereAndStartsUnknown) {
  NoiseFloorTracker tracker(kBins, kWindow);
  for (std::size_t k = 0; k < kBins; ++k) EXPECT_TRUE(std::isinf(tracker.floor()[k]));
  Noise noise(3);
  for (int t = 0; t < 50; ++t) {
    std::vector<float> power = noise.frame(1.0f);
    power[3] = std::nanf("");
    power[5] = 0.0f;
    power[7] = t % 2 ? std::numeric_limits<float>::infinity() : -1.0f;
    tracker.update(power.data());
  }
  for (int k : {3, 5, 7}) EXPECT_TRUE(std::isinf(tracker.floor()[k])) << k;
  EXPECT_TRUE(std::isfinite(tracker.floor()[4]));
  tracker.reset();
  EXPECT_TRUE(std::isinf(tracker.floor()[4]));
}

TEST(NoiseFloorTracker, RefusesSettingsThatMeanNothing) {
  EXPECT_THROW(NoiseFloorTracker(kBins, 0), std::invalid_argument);
  EXPECT_THROW(NoiseFloorTracker(kBins, 10, 0), std::invalid_argument);
  EXPECT_THROW(NoiseFloorTracker(kBins, 10, 8, 1.0f), std::invalid_argument);
  EXPECT_THROW(NoiseFloorTracker(kBins, 10, 8, 0.5f, 0.0f), std::invalid_argument);
  EXPECT_THROW(NoiseFloorTracker(kBins, 10, 8, 0.5f, std::nanf("")), std::invalid_argument);
}

}  // namespace
