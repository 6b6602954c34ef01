#include "InterauralDifference.h"

#include <cmath>
#include <complex>
#include <vector>

#include <gtest/gtest.h>

#include "LogCapture.h"

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

TEST(InterauralPhaseDifferenceTest, SignFollowsTheReferenceChannel) {
  ComplexPairPtr pair = MakePair({C(1, 0)}, {C(0, 1)});
  InterauralPhaseDifference leftRef(pair, Channel::LEFT);
  InterauralPhaseDifference rightRef(pair, Channel::RIGHT);
  ASSERT_EQ(leftRef.size, 1u);
  EXPECT_NEAR(leftRef.At(0), -kPi / 2, 1e-6);
  EXPECT_NEAR(rightRef.At(0), kPi / 2, 1e-6);
}

TEST(InterauralPhaseDifferenceTest, WrapsAcrossTheBranchCut) {
  // Phases just below +pi and just above -pi: the raw difference is nearly 2 pi.
  const float eps = 1e-3f;
  InterauralPhaseDifference ipd(MakePair({C(-1, eps)}, {C(-1, -eps)}), Channel::LEFT);
  EXPECT_LT(ipd.At(0), 0.0f);
  EXPECT_NEAR(ipd.At(0), -2 * eps, 1e-5);
  // The opposite order wraps the other way.
  InterauralPhaseDifference back(MakePair({C(-1, -eps)}, {C(-1, eps)}), Channel::LEFT);
  EXPECT_NEAR(back.At(0), 2 * eps, 1e-5);
}

TEST(InterauralPhaseDifferenceTest, EveryValueLiesWithinPlusMinusPi) {
  std::vector<C> left, right;
  for (int i = 0; i < 64; ++i) {
    left.push_back(std::polar(1.0f, static_cast<float>(0.37 * i)));
    right.push_back(std::polar(1.0f, static_cast<float>(-0.91 * i)));
  }
  InterauralPhaseDifference ipd(MakePair(left, right), Channel::RIGHT);
  ASSERT_EQ(ipd.size, 64u);
  for (size_t i = 0; i < ipd.size; ++i) {
    EXPECT_LE(std::fabs(ipd.At(i)), kPi + 1e-6) << "bin " << i;
    double expected = std::remainder(-0.91 * i - 0.37 * i, 2 * kPi);
    EXPECT_NEAR(std::remainder(ipd.At(i) - expected, 2 * kPi), 0.0, 1e-4) << "bin " << i;
  }
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
  EXPECT_TRUE(std::isnan(rightRef.At(1)));
}

TEST(InterauralDifferenceTest, IncomparableInputsGiveAnEmptyDifference) {
  ComplexSignalPtr one(new ComplexSignal(4, C(1, 0)));
  ComplexSignalPtr other(new ComplexSignal(5, C(1, 0)));
  ComplexSignalPtr none;
  std::vector<ComplexPairPtr> bad = {ComplexPairPtr(), ComplexPairPtr(new ComplexPair(one, other)),
                                     ComplexPairPtr(new ComplexPair(one, none)),
                                     ComplexPairPtr(new ComplexPair(none, one))};
  for (const ComplexPairPtr& pair : bad) {
    InterauralPhaseDifference ipd(pair, Channel::LEFT);
    InterauralIntensityDifference iid(pair, Channel::RIGHT);
    EXPECT_EQ(ipd.size, 0u);
    EXPECT_EQ(iid.size, 0u);
    EXPECT_THROW(ipd.At(0), std::out_of_range);
  }
  // A reference channel that is neither ear.
  InterauralPhaseDifference odd(MakePair({C(1, 0)}, {C(1, 0)}), static_cast<Channel::Kind>(2));
  EXPECT_EQ(odd.size, 0u);
}

TEST(InterauralDifferenceTest, AccessPastTheEndNamesTheFault) {
  InterauralIntensityDifference iid(MakePair({C(1, 0), C(1, 0)}, {C(1, 0), C(1, 0)}), Channel::LEFT);
  EXPECT_FLOAT_EQ(iid[1], 0.0f);
  try {
    iid.At(2);
    FAIL() << "expected std::out_of_range";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "index out of range");
  }
}

TEST(InterauralDifferenceTest, HostVectorCopiesTheValuesInBinOrder) {
  IPDPtr ipd(new InterauralPhaseDifference(MakePair({C(1, 0), C(0, 1)}, {C(1, 0), C(1, 0)}), Channel::LEFT));
  FD::RCPtr<FD::Vector<float>> v = ToFDVector(ipd);
  ASSERT_EQ(v->size(), 2u);
  EXPECT_FLOAT_EQ((*v)[0], 0.0f);
  EXPECT_NEAR((*v)[1], kPi / 2, 1e-6);
  EXPECT_THROW(ToFDVector(IIDPtr()), std::invalid_argument);
}

TEST(InterauralDifferenceTest, TracesItsStepsAtFinest) {
  testsupport::LogCapture capture(LogLevel::FINEST);
  { InterauralPhaseDifference ipd(MakePair({C(1, 0)}, {C(1, 0)}), Channel::LEFT); }
  EXPECT_EQ(capture.count("FINEST: constructor"), 1);
  EXPECT_EQ(capture.count("FINEST: calculating IPD"), 1);
  EXPECT_EQ(capture.count("FINEST: InterauralPhaseDifference::~InterauralPhaseDifference"), 1);
  EXPECT_EQ(capture.count("FINEST: InterauralDifference::~InterauralDifference"), 1);
}
