// Bands, band information and the direction converter.
#include <gtest/gtest.h>

#include <cmath>

#include "velk_binaural/Band.h"
#include "velk_binaural/DirectionConverter.h"

namespace {

using namespace NSVelkBinaural;
using Hz = NSDimensionPromise::FrequencyBase<double>;

TEST(BandInformation, FrequencyToBandTruncatesAndRejectsOutsideNyquist) {
  BandInformation info(Hz(16000), 512);
  EXPECT_EQ(info.CreateBand(Hz(0)).index, 0);
  EXPECT_EQ(info.CreateBand(Hz(8000)).index, 256);
  EXPECT_EQ(info.CreateBand(Hz(1500)).index, 48);
  EXPECT_EQ(info.CreateBand(Hz(1510)).index, 48);
  for (double bad : {8000.001, -0.001, std::nan("")}) {
    Band b = info.CreateBand(Hz(bad));
    EXPECT_EQ(b.index, -1) << bad;
    EXPECT_EQ(b.info, nullptr);
  }
  EXPECT_EQ(info.CreateBand(Hz(1500)).info, &info);
}

TEST(BandInformation, IndexRangeFollowsHalfTheTransformLength) {
  BandInformation info(Hz(16000), 512);
  EXPECT_EQ(info.CreateBand(256).index, 256);
  EXPECT_EQ(info.CreateBand(257).index, -1);
  EXPECT_EQ(info.CreateBand(-1).index, -1);
  BandInformation odd(Hz(16000), 513);
  EXPECT_EQ(odd.CreateBand(256).index, 256);
  EXPECT_EQ(odd.CreateBand(257).index, -1);
  EXPECT_EQ(BandInformation(Hz(-5), 512).samplingRate, 0.0);
  EXPECT_EQ(BandInformation(Hz(0), 512).CreateBand(Hz(0)).index, -1);  // no rate, no band
}

TEST(BandInformation, BandFrequencies) {
  BandInformation info(Hz(16000), 512);
  EXPECT_DOUBLE_EQ(info.CreateBand(48).Freq().Value(), 1500.0);
  EXPECT_DOUBLE_EQ(info.FreqOfBand(Band()).Value(), 0.0);
  EXPECT_DOUBLE_EQ(Band().Freq().Value(), 0.0);
}

TEST(DivideBands, SplitsAtTheBoundaryWithEqualGoingLow) {
  BandInformation info(Hz(16000), 512);
  std::vector<BandAndHarmonicRatio> bands = {
      {info.CreateBand(20), 1}, {info.CreateBand(40), 2}, {info.CreateBand(48), 3}, {info.CreateBand(49), 4}};
  auto split = BandUtils::DivideBands(bands, info.CreateBand(48));
  ASSERT_EQ(split.first->size(), 3u);
  ASSERT_EQ(split.second->size(), 1u);
  EXPECT_EQ(split.second->at(0).ratio, 4);

  auto allHigh = BandUtils::DivideBands(bands, Band());
  EXPECT_TRUE(allHigh.first->empty());
  EXPECT_EQ(allHigh.second->size(), 4u);

  auto empty = BandUtils::DivideBands({}, info.CreateBand(10));
  ASSERT_TRUE(empty.first && empty.second);
  EXPECT_TRUE(empty.first->empty() && empty.second->empty());
}

TEST(DirectionConverter, LoadTimeGridRunsFromLeftToRight) {
  DirectionConverter c(-5, 90);
  EXPECT_EQ(c.ToIndex(90), 0);
  EXPECT_EQ(c.ToIndex(-90), 36);
  EXPECT_EQ(c.ToIndex(87), 0);
  EXPECT_EQ(c.ToIndex(-88), 35);
  EXPECT_EQ(c.ToIndex(92), 0);   // truncation toward zero
  EXPECT_EQ(c.ToIndex(96), -1);
  EXPECT_EQ(c.ToDegree(36), -90);
  EXPECT_EQ(gDirConv.step, -5);
  EXPECT_EQ(gDirConv.origin, 90);
}

TEST(DirectionConverter, APlaceholderStepIsAnErrorNotACrash) {
  DirectionConverter placeholder(0, 90);
  EXPECT_THROW(placeholder.ToIndex(30), std::logic_error);
  EXPECT_EQ(placeholder.ToDegree(5), 90);
}

}  // namespace
