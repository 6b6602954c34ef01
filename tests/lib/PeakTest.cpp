#include "velk_binaural/Peak.h"

#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LogCapture.h"

using namespace NSVelkBinaural;
using NSDimensionPromise::FrequencyBase;
using testsupport::LogCapture;

namespace {

const BandInformation kInfo(FrequencyBase<double>(16000.0), 512);
const float kNaN = std::numeric_limits<float>::quiet_NaN();

FloatPairPtr Pair(const std::vector<float>& left, const std::vector<float>& right) {
  FloatSignalPtr l(new FloatSignal(left.size(), left.data())), r(new FloatSignal(right.size(), right.data()));
  return FloatPairPtr(new FloatPair(l, r));
}

FloatPairPtr Constant(size_t n, float value) {
  return Pair(std::vector<float>(n, value), std::vector<float>(n, value));
}

std::vector<int> Indices(const PeakList& peaks) {
  std::vector<int> out;
  for (const BandAndPower& bp : *peaks) out.push_back(bp.band.index);
  return out;
}

}  // namespace

TEST(PeakTest, WindowIsHalfOpenAndEachListCarriesItsChannelsPower) {
  std::vector<float> left(257, 50.0f), right(257, 40.0f);
  left[12] = 51.5f;
  PeakPairPtr peaks = Peak::GetPeaks(Constant(257, 10.0f), Pair(left, right), kInfo.CreateBand(10),
                                     kInfo.CreateBand(20), kInfo, 3.0f);
  ASSERT_TRUE(peaks);
  const std::vector<int> expected = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  EXPECT_EQ(Indices(peaks->left), expected);
  EXPECT_EQ(Indices(peaks->right), expected);
  EXPECT_DOUBLE_EQ((*peaks->left)[2].power, 51.5);
  EXPECT_DOUBLE_EQ((*peaks->right)[2].power, 40.0);
  EXPECT_EQ((*peaks->left)[0].band.info, &kInfo);
}

TEST(PeakTest, ABandMustExceedTheMarginStrictlyInBothChannels) {
  // 1: exactly the margin on the left. 2: left only. 3: right only. 4: NaN power. 5: both above.
  // 6: NaN noise.
  std::vector<float> noiseLeft(8, 10.0f);
  noiseLeft[6] = kNaN;
  PeakPairPtr peaks = Peak::GetPeaks(Pair(noiseLeft, std::vector<float>(8, 10.0f)),
                                     Pair({0, 13.0f, 20, 0, kNaN, 13.001f, 20, 0}, {0, 20, 0, 20, 20, 13.001f, 20, 0}),
                                     kInfo.CreateBand(0), kInfo.CreateBand(8), kInfo, 3.0f);
  ASSERT_TRUE(peaks);
  EXPECT_EQ(Indices(peaks->left), std::vector<int>({5}));
  EXPECT_EQ(Indices(peaks->right), std::vector<int>({5}));

  // Nothing above the noise, or an invalid lower band: two empty lists, not null.
  for (Band lower : {kInfo.CreateBand(0), Band()}) {
    peaks = Peak::GetPeaks(Constant(30, 10.0f), Constant(30, lower.index < 0 ? 90.0f : 12.0f), lower,
                           kInfo.CreateBand(20), kInfo, 3.0f);
    ASSERT_TRUE(peaks && peaks->left && peaks->right);
    EXPECT_TRUE(peaks->left->empty() && peaks->right->empty());
  }
}

TEST(PeakTest, RejectedArgumentsGiveNullAndOneWarning) {
  FloatPairPtr good = Constant(257, 10.0f), shorter = Constant(19, 10.0f);
  FloatSignalPtr full(new FloatSignal(257, 10.0f)), other(new FloatSignal(200, 10.0f)), none;
  FloatPairPtr oneSided(new FloatPair(full, none)), uneven(new FloatPair(full, other));
  struct Case {
    FloatPairPtr noise, power;
    int lower, upper;
    std::string warning;
  } cases[] = {{good, good, 10, 10, "upper or lower is invalid"},
               {good, good, -1, 0, "upper or lower is invalid"},
               {good, good, 5, -1, "upper or lower is invalid"},
               {FloatPairPtr(), good, 1, 20, "bgnoise or lrpower is invalid"},
               {good, oneSided, 1, 20, "bgnoise or lrpower is invalid"},
               {uneven, good, 1, 20, "bgnoise or lrpower is invalid"},
               {shorter, good, 1, 20, "size of bgnoise or lrpower is invalid"},
               {good, shorter, 1, 20, "size of bgnoise or lrpower is invalid"}};
  for (const Case& c : cases) {
    LogCapture log(LogLevel::INFO);
    EXPECT_FALSE(Peak::GetPeaks(c.noise, c.power, kInfo.CreateBand(c.lower), kInfo.CreateBand(c.upper), kInfo, 3.0f));
    EXPECT_TRUE(log.contains("Peak GetPeaks\nWARNING: " + c.warning)) << c.warning;
  }
  // Signals exactly as long as the upper band are enough.
  PeakPairPtr peaks =
      Peak::GetPeaks(Constant(20, 0), Constant(20, 9), kInfo.CreateBand(1), kInfo.CreateBand(20), kInfo, 3.0f);
  ASSERT_TRUE(peaks);
  EXPECT_EQ(peaks->left->size(), 19u);
}
