#include "velk_binaural/TalkerLookahead.h"

#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

using namespace NSVelkBinaural;

namespace {

constexpr double kFrameSec = 0.01;

TalkerTrack talker(int id, double firstSec, double azimuthDeg = 30.0) {
  TalkerTrack t;
  t.id = id;
  t.azimuthDeg = azimuthDeg;
  t.firstSec = firstSec;
  t.lastHeardSec = firstSec;
  return t;
}

std::vector<int> idsOf(const std::vector<TalkerTrack>& talkers) {
  std::vector<int> ids;
  for (const TalkerTrack& t : talkers) ids.push_back(t.id);
  return ids;
}

// Pushes `frames` (the tracker's output, frame k at k x kFrameSec) through a look-ahead of
// `lookahead` frames and returns what comes out, frame by frame.
std::vector<std::vector<int>> run(int lookahead, const std::vector<std::vector<TalkerTrack>>& frames) {
  TalkerLookahead held(lookahead);
  std::vector<std::vector<int>> out;
  for (std::size_t k = 0; k < frames.size(); ++k) {
    held.push(k * kFrameSec, frames[k]);
    if (held.ready()) out.push_back(idsOf(held.pop()));
  }
  while (!held.empty()) out.push_back(idsOf(held.pop()));
  return out;
}

}  // namespace

TEST(TalkerLookahead, WithoutLookAheadEveryFrameComesOutAsItWentIn) {
  const std::vector<std::vector<TalkerTrack>> frames = {{}, {talker(2, 0.0), talker(1, 0.0)}, {talker(1, 0.0)}};
  EXPECT_EQ(run(0, frames), (std::vector<std::vector<int>>{{}, {1, 2}, {1}}));
}

// Talker 1 is confirmed on frame 6, its first direction having come on frame 3: with four frames of
// look-ahead it comes out from frame 3; with two, from frame 4 (the frames it had already left).
TEST(TalkerLookahead, ATalkerComesOutFromItsFirstDirectionWithinTheLookAhead) {
  std::vector<std::vector<TalkerTrack>> frames(10);
  for (int k = 6; k < 10; ++k) frames[k] = {talker(1, 3 * kFrameSec)};
  const std::vector<std::vector<int>> four = run(4, frames);
  ASSERT_EQ(four.size(), 10u);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(four[k], k >= 3 ? std::vector<int>{1} : std::vector<int>{}) << k;
  const std::vector<std::vector<int>> two = run(2, frames);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(two[k], k >= 4 ? std::vector<int>{1} : std::vector<int>{}) << k;
}

// A talker output throughout is not added again; one that drops out and enters again (a resumed
// talker, a new start) fills the frames from its new start on, and the output stays in id order.
TEST(TalkerLookahead, ATalkerEnteringAgainFillsOnlyFromItsNewStartAndIdsStayInOrder) {
  std::vector<std::vector<TalkerTrack>> frames(12);
  for (int k = 0; k < 12; ++k) frames[k].push_back(talker(2, 0.0, -40.0));
  for (int k = 0; k < 3; ++k) frames[k].push_back(talker(1, 0.0));
  for (int k = 9; k < 12; ++k) frames[k].insert(frames[k].begin(), talker(1, 7 * kFrameSec));
  const std::vector<std::vector<int>> out = run(5, frames);
  for (int k = 0; k < 12; ++k)
    EXPECT_EQ(out[k], (k < 3 || k >= 7) ? std::vector<int>({1, 2}) : std::vector<int>({2})) << k;
}

TEST(TalkerLookahead, RefusesANegativeLookAheadAndPoppingNothing) {
  EXPECT_THROW(TalkerLookahead(-1), std::invalid_argument);
  TalkerLookahead held(3);
  EXPECT_FALSE(held.ready());
  EXPECT_THROW(held.pop(), std::logic_error);
}
