// Networks of small test-only nodes: creation through the registry, connection checks, ring
// buffers with in-order computation and look-ahead, and the errors users meet.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "fd/Network.h"

namespace {

int intParameter(const FD::ParameterSet& params, const std::string& name) {
  return FD::object_cast<FD::Int>(params.get(name)).val();
}

// Frame `count` is the number `count`; the stream ends after LENGTH frames.
class CounterSource : public FD::BufferedNode {
 public:
  CounterSource(const std::string& name, const FD::ParameterSet& params)
      : BufferedNode(name, params), length_(intParameter(params, "LENGTH")) {
    addOutput("OUT");
  }
  void calculate(int, int count, FD::Buffer& out) override {
    ++calls;
    out[count] = FD::ObjectRef(new FD::Int(count));
  }
  long streamLength() const override { return length_; }
  int calls = 0;

 private:
  int length_;
};

// Sums input frames count .. count + AHEAD; computes strictly in order and checks it.
class LookAheadSum : public FD::BufferedNode {
 public:
  LookAheadSum(const std::string& name, const FD::ParameterSet& params)
      : BufferedNode(name, params), ahead_(intParameter(params, "AHEAD")) {
    in_ = addInput("IN");
    addOutput("OUT");
    if (intParameter(params, "DECLARE")) inputsRequestLookAhead(in_, ahead_);
    inOrder = true;
  }
  void calculate(int, int count, FD::Buffer& out) override {
    if (count != last + 1) outOfOrder = true;
    last = count;
    int sum = 0;
    // Read the farthest frame first, as a look-ahead filter does, then go back to `count`.
    for (int k = ahead_; k >= 0; --k) sum += FD::object_cast<FD::Int>(getInput(in_, count + k)).val();
    out[count] = FD::ObjectRef(new FD::Int(sum));
  }
  int last = -1;
  bool outOfOrder = false;

 private:
  int in_, ahead_;
};

// Stores its frame far behind the frame it was asked for.
class BackWriter : public FD::BufferedNode {
 public:
  BackWriter(const std::string& name, const FD::ParameterSet& params) : BufferedNode(name, params) {
    addOutput("OUT");
  }
  void calculate(int, int count, FD::Buffer& out) override { out[count - 10] = FD::ObjectRef(new FD::Int(0)); }
};

class TwoInputs : public FD::BufferedNode {
 public:
  TwoInputs(const std::string& name, const FD::ParameterSet& params) : BufferedNode(name, params) {
    addInput("A");
    addInput("B");
    addOutput("OUT");
  }
  void calculate(int, int count, FD::Buffer& out) override { out[count] = getInput(0, count); }
};

// Notes in `log` when it is finished, and how many frames it had computed by then. With INPUT 1
// it passes its input on, else it counts frames up to LENGTH. FAIL_FRAME makes that frame fail;
// FAIL 1 makes finish() throw a std::runtime_error, FAIL 2 a host exception.
class Finisher : public FD::BufferedNode {
 public:
  Finisher(const std::string& name, const FD::ParameterSet& params)
      : BufferedNode(name, params),
        length_(intParameter(params, "LENGTH")),
        fail_(intParameter(params, "FAIL")),
        failFrame_(intParameter(params, "FAIL_FRAME")) {
    if (intParameter(params, "INPUT")) in_ = addInput("IN");
    addOutput("OUT");
  }
  void calculate(int, int count, FD::Buffer& out) override {
    if (count == failFrame_) throw new FD::NodeException(this, "frame failed", "", 0);
    ++frames_;
    out[count] = in_ < 0 ? FD::ObjectRef(new FD::Int(count)) : getInput(in_, count);
  }
  long streamLength() const override { return in_ < 0 ? length_ : -1; }
  void finish() override {
    log.push_back(getName() + " after " + std::to_string(frames_));
    if (fail_ == 1) throw std::runtime_error("disk full");
    if (fail_ == 2) throw new FD::NodeException(this, "cannot close", "", 0);
  }
  static std::vector<std::string> log;

 private:
  int in_ = -1, length_, fail_, failFrame_, frames_ = 0;
};
std::vector<std::string> Finisher::log;

class NetworkTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    FD::Node::addFactory("TestCounter", new FD::NodeFactory<CounterSource>("TestCounter"));
    FD::Node::addFactory("TestLookAheadSum", new FD::NodeFactory<LookAheadSum>("TestLookAheadSum"));
    FD::Node::addFactory("TestBackWriter", new FD::NodeFactory<BackWriter>("TestBackWriter"));
    FD::Node::addFactory("TestTwoInputs", new FD::NodeFactory<TwoInputs>("TestTwoInputs"));
    FD::Node::addFactory("TestFinisher", new FD::NodeFactory<Finisher>("TestFinisher"));
  }
  // src -> middle -> sink, added sink first, and `lone`, a source feeding nothing but driven too.
  static void buildChain(FD::Network& net, int failMiddle, int failSink, int failFrame = -1) {
    auto finisher = [&](int input, int fail) {
      return params({{"INPUT", input}, {"LENGTH", 5}, {"FAIL", fail}, {"FAIL_FRAME", failFrame}});
    };
    net.addNode("TestFinisher", "sink", finisher(1, failSink));
    net.addNode("TestFinisher", "lone", finisher(0, 0));
    net.addNode("TestFinisher", "middle", finisher(1, failMiddle));
    net.addNode("TestFinisher", "src", finisher(0, 0));
    net.connect("src", "OUT", "middle", "IN");
    net.connect("middle", "OUT", "sink", "IN");
    net.addOutput("sink", "OUT");
    net.addOutput("lone", "OUT");
    Finisher::log.clear();
  }
  static FD::ParameterSet params(std::initializer_list<std::pair<const char*, int>> values) {
    FD::ParameterSet p;
    for (const auto& v : values) p.add(v.first, FD::ObjectRef(new FD::Int(v.second)));
    return p;
  }
  // Runs `f` and returns the printed text of the host exception it throws.
  template <class F>
  static std::string errorOf(F f) {
    try {
      f();
    } catch (FD::BaseException* e) {
      std::unique_ptr<FD::BaseException> owned(e);
      return e->text();
    }
    return "(no error)";
  }
};

TEST_F(NetworkTest, RunsTwoHundredFramesInOrderWithLookAhead) {
  FD::Network net;
  auto& source = static_cast<CounterSource&>(net.addNode("TestCounter", "src", params({{"LENGTH", 200}})));
  auto& sum = static_cast<LookAheadSum&>(
      net.addNode("TestLookAheadSum", "sum", params({{"AHEAD", 3}, {"DECLARE", 1}})));
  net.connect("src", "OUT", "sum", "IN");
  net.addOutput("sum", "OUT");
  EXPECT_EQ(net.run(), 200);
  EXPECT_EQ(sum.last, 199);
  EXPECT_FALSE(sum.outOfOrder);
  // Every source frame was computed once, including the three read past the end.
  EXPECT_EQ(source.calls, 203);
  for (int count : {198, 199})  // the newest frames the ring still holds
    EXPECT_EQ(FD::object_cast<FD::Int>(net.output("sum", "OUT", count)).val(), 4 * count + 6);
}

TEST_F(NetworkTest, InOrderNodeComputesEveryEarlierFrameFirst) {
  FD::Network net;
  net.addNode("TestCounter", "src", params({{"LENGTH", 50}}));
  auto& sum = static_cast<LookAheadSum&>(
      net.addNode("TestLookAheadSum", "sum", params({{"AHEAD", 0}, {"DECLARE", 0}})));
  net.connect("src", "OUT", "sum", "IN");
  net.addOutput("sum", "OUT");
  net.initialize();
  EXPECT_EQ(FD::object_cast<FD::Int>(net.output("sum", "OUT", 7)).val(), 7);
  EXPECT_EQ(sum.last, 7);
  EXPECT_FALSE(sum.outOfOrder);
}

TEST_F(NetworkTest, UndeclaredLookAheadOverrunsTheRing) {
  FD::Network net;
  net.addNode("TestCounter", "src", params({{"LENGTH", 20}}));
  net.addNode("TestLookAheadSum", "sum", params({{"AHEAD", 4}, {"DECLARE", 0}}));
  net.connect("src", "OUT", "sum", "IN");
  net.addOutput("sum", "OUT");
  EXPECT_NE(errorOf([&] { net.run(); }).find("no longer held"), std::string::npos);
}

TEST_F(NetworkTest, StoringBehindTheRingIsABufferError) {
  FD::Network net;
  net.addNode("TestBackWriter", "back", FD::ParameterSet());
  net.addOutput("back", "OUT");
  std::string text = errorOf([&] { net.process(3); });
  EXPECT_NE(text.find("trying to write to non-existing element"), std::string::npos);
  EXPECT_NE(text.find("index -7"), std::string::npos);
}

TEST_F(NetworkTest, ConfigurationErrorsNameWhatIsWrong) {
  FD::Network net;
  net.addNode("TestCounter", "src", params({{"LENGTH", 5}}));
  net.addNode("TestTwoInputs", "join", FD::ParameterSet());
  EXPECT_EQ(errorOf([&] { net.addNode("NoSuchNode", "x", FD::ParameterSet()); }),
            "node \"x\": unknown node type \"NoSuchNode\"");
  EXPECT_EQ(errorOf([&] { net.addNode("TestCounter", "src", params({{"LENGTH", 1}})); }),
            "duplicate node name \"src\"");
  EXPECT_EQ(errorOf([&] { net.connect("src", "NOPE", "join", "A"); }), "node \"src\" has no output \"NOPE\"");
  EXPECT_EQ(errorOf([&] { net.connect("src", "OUT", "join", "C"); }), "node \"join\" has no input \"C\"");
  EXPECT_EQ(errorOf([&] { net.connect("ghost", "OUT", "join", "A"); }), "no node named \"ghost\"");

  net.connect("src", "OUT", "join", "A");
  net.addOutput("join", "OUT");
  std::string unconnected = errorOf([&] { net.initialize(); });
  EXPECT_NE(unconnected.find("Node \"join\": input \"B\" is not connected"), std::string::npos) << unconnected;
}

TEST_F(NetworkTest, AbsentParameterFailsCreationWithNodeAndParameterNamed) {
  FD::Network net;
  std::string text = errorOf([&] { net.addNode("TestCounter", "src", FD::ParameterSet()); });
  EXPECT_NE(text.find("Node \"src\": missing parameter \"LENGTH\""), std::string::npos) << text;
  EXPECT_NE(text.find("while creating node \"src\" (TestCounter)"), std::string::npos) << text;
}

TEST_F(NetworkTest, CyclesAreRejected) {
  FD::Network net;
  net.addNode("TestLookAheadSum", "a", params({{"AHEAD", 0}, {"DECLARE", 0}}));
  net.addNode("TestLookAheadSum", "b", params({{"AHEAD", 0}, {"DECLARE", 0}}));
  net.connect("a", "OUT", "b", "IN");
  net.connect("b", "OUT", "a", "IN");
  net.addOutput("b", "OUT");
  EXPECT_NE(errorOf([&] { net.initialize(); }).find("cycle"), std::string::npos);
}

TEST_F(NetworkTest, ANetworkWithoutAnEndNeedsAFrameCount) {
  FD::Network net;
  net.addNode("TestBackWriter", "w", FD::ParameterSet());
  net.addOutput("w", "OUT");
  EXPECT_NE(errorOf([&] { net.run(); }).find("no source with an end"), std::string::npos);
}

// Nodes are finished once, after the last frame, each after the nodes that feed it and otherwise
// in the order they were added; a run that fails on a frame finishes nothing.
TEST_F(NetworkTest, RunFinishesEveryNodeAfterTheLastFrameFeedersFirst) {
  {
    FD::Network net;
    buildChain(net, 0, 0);
    EXPECT_EQ(net.run(), 5);
    EXPECT_EQ(Finisher::log, (std::vector<std::string>{"src after 5", "middle after 5", "sink after 5", "lone after 5"}));
  }
  {
    FD::Network net;
    buildChain(net, 0, 0);
    EXPECT_EQ(net.run(3), 3) << "a run cut short by a frame count is finished too";
    EXPECT_EQ(Finisher::log.size(), 4u);
  }
  FD::Network net;
  buildChain(net, 0, 0, 2);
  EXPECT_NE(errorOf([&] { net.run(); }).find("frame failed"), std::string::npos);
  EXPECT_TRUE(Finisher::log.empty());
}

// A failure while finishing fails the run with the node named, after every node was finished
// (one file that cannot be completed must not leave the others incomplete).
TEST_F(NetworkTest, AFailureWhileFinishingIsTheRunsErrorAndTheOtherNodesStillFinish) {
  {
    FD::Network net;
    buildChain(net, 1, 2);
    EXPECT_EQ(errorOf([&] { net.run(); }), "Node \"middle\": while finishing: disk full");
    EXPECT_EQ(Finisher::log.size(), 4u);
  }
  FD::Network net;
  buildChain(net, 0, 2);
  EXPECT_EQ(errorOf([&] { net.run(); }), "Node \"sink\": cannot close");
  EXPECT_EQ(Finisher::log.size(), 4u);
}

}  // namespace
