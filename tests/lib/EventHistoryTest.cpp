#include "velk_binaural/EventHistory.h"
#include "velk_binaural/EventHistoryManager.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "velk_binaural/DirectionConverter.h"
#include "LogCapture.h"

using namespace NSVelkBinaural;
using Angle = NSDimensionPromise::AngleBase<double>;

namespace {

const BandInformation& Info() {
  static const BandInformation info(NSDimensionPromise::FrequencyBase<double>(16000.0), 512);
  return info;
}

timeval At(double seconds) {
  timeval t{};
  t.tv_sec = static_cast<long>(std::floor(seconds));
  t.tv_usec = static_cast<long>(std::lround((seconds - std::floor(seconds)) * 1e6));
  if (t.tv_usec == 1000000) {
    t.tv_sec += 1;
    t.tv_usec = 0;
  }
  return t;
}

// A localised sound in `band` whose most probable direction is grid index `dirIndex`.
HarmonicSoundPtr Sound(int band, unsigned int dirIndex) {
  HarmonicSoundPtr sound(new HarmonicSound);
  sound->harmonics->push_back({Info().CreateBand(band), 1});
  sound->directions->emplace_back(dirIndex, ProbabilityBase<double>(0.9));
  return sound;
}

HarmonicSoundList Sounds(std::vector<HarmonicSoundPtr> sounds) {
  return HarmonicSoundList(new std::vector<HarmonicSoundPtr>(std::move(sounds)));
}

// Ids of the sounds after one frame at time t.
std::vector<int> Frame(EventHistoryManager& history, double t, std::vector<HarmonicSoundPtr> sounds) {
  HarmonicSoundList list = Sounds(std::move(sounds));
  history.CheckSoundHistory(list, At(t));
  std::vector<int> ids;
  for (const HarmonicSoundPtr& s : *list) ids.push_back(s->id);
  return ids;
}

int StateOf(const EventHistoryManager& history, EventID id) {
  for (const EventHistory& e : history.events)
    if (e.id == id) return e.state;
  return -1;  // gone
}

}  // namespace

TEST(EventHistoryManagerTest, IdentifiersGrowAndAreNeverReused) {
  EventHistoryManager history;
  EXPECT_EQ(Frame(history, 0.0, {Sound(100, 18)}), std::vector<int>{1});
  EXPECT_EQ(Frame(history, 0.1, {Sound(100, 18), Sound(50, 0)}), (std::vector<int>{1, 2}));
  // Both fall silent and end after the pause; a sound in the same place is a new event.
  Frame(history, 0.2, {});
  Frame(history, 1.3, {});
  EXPECT_TRUE(history.events.empty());
  EXPECT_EQ(Frame(history, 1.4, {Sound(100, 18)}), std::vector<int>{3});
  history.lastEID = INT_MAX;
  EXPECT_THROW(history.NextEID(), std::overflow_error);
  history.lastEID = -5;
  EXPECT_THROW(history.NextEID(), std::overflow_error);
}

// A new sound in a new place every 10 ms frame: each opens an event that is never heard again.
// The history holds only the events still within their pause (about 1 s of them), so what it
// holds, and the time a frame takes, do not grow with the number of events issued.
TEST(EventHistoryManagerTest, HoldsOnlyEventsThatCanStillBeMatchedHoweverManyWereIssued) {
  EventHistoryManager history;
  size_t heldAfter1000 = 0, mostHeld = 0;
  for (int frame = 0; frame < 10000; ++frame) {
    // Bands 10..109 in turn: three bands apart from the last few events, so never matched.
    const int band = 10 + (frame * 3) % 100;
    Frame(history, frame * 0.01, {Sound(band, static_cast<unsigned int>(frame % 37))});
    mostHeld = std::max(mostHeld, history.events.size());
    if (frame == 999) heldAfter1000 = history.events.size();
  }
  EXPECT_EQ(history.lastEID, 10000);
  EXPECT_LE(mostHeld, 102u);  // 1 s of pause at 100 frames a second, plus the frame's new event
  EXPECT_EQ(history.events.size(), heldAfter1000);
}

TEST(EventHistoryManagerTest, MatchesByBandDistanceAndDirection) {
  EventHistoryManager history;
  history.MakeNewEvent(At(0), Info().CreateBand(102), Angle(0.0));
  history.MakeNewEvent(At(0), Info().CreateBand(103), Angle(0.0));
  EXPECT_EQ(history.FindNearestEvent(Info().CreateBand(100), Angle(0.0), At(0.1)), 1);
  EXPECT_EQ(history.FindNearestEvent(Info().CreateBand(106), Angle(0.0), At(0.1)), -1);
  // Exactly nearAngle away still counts as the same place.
  EXPECT_EQ(history.FindNearestEvent(Info().CreateBand(102), history.nearAngle, At(0.1)), 1);
  EXPECT_EQ(history.FindNearestEvent(Info().CreateBand(102), history.nearAngle * 1.01, At(0.1)), -1);
  // Equal distances keep the earlier event; distance 0 wins outright.
  EventHistoryManager ties;
  ties.MakeNewEvent(At(0), Info().CreateBand(99), Angle(0.0));
  ties.MakeNewEvent(At(0), Info().CreateBand(101), Angle(0.0));
  EXPECT_EQ(ties.FindNearestEvent(Info().CreateBand(100), Angle(0.0), At(0.1)), 1);
  ties.MakeNewEvent(At(0), Info().CreateBand(100), Angle(0.0));
  EXPECT_EQ(ties.FindNearestEvent(Info().CreateBand(100), Angle(0.0), At(0.1)), 3);
}

TEST(EventHistoryManagerTest, PausesResumeWhenRecentAndEndAfterThePauseLength) {
  EventHistoryManager history;
  Frame(history, 9.9, {Sound(100, 18)});
  Frame(history, 10.0, {});
  // A quarter second into the pause the sound resumes its event.
  EXPECT_EQ(Frame(history, 10.25, {Sound(101, 18)}), std::vector<int>{1});
  EXPECT_EQ(StateOf(history, 1), EventHistory::UPDATED);
  Frame(history, 10.3, {Sound(50, 0)});  // event 1 pauses at 10.3
  // An active event in a nearby band beats a paused one in the same band.
  history.MakeNewEvent(At(10.3), Info().CreateBand(103), Angle(0.0));
  EXPECT_EQ(Frame(history, 10.4, {Sound(101, 18)}), std::vector<int>{3});
  Frame(history, 11.3, {});
  EXPECT_EQ(StateOf(history, 1), EventHistory::PAUSED);
  testsupport::LogCapture capture(LogLevel::FINEST);
  Frame(history, 11.300001, {});
  EXPECT_EQ(StateOf(history, 1), -1);
  EXPECT_EQ(capture.count("FINEST: erase event (eid = 1)"), 1);
}

TEST(EventHistoryManagerTest, RarelyUpdatedEventsEnd) {
  EventHistoryManager history;
  history.ratioThreshold = 5.0;
  Frame(history, 0.0, {Sound(100, 18), Sound(50, 0)});
  for (int f = 1; f <= 3; ++f) Frame(history, 0.1 * f, {Sound(50, 0)});  // only event 2 is heard
  EXPECT_EQ(StateOf(history, 1), -1) << "heard once in 0.3 s is below 5 updates per second";
  for (int f = 4; f <= 30; ++f) Frame(history, 0.1 * f, {Sound(50, 0)});
  EXPECT_EQ(StateOf(history, 2), EventHistory::UPDATED);
}

TEST(EventHistoryManagerTest, RejectsInconsistentInput) {
  EventHistoryManager history;
  EXPECT_THROW(history.CheckSoundHistory(HarmonicSoundList(), At(0)), std::invalid_argument);
  EXPECT_THROW(history.CheckSoundHistory(boost::shared_ptr<std::vector<Angle>>(), At(0)), std::invalid_argument);
  HarmonicSoundPtr undirected = Sound(100, 18);
  undirected->directions->clear();
  EXPECT_THROW(history.CheckSoundHistory(Sounds({Sound(20, 0), undirected}), At(0)), std::out_of_range);
  EXPECT_TRUE(history.events.empty()) << "a bad sound leaves the history untouched";
  EXPECT_THROW(EventHistory(1, At(0), timeval{0, -1}, Band(), Angle(0.0), 0.0), std::out_of_range);
  // A record matched to an event in another place is an internal contradiction.
  history.MakeNewEvent(At(0), Info().CreateBand(100), Angle(0.0));
  std::vector<EventUpdateRecord> records{EventUpdateRecord(1, Info().CreateBand(100), Angle(1.0))};
  EXPECT_THROW(history.Update(records, At(0.1)), std::logic_error);
}
