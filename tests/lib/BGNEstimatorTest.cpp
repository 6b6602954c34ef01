#include "velk_binaural/BGNEstimator.h"

#include <cmath>
#include <complex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LogCapture.h"

using namespace NSVelkBinaural;
using testsupport::LogCapture;

namespace {

using Values = std::vector<std::complex<float>>;

ComplexPairPtr Frame(const Values& left, const Values& right) {
  ComplexSignalPtr l(new ComplexSignal(left.size(), left.data()));
  ComplexSignalPtr r(new ComplexSignal(right.size(), right.data()));
  return ComplexPairPtr(new ComplexPair(l, r));
}

ComplexPairPtr Constant(size_t bands, float value) { return Frame(Values(bands, value), Values(bands, value)); }

}  // namespace

TEST(BGNEstimatorTest, AveragesTheFirstTenValidFramesAndCompletesOnTheEleventh) {
  LogCapture log(LogLevel::FINE);
  BGNEstimator estimator(10);
  ComplexSignalPtr four(new ComplexSignal(4, 1.0f)), five(new ComplexSignal(5, 1.0f)), none;
  for (int call = 1; call <= 10; ++call) {
    // Invalid pairs in between are ignored: not counted, not logged.
    estimator.Estimate(ComplexPairPtr());
    estimator.Estimate(ComplexPairPtr(new ComplexPair(four, none)));
    estimator.Estimate(ComplexPairPtr(new ComplexPair(four, five)));
    estimator.Estimate(Constant(4, 10.0f));
    EXPECT_FALSE(estimator.BGNoise()) << call;
    EXPECT_EQ(estimator.EstimateCounter(), static_cast<unsigned>(call));
  }
  estimator.Estimate(Constant(4, 1e6f));  // completes the estimate without entering it
  FloatPairPtr noise = estimator.BGNoise();
  ASSERT_TRUE(noise && estimator.BGNoiseSpectra());
  EXPECT_FLOAT_EQ(noise->left->At(3), 20.0f);

  estimator.Estimate(Constant(4, 1e6f));  // frozen from now on
  estimator.Estimate(Constant(9, 1e6f));
  EXPECT_EQ(estimator.BGNoise(), noise);
  EXPECT_FLOAT_EQ(noise->right->At(0), 20.0f);

  EXPECT_EQ(log.count("FINE: estimateCounter == 0 , creating bgnoiseSpectra"), 1);
  EXPECT_TRUE(log.contains("  \nFINE: estimateCounter == 0 , creating bgnoiseSpectra"));  // empty file, function
  for (int c = 0; c < 10; ++c)
    EXPECT_EQ(log.count("FINE: estimating noise: estimateCounter == " + std::to_string(c) + "\n"), 1) << c;
  EXPECT_FALSE(log.contains("estimateCounter == 10"));
  EXPECT_TRUE(log.contains("BGNEstimator Estimate\nFINE: got background noise"));
}

TEST(BGNEstimatorTest, LevelIsTheDecibelValueOfTheMeanMagnitude) {
  // Bands: magnitude 1; magnitude 10 as 6+8j; silence; +1/-1 alternating; 1 and 100 alternating.
  BGNEstimator estimator(4);
  for (int f = 0; f < 4; ++f) {
    float sign = f % 2 ? -1.0f : 1.0f, mixed = f % 2 ? 100.0f : 1.0f;
    estimator.Estimate(
        Frame({1.0f, {6.0f, 8.0f}, 0.0f, sign, mixed}, {{0.0f, 2.0f}, 0.0f, {-3.0f, 4.0f}, {0.0f, sign}, 1.0f}));
  }
  estimator.Estimate(Constant(5, 0.0f));
  FloatSignal& left = *estimator.BGNoise()->left;
  FloatSignal& right = *estimator.BGNoise()->right;
  ComplexSignal& meanLeft = *estimator.BGNoiseSpectra()->left;
  EXPECT_FLOAT_EQ(left.At(0), 0.0f);
  EXPECT_FLOAT_EQ(left.At(1), 20.0f);
  EXPECT_FLOAT_EQ(left.At(2), -2000.0f);
  EXPECT_FLOAT_EQ(left.At(3), 0.0f);
  EXPECT_NEAR(left.At(4), 20.0 * std::log10(50.5), 1e-4);  // not the mean power
  EXPECT_EQ(meanLeft.At(1), std::complex<float>(6.0f, 8.0f));
  EXPECT_EQ(meanLeft.At(3), std::complex<float>(0.0f, 0.0f));
  EXPECT_NEAR(right.At(0), 20.0 * std::log10(2.0), 1e-4);
  EXPECT_FLOAT_EQ(right.At(1), -2000.0f);
  EXPECT_NEAR(right.At(2), 20.0 * std::log10(5.0), 1e-4);
  EXPECT_EQ(estimator.BGNoiseSpectra()->right->At(2), std::complex<float>(-3.0f, 4.0f));
}

TEST(BGNEstimatorTest, FramesOfAnotherLengthCannotCorruptTheEstimate) {
  BGNEstimator estimator(2);
  estimator.Estimate(Constant(3, 10.0f));
  try {
    estimator.Estimate(Constant(4, 1000.0f));
    FAIL() << "a longer frame must be rejected";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "index is out of range");
  }
  EXPECT_THROW(estimator.Estimate(Constant(2, 1000.0f)), std::out_of_range);
  EXPECT_EQ(estimator.EstimateCounter(), 1u);
  estimator.Estimate(Constant(3, 10.0f));
  estimator.Estimate(Constant(1, 0.0f));  // the completing frame's length does not matter
  ASSERT_TRUE(estimator.Estimated());
  for (size_t i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(estimator.BGNoise()->right->At(i), 20.0f) << i;

  EXPECT_THROW(BGNEstimator(0), std::invalid_argument);
}
