// Typed quantities, probabilities and the angle conversions.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "velk_binaural/Angles.h"
#include "velk_binaural/DimensionPromise.h"
#include "velk_binaural/Probability.h"

namespace {

using NSDimensionPromise::AngleBase;
using NSVelkBinaural::ProbabilityBase;

std::string rangeError(double value) {
  try {
    ProbabilityBase<double>::CheckRange(value);
  } catch (const std::out_of_range& e) {
    return e.what();
  }
  return "";
}

TEST(Probability, AcceptsTheClosedUnitIntervalOnly) {
  EXPECT_EQ(rangeError(0.0), "");
  EXPECT_EQ(rangeError(1.0), "");
  EXPECT_EQ(rangeError(-1e-300), "probability is less than 0");
  EXPECT_EQ(rangeError(std::nextafter(1.0, 2.0)), "probability is more than 1");
  EXPECT_EQ(rangeError(std::nan("")), "");  // both comparisons are false
  EXPECT_THROW(ProbabilityBase<double>(1.5), std::logic_error);
  EXPECT_DOUBLE_EQ(ProbabilityBase<double>(0.25).Value(), 0.25);
}

TEST(Angles, DegreesAndRadiansConvertBothWays) {
  using namespace NSVelkBinaural::Angles;
  EXPECT_NEAR(NSVelkBinaural::DegToRad(90.0), AnglePi2, 1e-15);
  EXPECT_NEAR(NSVelkBinaural::RadToDeg(-AnglePi), -180.0, 1e-12);
}

TEST(Quantities, ArithmeticStaysInTheSameUnit) {
  AngleBase<double> a(1.0), b(0.25);
  EXPECT_DOUBLE_EQ((a + b).Value(), 1.25);
  EXPECT_DOUBLE_EQ((a - b).Value(), 0.75);
  EXPECT_DOUBLE_EQ((-a).Value(), -1.0);
  EXPECT_DOUBLE_EQ((2.0 * b).Value(), 0.5);
  EXPECT_DOUBLE_EQ(a / b, 4.0);
  EXPECT_TRUE(b < a && a >= b && a != b);
}

}  // namespace
