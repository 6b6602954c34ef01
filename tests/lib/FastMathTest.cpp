#include "FastMath.h"

#include <cfloat>
#include <cmath>
#include <complex>
#include <limits>

#include <gtest/gtest.h>

using namespace NSVelkBinaural;

TEST(FastMathTest, Atan2MatchesTheLibraryAllAroundTheCircleAndAtEveryScale) {
  double worst = 0.0;
  for (int k = 0; k < 100000; ++k) {
    const double angle = -3.2 + 6.4 * k / 100000.0;
    for (float radius : {1e-30f, 1e-5f, 1.0f, 3e4f, 1e30f}) {
      const float x = radius * static_cast<float>(std::cos(angle)), y = radius * static_cast<float>(std::sin(angle));
      worst = std::max(worst, std::fabs(double(FastMath::Atan2(y, x)) - std::atan2(double(y), double(x))));
    }
  }
  EXPECT_LT(worst, 5e-7) << "a few units in the last place of pi";
}

TEST(FastMathTest, Atan2KeepsTheLibrarysSignsOnTheAxes) {
  const float pi = FastMath::kPi;
  EXPECT_EQ(FastMath::Atan2(0.0f, 0.0f), 0.0f);
  EXPECT_FLOAT_EQ(FastMath::Atan2(0.0f, -1.0f), pi);
  EXPECT_FLOAT_EQ(FastMath::Atan2(-0.0f, -1.0f), -pi);
  EXPECT_FLOAT_EQ(FastMath::Atan2(1.0f, 0.0f), pi / 2);
  EXPECT_FLOAT_EQ(FastMath::Atan2(-1.0f, 0.0f), -pi / 2);
  EXPECT_FLOAT_EQ(FastMath::Atan2(1.0f, 1.0f), pi / 4);
  EXPECT_FLOAT_EQ(FastMath::Atan2(-1.0f, -1.0f), -3 * pi / 4);
  EXPECT_TRUE(std::isnan(FastMath::Atan2(std::nanf(""), 1.0f)));
}

TEST(FastMathTest, PhaseDifferenceIsWrappedIntoTheHalfOpenCircle) {
  using C = std::complex<float>;
  // Phases just below +pi and just above -pi differ by nearly 2 pi; the answer is the short way.
  const float eps = 1e-3f;
  EXPECT_NEAR(FastMath::PhaseDifference(C(-1, eps), C(-1, -eps)), -2 * eps, 1e-6);
  EXPECT_NEAR(FastMath::PhaseDifference(C(0, 1), C(1, 0)), FastMath::kPi / 2, 1e-6);
  EXPECT_EQ(FastMath::PhaseDifference(C(0, 0), C(1, 0)), 0.0f) << "a silent bin has no phase";
}

TEST(FastMathTest, Log10MatchesTheLibraryFromSubnormalsToTheLargestFloat) {
  double worst = 0.0;
  for (double e = -149.0; e < 128.0; e += 0.0173) {  // every octave of floats, subnormals first
    const float x = static_cast<float>(std::exp2(e));
    worst = std::max(worst, std::fabs(double(FastMath::Log10(x)) - std::log10(double(x))));
  }
  EXPECT_LT(worst, 2e-5) << "relative to results as large as 38";
  for (float x = 0.5f; x < 2.0f; x += 1e-4f)
    ASSERT_NEAR(FastMath::Log10(x), std::log10(double(x)), 1e-7) << x;
}

TEST(FastMathTest, Log10OfNonPositiveOrSpecialInput) {
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_TRUE(std::isnan(FastMath::Log10(0.0f)));
  EXPECT_TRUE(std::isnan(FastMath::Log10(-1.0f)));
  EXPECT_TRUE(std::isnan(FastMath::Log10(std::nanf(""))));
  EXPECT_EQ(FastMath::Log10(inf), inf);
  EXPECT_FLOAT_EQ(FastMath::Log10(1000.0f), 3.0f);
}

TEST(FastMathTest, LevelOfABinNeitherUnderflowsNorOverflows) {
  using C = std::complex<float>;
  EXPECT_NEAR(FastMath::LevelDb(C(3, 4)), 20 * std::log10(5.0), 1e-5);
  EXPECT_NEAR(FastMath::LevelDb(C(3e-25f, 4e-25f)), 20 * std::log10(5e-25), 1e-3) << "squares below FLT_MIN";
  EXPECT_NEAR(FastMath::LevelDb(C(3e25f, -4e25f)), 20 * std::log10(5e25), 1e-3) << "squares above FLT_MAX";
  EXPECT_TRUE(std::isnan(FastMath::LevelDb(C(0, 0))));
}
