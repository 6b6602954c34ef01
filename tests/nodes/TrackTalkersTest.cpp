// The talker tracker node driven through small networks by a node that emits scripted source
// lists, as a localiser's output would look: directions with a strength (the power), ids that mean
// nothing from frame to frame (ranks), paused events (power NaN).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "HostError.h"
#include "LogCapture.h"
#include "TrackTalkers.h"
#include "fd/Network.h"
#include "fd/Source.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Scripted {
  double azimuthDeg;
  float power;
  int id;
};

// A source node whose frame `count` holds the sources `script(count)` gives, at the frame
// geometry it declares (so that the network checks the tracker's against it).
class ScriptedLocalizer : public FD::BufferedNode {
 public:
  static std::function<std::vector<Scripted>(int)> script;
  static int advance;
  ScriptedLocalizer(const std::string& name, const FD::ParameterSet& params) : BufferedNode(name, params) {
    addOutput("SOURCES");
  }
  FD::FrameGeometry frameGeometry() const override { return {0, advance, 16000}; }
  void calculate(int, int count, FD::Buffer& out) override {
    FD::RCPtr<FD::Vector<FD::ObjectRef>> list(new FD::Vector<FD::ObjectRef>);
    for (const Scripted& s : script(count)) {
      FD::Source* source = FD::Source::atAzimuth(s.id, s.azimuthDeg * M_PI / 180.0);
      source->power = s.power;
      list->push_back(FD::ObjectRef(source));
    }
    out[count] = list;
  }
};
std::function<std::vector<Scripted>(int)> ScriptedLocalizer::script;
int ScriptedLocalizer::advance = 160;

// What the tracker output on one frame.
struct Talker {
  int id;
  double azimuthDeg;
  float power;
};

using nodetest::HostError;

FD::ParameterSet trackerParams(int advance = 160, std::map<std::string, float> more = {}, int lookahead = 0) {
  FD::ParameterSet p("track");
  p.add("SAMPLING_RATE", FD::ObjectRef(new FD::Int(16000)));
  p.add("ADVANCE", FD::ObjectRef(new FD::Int(advance)));
  if (lookahead > 0) p.add("LOOKAHEAD", FD::ObjectRef(new FD::Int(lookahead)));
  for (const auto& [name, value] : more) p.add(name, FD::ObjectRef(new FD::Float(value)));
  return p;
}

class TrackTalkersTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    FD::Node::addFactory("ScriptedLocalizer", new FD::NodeFactory<ScriptedLocalizer>("ScriptedLocalizer"));
    FD::Node::addFactory("TrackTalkers", new FD::NodeFactory<TrackTalkers>("TrackTalkers"));
  }
  void TearDown() override { ScriptedLocalizer::advance = 160; }

  // The tracker's output over `frames` frames of `script`, a network of the scripted localiser
  // and the tracker at frame shift `advance` (both).
  std::vector<std::vector<Talker>> run(std::function<std::vector<Scripted>(int)> script, int frames,
                                       int advance = 160, int lookahead = 0) {
    ScriptedLocalizer::script = std::move(script);
    ScriptedLocalizer::advance = advance;
    FD::Network net;
    net.addNode("ScriptedLocalizer", "localize", FD::ParameterSet());
    net.addNode("TrackTalkers", "track", trackerParams(advance, {}, lookahead));
    net.connect("localize", "SOURCES", "track", "INPUT");
    net.addOutput("track", "OUTPUT");
    net.initialize();
    std::vector<std::vector<Talker>> out;
    for (int f = 0; f < frames; ++f) {
      net.process(f);
      std::vector<Talker> talkers;
      for (const auto& ref : FD::object_cast<FD::Vector<FD::ObjectRef>>(net.output("track", "OUTPUT", f))) {
        const auto& s = FD::object_cast<FD::Source>(ref);
        talkers.push_back({s.id, FD::AzimuthDegrees(s), s.power});
      }
      out.push_back(talkers);
    }
    return out;
  }
};

std::set<int> idsOf(const std::vector<std::vector<Talker>>& frames) {
  std::set<int> ids;
  for (const auto& f : frames)
    for (const Talker& t : f) ids.insert(t.id);
  return ids;
}

// A talker at 30 degrees who speaks for a second, pauses 1.5 s and speaks again.
std::vector<Scripted> pausingTalker(int count, int framesPerSecond) {
  const double t = static_cast<double>(count) / framesPerSecond;
  if (t < 1.0 || (t >= 2.5 && t < 3.5)) return {{30.0 + std::sin(count) * 2.0, 0.6f, 1}};
  return {};
}

TEST_F(TrackTalkersTest, ATalkerPausingOneAndAHalfSecondsKeepsItsIdAtTheFramesTime) {
  const auto out = run([](int c) { return pausingTalker(c, 100); }, 400);
  EXPECT_EQ(idsOf(out), std::set<int>{1});
  ASSERT_EQ(out[350].size(), 1u);
  EXPECT_NEAR(out[350][0].azimuthDeg, 30.0, 2.0);
  // Output while heard within the last 0.5 s (last heard at 0.99 s), not in the rest of the pause.
  EXPECT_EQ(out[148].size(), 1u);
  EXPECT_TRUE(out[151].empty());
  EXPECT_TRUE(out[200].empty());

  // Frames of 20 ms: the same seconds are half as many frames (last heard at 0.98 s).
  const auto coarse = run([](int c) { return pausingTalker(c, 50); }, 200, 320);
  EXPECT_EQ(idsOf(coarse), std::set<int>{1});
  EXPECT_EQ(coarse[73].size(), 1u);
  EXPECT_TRUE(coarse[76].empty());
}

// The localiser's broadband directions carry their rank in the frame, which passes from talker to
// talker: the tracker follows the directions, not the ids. (A direction weaker than DROP_EVIDENCE
// starts no track on its own, so both are given at least that.)
TEST_F(TrackTalkersTest, TwoTalkersThirtyDegreesApartKeepTwoIdsWhileTheirRanksSwap) {
  const auto out = run(
      [](int c) {
        const bool swap = c % 3 == 0;
        return std::vector<Scripted>{{-15.0, 0.6f, swap ? 2 : 1}, {15.0, 0.5f, swap ? 1 : 2}};
      },
      300);
  EXPECT_EQ(idsOf(out).size(), 2u);
  ASSERT_EQ(out.back().size(), 2u);
  EXPECT_NEAR(out.back()[0].azimuthDeg, -15.0, 0.5);
  EXPECT_NEAR(out.back()[1].azimuthDeg, 15.0, 0.5);
}

// A paused sound event (power NaN) is no evidence that its talker speaks, and a direction
// without strength is none either.
TEST_F(TrackTalkersTest, PausedEventsAndDirectionsWithoutStrengthMakeNoTalker) {
  EXPECT_TRUE(idsOf(run([](int) { return std::vector<Scripted>{{40.0, kNaN, 7}}; }, 300)).empty());
  EXPECT_TRUE(idsOf(run([](int) { return std::vector<Scripted>{{40.0, 0.0f, 7}}; }, 300)).empty());
  // Heard for 0.3 s, then only paused: output for the 0.5 s hold after the last heard frame.
  const auto out = run([](int c) { return std::vector<Scripted>{{40.0, c < 30 ? 0.8f : kNaN, 7}}; }, 120);
  EXPECT_EQ(out[78].size(), 1u);
  EXPECT_TRUE(out[81].empty());
}

TEST_F(TrackTalkersTest, OutputPowerIsTheStrengthWhileHeardAndNaNWhileHeld) {
  const auto out = run([](int c) { return c < 50 ? std::vector<Scripted>{{-60.0, 0.7f, 1}} : std::vector<Scripted>{}; }, 60);
  ASSERT_EQ(out[49].size(), 1u);
  EXPECT_NEAR(out[49][0].power, 0.7f, 1e-6);
  EXPECT_NEAR(out[49][0].azimuthDeg, -60.0, 1e-3);
  ASSERT_EQ(out[55].size(), 1u);
  EXPECT_TRUE(std::isnan(out[55][0].power));
}

// With look-ahead a talker is output from its first direction, not from the frame the tracker
// had evidence enough; every other frame is output as without it, and a direction heard too
// briefly to make a talker still makes none.
TEST_F(TrackTalkersTest, LookAheadOutputsATalkerFromItsFirstDirection) {
  auto script = [](int c) {
    std::vector<Scripted> s;
    if (c >= 50) s.push_back({-30.0, 0.6f, 1});
    if (c >= 20 && c < 22) s.push_back({60.0, 0.6f, 2});
    return s;
  };
  const auto now = run(script, 200);
  const auto late = run(script, 200, 160, 25);
  int firstNow = -1;
  for (int f = 0; f < 200 && firstNow < 0; ++f)
    if (!now[f].empty()) firstNow = f;
  ASSERT_GT(firstNow, 50) << "the tracker needs evidence before it outputs a talker";
  ASSERT_LE(firstNow, 50 + 25);
  for (int f = 0; f < 200; ++f) {
    ASSERT_EQ(late[f].size(), f >= 50 ? 1u : 0u) << f;
    if (f >= firstNow) {
      ASSERT_EQ(now[f].size(), 1u);
      EXPECT_EQ(late[f][0].id, now[f][0].id);
      EXPECT_EQ(late[f][0].azimuthDeg, now[f][0].azimuthDeg);
    } else if (f >= 50) {
      EXPECT_TRUE(std::isnan(late[f][0].power)) << "not heard as a talker on frame " << f;
    }
  }
}

TEST_F(TrackTalkersTest, EachNewTalkerIsLoggedOnce) {
  testsupport::LogCapture log(NSVelkBinaural::LogLevel::INFO);
  run([](int c) { return pausingTalker(c, 100); }, 400);
  EXPECT_EQ(log.count("INFO: talker 1 at +3"), 1) << log.text();
}

TEST_F(TrackTalkersTest, ATrackerAtAnotherFrameShiftThanItsLocaliserIsRefused) {
  ScriptedLocalizer::script = [](int) { return std::vector<Scripted>{}; };
  FD::Network net;
  net.addNode("ScriptedLocalizer", "localize", FD::ParameterSet());
  net.addNode("TrackTalkers", "track", trackerParams(320));
  net.connect("localize", "SOURCES", "track", "INPUT");
  net.addOutput("track", "OUTPUT");
  EXPECT_EQ(HostError([&] { net.initialize(); }).find(
                "node \"track\" has ADVANCE 320 but node \"localize\" upstream of it has ADVANCE 160"),
            0u);
}

TEST_F(TrackTalkersTest, ParametersAreCheckedWhenTheNodeIsMade) {
  EXPECT_EQ(HostError([] { TrackTalkers("t", trackerParams(160, {{"HANGOVER", 0.25f}})); }),
            "Node \"t\": parameter \"HANGOVER\" = 0.25: expected at least REPORT_HOLD (0.5)");
  EXPECT_EQ(HostError([] { TrackTalkers("t", trackerParams(160, {{"DROP_EVIDENCE", 3.0f}})); }),
            "Node \"t\": parameter \"DROP_EVIDENCE\" = 3.0: expected a value below CONFIRM_EVIDENCE (3.0)");
  EXPECT_EQ(HostError([] { TrackTalkers("t", trackerParams(160, {{"GATE_ANGLE", 4.0f}})); }),
            "Node \"t\": parameter \"MERGE_ANGLE\" = 5.0: expected an angle below GATE_ANGLE (4.0)");
  FD::ParameterSet noRate("t");
  noRate.add("ADVANCE", FD::ObjectRef(new FD::Int(160)));
  EXPECT_NE(HostError([&] { TrackTalkers("t", noRate); }).find("SAMPLING_RATE"), std::string::npos);
  // Its own parameters may be left out: they take their declared defaults.
  TrackTalkers defaults("t", trackerParams());
  EXPECT_DOUBLE_EQ(defaults.Tracker().config().hangoverSec, 2.0);
}

TEST_F(TrackTalkersTest, WhatIsNotAListOfSourceRecordsStopsTheFrameNamingIt) {
  auto failure = [](FD::ObjectRef frame) {
    TrackTalkers node("track", trackerParams());
    struct Fixed : FD::BufferedNode {
      FD::ObjectRef value;
      explicit Fixed(FD::ObjectRef v) : BufferedNode("fixed", FD::ParameterSet()), value(std::move(v)) { addOutput("OUTPUT"); }
      void calculate(int, int count, FD::Buffer& out) override { out[count] = value; }
    } fixed(std::move(frame));
    node.connectInput(node.inputId("INPUT"), &fixed, 0);
    return HostError([&] { node.getOutput(0, 0); });
  };
  EXPECT_NE(failure(FD::ObjectRef(new FD::Int(3))).find("input INPUT on frame 0 is a "), std::string::npos);
  FD::RCPtr<FD::Vector<FD::ObjectRef>> notSources(new FD::Vector<FD::ObjectRef>);
  notSources->push_back(FD::ObjectRef(new FD::Float(1.0f)));
  EXPECT_NE(failure(notSources).find("element 0 of INPUT on frame 0 is a "), std::string::npos);
  FD::RCPtr<FD::Vector<FD::ObjectRef>> nanSource(new FD::Vector<FD::ObjectRef>);
  nanSource->push_back(FD::ObjectRef(FD::Source::atAzimuth(4, std::nan(""))));
  EXPECT_NE(failure(nanSource).find("source id 4 on frame 0 has a position that is not a number"), std::string::npos);
  EXPECT_EQ(failure(FD::ObjectRef()), "(no error)") << "a nil frame is a frame without sources";
}

}  // namespace
