// `velk-binaural run` and `velk-binaural nodes`, called as users call them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "TestSupport.h"

namespace hostio {
namespace {

const std::string kExample = std::string(VELK_SOURCE_DIR) + "/examples/passthrough.json";

size_t lineCount(const std::string& s) { return static_cast<size_t>(std::count(s.begin(), s.end(), '\n')); }

// The pass-through example on a real recording: a 16-bit output is the input sample for sample,
// and a float output is within 1e-4 relative error of it (in fact within float rounding).
TEST(RunCommand, PassThroughExampleRebuildsARealRecording) {
  TempDir dir;
  const std::string recording = realRecording(dir);
  if (recording.empty()) GTEST_SKIP() << "no real recording: neither the scenes (" VELK_SCENES_DIR ") nor sox and the ALSA sounds";
  const Sound in = readWav(recording);

  ToolResult r = runTool({"run", kExample, "--set", "INPUT=" + recording, "--set", "OUTPUT=" + dir.file("copy.wav")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "") << "nothing on standard error when it is not a terminal";
  const std::vector<short> original = readPcm16(recording), copy = readPcm16(dir.file("copy.wav"));
  ASSERT_GE(copy.size(), original.size());
  ASSERT_LT(copy.size(), original.size() + 160 * 2) << "padded to whole frame shifts only";
  for (size_t i = 0; i < original.size(); ++i) ASSERT_EQ(copy[i], original[i]) << "sample value " << i;

  r = runTool({"run", kExample, "--quiet", "--set", "INPUT=" + recording, "--set", "OUTPUT=" + dir.file("float.wav"),
               "--set", "sink.SAMPLE_FORMAT=FLOAT"});
  ASSERT_EQ(r.code, 0) << r.err;
  const Sound out = readWav(dir.file("float.wav"));
  ASSERT_EQ(out.channels, in.channels);
  for (int c = 0; c < in.channels; ++c) {
    double error = 0.0, energy = 0.0;
    for (long n = 0; n < in.frames; ++n) {
      error += std::pow(double(out.at(n, c)) - in.at(n, c), 2);
      energy += std::pow(double(in.at(n, c)), 2);
    }
    EXPECT_LT(std::sqrt(error / energy), 1e-4) << "relative error of channel " << c;
  }
}

TEST(RunCommand, FramesOptionStopsEarly) {
  TempDir dir;
  writeWav(dir.file("in.wav"), 16000, 2, testSignal(16000));
  const ToolResult r = runTool({"run", kExample, "--frames", "10", "--set", "INPUT=" + dir.file("in.wav"), "--set",
                                "OUTPUT=" + dir.file("out.wav")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(readWav(dir.file("out.wav")).frames, 10 * 160);
}

// Each broken network exits non-zero with one line on standard error that names the problem.
struct Broken {
  std::string name;
  std::string network;  // "IN" stands for a 16 kHz stereo file, "IN8K" for an 8 kHz one
  std::vector<std::string> expected;
};

void PrintTo(const Broken& broken, std::ostream* out) { *out << broken.name; }

class BrokenNetwork : public ::testing::TestWithParam<Broken> {};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

TEST_P(BrokenNetwork, FailsWithAOneLineMessageNamingTheProblem) {
  TempDir dir;
  writeWav(dir.file("in.wav"), 16000, 2, testSignal(1600));
  writeWav(dir.file("in8k.wav"), 8000, 2, testSignal(800));
  std::string text = replaced(GetParam().network, "IN8K", dir.file("in8k.wav"));
  text = replaced(text, "\"IN\"", "\"" + dir.file("in.wav") + "\"");
  writeText(dir.file("net.json"), text);

  const ToolResult r = runTool({"run", dir.file("net.json")});
  EXPECT_NE(r.code, 0);
  EXPECT_EQ(lineCount(r.err), 1u) << r.err;
  EXPECT_EQ(r.err.find("velk-binaural: "), 0u) << r.err;
  for (const std::string& part : GetParam().expected) EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
}

// The pieces of a source -> spectrum -> inverse -> file chain that the cases below break.
std::string source(const std::string& file = "\"IN\"", const std::string& rate = "16000") {
  return R"({"name": "source", "type": "AudioFileSource", "parameters": {"FILENAME": )" + file +
         R"(, "SAMPLING_RATE": )" + rate + R"(, "CHANNELS": 2, "LENGTH": 512, "ADVANCE": 160}})";
}
std::string stft(const std::string& from) {
  return R"({"name": "stft", "type": "MultiFFT", "parameters": {"LENGTH": 512}, "inputs": {"INPUT": ")" + from + "\"}}";
}
const std::string kIstft =
    R"({"name": "istft", "type": "Synthesize", "parameters": {"LENGTH": 512, "ADVANCE": 160}, "inputs": {"INPUT": "stft:OUTPUT"}})";
const std::string kSink =
    R"({"name": "sink", "type": "SaveWave", "parameters": {"FILENAME": "${OUT}", "SAMPLING_RATE": 16000}, "inputs": {"INPUT": "istft:OUTPUT"}})";

std::string network(const std::vector<std::string>& nodes, const std::string& out = "out.wav",
                    const std::string& driven = "sink:OUTPUT") {
  std::string text = R"({"parameters": {"OUT": ")" + out + R"("}, "nodes": [)";
  for (size_t i = 0; i < nodes.size(); ++i) text += (i ? ", " : "") + nodes[i];
  return text + R"(], "outputs": [")" + driven + "\"]}";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenNetwork,
    ::testing::Values(
        Broken{"MalformedJson", network({source()}).substr(0, 120), {"net.json", "parse error at line"}},
        Broken{"UnknownNodeType",
               network({source(), R"({"name": "x", "type": "Separator9000"})"}, "out.wav", "x:OUTPUT"),
               {"net.json", "node \"x\"", "unknown node type \"Separator9000\""}},
        Broken{"UnknownPort",
               network({source(), stft("source:AUDI0"), kIstft, kSink}),
               {"net.json", "node \"stft\"", "input \"INPUT\"", "has no output \"AUDI0\" (its outputs: AUDIO)"}},
        Broken{"Cycle", network({source(), stft("istft:OUTPUT"), kIstft, kSink}), {"net.json", "cycle", "\"stft\""}},
        Broken{"UnconnectedInput",
               network({source(), R"({"name": "stft", "type": "MultiFFT", "parameters": {"LENGTH": 512}})", kIstft, kSink}),
               {"net.json", "\"stft\"", "input \"INPUT\" is not connected"}},
        Broken{"MissingAudioFile",
               network({source("\"/no/such/recording.wav\""), stft("source:AUDIO"), kIstft, kSink}),
               {"net.json", "\"source\"", "FILENAME", "/no/such/recording.wav"}},
        Broken{"WrongSamplingRate",
               network({source("\"IN8K\""), stft("source:AUDIO"), kIstft, kSink}),
               {"\"source\"", "in8k.wav", "8000 Hz", "SAMPLING_RATE is 16000 Hz"}},
        Broken{"WrongParameterType",
               network({source("\"IN\"", "\"16000\""), stft("source:AUDIO"), kIstft, kSink}),
               {"node \"source\"", "parameter \"SAMPLING_RATE\": expected an int of at least 1, got a string"}},
        // Frame length, shift and rate are set per node; the network refuses a synthesis, a
        // localiser or a recorder that disagrees with the source it is fed from.
        Broken{"SynthesisShiftDiffersFromTheSource",
               network({source(), stft("source:AUDIO"),
                        R"({"name": "istft", "type": "Synthesize", "parameters": {"LENGTH": 512, "ADVANCE": 128},
                            "inputs": {"INPUT": "stft:OUTPUT"}})",
                        kSink}),
               {"net.json", "node \"istft\" has ADVANCE 128 but node \"source\" upstream of it has ADVANCE 160"}},
        Broken{"TransformLengthDiffersFromTheSource",
               network({source(), R"({"name": "stft", "type": "MultiFFT", "parameters": {"LENGTH": 256},
                                      "inputs": {"INPUT": "source:AUDIO"}})", kIstft, kSink}),
               {"node \"stft\" has LENGTH 256 but node \"source\" upstream of it has LENGTH 512"}},
        Broken{"LocaliserRateDiffersFromTheSource",
               R"({"plugins": ["velk_binaural"], "nodes": [)" + source() + ", " + stft("source:AUDIO") +
                   R"(, {"name": "localize", "type": "LocalizeBinaural", "parameters": {"SAMPLING_RATE": 8000,
                    "ADVANCE": 160, "BGNOISE_METHOD": "INTERNAL", "PAUSE_LENGTH": 1000, "MIN_SRC_INTERVAL": 20,
                    "PEAK_FMIN": 100, "PEAK_FMAX": 1500, "LOCALIZE_CHANNEL": "LEFT", "HARMONIC_THRESHOLD": 1,
                    "PEAK_THRESHOLD": 20, "EVENT_RATIO_THRESHOLD": 3, "CLUSTERING_THRESHOLD": 50,
                    "LOCALIZE_METHOD": "EPIPOLAR", "DIRPROB_THRESHOLD": 0, "ROUND_COUNT": 0},
                    "inputs": {"AUDIO": "source:AUDIO", "SPECTRUM": "stft:OUTPUT"}}], "outputs": ["localize:SOURCES"]})",
               {"node \"localize\" has SAMPLING_RATE 8000 but node \"source\" upstream of it has SAMPLING_RATE 16000"}},
        Broken{"UnwritableOutput",
               network({source(), stft("source:AUDIO"), kIstft, kSink}, "/no/such/dir/out.wav"),
               {"net.json: frame 0", "\"sink\"", "/no/such/dir/out.wav"}},
        // The recorder's last lines reach the disk only when it completes its file, after the
        // last frame: a full disk must fail the run there, not be blamed on a frame.
        Broken{"DiskFullWhenALineIsWritten",
               R"({"plugins": ["velk_binaural"], "nodes": [)" + source() +
                   R"(, {"name": "directions", "type": "SourceMaker", "parameters": {"DIRECTIONS": [30.0]}},
                   {"name": "record", "type": "SourceRecorder", "parameters": {"FILENAME": "/dev/full",
                    "SAMPLING_RATE": 16000, "ADVANCE": 160}, "inputs": {"INPUT": "directions:OUTPUT"}}],
                   "outputs": ["record:OUTPUT"]})",
               {"net.json: frame 0: Node \"record\": cannot write to \"/dev/full\": No space left on device"}}),
    [](const ::testing::TestParamInfo<Broken>& info) { return info.param.name; });

TEST(RunCommand, MissingNetworkFileIsNamed) {
  const ToolResult r = runTool({"run", "/no/such/net.json"});
  EXPECT_NE(r.code, 0);
  EXPECT_NE(r.err.find("cannot read the network file \"/no/such/net.json\""), std::string::npos) << r.err;
}

TEST(RunCommand, UsageErrorsAreNotSuccess) {
  EXPECT_NE(runTool({"run"}).code, 0);
  EXPECT_NE(runTool({"run", kExample, "--frames", "-3"}).code, 0);
  const ToolResult help = runTool({"run", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("--quiet"), std::string::npos);
}

TEST(NodesCommand, ListsHostAndPluginNodesWithTheirPorts) {
  const ToolResult text = runTool({"nodes"});
  ASSERT_EQ(text.code, 0) << text.err;
  for (const char* name : {"AudioFileSource", "MultiFFT", "Synthesize", "SaveWave", "SaveSeparatedWaves", "SourceRecorder"})
    EXPECT_NE(text.out.find(std::string(name) + "\n"), std::string::npos) << name;
  EXPECT_NE(text.out.find("SourceMaker"), std::string::npos) << "the plug-in's nodes are listed too";

  const ToolResult json = runTool({"nodes", "--json"});
  ASSERT_EQ(json.code, 0) << json.err;
  const nlohmann::json list = nlohmann::json::parse(json.out);
  bool found = false;
  for (const auto& node : list)
    if (node["type"] == "Synthesize") {
      found = true;
      EXPECT_EQ(node["inputs"][0]["name"], "INPUT");
      EXPECT_EQ(node["outputs"][0]["type"], "Matrix<float>");
      EXPECT_EQ(node["parameters"].size(), 3u);
    }
  EXPECT_TRUE(found);

  for (const auto& node : list)
    if (node["type"] == "LocalizeBinaural")
      for (const auto& p : node["parameters"])
        if (p["name"] == "PEAK_THRESHOLD") {
          EXPECT_EQ(p["type"], "float");
          EXPECT_EQ(p["default"], 20.0);
          EXPECT_EQ(p["unit"], "dB");
        }

  const ToolResult missing = runTool({"nodes", "--plugin", "/no/such/plugin.so"});
  EXPECT_NE(missing.code, 0);
  EXPECT_NE(missing.err.find("/no/such/plugin.so"), std::string::npos) << missing.err;
}

// The README's node reference is generated from the declarations; this keeps it up to date.
TEST(NodesCommand, MarkdownIsTheReadmesNodeReference) {
  const ToolResult markdown = runTool({"nodes", "--markdown"});
  ASSERT_EQ(markdown.code, 0) << markdown.err;
  std::ifstream in(std::string(VELK_SOURCE_DIR) + "/README.md");
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string begin = "<!-- node reference: velk-binaural nodes --markdown -->\n";
  const size_t from = readme.find(begin), to = readme.find("<!-- end of node reference -->");
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << "the README has no node reference";
  EXPECT_EQ(readme.substr(from + begin.size(), to - from - begin.size()), markdown.out)
      << "regenerate the README's node reference with `velk-binaural nodes --markdown`";
}

}  // namespace
}  // namespace hostio
