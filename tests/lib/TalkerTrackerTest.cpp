#include "velk_binaural/TalkerTracker.h"

#include <cmath>
#include <initializer_list>
#include <limits>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

using namespace NSVelkBinaural;

namespace {

constexpr double kFrameSec = 0.01;

// Drives a tracker frame by frame; `reports(t)` gives a frame's reports.
class Driver {
 public:
  explicit Driver(const TalkerTrackerConfig& config = TalkerTrackerConfig()) : tracker(config) {}

  template <class Reports>
  void Run(double untilSec, Reports reports) {
    for (; t_ < untilSec - 1e-9; t_ += kFrameSec) {
      last = tracker.process(t_, reports(t_));
      for (const TalkerTrack& track : last) ids.insert(track.id);
    }
  }
  void Silence(double untilSec) {
    Run(untilSec, [](double) { return std::vector<SourceReport>(); });
  }

  TalkerTracker tracker;
  std::vector<TalkerTrack> last;
  std::set<int> ids;

 private:
  double t_ = 0.0;
};

// A talker heard on most frames, its reports scattered by a few degrees as a per-frame stage's are.
struct Talker {
  double azimuthDeg;
  std::mt19937 random;
  std::vector<SourceReport> operator()(double) {
    std::uniform_real_distribution<double> jitter(-3.0, 3.0), chance(0.0, 1.0);
    if (chance(random) < 0.3) return {};
    return {SourceReport{azimuthDeg + jitter(random), 0.6, -1}};
  }
};

// The reports of several talkers speaking on the same frames.
std::vector<SourceReport> Together(double t, std::initializer_list<Talker*> talkers) {
  std::vector<SourceReport> r;
  for (Talker* talker : talkers) {
    const std::vector<SourceReport> more = (*talker)(t);
    r.insert(r.end(), more.begin(), more.end());
  }
  return r;
}

}  // namespace

TEST(TalkerTrackerTest, ATalkerIsReportedOnlyAfterEnoughEvidenceAndWhileRecentlyHeard) {
  Driver d;
  d.Run(0.03, Talker{20.0, std::mt19937(1)});
  EXPECT_TRUE(d.last.empty());  // two or three reports are not a talker yet
  d.Run(1.0, Talker{20.0, std::mt19937(1)});
  ASSERT_EQ(d.last.size(), 1u);
  EXPECT_NEAR(d.last[0].azimuthDeg, 20.0, 2.0);
  EXPECT_EQ(d.last[0].id, 1);
  d.Silence(1.6);  // past the 0.5 s hold: alive, but not reported
  EXPECT_TRUE(d.last.empty());
}

TEST(TalkerTrackerTest, ATalkerWhoPausesOneAndAHalfSecondsKeepsItsId) {
  Driver d;
  d.Run(2.0, Talker{-35.0, std::mt19937(2)});
  d.Silence(3.5);
  d.Run(5.0, Talker{-33.0, std::mt19937(3)});
  ASSERT_EQ(d.last.size(), 1u);
  EXPECT_EQ(d.ids, std::set<int>{1});
}

TEST(TalkerTrackerTest, AnEndedTalkerResumingNearbyGetsItsIdBackAndOneElsewhereANewId) {
  Driver d;
  d.Run(1.0, Talker{50.0, std::mt19937(4)});
  d.Silence(4.0);  // past the 2 s hang-over: ended, and remembered
  d.Run(5.0, Talker{54.0, std::mt19937(5)});
  ASSERT_EQ(d.last.size(), 1u);
  EXPECT_EQ(d.last[0].id, 1);
  d.Silence(20.0);  // past the 10 s in which an id is given back
  d.Run(21.0, Talker{50.0, std::mt19937(6)});
  ASSERT_EQ(d.last.size(), 1u);
  EXPECT_EQ(d.last[0].id, 2);
  d.Run(22.0, Talker{-60.0, std::mt19937(7)});
  EXPECT_EQ(d.ids, (std::set<int>{1, 2, 3}));
}

TEST(TalkerTrackerTest, TwoTalkersThirtyDegreesApartKeepTwoIds) {
  Driver d;
  Talker a{-15.0, std::mt19937(8)}, b{15.0, std::mt19937(9)};
  d.Run(6.0, [&](double t) { return Together(t, {&a, &b}); });
  EXPECT_EQ(d.ids.size(), 2u);
  ASSERT_EQ(d.last.size(), 2u);
  EXPECT_NEAR(std::min(d.last[0].azimuthDeg, d.last[1].azimuthDeg), -15.0, 2.0);
  EXPECT_NEAR(std::max(d.last[0].azimuthDeg, d.last[1].azimuthDeg), 15.0, 2.0);
}

// A stage that reads a talker 13 degrees off in a burst now and then makes no second talker; a
// second talker as loud 15 degrees away is one.
TEST(TalkerTrackerTest, ATalkerReadOffNowAndThenIsNoSecondTalkerButOneAsLoudNearbyIs) {
  Driver misread;
  Talker main{30.0, std::mt19937(11)};
  misread.Run(6.0, [&](double t) {
    std::vector<SourceReport> r = main(t);
    if (t > 1.0 && std::fmod(t, 1.0) < 0.08) r.push_back(SourceReport{43.0, 0.6, -1});  // 8 frames a second
    return r;
  });
  EXPECT_EQ(misread.ids.size(), 1u);

  Driver two;
  Talker a{30.0, std::mt19937(12)}, b{45.0, std::mt19937(13)};
  two.Run(6.0, [&](double t) { return Together(t, {&a, &b}); });
  EXPECT_EQ(two.ids.size(), 2u);
}

// Where two talkers speak at once, some bins hold both and point between them: bursts of such
// reports make no third talker; a third talker as loud between them is one.
TEST(TalkerTrackerTest, ReadingsBetweenTwoTalkersAreNoThirdTalkerButOneAsLoudIs) {
  Driver between;
  Talker a{-20.0, std::mt19937(14)}, b{40.0, std::mt19937(15)};
  between.Run(30.0, [&](double t) {
    std::vector<SourceReport> r = Together(t, {&a, &b});
    if (t > 1.0 && std::fmod(t, 3.0) < 0.06) r.push_back(SourceReport{12.0, 0.8, -1});  // 6 frames in 3 s
    return r;
  });
  EXPECT_EQ(between.ids.size(), 2u);

  Driver three;
  Talker c{-20.0, std::mt19937(16)}, d{40.0, std::mt19937(17)}, e{10.0, std::mt19937(18)};
  three.Run(6.0, [&](double t) {
    // The middle talker starts once the others are known.
    return t > 1.0 ? Together(t, {&c, &d, &e}) : Together(t, {&c, &d});
  });
  EXPECT_EQ(three.ids.size(), 3u);
}

// Every tenth frame or so a report from a random direction, as reflections and noise give: no
// talker in a minute.
TEST(TalkerTrackerTest, ScatteredReportsMakeNoTalker) {
  Driver d;
  std::mt19937 random(10);
  std::uniform_real_distribution<double> azimuth(-90.0, 90.0), chance(0.0, 1.0), strength(0.1, 1.0);
  d.Run(60.0, [&](double) {
    std::vector<SourceReport> r;
    if (chance(random) < 0.1) r.push_back(SourceReport{azimuth(random), strength(random), -1});
    return r;
  });
  EXPECT_TRUE(d.ids.empty());
}

// Talkers come and go; what the tracker holds (and so the cost of a frame) stays within its
// limits however many ids it has issued, and however many ended talkers it could remember.
TEST(TalkerTrackerTest, WhatIsHeldStaysBoundedAfterTenThousandIds) {
  for (double reuseSec : {0.0, 1e6}) {  // every talker a new id; ended talkers remembered for ever
    TalkerTrackerConfig config;
    config.reuseSec = reuseSec;
    config.reportHoldSec = config.hangoverSec = 0.05;  // each ends before the next starts
    config.gateDeg = 1.0;  // so that few places are taken up again
    config.mergeDeg = 0.5;
    Driver d(config);
    std::size_t mostHeld = 0;
    for (int i = 0; i < 10000; ++i) {
      const double azimuth = -90.0 + std::fmod(i * 37.7, 180.0);
      d.Run(0.1 * (i + 1), [&](double) { return std::vector<SourceReport>{SourceReport{azimuth, 1.0, -1}}; });
      mostHeld = std::max(mostHeld, d.tracker.heldTracks());
    }
    if (reuseSec == 0.0) {
      EXPECT_GE(d.tracker.nextId(), 10000);
    }
    EXPECT_LE(mostHeld, config.maxTalkers + config.maxTentative + config.maxRemembered) << reuseSec;
  }
}

// The localiser's broadband directions carry their rank in the frame as id, which passes from
// talker to talker: two talkers closer than the gate whose reports swap ids every frame stay two
// talkers, each where it is.
TEST(TalkerTrackerTest, ReportsJoinTalkersByDirectionWhateverTheirIds) {
  TalkerTracker tracker;
  std::set<int> ids;
  std::vector<TalkerTrack> last;
  for (int f = 0; f < 300; ++f) {
    const bool swap = f % 2 == 1;
    last = tracker.process(f * kFrameSec, {SourceReport{0.0, 0.5, swap ? 2 : 1}, SourceReport{8.0, 0.5, swap ? 1 : 2}});
    for (const TalkerTrack& t : last) ids.insert(t.id);
  }
  EXPECT_EQ(ids.size(), 2u);
  ASSERT_EQ(last.size(), 2u);
  EXPECT_NEAR(last[0].azimuthDeg, 0.0, 0.5);
  EXPECT_NEAR(last[1].azimuthDeg, 8.0, 0.5);
  EXPECT_DOUBLE_EQ(last[0].strength, 0.5);
}

TEST(TalkerTrackerTest, RefusesTimeGoingBackAndBadConfigurationsAndIgnoresBadReports) {
  TalkerTracker tracker;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double t = 0.0; t < 1.0; t += kFrameSec)
    EXPECT_TRUE(tracker.process(t, {SourceReport{nan, 1.0, -1}, SourceReport{10.0, nan, -1}}).empty());
  EXPECT_THROW(tracker.process(0.5, {}), std::invalid_argument);
  EXPECT_THROW(tracker.process(nan, {}), std::invalid_argument);

  TalkerTrackerConfig c;
  c.gateDeg = 0.0;
  EXPECT_THROW(TalkerTracker{c}, std::invalid_argument);
  c = TalkerTrackerConfig();
  c.hangoverSec = 0.1;  // shorter than the report hold
  EXPECT_THROW(TalkerTracker{c}, std::invalid_argument);
  c = TalkerTrackerConfig();
  c.dropEvidence = c.confirmEvidence;
  EXPECT_THROW(TalkerTracker{c}, std::invalid_argument);
}
