#include "velk_binaural/InterauralDifference.h"

#include <cmath>
#include <complex>
#include <vector>

#include <gtest/gtest.h>

using namespace NSVelkBinaural;
using C = std::complex<float>;

namespace {

ComplexPairPtr MakePair(const std::vector<C>& left, const std::vector<C>& right) {
  ComplexSignalPtr l(new ComplexSignal(left.size(), left.data()));
  ComplexSignalPtr r(new ComplexSignal(right.size(), right.data()));
  return ComplexPairPtr(new ComplexPair(l, r));
}

constexpr double kPi = 3.141592653589793;

}  // namespace

TEST(InterauralPhaseDifferenceTest, SignFollowsTheReferenceAndWrapsAcrossTheBranchCut) {
  const float eps = 1e-3f;
  // Bin 0: a quarter turn apart. Bin 1: phases just below +pi and just above -pi, whose raw
  // difference of nearly 2 pi must come back as a small one.
  ComplexPairPtr pair = MakePair({C(1, 0), C(-1, eps)}, {C(0, 1), C(-1, -eps)});
  InterauralPhaseDifference leftRef(pair, Channel::LEFT);
  InterauralPhaseDifference rightRef(pair, Channel::RIGHT);
  ASSERT_EQ(leftRef.size, 2u);
  EXPECT_NEAR(leftRef.At(0), -kPi / 2, 1e-6);
  EXPECT_NEAR(rightRef.At(0), kPi / 2, 1e-6);
  EXPECT_NEAR(leftRef.At(1), -2 * eps, 1e-5);
  EXPECT_NEAR(rightRef.At(1), 2 * eps, 1e-5);
}

TEST(InterauralIntensityDifferenceTest, LevelsInDecibelsAndNaNForSilentBins) {
  ComplexPairPtr pair = MakePair({C(2, 0), C(0, 0), C(1, 1)}, {C(1, 0), C(1, 0), C(0, 0)});
  InterauralIntensityDifference leftRef(pair, Channel::LEFT);
  InterauralIntensityDifference rightRef(pair, Channel::RIGHT);
  ASSERT_EQ(leftRef.size, 3u);
  EXPECT_NEAR(leftRef.At(0), 6.0206, 1e-4);
  EXPECT_NEAR(rightRef.At(0), -6.0206, 1e-4);
  EXPECT_TRUE(std::isnan(leftRef.At(1))) << "a silent left bin";
  EXPECT_TRUE(std::isnan(leftRef.At(2))) << "a silent right bin";
}

TEST(InterauralDifferenceTest, IncomparableInputsGiveAnEmptyDifference) {
  ComplexSignalPtr one(new ComplexSignal(4, C(1, 0)));
  ComplexSignalPtr other(new ComplexSignal(5, C(1, 0)));
  ComplexSignalPtr none;
  for (const ComplexPairPtr& pair : {ComplexPairPtr(), ComplexPairPtr(new ComplexPair(one, other)),
                                     ComplexPairPtr(new ComplexPair(one, none))}) {
    EXPECT_EQ(InterauralPhaseDifference(pair, Channel::LEFT).size, 0u);
    EXPECT_EQ(InterauralIntensityDifference(pair, Channel::RIGHT).size, 0u);
  }
  EXPECT_EQ(InterauralPhaseDifference(MakePair({C(1, 0)}, {C(1, 0)}), static_cast<Channel::Kind>(2)).size, 0u);
}

TEST(InterauralDifferenceTest, AccessIsBoundsChecked) {
  IPDPtr ipd(new InterauralPhaseDifference(MakePair({C(1, 0), C(0, 1)}, {C(1, 0), C(1, 0)}), Channel::LEFT));
  EXPECT_THROW(ipd->At(2), std::out_of_range);
  EXPECT_NEAR(ipd->At(1), kPi / 2, 1e-6);
}
