// Network files: parameter literals and their host types, references to network parameters,
// overrides, and the errors for malformed or inconsistent files.
#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"
#include "fd/NetworkFile.h"

namespace hostio {
namespace {

// The text of the exception that parsing throws, "" when parsing succeeds.
std::string parseError(const std::string& text, const std::vector<std::string>& overrides = {}) {
  try {
    FD::parseNetwork(text, "net.json", "/nets", overrides);
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owner(e);
    return e->text();
  }
  return "";
}

// A one-node network whose node has the given parameters (a JSON object's members).
std::string withParameters(const std::string& members, const std::string& network = "") {
  return "{" + network + R"("nodes": [{"name": "n", "type": "T", "parameters": {)" + members +
         R"(}}], "outputs": ["n:OUT"]})";
}

FD::ParameterSet parametersOf(const std::string& text, const std::vector<std::string>& overrides = {}) {
  return FD::parseNetwork(text, "net.json", "/nets", overrides).nodes.at(0).parameters;
}

template <class T>
const T& as(const FD::ParameterSet& p, const std::string& name) {
  auto* value = dynamic_cast<T*>(p.get(name).get());
  if (!value) throw std::runtime_error(name + " is a " + p.get(name)->className());
  return *value;
}

TEST(NetworkFile, EveryParameterTypeParsesIntoItsHostType) {
  const std::string text = withParameters(R"(
      "RATE": 16000, "GAIN": 10.0, "EXP": 1e3, "METHOD": "INTERNAL",
      "CHANNELS": [0, 1], "DIRECTIONS": [30.0, -30.0], "MIXED": [30, -30.5],
      "EF": {"float": 10}, "EI": {"int": -3}, "ES": {"string": "x"}, "EV": {"ints": []}, "EW": {"floats": [1]},
      "NEG": -2147483648, "REF": "${FS}", "VREF": "${DIRS}", "PATH": "${NETWORK_DIR}/a_${FS}_${NAME}.wav",
      "DOLLAR": "$5 and {braces}")",
                                          R"("parameters": {"FS": 8000, "DIRS": [1.5, 2.5], "NAME": "x"}, )");
  const FD::ParameterSet p = parametersOf(text);
  EXPECT_EQ(as<FD::Int>(p, "RATE").val(), 16000);
  EXPECT_FLOAT_EQ(as<FD::Float>(p, "GAIN").val(), 10.0f);
  EXPECT_FLOAT_EQ(as<FD::Float>(p, "EXP").val(), 1000.0f);
  EXPECT_EQ(as<FD::String>(p, "METHOD").str(), "INTERNAL");
  EXPECT_EQ(as<FD::Vector<int>>(p, "CHANNELS"), (std::vector<int>{0, 1}));
  EXPECT_EQ(as<FD::Vector<float>>(p, "DIRECTIONS"), (std::vector<float>{30.0f, -30.0f}));
  EXPECT_EQ(as<FD::Vector<float>>(p, "MIXED"), (std::vector<float>{30.0f, -30.5f})) << "one float makes a float list";
  EXPECT_FLOAT_EQ(as<FD::Float>(p, "EF").val(), 10.0f);
  EXPECT_EQ(as<FD::Int>(p, "EI").val(), -3);
  EXPECT_EQ(as<FD::String>(p, "ES").str(), "x");
  EXPECT_TRUE(as<FD::Vector<int>>(p, "EV").empty());
  EXPECT_EQ(as<FD::Vector<float>>(p, "EW"), (std::vector<float>{1.0f}));
  EXPECT_EQ(as<FD::Int>(p, "NEG").val(), -2147483648LL);
  EXPECT_EQ(as<FD::Int>(p, "REF").val(), 8000) << "a whole-string reference keeps the parameter's type";
  EXPECT_EQ(as<FD::Vector<float>>(p, "VREF"), (std::vector<float>{1.5f, 2.5f}));
  EXPECT_EQ(as<FD::String>(p, "PATH").str(), "/nets/a_8000_x.wav");
  EXPECT_EQ(as<FD::String>(p, "DOLLAR").str(), "$5 and {braces}");
}

// A number is typed by the parameter's declaration whatever its literal: 512.0 is the int 512 and
// 20 the float 20.0. A float that is not a whole number is refused for an int parameter before any
// node is made, naming the file, the node and the parameter.
TEST(NetworkFile, NumbersTakeTheirParametersDeclaredType) {
  TempDir dir;
  const std::string fft = R"({"name": "fft", "type": "MultiFFT", "parameters": {"LENGTH": @}})";
  auto build = [&](const std::string& length) {
    std::string node = fft;
    node.replace(node.find('@'), 1, length);
    return networkError(R"({"nodes": [)" + node + R"(], "outputs": ["fft:OUTPUT"]})", dir.path());
  };
  EXPECT_NE(build("512.0").find("input \"INPUT\" is not connected"), std::string::npos) << "made with LENGTH 512";
  EXPECT_EQ(build("512.5"), "test.json: node \"fft\": parameter \"LENGTH\": 512.5 is not a whole number; expected an even "
                            "int of at least 2 and at most 1048576");
  EXPECT_NE(build("\"512\"").find("parameter \"LENGTH\": expected an even int"), std::string::npos);

  const std::string localizer = R"({"plugins": ["velk_binaural"], "nodes": [{"name": "l", "type": "LocalizeBinaural",
      "parameters": {"SAMPLING_RATE": 16000, "ADVANCE": 160, "BGNOISE_METHOD": "INTERNAL", "PAUSE_LENGTH": 1000,
                     "MIN_SRC_INTERVAL": 20, "PEAK_FMIN": 100, "PEAK_FMAX": 1500, "LOCALIZE_CHANNEL": "LEFT",
                     "HARMONIC_THRESHOLD": 1.0, "PEAK_THRESHOLD": 20, "EVENT_RATIO_THRESHOLD": 3,
                     "CLUSTERING_THRESHOLD": 50, "LOCALIZE_METHOD": "EPIPOLAR", "DIRPROB_THRESHOLD": 0,
                     "ROUND_COUNT": 0}}], "outputs": ["l:SOURCES"]})";
  const std::string error = networkError(localizer, dir.path());
  EXPECT_NE(error.find("input \"AUDIO\" is not connected"), std::string::npos) << "made with every number typed: " << error;
}

struct BadValue {
  const char* json;
  const char* message;
};

class RejectedValue : public ::testing::TestWithParam<BadValue> {};

TEST_P(RejectedValue, NamesFileNodeParameterAndReason) {
  const std::string error =
      parseError(withParameters(std::string("\"P\": ") + GetParam().json, R"("parameters": {"FS": 1, "V": [1]}, )"));
  EXPECT_EQ(error.find("net.json: node \"n\": parameter \"P\""), 0u) << error;
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Values, RejectedValue,
    ::testing::Values(BadValue{"true", "a boolean is not a parameter value"}, BadValue{"null", "null is not"},
                      BadValue{"[]", "empty list"}, BadValue{R"([1, "a"])", "numbers only"},
                      BadValue{"[[1], [2]]", "numbers only"}, BadValue{"2147483648", "beyond the range of an int"},
                      BadValue{"-2147483649", "beyond the range of an int"},
                      BadValue{"1e39", "beyond the range of a float"}, BadValue{"[1, 1e300]", "beyond the range"},
                      BadValue{R"({"int": 1.5})", "expected an int, got a float"},
                      BadValue{R"({"ints": [1.5]})", "element 0"}, BadValue{R"({"double": 1})", "unknown value form"},
                      BadValue{R"({"int": 1, "float": 2})", "must be one of"},
                      BadValue{R"("${NOPE}")", "unknown name ${NOPE}"}, BadValue{R"("a_${NOPE}")", "unknown name"},
                      BadValue{R"("${FS")", "unterminated"}, BadValue{R"("x${V}")", "cannot be put inside a text"}));

TEST(NetworkFile, NetworkParametersCannotReferToEachOther) {
  const std::string error = parseError(withParameters(R"("P": "${B}")", R"("parameters": {"A": 1, "B": "${A}"}, )"));
  EXPECT_NE(error.find("unknown name ${A}"), std::string::npos) << error;
}

TEST(NetworkFile, OverridesReplaceNetworkParametersAndNodeParameters) {
  const std::string text = withParameters(R"("P": "${IN}", "Q": 1)", R"("parameters": {"IN": "a.wav", "N": 2}, )");
  const FD::ParameterSet p = parametersOf(text, {"IN=/data/b.wav", "n.Q=2.5", "n.NEW=[1, 2]", "n.S=\"512\""});
  EXPECT_EQ(as<FD::String>(p, "P").str(), "/data/b.wav");
  EXPECT_FLOAT_EQ(as<FD::Float>(p, "Q").val(), 2.5f);
  EXPECT_EQ(as<FD::Vector<int>>(p, "NEW"), (std::vector<int>{1, 2}));
  EXPECT_EQ(as<FD::String>(p, "S").str(), "512") << "a quoted value stays a string";

  EXPECT_NE(parseError(text, {"OUT=x"}).find("the network has no such parameter (it has: IN, N)"), std::string::npos);
  EXPECT_NE(parseError(text, {"m.Q=1"}).find("there is no node named \"m\""), std::string::npos);
  EXPECT_NE(parseError(text, {"novalue"}).find("NAME=VALUE"), std::string::npos);
}

TEST(NetworkFile, CommentsArePartOfTheFormat) {
  const std::string text = R"(// a network
    { /* nodes */ "nodes": [{"name": "n", "type": "T"}], // trailing
      "outputs": ["n:OUT"] })";
  EXPECT_EQ(parseError(text), "");
}

TEST(NetworkFile, PluginPathsAreRelativeToTheNetworkFile) {
  const FD::NetworkSpec plan = FD::parseNetwork(
      R"({"plugins": ["velk_binaural", "lib/libx.so", "/abs/liby.so", "${NETWORK_DIR}/libz.so"],
          "nodes": [{"name": "n", "type": "T"}], "outputs": ["n:OUT"]})",
      "net.json", "/nets");
  EXPECT_EQ(plan.plugins, (std::vector<std::string>{"velk_binaural", "/nets/lib/libx.so", "/abs/liby.so", "/nets/libz.so"}));
}

struct BadStructure {
  const char* text;
  const char* message;
};

class RejectedStructure : public ::testing::TestWithParam<BadStructure> {};

TEST_P(RejectedStructure, NamesTheProblem) {
  const std::string error = parseError(GetParam().text);
  EXPECT_EQ(error.find("net.json"), 0u) << error;
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Files, RejectedStructure,
    ::testing::Values(
        BadStructure{R"({"nodes": [)", "parse error at line 1"}, BadStructure{"[1, 2]", "expected a JSON object"},
        // A number beyond a double's range was an uncaught library exception (found by fuzzing).
        BadStructure{R"({"nodes": [{"name": "n", "type": "T", "parameters": {"P": 9e99999}}], "outputs": ["n:O"]})",
                     "number overflow parsing '9e99999'"},
        BadStructure{R"({"nodes": [{"name": "n", "type": "T"}], "outputs": ["n:O"], "ouputs": 1})", "unknown key \"ouputs\""},
        BadStructure{R"({"outputs": ["n:O"]})", "expected \"nodes\""},
        BadStructure{R"({"nodes": [{"name": "n", "type": "T"}]})", "expected \"outputs\""},
        BadStructure{R"({"nodes": [{"name": "n"}], "outputs": ["n:O"]})", "node \"n\": missing \"type\""},
        BadStructure{R"({"nodes": [{"type": "T"}], "outputs": ["n:O"]})", "node 0: missing \"name\""},
        BadStructure{R"({"nodes": [{"name": "a:b", "type": "T"}], "outputs": ["n:O"]})", "contains ':' or '.'"},
        BadStructure{R"({"nodes": [{"name": "n", "type": "T"}, {"name": "n", "type": "T"}], "outputs": ["n:O"]})",
                     "two nodes are named \"n\""},
        BadStructure{R"({"nodes": [{"name": "n", "type": "T", "inputs": {"IN": "m:OUT"}}], "outputs": ["n:O"]})",
                     "node \"n\": input \"IN\": there is no node named \"m\""},
        BadStructure{R"({"nodes": [{"name": "n", "type": "T", "inputs": {"IN": "nocolon"}}], "outputs": ["n:O"]})",
                     "expected \"node:PORT\""},
        BadStructure{R"({"nodes": [{"name": "n", "type": "T"}], "outputs": ["m:O"]})", "no node named \"m\""},
        BadStructure{R"({"nodes": [{"name": "n", "type": "T", "parameters": {"NETWORK_DIR": 1}}], "outputs": ["n:O"],
                        "parameters": {"NETWORK_DIR": "x"}})",
                     "reserved"}));

// Every prefix of a valid file (as left by an interrupted write) fails with a host error.
TEST(NetworkFile, TruncatedFilesFailCleanly) {
  const std::string text = withParameters(R"("A": 1, "B": [1.5, 2], "C": {"ints": [3]}, "D": "${X}/y")",
                                          R"("plugins": ["p"], "parameters": {"X": "d"}, )");
  ASSERT_EQ(parseError(text), "");
  for (size_t n = 0; n < text.size(); ++n) EXPECT_NE(parseError(text.substr(0, n)), "") << "prefix of " << n << " bytes";
}

TEST(NetworkFile, OversizedFilesAreRefusedBeforeReading) {
  TempDir dir;
  writeText(dir.file("big.json"), std::string(FD::kMaxNetworkFileBytes + 1, ' '));
  try {
    FD::readNetworkFile(dir.file("big.json"));
    FAIL() << "an oversized file was read";
  } catch (FD::BaseException* e) {
    std::unique_ptr<FD::BaseException> owner(e);
    EXPECT_NE(e->text().find("more than a network file may"), std::string::npos) << e->text();
  }
}

// (Unknown node types and outputs are checked through the command-line tool.)
TEST(NetworkFile, BuildingChecksParameterNamesAndInputPorts) {
  TempDir dir;
  auto build = [&](const std::string& nodes, const std::string& outputs) {
    return networkError(R"({"nodes": [)" + nodes + R"(], "outputs": [)" + outputs + "]}", dir.path());
  };
  const std::string fft = R"({"name": "fft", "type": "MultiFFT", "parameters": {"LENGTH": 512, "WINDWO": "HANN"}})";
  std::string error = build(fft, R"("fft:OUTPUT")");
  EXPECT_NE(error.find("unknown parameter \"WINDWO\" (MultiFFT accepts: LENGTH, WINDOW)"), std::string::npos) << error;

  const std::string two = R"({"name": "a", "type": "MultiFFT", "parameters": {"LENGTH": 8}},
                             {"name": "b", "type": "MultiFFT", "parameters": {"LENGTH": 8}, "inputs": {"IN": "a:OUTPUT"}})";
  error = build(two, R"("b:OUTPUT")");
  EXPECT_NE(error.find("node \"b\" has no input \"IN\" (its inputs: INPUT)"), std::string::npos) << error;
}

}  // namespace
}  // namespace hostio
