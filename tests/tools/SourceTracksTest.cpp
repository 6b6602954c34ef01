// The summary of a localisation run, taken frame by frame: track medians, the comparison with the
// talkers' true directions, and the decimated frames kept for a plot.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "SourceTracks.h"

namespace {

using velktool::FrameSources;
using velktool::Track;

FrameSources frame(long k, std::vector<velktool::SourceAt> sources) { return {k, k * 0.01, std::move(sources)}; }

// Feeds `frames` frames; on frame k, id i reports `azimuth(i, k)` for each id of `ids` it returns.
template <class Reports>
std::vector<Track> summarise(long frames, Reports reports, std::vector<double> truth = {}) {
  velktool::TrackSummary summary(std::move(truth));
  for (long k = 0; k < frames; ++k) summary.add(frame(k, reports(k)));
  return summary.tracks();
}

TEST(TrackSummaryTest, EachIdGetsItsSpanFrameCountAndMedianDirection) {
  const std::vector<Track> tracks = summarise(100, [](long k) {
    std::vector<velktool::SourceAt> s;
    if (k >= 10 && k < 60) s.push_back({3, k % 2 ? 30.0 : 35.0});  // 25 frames at each: median 32.5
    if (k >= 50) s.push_back({1, -60.0 + (k % 5)});                // -60..-56 alike: median -58
    return s;
  });
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[0].id, 1);
  EXPECT_EQ(tracks[0].frames, 50);
  EXPECT_NEAR(tracks[0].medianAzimuthDeg, -58.0, 0.01);
  EXPECT_NEAR(tracks[0].firstSec, 0.5, 1e-12);
  EXPECT_NEAR(tracks[0].lastSec, 0.99, 1e-12);
  EXPECT_EQ(tracks[1].id, 3);
  EXPECT_NEAR(tracks[1].medianAzimuthDeg, 32.5, 0.01);
}

// Two talkers at +40 and -30. Id 1 follows +40 but drifts away on its last third; id 2 is at -30
// only briefly; id 3 stays at -25 the longest; id 4 sits where nobody is; id 5 is split between the
// two talkers' sides and near neither on most of its frames.
std::vector<Track> twoTalkerTracks() {
  return summarise(
      300,
      [](long k) {
        std::vector<velktool::SourceAt> s;
        if (k < 150) s.push_back({1, k < 100 ? 40.0 : 75.0});
        if (k < 20) s.push_back({2, -30.0});
        if (k >= 50) s.push_back({3, -25.0});
        if (k % 3 == 0) s.push_back({4, 85.0});
        if (k < 30) s.push_back({5, k < 10 ? 40.0 : 0.0});
        return s;
      },
      {40.0, -30.0});
}

TEST(TruthComparisonTest, EachTalkerIsFoundByItsTrackNearItOnTheMostFrames) {
  const std::vector<Track> tracks = twoTalkerTracks();
  const velktool::TruthComparison c = velktool::compareWithTruth(tracks, {40.0, -30.0});
  ASSERT_EQ(c.talkers.size(), 2u);
  ASSERT_TRUE(c.talkers[0].found);
  EXPECT_EQ(c.talkers[0].found->id, 1);
  EXPECT_EQ(c.talkers[0].tracks.size(), 1u);
  ASSERT_TRUE(c.talkers[1].found);
  EXPECT_EQ(c.talkers[1].found->id, 3) << "the longest track near the talker, not the one nearest in median";
  EXPECT_EQ(c.talkers[1].tracks.size(), 2u);
  ASSERT_EQ(c.unmatched.size(), 2u);
  EXPECT_EQ(c.unmatched[0]->id, 4);
  EXPECT_EQ(c.unmatched[1]->id, 5);
}

TEST(TruthComparisonTest, WithTheEarsSwappedTalkersAreNotFoundOrFoundOff) {
  // A lone talker at +40 comes out at -40: not found, and its track matches no talker.
  std::vector<Track> tracks =
      summarise(200, [](long) { return std::vector<velktool::SourceAt>{{1, -40.0}}; }, {40.0});
  velktool::TruthComparison c = velktool::compareWithTruth(tracks, {40.0});
  EXPECT_FALSE(c.talkers[0].found);
  ASSERT_EQ(c.unmatched.size(), 1u);
  EXPECT_EQ(c.unmatched[0]->id, 1);

  // Talkers at +40 and -30 come out at -40 and +30: each mirror lands 10 degrees from the other
  // talker, which is what the comparison must show.
  tracks = summarise(
      200, [](long) { return std::vector<velktool::SourceAt>{{1, -40.0}, {2, 30.0}}; }, {40.0, -30.0});
  c = velktool::compareWithTruth(tracks, {40.0, -30.0});
  ASSERT_TRUE(c.talkers[0].found && c.talkers[1].found);
  EXPECT_NEAR(std::fabs(c.talkers[0].found->medianAzimuthDeg - 40.0), 10.0, 0.01);
  EXPECT_NEAR(std::fabs(c.talkers[1].found->medianAzimuthDeg + 30.0), 10.0, 0.01);

  // Nothing at all: every talker missed, nothing unmatched.
  const velktool::TruthComparison none = velktool::compareWithTruth({}, {10.0});
  EXPECT_FALSE(none.talkers[0].found);
  EXPECT_TRUE(none.unmatched.empty());
}

TEST(DecimatedFramesTest, KeepsEveryFrameThenEverySecondFourthAndSoOnWithinItsCapacity) {
  velktool::DecimatedFrames few(8);
  for (long k = 0; k < 7; ++k) few.add(frame(k, {}));
  EXPECT_EQ(few.stride(), 1);
  EXPECT_EQ(few.frames().size(), 7u);

  velktool::DecimatedFrames many(8);
  for (long k = 0; k < 1000; ++k) many.add(frame(k, {{1, 10.0}}));
  EXPECT_LT(many.frames().size(), 8u);
  EXPECT_EQ(many.stride(), 256);
  for (size_t i = 0; i < many.frames().size(); ++i) EXPECT_EQ(many.frames()[i].frame, static_cast<long>(i) * 256);
}

}  // namespace
