// The source maker, the delay filter, the logger node and the parameter readers they share.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "DelaySourceFilter.h"
#include "HostError.h"
#include "LogCapture.h"
#include "LoggerInitializer.h"
#include "fd/Source.h"
#include "SourceMaker.h"
#include "fd/Network.h"

namespace {

using NSVelkBinaural::Logger;
using NSVelkBinaural::LogLevel;

using nodetest::HostError;

FD::ObjectRef floats(std::vector<float> v) { return FD::ObjectRef(new FD::Vector<float>(v)); }

std::vector<int> idsOf(const FD::ObjectRef& list) {
  std::vector<int> ids;
  for (const auto& s : FD::object_cast<FD::Vector<FD::ObjectRef>>(list)) ids.push_back(FD::object_cast<FD::Source>(s).id);
  return ids;
}

// ---- parameter readers --------------------------------------------------------------------

TEST(ParameterReader, ScalarOfTheWrongTypeNamesTheTypeFound) {
  FD::ParameterSet params("delay");
  params.add("DELAY", FD::ObjectRef(new FD::Float(2.0f)));
  EXPECT_EQ(HostError([&] { DelaySourceFilter node("delay", params); }),
            "Cast error: Trying to cast ObjectRef (N2FD11GenericTypeIfEE) into i");
  params.add("DELAY", FD::ObjectRef());
  EXPECT_THROW(DelaySourceFilter("delay", params), std::bad_typeid);
}

// ---- SourceMaker ----------------------------------------------------------------------------

class SourceMakerTest : public testing::Test {
 protected:
  FD::ObjectRef frame(std::vector<float> directions, int count = 0) {
    FD::ParameterSet params("maker");
    params.add("DIRECTIONS", floats(directions));
    SourceMaker node("maker", params);
    node.initialize();
    return node.getOutput(0, count);
  }
};

TEST_F(SourceMakerTest, DirectionsBecomeUnitVectorsWithPositionIds) {
  FD::ObjectRef out = frame({0.0f, 90.0f, 180.0f, -30.0f});
  const auto& list = FD::object_cast<FD::Vector<FD::ObjectRef>>(out);
  ASSERT_EQ(list.size(), 4u);
  const float expected[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0.8660254f, -0.5f}};
  for (int i = 0; i < 4; ++i) {
    const auto& s = FD::object_cast<FD::Source>(list[i]);
    EXPECT_EQ(s.id, i);
    EXPECT_NEAR(s.x[0], expected[i][0], 1e-6);
    EXPECT_NEAR(s.x[1], expected[i][1], 1e-6);
    EXPECT_EQ(s.x[2], 0.0f);
    EXPECT_EQ(s.power, 0.0f);
  }
  EXPECT_TRUE(FD::object_cast<FD::Vector<FD::ObjectRef>>(frame({}, 5)).empty());
}

TEST_F(SourceMakerTest, DirectionsMustBeAFloatVector) {
  FD::ParameterSet params("maker");
  params.add("DIRECTIONS", FD::ObjectRef(new FD::Vector<int>{30, -30}));
  EXPECT_EQ(HostError([&] { SourceMaker node("maker", params); }),
            "Cast error: Trying to cast ObjectRef (N2FD6VectorIiEE) into N2FD6VectorIfEE");
}

TEST(Source, PrintsFiveLines) {
  FD::Source s;
  s.x[0] = 1;
  s.id = 3;
  std::ostringstream out;
  s.printOn(out);
  EXPECT_EQ(out.str(), "<Source \n<x 1 0 0 >\n<power 0 >\n<id 3 >\n>\n");
  FD::ObjectRef copy = s.clone();
  EXPECT_EQ(FD::object_cast<FD::Source>(copy).id, 3);
}

// ---- DelaySourceFilter ------------------------------------------------------------------------

// Emits, per frame, sources with the ids scripted for that frame (none after the script).
class ScriptedSources : public FD::BufferedNode {
 public:
  static std::vector<std::vector<int>> script;
  ScriptedSources(const std::string& name, const FD::ParameterSet& params) : BufferedNode(name, params) {
    addOutput("OUTPUT");
  }
  void calculate(int, int count, FD::Buffer& out) override {
    FD::RCPtr<FD::Vector<FD::ObjectRef>> list(new FD::Vector<FD::ObjectRef>);
    if (count < static_cast<int>(script.size()))
      for (int id : script[count]) {
        auto* s = new FD::Source;
        s->id = id;
        list->push_back(FD::ObjectRef(s));
      }
    out[count] = list;
  }
};
std::vector<std::vector<int>> ScriptedSources::script;

class DelayFilterTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    FD::Node::addFactory("ScriptedSources", new FD::NodeFactory<ScriptedSources>("ScriptedSources"));
    FD::Node::addFactory("DelaySourceFilter", new FD::NodeFactory<DelaySourceFilter>("DelaySourceFilter"));
  }
  // The ids output on each of `frames` frames for the script and delay.
  std::vector<std::vector<int>> run(std::vector<std::vector<int>> script, int delay, int frames) {
    ScriptedSources::script = std::move(script);
    FD::Network net;
    net.addNode("ScriptedSources", "in", FD::ParameterSet());
    FD::ParameterSet params;
    params.add("DELAY", FD::ObjectRef(new FD::Int(delay)));
    net.addNode("DelaySourceFilter", "delay", params);
    net.connect("in", "OUTPUT", "delay", "INPUT");
    net.addOutput("delay", "OUTPUT");
    net.initialize();
    std::vector<std::vector<int>> out;
    for (int f = 0; f < frames; ++f) {
      net.process(f);
      out.push_back(idsOf(net.output("delay", "OUTPUT", f)));
    }
    return out;
  }
};

TEST_F(DelayFilterTest, WithoutDelayEveryDistinctIdPassesInIdOrder) {
  auto out = run({{5, 2, 5}, {}, {7}}, 0, 3);
  EXPECT_EQ(out[0], (std::vector<int>{2, 5}));
  EXPECT_TRUE(out[1].empty());
  EXPECT_EQ(out[2], (std::vector<int>{7}));
}

TEST_F(DelayFilterTest, PersistentIdsPassFromTheFirstFrame) {
  auto out = run({{1}, {1}, {1}, {1}, {1}}, 2, 7);
  for (int f = 0; f < 5; ++f) EXPECT_EQ(out[f], (std::vector<int>{1})) << "frame " << f;
  EXPECT_TRUE(out[5].empty());
  EXPECT_TRUE(out[6].empty());
}

TEST_F(DelayFilterTest, ASingleFrameIdNeverPasses) {
  auto out = run({{4, 1}, {1}, {1}, {1}}, 2, 4);
  for (int f = 0; f < 4; ++f) EXPECT_EQ(out[f], (std::vector<int>{1})) << "frame " << f;
}

TEST_F(DelayFilterTest, AnIdSeenLateWaitsUntilItHasBeenMetDelayTimes) {
  // Id 9 appears at frame 3 and stays; with delay 2 it is first counted at frame 1 (3 = 1 + 2)
  // and has been met twice more when frame 3 is output.
  auto out = run({{}, {}, {}, {9}, {9}, {9}, {9}}, 2, 5);
  EXPECT_TRUE(out[1].empty());
  EXPECT_TRUE(out[2].empty());
  EXPECT_EQ(out[3], (std::vector<int>{9}));
  EXPECT_EQ(out[4], (std::vector<int>{9}));
}

TEST_F(DelayFilterTest, NegativeDelayActsAsZero) {
  auto out = run({{3, 3}}, -4, 1);
  EXPECT_EQ(out[0], (std::vector<int>{3}));
}

// ---- LoggerInitializer ------------------------------------------------------------------------

FD::ParameterSet loggerParams(FD::ObjectRef logger, FD::ObjectRef level) {
  FD::ParameterSet p("log");
  p.add("LOGGER", logger);
  p.add("LOG_LEVEL", level);
  return p;
}

TEST(LoggerInitializer, MapsLevelNamesExactly) {
  EXPECT_EQ(LoggerInitializer::LevelOf("ALL"), LogLevel::ALL);
  EXPECT_EQ(LoggerInitializer::LevelOf("FINEST"), 1);
  EXPECT_EQ(LoggerInitializer::LevelOf("FINE"), 3);
  EXPECT_EQ(LoggerInitializer::LevelOf("WARNING"), 6);
  EXPECT_EQ(LoggerInitializer::LevelOf("OFF"), LogLevel::OFF);
  EXPECT_EQ(LoggerInitializer::LevelOf("info"), LogLevel::SEVERE);  // case matters
  EXPECT_EQ(LoggerInitializer::LevelOf(""), LogLevel::SEVERE);
}

TEST(LoggerInitializer, SetsTheGlobalThresholdWhenBuilt) {
  testsupport::LogCapture capture(LogLevel::INFO);  // restores the threshold afterwards
  LoggerInitializer node("log", loggerParams(FD::ObjectRef(new FD::String("global")),
                                             FD::ObjectRef(new FD::String("OFF"))));
  Logger* global = Logger::GetLogger(Logger::GLOBAL_LOGGER_NAME);
  EXPECT_EQ(global->level, LogLevel::OFF);
  global->Log(LogLevel::SEVERE, "silenced", "F", "f");
  EXPECT_FALSE(capture.contains("silenced"));
  EXPECT_TRUE(node.getOutput(0, 0).isNil());
}

TEST(LoggerInitializer, ANewLoggerGetsItsThresholdButNoHandler) {
  LoggerInitializer node("log", loggerParams(FD::ObjectRef(new FD::String("node-test-logger")),
                                             FD::ObjectRef(new FD::String("FINER"))));
  Logger* made = Logger::GetLogger("node-test-logger");
  EXPECT_EQ(made->level, LogLevel::FINER);
  EXPECT_TRUE(made->handlers.empty());
}

TEST(LoggerInitializer, NonStringParametersAreCastErrors) {
  EXPECT_EQ(HostError([] {
              LoggerInitializer node("log", loggerParams(FD::ObjectRef(new FD::Int(1)),
                                                         FD::ObjectRef(new FD::String("INFO"))));
            }),
            "Cast error: Trying to cast ObjectRef (N2FD11GenericTypeIiEE) into NSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE");
  EXPECT_THROW(LoggerInitializer("log", loggerParams(FD::ObjectRef(new FD::String("global")), FD::ObjectRef())),
               std::bad_typeid);
}

}  // namespace
